#include "tools/testing/vcSampleImages.h"

#include <algorithm>
#include <cmath>
#include <random>

#include "platform/core/vcAngle.h"

vcSampleShape vfSamplePolygon(std::vector<vcVector<2>> vertices, double grey) {
  vcSampleShape s;
  s.vertices = std::move(vertices);
  s.grey = grey;
  return s;
}

vcSampleShape vfSampleCircle(const vcVector<2>& centre, double radius, double grey) {
  vcSampleShape s;
  s.kind = vcSampleShape::eCircle;
  s.centre = centre;
  s.radius = radius;
  s.grey = grey;
  return s;
}

namespace {

// Signed distance to a shape (negative inside), pattern units.
double signedDistance(const vcSampleShape& s, const vcVector<2>& p) {
  if (s.kind == vcSampleShape::eCircle) return p.distance(s.centre) - s.radius;
  double d = 1e300;
  bool inside = false;
  const auto& v = s.vertices;
  for (std::size_t i = 0, j = v.size() - 1; i < v.size(); j = i++) {
    const vcVector<2> a = v[j], b = v[i], e = b - a, w = p - a;
    const double t = std::clamp(w.dot(e) / e.dot(e), 0.0, 1.0);
    d = std::min(d, (w - e * t).len());
    if (((a.y() > p.y()) != (b.y() > p.y())) &&
        p.x() < (b.x() - a.x()) * (p.y() - a.y()) / (b.y() - a.y()) + a.x())
      inside = !inside;
  }
  return inside ? -d : d;
}

// Smooth coverage of a half-plane at signed distance d pixels (Gaussian pixel filter).
double coverage(double d) { return 0.5 * std::erfc(d / (0.5 * std::sqrt(2.0))); }

vcSampleShape poly(std::vector<vcVector<2>> v, double g) {
  return vfSamplePolygon(std::move(v), g);
}
vcSampleShape circle(vcVector<2> c, double r, double g) { return vfSampleCircle(c, r, g); }

void paint(std::vector<double>& img, int W, int H, const vcSampleShape& s, const vcXform<2>& pose,
           double extent) {
  const vcXform<2> inv = pose.inverse();
  const double scale = std::sqrt(std::fabs(pose.matrix().det()));
  double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
  for (double sx : {-extent, extent})
    for (double sy : {-extent, extent}) {
      const vcVector<2> q = pose.mapPoint({sx, sy});
      x0 = std::min(x0, q.x()), x1 = std::max(x1, q.x());
      y0 = std::min(y0, q.y()), y1 = std::max(y1, q.y());
    }
  // Only pixels near the shape change (coverage ends 3 px outside it): its own box suffices.
  double sx0 = 1e300, sy0 = 1e300, sx1 = -1e300, sy1 = -1e300;
  auto grow = [&](const vcVector<2>& q, double r) {
    sx0 = std::min(sx0, q.x() - r), sx1 = std::max(sx1, q.x() + r);
    sy0 = std::min(sy0, q.y() - r), sy1 = std::max(sy1, q.y() + r);
  };
  if (s.kind == vcSampleShape::eCircle)
    grow(pose.mapPoint(s.centre), s.radius * scale + 4);
  else
    for (const vcVector<2>& v : s.vertices) grow(pose.mapPoint(v), 4);
  x0 = std::max(x0, sx0), y0 = std::max(y0, sy0), x1 = std::min(x1, sx1), y1 = std::min(y1, sy1);
  // Bounds clamped to the image while still in double: a far-off or huge pose must not
  // overflow the conversion to int (NaN corners leave the loops empty).
  auto toCol = [](double v, int n) { return int(std::clamp(v, -4.0, double(n) + 4.0)); };
  const int ax = std::max(0, toCol(x0, W) - 3), bx = std::min(W - 1, toCol(x1, W) + 3);
  const int ay = std::max(0, toCol(y0, H) - 3), by = std::min(H - 1, toCol(y1, H) + 3);
  for (int y = ay; y <= by; ++y)
    for (int x = ax; x <= bx; ++x) {
      const double d = signedDistance(s, inv.mapPoint({double(x), double(y)})) * scale;
      if (d > 3) continue;
      const double a = coverage(d);
      double& v = img[std::size_t(y) * W + x];
      v = v * (1 - a) + s.grey * a;
    }
}

void blur(std::vector<double>& img, int W, int H, double sigma) {
  if (sigma <= 0) return;
  const int r = int(std::ceil(3 * sigma));
  std::vector<double> k(2 * r + 1);
  double sum = 0;
  for (int i = -r; i <= r; ++i) sum += k[i + r] = std::exp(-0.5 * i * i / (sigma * sigma));
  for (double& v : k) v /= sum;
  std::vector<double> tmp(img.size());
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      double s = 0;
      for (int i = -r; i <= r; ++i)
        s += k[i + r] * img[std::size_t(y) * W + std::clamp(x + i, 0, W - 1)];
      tmp[std::size_t(y) * W + x] = s;
    }
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      double s = 0;
      for (int i = -r; i <= r; ++i)
        s += k[i + r] * tmp[std::size_t(std::clamp(y + i, 0, H - 1)) * W + x];
      img[std::size_t(y) * W + x] = s;
    }
}

}  // namespace

