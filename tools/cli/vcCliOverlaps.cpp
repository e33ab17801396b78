#include "tools/cli/vcCliOverlaps.h"

#include <algorithm>
#include <cmath>

namespace {

using Polygon = std::vector<vcVector<2>>;

double area(const Polygon& p) {
  double a = 0;
  for (std::size_t i = 0, j = p.size() - 1; i < p.size(); j = i++)
    a += p[j].x() * p[i].y() - p[i].x() * p[j].y();
  return 0.5 * a;  // positive when counter-clockwise
}

// The part of convex `p` left of the directed edge a -> b (Sutherland-Hodgman, one edge).
Polygon clip(const Polygon& p, const vcVector<2>& a, const vcVector<2>& b) {
  Polygon out;
  auto side = [&](const vcVector<2>& q) {
    return (b.x() - a.x()) * (q.y() - a.y()) - (b.y() - a.y()) * (q.x() - a.x());
  };
  for (std::size_t i = 0; i < p.size(); ++i) {
    const vcVector<2>& q = p[i];
    const vcVector<2>& r = p[(i + 1) % p.size()];
    const double sq = side(q), sr = side(r);
    if (sq >= 0) out.push_back(q);
    if ((sq >= 0) != (sr >= 0)) out.push_back(q + (r - q) * (sq / (sq - sr)));
  }
  return out;
}

// The region of instance k in arrangement coordinates, counter-clockwise.
Polygon placed(const vcFlexArrangement& a, std::size_t k) {
  const vcFlexSubModel& m = a.subModels()[std::size_t(a.subModelIndices()[k])];
  const vcXform<2> x = a.positions()[k]->linearXform({0, 0}).xform();
  const vcRect r = m.encloseRect();
  Polygon p = {x.mapPoint(r.ul()), x.mapPoint(r.ul() + vcVector<2>(r.width(), 0)),
               x.mapPoint(r.ul() + r.size()), x.mapPoint(r.ul() + vcVector<2>(0, r.height()))};
  if (area(p) < 0) std::reverse(p.begin(), p.end());
  return p;
}

}  // namespace

std::vector<vcCliOverlap> vfOverlappingPieces(const vcFlexArrangement& a, double limit) {
  std::vector<Polygon> regions;
  std::vector<bool> real;
  for (std::size_t k = 0; k < a.subModelIndices().size(); ++k) {
    regions.push_back(placed(a, k));
    real.push_back(a.subModels()[std::size_t(a.subModelIndices()[k])].modelType() !=
                       vcFlexModelDefs::eBlank &&
                   area(regions.back()) > 0);
  }
  std::vector<vcCliOverlap> out;
  for (std::size_t i = 0; i < regions.size(); ++i)
    for (std::size_t j = i + 1; j < regions.size(); ++j) {
      if (!real[i] || !real[j]) continue;
      Polygon common = regions[i];
      for (std::size_t e = 0; e < 4 && common.size() >= 3; ++e)
        common = clip(common, regions[j][e], regions[j][(e + 1) % 4]);
      const double shared = common.size() >= 3 ? area(common) : 0.0;
      const double fraction = shared / std::min(area(regions[i]), area(regions[j]));
      if (fraction > limit) out.push_back({i, j, fraction});
    }
  return out;
}
