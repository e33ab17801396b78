// Pyramid and noise: the run window as a pyramid of 2x2 mean reductions, the gradient noise
// that sets the contrast threshold of each level, and the Sobel gradient of a level window.
#include <algorithm>
#include <array>
#include <cmath>

#include "engines/geofind/gfRunTypes.h"

namespace vc_gfrun {

std::vector<LevelImage> buildPyramid(const vcPelBuffer_const<unsigned char>& image,
                                     const vcPelBuffer_const<unsigned char>* mask, int top) {
  std::vector<LevelImage> pyr(1);
  LevelImage& L = pyr[0];
  L.w = int(image.width());
  L.h = int(image.height());
  L.pix.resize(std::size_t(L.w) * L.h);
  for (int y = 0; y < L.h; ++y) std::copy_n(image.row(y), L.w, &L.pix[std::size_t(y) * L.w]);
  if (mask) {
    L.mask.resize(L.pix.size());
    for (int y = 0; y < L.h; ++y) {
      const unsigned char* r = mask->row(y);
      for (int x = 0; x < L.w; ++x) L.mask[std::size_t(y) * L.w + x] = r[x] >= 128;
    }
  }
  int topLevel = top;
  while (topLevel > 0 && ((L.w >> topLevel) < 3 || (L.h >> topLevel) < 3)) --topLevel;
  for (int l = 1; l <= topLevel; ++l) pyr.push_back(reduce(pyr.back()));
  return pyr;
}

LevelImage reduce(const LevelImage& in) {
  LevelImage o;
  o.w = in.w / 2;
  o.h = in.h / 2;
  o.pix.resize(std::size_t(o.w) * o.h);
  for (int y = 0; y < o.h; ++y) {
    const std::uint8_t* a = &in.pix[std::size_t(2 * y) * in.w];
    const std::uint8_t* b = a + in.w;
    std::uint8_t* d = &o.pix[std::size_t(y) * o.w];
    for (int x = 0; x < o.w; ++x)
      d[x] = std::uint8_t((a[2 * x] + a[2 * x + 1] + b[2 * x] + b[2 * x + 1] + 2) >> 2);
  }
  if (!in.mask.empty()) {
    o.mask.resize(o.pix.size());
    for (int y = 0; y < o.h; ++y)
      for (int x = 0; x < o.w; ++x) {
        const std::size_t i0 = std::size_t(2 * y) * in.w + 2 * x;
        o.mask[std::size_t(y) * o.w + x] =
            in.mask[i0] + in.mask[i0 + 1] + in.mask[i0 + in.w] + in.mask[i0 + in.w + 1] >= 2;
      }
  }
  return o;
}

// Robust scale s of the gradient noise of a level: at full size edges are thin, so most pixels
// are flat and the lower quartile of the Sobel / 8 magnitude over the usable pixels (a regular
// sample of them on large windows) is a noise magnitude even when the pattern fills the
// window. With Gaussian noise each gradient component has deviation s and the magnitude is
// Rayleigh distributed, lower quartile s sqrt(2 ln (4/3)).
double gradientNoise(const LevelImage& L, const vc_GFTuning& T) {
  constexpr int kBins = 1024;
  constexpr float kPerBin = 4.0f;  // quarter grey levels per pixel
  std::array<std::uint32_t, kBins + 1> hist{};
  const int step = std::max(1, int(std::sqrt(double(L.w) * L.h / T.noiseSamples)));
  std::size_t n = 0;
  for (int y = 1; y < L.h - 1; y += step) {
    const std::uint8_t* a = &L.pix[std::size_t(y - 1) * L.w];
    const std::uint8_t* b = a + L.w;
    const std::uint8_t* c = b + L.w;
    const std::uint8_t* m = L.mask.empty() ? nullptr : &L.mask[std::size_t(y) * L.w];
    for (int x = 1; x < L.w - 1; x += step) {
      if (m && !m[x]) continue;
      const int gx = (a[x + 1] + 2 * b[x + 1] + c[x + 1]) - (a[x - 1] + 2 * b[x - 1] + c[x - 1]);
      const int gy = (c[x - 1] + 2 * c[x] + c[x + 1]) - (a[x - 1] + 2 * a[x] + a[x + 1]);
      const float mag = 0.125f * std::sqrt(float(gx * gx + gy * gy));
      ++hist[std::min<std::size_t>(kBins, std::size_t(mag * kPerBin))];
      ++n;
    }
  }
  if (n == 0) return 0.0;
  std::size_t below = 0;
  const std::size_t q = n / 4;
  for (int i = 0; i <= kBins; ++i) {
    if (below + hist[std::size_t(i)] > q) {
      // Linear interpolation inside the quartile's bin.
      const double frac = double(q - below) / double(hist[std::size_t(i)]);
      return (i + frac) / kPerBin / 0.7585;
    }
    below += hist[std::size_t(i)];
  }
  return kBins / kPerBin;
}

// Edges must stand out of the noise: noiseFactor deviations (three leave about 1 % of the
// background pixels above the threshold). Noise is measured at full size, where edges cover
// the fewest pixels; each 2 x 2 reduction halves it.
void setContrastThresholds(Problem& P, const std::vector<LevelImage>& pyr) {
  const double noise0 = gradientNoise(pyr[0], P.tune);
  for (std::size_t l = 0; l < pyr.size(); ++l)
    P.contrastAt.push_back(std::max(P.contrast, P.tune.noiseFactor * noise0 / double(1 << l)));
  P.contrast = P.contrastAt[0];
}

void sobel(const LevelImage& L, int x0, int y0, int x1, int y1, Grad& g, int& gx0, int& gy0) {
  x0 = std::max(x0, 0), y0 = std::max(y0, 0);
  x1 = std::min(x1, L.w), y1 = std::min(y1, L.h);
  gx0 = x0, gy0 = y0;
  g.source = &L, g.x0 = x0, g.y0 = y0;
  g.w = std::max(0, x1 - x0), g.h = std::max(0, y1 - y0);
  g.gx.assign(std::size_t(g.w) * g.h, 0.0f);
  g.gy.assign(std::size_t(g.w) * g.h, 0.0f);
  for (int y = std::max(y0, 1); y < std::min(y1, L.h - 1); ++y) {
    const std::uint8_t* a = &L.pix[std::size_t(y - 1) * L.w];
    const std::uint8_t* b = a + L.w;
    const std::uint8_t* c = b + L.w;
    // Row starts inside the buffers: a pointer shifted back by x0 would lie before them.
    float* ox = g.gx.data() + std::size_t(y - y0) * g.w;
    float* oy = g.gy.data() + std::size_t(y - y0) * g.w;
    const int xe = std::min(x1, L.w - 1);
    for (int x = std::max(x0, 1); x < xe; ++x) {
      ox[x - x0] = 0.125f * float((a[x + 1] + 2 * b[x + 1] + c[x + 1]) -
                                  (a[x - 1] + 2 * b[x - 1] + c[x - 1]));
      oy[x - x0] =
          0.125f * float((c[x - 1] + 2 * c[x] + c[x + 1]) - (a[x - 1] + 2 * a[x] + a[x + 1]));
    }
  }
  if (!L.mask.empty())
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x)
        if (!L.mask[std::size_t(y) * L.w + x]) {
          g.gx[std::size_t(y - y0) * g.w + (x - x0)] = 0;
          g.gy[std::size_t(y - y0) * g.w + (x - x0)] = 0;
        }
}

}  // namespace vc_gfrun
