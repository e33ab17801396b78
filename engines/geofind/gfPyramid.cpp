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

// Pixel noise of the image the window belongs to, after Immerkaer ("Fast noise variance
// estimation", 1996): the operator N = [1 -2 1; -2 4 -2; 1 -2 1] is zero on every ramp and
// leaves 6 sigma of white noise of deviation sigma. Its lower quartile over a regular grid of
// samples spread over the whole image is set by the flat places, where only noise remains
// (a half-normal's lower quartile is 0.3186 of its deviation). Sampling the whole image, not
// the window, makes the threshold, and so a match's score, the same whatever window a caller
// searches; the fixed number of samples keeps the cost the same for any image size.
double imageNoise(const vcPelBuffer_const<unsigned char>& window, const vc_GFTuning& T) {
  vcPelBuffer_const<unsigned char> root = window;
  root.setEntire();
  const long W = root.width(), H = root.height();
  if (W < 3 || H < 3) return 0.0;
  const long step = std::max(1L, long(std::sqrt(double(W - 2) * double(H - 2) / T.noiseSamples)));
  constexpr int kBins = 2048;  // |N I| <= 16 * 255
  std::array<std::uint32_t, kBins> hist{};
  std::size_t n = 0;
  for (long y = 1; y + 1 < H; y += step) {
    const unsigned char* a = root.row(y - 1);
    const unsigned char* b = root.row(y);
    const unsigned char* c = root.row(y + 1);
    for (long x = 1; x + 1 < W; x += step) {
      const int v = (a[x - 1] - 2 * a[x] + a[x + 1]) - 2 * (b[x - 1] - 2 * b[x] + b[x + 1]) +
                    (c[x - 1] - 2 * c[x] + c[x + 1]);
      ++hist[std::size_t(std::min(kBins - 1, std::abs(v)))];
      ++n;
    }
  }
  const std::size_t q = n / 4;
  std::size_t below = 0;
  for (int i = 0; i < kBins; ++i) {
    if (below + hist[std::size_t(i)] > q) {
      // The integer values stand for [i - 1/2, i + 1/2); interpolate inside the quartile's.
      const double frac = double(q - below) / double(hist[std::size_t(i)]);
      return std::max(0.0, i - 0.5 + frac) / (6.0 * 0.31863936);
    }
    below += hist[std::size_t(i)];
  }
  return kBins / (6.0 * 0.31863936);
}

// Sobel / 8 is [1 2 1] / 4 across and [-1 0 1] / 2 along the gradient: on white noise of unit
// deviation each component has deviation sqrt(6/16 * 2/4) = 0.433.
double gradientNoiseGain() { return std::sqrt(6.0 / 16.0 * 2.0 / 4.0); }

// Edges must stand out of the noise: noiseFactor deviations of the gradient noise (three leave
// about 1 % of the background pixels above the threshold); each 2 x 2 reduction halves it. The
// caller's threshold keeps faint texture out, but not below a share of the pattern's own edge
// strength as trained: a darker exposure or a softer focus weakens every edge in proportion,
// and a pattern with faint edges would otherwise be lost to the first dim image.
void setContrastThresholds(Problem& P, const vcPelBuffer_const<unsigned char>& image,
                           std::size_t levels) {
  const vc_GFTuning& T = P.tune;
  P.noise0 = gradientNoiseGain() * imageNoise(image, T);
  const double user = P.contrast;
  for (std::size_t l = 0; l < levels; ++l) {
    const double trained = l < P.m->levelMedianMag.size() ? P.m->levelMedianMag[l] : 0.0;
    const double floor = trained > 0 ? std::min(user, T.trainedContrastShare * trained) : user;
    P.contrastAt.push_back(std::max(floor, T.noiseFactor * P.noise0 / double(1 << l)));
  }
  P.contrast = P.contrastAt[0];
}

void sobel(const LevelImage& L, int x0, int y0, int x1, int y1, Grad& g, int& gx0, int& gy0) {
  x0 = std::max(x0, 0), y0 = std::max(y0, 0);
  x1 = std::min(x1, L.w), y1 = std::min(y1, L.h);
  gx0 = x0, gy0 = y0;
  g.source = &L, g.x0 = x0, g.y0 = y0, g.smooth = 0;
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

namespace vc_gfrun {

void smoothSobel(const LevelImage& L, double sigma, int x0, int y0, int x1, int y1, Grad& g,
                 int& gx0, int& gy0) {
  x0 = std::max(x0, 0), y0 = std::max(y0, 0);
  x1 = std::min(x1, L.w), y1 = std::min(y1, L.h);
  gx0 = x0, gy0 = y0;
  g.source = &L, g.x0 = x0, g.y0 = y0, g.smooth = sigma;
  g.w = std::max(0, x1 - x0), g.h = std::max(0, y1 - y0);
  g.gx.assign(std::size_t(g.w) * g.h, 0.0f);
  g.gy.assign(std::size_t(g.w) * g.h, 0.0f);
  if (g.w == 0 || g.h == 0) return;
  // The blur reaches r pixels; the Sobel one more. Outside the level the image is continued by
  // its border pixels.
  const int r = int(std::ceil(3.0 * sigma));
  std::vector<float> k(std::size_t(2 * r + 1));
  float sum = 0.0f;
  for (int i = -r; i <= r; ++i)
    sum += k[std::size_t(i + r)] = float(std::exp(-0.5 * i * i / (sigma * sigma)));
  for (float& v : k) v /= sum;
  const int bx0 = x0 - 1, by0 = y0 - 1, bw = g.w + 2, bh = g.h + 2;
  std::vector<float> rows(std::size_t(bw) * (bh + 2 * r)), img(std::size_t(bw) * bh);
  for (int y = by0 - r; y < by0 + bh + r; ++y) {
    const std::uint8_t* src = &L.pix[std::size_t(std::clamp(y, 0, L.h - 1)) * L.w];
    float* d = &rows[std::size_t(y - (by0 - r)) * bw];
    for (int x = 0; x < bw; ++x) {
      float a = 0.0f;
      for (int i = -r; i <= r; ++i)
        a += k[std::size_t(i + r)] * src[std::clamp(bx0 + x + i, 0, L.w - 1)];
      d[x] = a;
    }
  }
  for (int y = 0; y < bh; ++y) {
    float* d = &img[std::size_t(y) * bw];
    for (int x = 0; x < bw; ++x) {
      float a = 0.0f;
      for (int i = -r; i <= r; ++i)
        a += k[std::size_t(i + r)] * rows[std::size_t(y + r + i) * bw + x];
      d[x] = a;
    }
  }
  for (int y = 0; y < g.h; ++y) {
    const float* a = &img[std::size_t(y) * bw + 1];
    const float* b = a + bw;
    const float* c = b + bw;
    float* ox = g.gx.data() + std::size_t(y) * g.w;
    float* oy = g.gy.data() + std::size_t(y) * g.w;
    for (int x = 0; x < g.w; ++x) {
      ox[x] =
          0.125f * ((a[x + 1] + 2 * b[x + 1] + c[x + 1]) - (a[x - 1] + 2 * b[x - 1] + c[x - 1]));
      oy[x] = 0.125f * ((c[x - 1] + 2 * c[x] + c[x + 1]) - (a[x - 1] + 2 * a[x] + a[x + 1]));
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
