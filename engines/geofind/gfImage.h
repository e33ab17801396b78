// Small float/byte image helpers shared by the Geofind stages.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "platform/core/vcPelBuffer.h"

// For the per-pixel loops of training, which compute each pixel alone: vectorized, each lane
// does one pixel's operations in the same order, so the results keep every bit, and -O2's cost
// model alone leaves these loops scalar. GCC only; other compilers keep their defaults.
#if defined(__GNUC__) && !defined(__clang__)
#define VC_GF_VECTORIZE __attribute__((optimize("tree-vectorize", "vect-cost-model=dynamic")))
#else
#define VC_GF_VECTORIZE
#endif

struct vc_GFImageF {
  int w = 0, h = 0;
  std::vector<float> p;
  vc_GFImageF() = default;
  vc_GFImageF(int width, int height, float v = 0.0f)
      : w(width), h(height), p(std::size_t(width) * height, v) {}
  float& at(int x, int y) { return p[std::size_t(y) * w + x]; }
  float at(int x, int y) const { return p[std::size_t(y) * w + x]; }
  // Bilinear sample with clamping to the border.
  float sample(float x, float y) const {
    if (x < 0) x = 0;
    if (y < 0) y = 0;
    if (x > w - 1) x = float(w - 1);
    if (y > h - 1) y = float(h - 1);
    const int x0 = std::min(int(x), w - 2 < 0 ? 0 : w - 2);
    const int y0 = std::min(int(y), h - 2 < 0 ? 0 : h - 2);
    const float fx = x - x0, fy = y - y0;
    const int x1 = std::min(x0 + 1, w - 1), y1 = std::min(y0 + 1, h - 1);
    const float a = at(x0, y0), b = at(x1, y0), c = at(x0, y1), d = at(x1, y1);
    return (a + (b - a) * fx) * (1 - fy) + (c + (d - c) * fx) * fy;
  }
};

// Copies a byte window into a float image.
vc_GFImageF vf_GFToFloat(const vcPelBuffer_const<unsigned char>& img);
// 2x2 mean reduction (odd last row/column dropped).
vc_GFImageF vf_GFReduce(const vc_GFImageF& in);
// Sobel gradients scaled to grey levels per pixel (kernel / 8); border pixels get 0.
void vf_GFSobel(const vc_GFImageF& in, vc_GFImageF& gx, vc_GFImageF& gy);

// Byte image with a zero border of `pad` pixels on every side, for branch-free stencils.
struct vc_GFImageU8 {
  int w = 0, h = 0, pad = 0, stride = 0;
  std::vector<std::uint8_t> buf;
  const std::uint8_t* row(int y) const { return buf.data() + std::size_t(y + pad) * stride + pad; }
  std::uint8_t* row(int y) { return buf.data() + std::size_t(y + pad) * stride + pad; }
  void reset(int width, int height, int padding) {
    w = width;
    h = height;
    pad = padding;
    stride = width + 2 * padding;
    buf.assign(std::size_t(stride) * (height + 2 * padding), 0);
  }
};
