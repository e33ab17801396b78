// How far a point lies from a piece's footprint: what decides the piece a defect lies on and
// where two pieces meet.
#pragma once

#include <algorithm>
#include <limits>
#include <vector>

#include "platform/core/vcShapes.h"
#include "platform/core/vcVector.h"

namespace vc_flxalign {

// Distance from p to a convex polygon (0 inside; infinite for one without an inside).
inline double footprintDistance(const vcPolygon& poly, const vcVector<2>& p) {
  const std::vector<vcVector<2>>& v = poly.vertices();
  if (v.size() < 3) return std::numeric_limits<double>::infinity();
  const double orient = poly.signedArea() >= 0 ? 1.0 : -1.0;
  bool inside = true;
  double best = std::numeric_limits<double>::infinity();
  for (std::size_t i = 0; i < v.size(); ++i) {
    const vcVector<2>& a = v[i];
    const vcVector<2> e = v[(i + 1) % v.size()] - a, ap = p - a;
    if (orient * (e.x() * ap.y() - e.y() * ap.x()) < 0) inside = false;
    const double t = std::clamp(ap.dot(e) / std::max(e.dot(e), 1e-300), 0.0, 1.0);
    best = std::min(best, p.distance(a + e * t));
  }
  return inside ? 0.0 : best;
}

}  // namespace vc_flxalign
