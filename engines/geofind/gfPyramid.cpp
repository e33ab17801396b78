// Pyramid and noise: the run's views of the image cache's levels, the gradient noise that sets
// the contrast threshold of each level, and the gradient windows of a level (the cache's, or
// smoothed ones of their own).
#include <algorithm>
#include <array>
#include <cmath>

#include "engines/geofind/gfRunTypes.h"

namespace vc_gfrun {

std::vector<LevelImage> openLevels(vc_GFImageData& cache,
                                   const vcPelBuffer_const<unsigned char>& window, int top) {
  // The window in level-0 pixels; on level l the pixels it holds whole.
  const long x0 = window.offset().x() - cache.rootX(), y0 = window.offset().y() - cache.rootY();
  const long x1 = x0 + window.width(), y1 = y0 + window.height();
  auto on = [&](int l) {
    const long f = 1L << l;
    return PixRect{int((x0 + f - 1) / f), int((y0 + f - 1) / f), int(x1 / f), int(y1 / f)};
  };
  int topLevel = std::min(top, vc_GFImageData::kMaxLevels - 1);
  while (topLevel > 0 && (on(topLevel).x1 - on(topLevel).x0 < 3 ||
                          on(topLevel).y1 - on(topLevel).y0 < 3))
    --topLevel;
  std::vector<LevelImage> levels;
  for (int l = 0; l <= topLevel; ++l) {
    LevelImage L;
    L.cache = &cache;
    L.data = &cache.level(l);
    L.level = l;
    L.win = on(l);
    levels.push_back(L);
  }
  return levels;
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
void setContrastThresholds(Problem& P, double noise, std::size_t levels) {
  const vc_GFTuning& T = P.tune;
  P.noise0 = gradientNoiseGain() * noise;
  const double user = P.contrast;
  for (std::size_t l = 0; l < levels; ++l) {
    const double trained = l < P.m->levelMedianMag.size() ? P.m->levelMedianMag[l] : 0.0;
    const double floor = trained > 0 ? std::min(user, T.trainedContrastShare * trained) : user;
    P.contrastAt.push_back(std::max(floor, T.noiseFactor * P.noise0 / double(1 << l)));
  }
  P.contrast = P.contrastAt[0];
}

void gradientOf(const LevelImage& L, const PixRect& r, Grad& g) {
  const PixRect c = r.clippedTo(L.win);
  g.source = &L, g.smooth = 0;
  g.x0 = c.x0, g.y0 = c.y0;
  g.w = std::max(0, c.x1 - c.x0), g.h = std::max(0, c.y1 - c.y0);
  g.stride = std::size_t(L.data->w);
  if (g.w == 0 || g.h == 0) {
    g.gx = g.gy = nullptr;
    return;
  }
  L.cache->ensureGradient(L.level, c);
  const std::size_t o = std::size_t(c.y0) * g.stride + std::size_t(c.x0);
  g.gx = L.data->gx.get() + o;
  g.gy = L.data->gy.get() + o;
}


void smoothSobel(const LevelImage& L, double sigma, const PixRect& rect, Grad& g) {
  const PixRect c = rect.clippedTo(L.win);
  const int x0 = c.x0, y0 = c.y0;
  g.source = &L, g.x0 = x0, g.y0 = y0, g.smooth = sigma;
  g.w = std::max(0, c.x1 - x0), g.h = std::max(0, c.y1 - y0);
  g.stride = std::size_t(g.w);
  if (g.w == 0 || g.h == 0) {
    g.gx = g.gy = nullptr;
    return;
  }
  float* const outX = g.ownX.get(std::size_t(g.w) * g.h);
  float* const outY = g.ownY.get(std::size_t(g.w) * g.h);
  g.gx = outX, g.gy = outY;
  // The blur reaches r pixels; the Sobel one more. Beyond the window the image is continued by
  // its border pixels.
  const int r = int(std::ceil(3.0 * sigma));
  L.cache->ensurePixels(L.level, c.grown(r + 1));
  // Half of the symmetric kernel: k[0] the centre, k[i] both neighbours at distance i.
  std::vector<float> k(std::size_t(r) + 1);
  float sum = 0.0f;
  for (int i = 0; i <= r; ++i) {
    k[std::size_t(i)] = float(std::exp(-0.5 * i * i / (sigma * sigma)));
    sum += i == 0 ? k[0] : 2.0f * k[std::size_t(i)];
  }
  for (float& v : k) v /= sum;
  const int bx0 = x0 - 1, by0 = y0 - 1, bw = g.w + 2, bh = g.h + 2;
  const std::size_t rowsN = std::size_t(bw) * std::size_t(bh + 2 * r);
  float* rows = g.work.get(rowsN + std::size_t(bw) * bh + std::size_t(bw + 2 * r));
  float* img = rows + rowsN;
  float* line = img + std::size_t(bw) * bh;
  // Rows first: each source row, clamped at the window's border once, then blurred along x in
  // loops over x (the taps outside), which the compiler vectorises.
  for (int y = by0 - r; y < by0 + bh + r; ++y) {
    for (int j = 0; j < bw + 2 * r; ++j) line[j] = float(L.pixel(bx0 - r + j, y));
    float* d = rows + std::size_t(y - (by0 - r)) * bw;
    const float* m = line + r;
    for (int x = 0; x < bw; ++x) d[x] = k[0] * m[x];
    for (int i = 1; i <= r; ++i) {
      const float ki = k[std::size_t(i)];
      const float* lo = m - i;
      const float* hi = m + i;
      for (int x = 0; x < bw; ++x) d[x] += ki * (lo[x] + hi[x]);
    }
  }
  for (int y = 0; y < bh; ++y) {
    float* d = img + std::size_t(y) * bw;
    const float* m = rows + std::size_t(y + r) * bw;
    for (int x = 0; x < bw; ++x) d[x] = k[0] * m[x];
    for (int i = 1; i <= r; ++i) {
      const float ki = k[std::size_t(i)];
      const float* lo = m - std::size_t(i) * bw;
      const float* hi = m + std::size_t(i) * bw;
      for (int x = 0; x < bw; ++x) d[x] += ki * (lo[x] + hi[x]);
    }
  }
  for (int y = 0; y < g.h; ++y) {
    const float* a = &img[std::size_t(y) * bw + 1];
    const float* b = a + bw;
    const float* cc = b + bw;
    float* ox = outX + std::size_t(y) * g.w;
    float* oy = outY + std::size_t(y) * g.w;
    for (int x = 0; x < g.w; ++x) {
      ox[x] =
          0.125f * ((a[x + 1] + 2 * b[x + 1] + cc[x + 1]) - (a[x - 1] + 2 * b[x - 1] + cc[x - 1]));
      oy[x] = 0.125f * ((cc[x - 1] + 2 * cc[x] + cc[x + 1]) - (a[x - 1] + 2 * a[x] + a[x + 1]));
    }
  }
  const CachedLevel& D = *L.data;
  if (D.mask)
    for (int y = y0; y < y0 + g.h; ++y)
      for (int x = x0; x < x0 + g.w; ++x)
        if (!D.mask[std::size_t(y) * D.w + x]) {
          outX[std::size_t(y - y0) * g.w + (x - x0)] = 0;
          outY[std::size_t(y - y0) * g.w + (x - x0)] = 0;
        }
}

}  // namespace vc_gfrun
