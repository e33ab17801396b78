// Where two match regions overlap: the shared area of two affine rectangles, which the run
// uses to refuse a candidate lying on a piece already found.

#include <algorithm>
#include <cmath>
#include <limits>

#include "flexalign/flxalign_run.h"

namespace {

// Area of a convex polygon (shoelace).
double area(const std::vector<vcVector<2>>& poly) {
  double a = 0.0;
  for (std::size_t i = 0, j = poly.size() - 1; i < poly.size(); j = i++)
    a += poly[j].x() * poly[i].y() - poly[i].x() * poly[j].y();
  return 0.5 * std::abs(a);
}

std::vector<vcVector<2>> cornersOf(const vcAffineRectangle& r) {
  return {r.ul(), r.ur(), r.lr(), r.ll()};
}

// Clips a convex polygon by the half-plane left of the directed edge a -> b (for a
// counter-clockwise clip polygon; the caller orients it).
std::vector<vcVector<2>> clip(const std::vector<vcVector<2>>& poly, const vcVector<2>& a,
                              const vcVector<2>& b) {
  std::vector<vcVector<2>> out;
  auto side = [&](const vcVector<2>& p) {
    return (b.x() - a.x()) * (p.y() - a.y()) - (b.y() - a.y()) * (p.x() - a.x());
  };
  for (std::size_t i = 0; i < poly.size(); ++i) {
    const vcVector<2>& p = poly[i];
    const vcVector<2>& q = poly[(i + 1) % poly.size()];
    const double sp = side(p), sq = side(q);
    if (sp >= 0) out.push_back(p);
    if ((sp >= 0) != (sq >= 0)) {
      const double t = sp / (sp - sq);
      out.push_back(vcVector<2>(p.x() + t * (q.x() - p.x()), p.y() + t * (q.y() - p.y())));
    }
  }
  return out;
}

std::vector<vcVector<2>> counterClockwise(std::vector<vcVector<2>> poly) {
  double a = 0.0;
  for (std::size_t i = 0, j = poly.size() - 1; i < poly.size(); j = i++)
    a += poly[j].x() * poly[i].y() - poly[i].x() * poly[j].y();
  if (a < 0) std::reverse(poly.begin(), poly.end());
  return poly;
}

}  // namespace

// The intersection of two convex quadrilaterals by clipping one with each edge of the other.
double vc_flxalign::overlapFraction(const vcAffineRectangle& r1, const vcAffineRectangle& r2) {
  const std::vector<vcVector<2>> a = counterClockwise(cornersOf(r1));
  const std::vector<vcVector<2>> b = counterClockwise(cornersOf(r2));
  auto box = [](const std::vector<vcVector<2>>& p, double& x0, double& y0, double& x1, double& y1) {
    x0 = y0 = std::numeric_limits<double>::infinity();
    x1 = y1 = -x0;
    for (const auto& v : p) {
      x0 = std::min(x0, v.x()), y0 = std::min(y0, v.y());
      x1 = std::max(x1, v.x()), y1 = std::max(y1, v.y());
    }
  };
  double ax0, ay0, ax1, ay1, bx0, by0, bx1, by1;
  box(a, ax0, ay0, ax1, ay1);
  box(b, bx0, by0, bx1, by1);
  if (ax1 < bx0 || bx1 < ax0 || ay1 < by0 || by1 < ay0) return 0.0;
  std::vector<vcVector<2>> inter = a;
  for (std::size_t i = 0; i < b.size() && !inter.empty(); ++i)
    inter = clip(inter, b[i], b[(i + 1) % b.size()]);
  const double common = inter.size() < 3 ? 0.0 : area(inter);
  const double smaller = std::min(area(a), area(b));
  return smaller > 0.0 ? common / smaller : 0.0;
}

vcFlexAlignStatus vc_flxalign::overlapped(double score, long other, double fraction) {
  vcFlexAlignStatus s{vcFlexAlignStatus::eOverlapped};
  s.score = score;
  s.other = other;
  s.amount = fraction;
  s.threshold = vc_flxalign::kTooMuchOverlap;
  return s;
}
