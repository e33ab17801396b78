// Geometry shared by the results' overlap and uncertainty decisions (private to this folder).
#pragma once

#include <algorithm>
#include <cmath>

#include "platform/core/vc2XformBase.h"
#include "platform/core/vcAngle.h"
#include "platform/core/vcShapes.h"

// The box enclosing a sub-model's extent (`encloseRect`, client coordinates of the sub-model)
// once placed by a found pose: back to sub-model coordinates through `originInverse`, then
// into the run image through `pose`.
inline vcRect vfPlacedRegionBox(const vcRect& encloseRect, const vc2XformBase& originInverse,
                                const vc2XformBase& pose) {
  const vcVector<2> corners[4] = {encloseRect.ul(), encloseRect.ur(), encloseRect.lr(),
                                  encloseRect.ll()};
  vcRect box;
  for (int i = 0; i < 4; ++i) {
    const vcVector<2> p = pose.mapPoint(originInverse.mapPoint(corners[i]));
    box = i == 0 ? vcRect(p.x(), p.y(), 0, 0) : box.enclose(p);
  }
  return box;
}

// Overlap along one axis of two intervals given by centre and length:
// max(0, 1 - 2|c1 - c2| / (l1 + l2)). Two zero-length intervals overlap fully only when they
// coincide.
inline double vfAxisOverlap(double c1, double c2, double l1, double l2) {
  const double sum = l1 + l2;
  const double d = std::fabs(c1 - c2);
  if (!(sum > 0.0)) return d == 0.0 ? 1.0 : 0.0;
  return std::max(0.0, 1.0 - 2.0 * d / sum);
}

// Product of the two axis overlaps of two boxes.
inline double vfBoxOverlap(const vcRect& a, const vcRect& b) {
  return vfAxisOverlap(a.center().x(), b.center().x(), a.width(), b.width()) *
         vfAxisOverlap(a.center().y(), b.center().y(), a.height(), b.height());
}

// True when the origins mapped by the two poses differ by at most xTol in x and yTol in y.
inline bool vfWithinTranslation(const vc2XformBase& found, const vc2XformBase& expected,
                                double xTol, double yTol) {
  const vcVector<2> a = found.mapPoint(vcVector<2>(0, 0));
  const vcVector<2> b = expected.mapPoint(vcVector<2>(0, 0));
  return std::fabs(a.x() - b.x()) <= xTol && std::fabs(a.y() - b.y()) <= yTol;
}

// The found pose relative to the expected one, in sub-model coordinates: the deviation that
// the engines search (they apply their DOFs to the expected pose from the sub-model side), as
// its linear part at the sub-model origin. An exact match gives the identity.
inline vcMatrix<2> vfRelativeLinear(const vc2XformBase& found, const vc2XformBase& expected) {
  const vcPtrHandle<vc2XformBase> rel = expected.inverseBase()->composeBase(found);
  return rel->linearXform(vcVector<2>(0, 0)).matrix();
}

// An angle in degrees moved by whole turns next to `centre`, so that a range such as
// [170, 190] accepts a rotation reported as -178.
inline double vfAngleNear(double angle, double centre) {
  return angle + 360.0 * std::round((centre - angle) / 360.0);
}

// Circular difference of two DOF values for period p (0: not circular).
inline double vfDofDifference(double a, double b, double period) {
  double d = std::fabs(a - b);
  if (period != 0.0) {
    d = std::fmod(d, period);
    d = std::min(d, period - d);
  }
  return d;
}
