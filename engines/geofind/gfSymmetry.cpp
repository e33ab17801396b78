// Symmetry: the model is compared with itself turned and mirrored about its edge centroid. A
// transformed point counts when a model point of agreeing direction lies within 1.5 pixels.
#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "engines/geofind/gfModel.h"
#include "platform/core/vcAngle.h"

namespace {

constexpr double kMatch = 0.8;  // weighted fraction of points that must map onto the model

struct Grid {
  double cell = 1.5;
  std::unordered_multimap<long long, std::size_t> map;
  long long key(double x, double y) const {
    return (static_cast<long long>(std::floor(y / cell)) << 32) ^
           static_cast<long long>(std::floor(x / cell) + 1e6);
  }
};

// Fraction of weight mapped onto the model by p -> c + L (p - c), normals by L (orthogonal L).
double selfMatch(const vc_GFPointSet& s, const Grid& g, double cx, double cy, double a, double b,
                 double c, double d, bool ignorePolarity) {
  double hit = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const double dx = s.x[i] - cx, dy = s.y[i] - cy;
    const double x = cx + a * dx + b * dy, y = cy + c * dx + d * dy;
    const double nx = a * s.nx[i] + b * s.ny[i], ny = c * s.nx[i] + d * s.ny[i];
    bool found = false;
    for (int oy = -1; oy <= 1 && !found; ++oy)
      for (int ox = -1; ox <= 1 && !found; ++ox) {
        auto range = g.map.equal_range(g.key(x + ox * g.cell, y + oy * g.cell));
        for (auto it = range.first; it != range.second; ++it) {
          const std::size_t j = it->second;
          if (std::hypot(s.x[j] - x, s.y[j] - y) > g.cell) continue;
          double cs = nx * s.nx[j] + ny * s.ny[j];
          if (ignorePolarity) cs = std::fabs(cs);
          if (cs > 0.9) {
            found = true;
            break;
          }
        }
      }
    if (found) hit += s.w[i];
  }
  return s.totalWeight > 0 ? hit / s.totalWeight : 0;
}

// The level-0 points matched against themselves turned or mirrored about their centroid.
struct SelfMatcher {
  const vc_GFPointSet& s;
  bool ignorePolarity;
  double cx = 0, cy = 0;
  Grid g;
  explicit SelfMatcher(const vc_GFModel& m)
      : s(m.levels.front()), ignorePolarity(m.ignorePolarity) {
    for (std::size_t i = 0; i < s.size(); ++i) cx += s.w[i] * s.x[i], cy += s.w[i] * s.y[i];
    cx /= s.totalWeight, cy /= s.totalWeight;
    for (std::size_t i = 0; i < s.size(); ++i) g.map.emplace(g.key(s.x[i], s.y[i]), i);
  }
  double rot(double deg) const {
    const double a = deg * vcPi / 180.0;
    return selfMatch(s, g, cx, cy, std::cos(a), -std::sin(a), std::sin(a), std::cos(a),
                     ignorePolarity);
  }
  // Turns that no finite order up to 12 explains all map the pattern onto itself.
  bool circle(double& score) const {
    const double odd1 = rot(37.0), odd2 = rot(101.0), odd3 = rot(163.0);
    score = std::min(odd1, std::min(odd2, odd3));
    return score >= kMatch;
  }
};

}  // namespace

long vf_GFSymmetryFold(const vc_GFModel& m) {
  const SelfMatcher sm(m);
  double score;
  if (sm.circle(score)) return 0;
  // The largest order first: a 12-fold pattern also maps onto itself by 60, 90 and 180.
  for (long n : {12L, 8L, 6L, 5L, 4L, 3L, 2L})
    if (sm.rot(360.0 / double(n)) >= kMatch) return n;
  return 1;
}

void vf_GFSymmetry(const vc_GFModel& m, vc_GFPatternInfo& info) {
  const SelfMatcher sm(m);
  const vc_GFPointSet& s = sm.s;
  const double cx = sm.cx, cy = sm.cy;
  const Grid& g = sm.g;
  auto rot = [&](double deg) { return sm.rot(deg); };
  auto mirror = [&](double deg) {  // reflection about the axis at `deg`
    const double a = 2 * deg * vcPi / 180.0;
    return selfMatch(s, g, cx, cy, std::cos(a), std::sin(a), std::sin(a), -std::cos(a),
                     m.ignorePolarity);
  };
  unsigned long f = 0;
  double smallest = 360.0, scoreAt = 0.0;
  auto note = [&](double deg, double sc) {
    if (sc >= kMatch && deg < smallest) smallest = deg, scoreAt = sc;
  };
  double circleScore;
  if (sm.circle(circleScore)) {
    f |= vcGFAlignDefs::eSymCircle | vcGFAlignDefs::eSym180 | vcGFAlignDefs::eSym90;
    smallest = 0.0;
    scoreAt = circleScore;
  } else {
    const double r180 = rot(180.0), r90 = rot(90.0);
    if (r180 >= kMatch) f |= vcGFAlignDefs::eSym180;
    if (r90 >= kMatch) f |= vcGFAlignDefs::eSym90;
    note(180.0, r180);
    note(90.0, r90);
    for (double deg : {120.0, 72.0, 60.0, 45.0}) {
      const double sc = rot(deg);
      if (sc >= kMatch) {
        f |= vcGFAlignDefs::eSymRotN;
        note(deg, sc);
      }
    }
  }
  if (mirror(0.0) >= kMatch) f |= vcGFAlignDefs::eSymMirrorX;
  if (mirror(90.0) >= kMatch) f |= vcGFAlignDefs::eSymMirrorY;
  if (mirror(45.0) >= kMatch || mirror(135.0) >= kMatch) f |= vcGFAlignDefs::eSymMirrorDiag;
  info.flags = f;
  info.value1 = smallest;
  info.value2 = scoreAt;
}
