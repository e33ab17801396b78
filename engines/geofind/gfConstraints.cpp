// Constraint analysis: what the trained edges fix (see vc_GFConstraints for the maths), and the
// training warnings it calls for.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "engines/geofind/gfModel.h"
#include "platform/core/vcAngle.h"
#include "platform/core/vcText.h"

namespace {

// Eigenvalues of S, larger first, and the direction (radians) of the larger one's eigenvector.
struct Eigen {
  double large = 0, small = 0, angle = 0;
};

Eigen eigenOf(const vc_GFConstraints& c) {
  const double mean = 0.5 * (c.sxx + c.syy), half = 0.5 * (c.sxx - c.syy);
  const double r = std::hypot(half, c.sxy);
  return {mean + r, std::max(0.0, mean - r), 0.5 * std::atan2(2 * c.sxy, c.sxx - c.syy)};
}

double degreesIn180(double rad) {
  double d = std::fmod(rad * 180.0 / vcPi, 180.0);
  if (d < 0) d += 180.0;
  return d >= 179.95 ? 0.0 : d;  // shown to one decimal: 179.96 is 0.0
}

double inverseRoot(double v) {
  return v > 0 ? 1.0 / std::sqrt(v) : std::numeric_limits<double>::infinity();
}

}  // namespace

double vc_GFConstraints::strongDirection() const { return degreesIn180(eigenOf(*this).angle); }
double vc_GFConstraints::weakDirection() const {
  return degreesIn180(eigenOf(*this).angle + 0.5 * vcPi);
}
double vc_GFConstraints::strongSigma() const { return inverseRoot(eigenOf(*this).large); }
double vc_GFConstraints::weakSigma() const { return inverseRoot(eigenOf(*this).small); }
double vc_GFConstraints::weakShare() const {
  const Eigen e = eigenOf(*this);
  return e.large > 0 ? e.small / e.large : 0.0;
}
double vc_GFConstraints::angleSigma() const { return inverseRoot(leverage) * 180.0 / vcPi; }
double vc_GFConstraints::angleShare() const {
  return spread > 0 ? std::clamp(leverage / spread, 0.0, 1.0) : 0.0;
}

std::vector<std::string> vc_GFConstraints::warnings() const {
  std::vector<std::string> out;
  if (symmetry == 0) {
    out.push_back(
        "it is round: its edges fix no angle (a part takes it from its other pieces; searched "
        "alone, search it at one angle)");
    return out;  // a round pattern's edges fix every direction alike
  }
  if (weakShare() < kVcGFWeakShare)
    out.push_back(
        vfFormat("its edges barely fix its position along %.0f degrees (%.1f times less well than "
                 "across): it can slide that way; take in edges across that direction",
                 weakDirection(), std::sqrt(1.0 / std::max(weakShare(), 1e-12))));
  if (symmetry > 1)
    out.push_back(vfFormat(
        "it is %ld-fold symmetric: its angle is defined only modulo %g degrees; keep its angle "
        "range narrower than that",
        symmetry, 360.0 / double(symmetry)));
  return out;
}

vc_GFConstraints vf_GFConstraints(const vc_GFModel& m) {
  // The points a match is measured on: the sharp scale's (the fine ones with the fine stage).
  const vc_GFPointSet& s = m.scales.empty() ? m.levels.front() : m.scales.front().points;
  vc_GFConstraints c;
  double cx = 0, cy = 0, w = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    cx += s.w[i] * s.x[i], cy += s.w[i] * s.y[i], w += s.w[i];
    c.sxx += s.w[i] * double(s.nx[i]) * s.nx[i];
    c.sxy += s.w[i] * double(s.nx[i]) * s.ny[i];
    c.syy += s.w[i] * double(s.ny[i]) * s.ny[i];
  }
  if (w > 0) cx /= w, cy /= w;
  c.centre = vcVector<2>(cx, cy);
  for (std::size_t i = 0; i < s.size(); ++i) {
    const double rx = s.x[i] - cx, ry = s.y[i] - cy;
    const double cross = rx * s.ny[i] - ry * s.nx[i];
    c.leverage += s.w[i] * cross * cross;
    c.spread += s.w[i] * (rx * rx + ry * ry);
  }
  c.symmetry = vf_GFSymmetryFold(m);
  // A coin whose relief breaks its symmetry: the rim's edges outweigh the relief's so far that
  // the edges barely fix an angle; as round as a plain disc to a fit.
  if (c.symmetry == 1 && c.angleShare() < kVcGFRoundShare) c.symmetry = 0;
  return c;
}
