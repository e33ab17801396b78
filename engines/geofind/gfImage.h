// Small float/byte image helpers shared by the Geofind stages.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <utility>
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

// An allocator that leaves new elements uninitialized: a buffer written whole is not first
// zeroed.
template <class T>
struct vc_GFNoInit : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = vc_GFNoInit<U>;
  };
  vc_GFNoInit() = default;
  template <class U>
  vc_GFNoInit(const vc_GFNoInit<U>&) {}
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    if constexpr (sizeof...(Args) == 0)
      ::new (static_cast<void*>(p)) U;
    else
      ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

struct vc_GFImageF {
  int w = 0, h = 0;
  std::vector<float, vc_GFNoInit<float>> p;
  vc_GFImageF() = default;
  vc_GFImageF(int width, int height, float v)
      : w(width), h(height), p(std::size_t(width) * height, v) {}
  // Pixels left unset: for a buffer its maker writes whole.
  vc_GFImageF(int width, int height) : w(width), h(height) {
    p.resize(std::size_t(width) * height);
  }
  float& at(int x, int y) { return p[std::size_t(y) * w + x]; }
  float at(int x, int y) const { return p[std::size_t(y) * w + x]; }
  // Bilinear samples, with clamping to the border, of this image and of `o` (of the same
  // size) at one point.
  [[gnu::always_inline]] void sample2(const vc_GFImageF& o, float x, float y, float& mine,
                                      float& other) const {
    int x0, y0, x1, y1;
    if (x >= 0 && y >= 0 && x <= w - 2 && y <= h - 2) {
      // Inside: the clamps below would change nothing.
      x0 = int(x), y0 = int(y), x1 = x0 + 1, y1 = y0 + 1;
    } else {
      if (x < 0) x = 0;
      if (y < 0) y = 0;
      if (x > w - 1) x = float(w - 1);
      if (y > h - 1) y = float(h - 1);
      x0 = std::min(int(x), w - 2 < 0 ? 0 : w - 2);
      y0 = std::min(int(y), h - 2 < 0 ? 0 : h - 2);
      x1 = std::min(x0 + 1, w - 1), y1 = std::min(y0 + 1, h - 1);
    }
    const float fx = x - x0, fy = y - y0;
    const std::size_t i00 = std::size_t(y0) * w + x0, i10 = std::size_t(y0) * w + x1,
                      i01 = std::size_t(y1) * w + x0, i11 = std::size_t(y1) * w + x1;
    auto blend = [&](const vc_GFImageF& m) {
      const float a = m.p[i00], b = m.p[i10], c = m.p[i01], d = m.p[i11];
      return (a + (b - a) * fx) * (1 - fy) + (c + (d - c) * fx) * fy;
    };
    mine = blend(*this);
    other = blend(o);
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
