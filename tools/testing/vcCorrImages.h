// Synthetic scenes for the correlation tests and benchmarks: a smooth random grey-level field
// (a sum of Gaussian blobs) that can be rendered under any similarity transform, so that images
// with exactly known sub-pixel poses can be made.
#pragma once

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "platform/core/vcPelBuffer.h"

namespace corrtest {

struct Blob {
  double x, y, s, a;
};

class Field {
 public:
  // About one blob per 100 square pixels over [-40, w + 40] x [-40, h + 40].
  Field(unsigned seed, double w, double h) : x0_(-40), y0_(-40) {
    std::mt19937 g(seed);
    std::uniform_real_distribution<double> ux(-40, w + 40), uy(-40, h + 40), us(2.5, 7.0),
        ua(-90, 90);
    const int count = int((w + 80) * (h + 80) / 100);
    nx_ = long((w + 80) / kCell) + 1;
    ny_ = long((h + 80) / kCell) + 1;
    cells_.resize(nx_ * ny_);
    for (int i = 0; i < count; ++i) {
      const Blob b{ux(g), uy(g), us(g), ua(g)};
      blobs_.push_back(b);
      const double r = 4 * b.s;
      for (long cy = cell(b.y - r, y0_, ny_); cy <= cell(b.y + r, y0_, ny_); ++cy)
        for (long cx = cell(b.x - r, x0_, nx_); cx <= cell(b.x + r, x0_, nx_); ++cx)
          cells_[cy * nx_ + cx].push_back(i);
    }
  }
  double at(double x, double y) const {
    double v = 128;
    const long cx = cell(x, x0_, nx_), cy = cell(y, y0_, ny_);
    for (int i : cells_[cy * nx_ + cx]) {
      const Blob& b = blobs_[i];
      const double dx = x - b.x, dy = y - b.y;
      const double d2 = dx * dx + dy * dy;
      if (d2 > 16 * b.s * b.s) continue;
      v += b.a * std::exp(-d2 / (2 * b.s * b.s));
    }
    return v;
  }

 private:
  static constexpr double kCell = 16.0;
  static long cell(double v, double o, long n) {
    return std::clamp(long(std::floor((v - o) / kCell)), 0L, n - 1);
  }
  double x0_, y0_;
  long nx_ = 0, ny_ = 0;
  std::vector<Blob> blobs_;
  std::vector<std::vector<int>> cells_;
};

// Similarity about a centre c: p' = s R(theta) (p - c) + c + t.
struct Pose {
  double theta = 0, s = 1, tx = 0, ty = 0, cx = 0, cy = 0;
  void map(double x, double y, double& ox, double& oy) const {
    const double c = std::cos(theta) * s, n = std::sin(theta) * s;
    ox = c * (x - cx) - n * (y - cy) + cx + tx;
    oy = n * (x - cx) + c * (y - cy) + cy + ty;
  }
  void inv(double x, double y, double& ox, double& oy) const {
    const double c = std::cos(theta) / s, n = std::sin(theta) / s;
    const double u = x - cx - tx, v = y - cy - ty;
    ox = c * u + n * v + cx;
    oy = -n * u + c * v + cy;
  }
};

// Renders field(pose^-1(p)) with optional Gaussian noise, clamped to 0..255.
inline vcPelBuffer<unsigned char> render(const Field& f, long w, long h, const Pose& pose,
                                         double noise = 0, unsigned seed = 7) {
  vcPelBuffer<unsigned char> img(w, h);
  std::mt19937 g(seed);
  std::normal_distribution<double> n(0.0, noise > 0 ? noise : 1.0);
  for (long y = 0; y < h; ++y) {
    unsigned char* r = img.row(y);
    for (long x = 0; x < w; ++x) {
      double sx, sy;
      pose.inv(double(x), double(y), sx, sy);
      double v = f.at(sx, sy) + (noise > 0 ? n(g) : 0.0);
      r[x] = static_cast<unsigned char>(std::lround(std::clamp(v, 0.0, 255.0)));
    }
  }
  return img;
}

}  // namespace corrtest