vcSamplePattern vfSampleAsymmetricPattern() {
  vcSamplePattern p;
  p.shapes.push_back(poly({{-60, -60}, {60, -60}, {60, -10}, {10, -10}, {10, 60}, {-60, 60}}, 200));
  p.shapes.push_back(circle({-30, 28}, 18, 90));
  p.shapes.push_back(poly({{-48, -48}, {-8, -48}, {-8, -26}, {-48, -26}}, 120));
  p.shapes.push_back(poly({{25, -45}, {50, -35}, {30, -20}}, 60));
  p.shapes.push_back(circle({35, 35}, 14, 170));
  return p;
}

vcSamplePattern vfSampleSquarePattern() {
  vcSamplePattern p;
  p.shapes.push_back(poly({{-50, -50}, {50, -50}, {50, 50}, {-50, 50}}, 200));
  p.shapes.push_back(poly({{-20, -20}, {20, -20}, {20, 20}, {-20, 20}}, 80));
  return p;
}

vcSamplePattern vfSampleRectanglePattern() {
  vcSamplePattern p;
  p.shapes.push_back(poly({{-60, -30}, {60, -30}, {60, 30}, {-60, 30}}, 200));
  return p;
}

vcSamplePattern vfSampleCirclePattern() {
  vcSamplePattern p;
  p.shapes.push_back(circle({0, 0}, 50, 200));
  p.shapes.push_back(circle({0, 0}, 25, 90));
  return p;
}

vcPelBuffer<unsigned char> vfRenderSample(const vcSamplePattern& pat, const vcXform<2>& pose,
                                          const vcSampleRender& opt) {
  const int W = opt.width, H = opt.height;
  std::vector<double> img(std::size_t(W) * H, pat.background);
  std::mt19937 rng(opt.seed);
  std::uniform_real_distribution<double> U(0.0, 1.0);
  const vcVector<2> centre = pose.mapPoint({0, 0});
  const double reach = pat.halfSize * std::sqrt(std::fabs(pose.matrix().det())) * 1.5;
  // Clutter away from the pattern so that it does not change its edges.
  for (int i = 0; i < opt.clutterShapes; ++i) {
    vcVector<2> c;
    for (int tries = 0; tries < 50; ++tries) {
      c = vcVector<2>(U(rng) * W, U(rng) * H);
      if (c.distance(centre) > reach + 30) break;
    }
    const double r = 8 + 20 * U(rng);
    vcSampleShape s = U(rng) < 0.5 ? circle(c, r, 255 * U(rng))
                                   : poly({{c.x() - r, c.y() - r * 0.6},
                                           {c.x() + r, c.y() - r * 0.6},
                                           {c.x() + r * 0.7, c.y() + r},
                                           {c.x() - r * 0.8, c.y() + r * 0.8}},
                                          255 * U(rng));
    paint(img, W, H, s, vcXform<2>(), 2 * r + 4);
  }
  for (const auto& s : pat.shapes) paint(img, W, H, s, pose, pat.halfSize + 2);
  if (opt.occludeFraction > 0) {
    // A flat block over one side of the pattern's box: covers that fraction of its area.
    const double side = 2 * pat.halfSize;
    const double a = U(rng) * 2 * vcPi;
    const double dir = std::floor(a / (vcPi / 2));
    std::vector<vcVector<2>> v;
    const double h = pat.halfSize, cut = -h + side * opt.occludeFraction;
    if (dir == 0)
      v = {{-h - 4, -h - 4}, {cut, -h - 4}, {cut, h + 4}, {-h - 4, h + 4}};
    else if (dir == 1)
      v = {{-cut, -h - 4}, {h + 4, -h - 4}, {h + 4, h + 4}, {-cut, h + 4}};
    else if (dir == 2)
      v = {{-h - 4, -h - 4}, {h + 4, -h - 4}, {h + 4, cut}, {-h - 4, cut}};
    else
      v = {{-h - 4, -cut}, {h + 4, -cut}, {h + 4, h + 4}, {-h - 4, h + 4}};
    paint(img, W, H, poly(v, 128), pose, pat.halfSize + 6);
  }
  blur(img, W, H, opt.blurSigma);
  vcPelBuffer<unsigned char> out(W, H);
  std::normal_distribution<double> N(0.0, 1.0);
  for (int y = 0; y < H; ++y) {
    unsigned char* r = out.row(y);
    for (int x = 0; x < W; ++x) {
      double v = img[std::size_t(y) * W + x];
      if (opt.noiseSigma > 0) v += opt.noiseSigma * N(rng);
      r[x] = static_cast<unsigned char>(std::clamp(std::lround(v), 0L, 255L));
    }
  }
  return out;
}
