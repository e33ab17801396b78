// Blur matching: a soft image (out of focus, moving) matched by a sharp template. Correlating
// the windowed template T with the blurred image G * I gives G * ((1_W T) * I): the
// correlation of a window with the whole image is not symmetric about its peak, and the blur
// shifts the peak towards the side of the window with the stronger detail (half a pixel and
// more at a blur of 2 px on real photographs). Blurred by as much as the image, the template
// meets the image on equal terms and the peak is back in place.
//
// How much the image is blurred is read from the image itself, not from the score (blurring a
// template raises its score against any mismatch, a wrong pose as much as a soft image): the
// sharpness R = mean |grad|^2 / variance of the image under the found pose against that of the
// template blurred by sigma, R(sigma), which falls as sigma grows. The blur is the sigma where
// they meet. Noise raises the image's R, so a noisy image is taken as sharp: the template is
// never blurred more than the image.
#include <algorithm>
#include <cmath>

#include "engines/correlation/pcRunTypes.h"

// The pixel loops are written to vectorize; GCC's -O2 cost model declines loops that need a
// scalar tail, so these stages ask for the ordinary model.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC push_options
#pragma GCC optimize("tree-vectorize", "vect-cost-model=dynamic")
#endif

namespace vc_pcrun {

void BlurredTemplate::make(const vc_PatCorTrained& D, double sigma) {
  const long W = D.W, H = D.H;
  const int r = std::max(1, int(std::ceil(3.0 * sigma)));
  std::vector<float> k(std::size_t(2 * r + 1));
  for (int i = -r; i <= r; ++i)
    k[std::size_t(i + r)] = float(std::exp(-0.5 * i * i / (sigma * sigma)));
  // Normalised convolution over the pattern pixels, rows then columns: the sum of kernel x
  // value x mask over the sum of kernel x mask. Without a mask the weight depends only on the
  // distance to the window's border.
  const std::size_t N = std::size_t(W * H);
  std::vector<float> m(N), vm(N), tv(N), tm(N);
  for (std::size_t q = 0; q < N; ++q) {
    m[q] = D.mask[q] ? 1.0f : 0.0f;
    vm[q] = m[q] * D.pix[q];
  }
  auto pass = [&](const float* val, const float* wgt, float* outV, float* outW, long len,
                  long count, long step, long next) {
    for (long c = 0; c < count; ++c) {
      const float* v = val + c * next;
      const float* w = wgt + c * next;
      for (long x = 0; x < len; ++x) {
        const int i0 = std::max(-r, int(-x)), i1 = std::min(r, int(len - 1 - x));
        float a = 0, b = 0;
        for (int i = i0; i <= i1; ++i) {
          const float kk = k[std::size_t(i + r)];
          a += kk * v[(x + i) * step];
          b += kk * w[(x + i) * step];
        }
        outV[c * next + x * step] = a;
        outW[c * next + x * step] = b;
      }
    }
  };
  pass(vm.data(), m.data(), tv.data(), tm.data(), W, H, 1, W);  // rows
  pass(tv.data(), tm.data(), vm.data(), m.data(), H, W, W, 1);  // columns
  pix.assign(N, 0.0f);
  for (std::size_t q = 0; q < N; ++q)
    if (m[q] > 0) pix[q] = vm[q] / m[q];
  gx.assign(std::size_t(W * H), 0.0f);
  gy.assign(std::size_t(W * H), 0.0f);
  for (long y = 1; y + 1 < H; ++y)
    for (long x = 1; x + 1 < W; ++x) {
      const std::size_t q = std::size_t(y * W + x);
      if (!D.fitMask[q]) continue;
      gx[q] = 0.5f * (pix[q + 1] - pix[q - 1]);
      gy[q] = 0.5f * (pix[q + std::size_t(W)] - pix[q - std::size_t(W)]);
    }
  view.pix = pix.data();
  view.gx = gx.data();
  view.gy = gy.data();
  view.mask = D.fitMask.data();
  view.pixels = D.fitPixels;
  view.blur = sigma;
  view.sharpness = sharpnessOf(view, W * H);
}

double sharpnessOf(const FitTemplate& t, long count) {
  double n = 0, s = 0, q = 0, g = 0;
  for (long k = 0; k < count; ++k) {
    if (!t.mask[k]) continue;
    n += 1;
    s += t.pix[k];
    q += double(t.pix[k]) * t.pix[k];
    g += double(t.gx[k]) * t.gx[k] + double(t.gy[k]) * t.gy[k];
  }
  const double var = n > 0 ? q / n - (s / n) * (s / n) : 0.0;
  return var > 0 ? (g / n) / var : 0.0;
}

}  // namespace vc_pcrun

double vc_PatCorRunner::imageSharpness(const Tpl& T, long x, long y) const {
  double n = 0, s = 0, q = 0, g = 0;
  for (long j = 0; j < T.h; ++j)
    for (long i = 0; i < T.w; ++i) {
      if (T.m[std::size_t(j * T.w + i)] <= 0) continue;
      const long u = x + i, v = y + j;
      if (u < 1 || v < 1 || u + 1 >= fw || v + 1 >= fh) continue;
      const unsigned char* p = px + v * stride + u;
      if (!imask.empty()) {
        const unsigned char* k = imask.data() + v * fw + u;
        if (!k[0] || !k[-1] || !k[1] || !k[-fw] || !k[fw]) continue;
      }
      const double gx = 0.5 * (p[1] - p[-1]), gy = 0.5 * (p[stride] - p[-stride]);
      n += 1;
      s += p[0];
      q += double(p[0]) * p[0];
      g += gx * gx + gy * gy;
    }
  const double var = n > 0 ? q / n - (s / n) * (s / n) : 0.0;
  return var > tune.flatVariance ? (g / n) / var : 0.0;
}

double vc_PatCorRunner::imageBlur(double imageR, vc_pcrun::BlurredTemplate& B) const {
  // R(sigma) at 0, step, 2 step, ... until it falls below the image's, then the sigma between
  // the last two steps where the straight line through them meets it.
  double prevS = 0, prevR = D.sharpness;
  if (!(imageR < tune.softerThan * prevR)) return 0.0;
  for (double s = tune.blurStep; s <= tune.maxBlur + 1e-9; s += tune.blurStep) {
    B.make(D, s);
    const double r = B.view.sharpness;
    if (r <= imageR) return prevS + (s - prevS) * (prevR - imageR) / std::max(1e-12, prevR - r);
    prevS = s, prevR = r;
  }
  return tune.maxBlur;
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC pop_options
#endif
