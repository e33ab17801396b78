// The DOF values of a linear pose, in the order of the standard or advanced DOF bits, and the
// matrices rebuilt from them. Standard: rotation (degrees), uniform scale (the geometric mean
// of the axis scales), x- and y-scale relative to the uniform scale; the shear is not part of
// the set. Advanced: rotation, scale, shear (degrees), aspect.
#pragma once

#include <array>
#include <cmath>

#include "platform/core/vcAngle.h"
#include "platform/core/vcMatrix.h"

namespace vc_flxalign {

inline std::array<double, 4> standardDofValues(const vcMatrix<2>& m) {
  const double xs = m.xScale(), ys = m.yScale();
  const double uniform = std::sqrt(std::abs(xs * ys));
  return {m.xRot().toDouble() * vcDegPerRad, uniform, xs / uniform, ys / uniform};
}

inline std::array<double, 4> advancedDofValues(const vcMatrix<2>& m) {
  return {m.rotation().toDouble() * vcDegPerRad, m.scale(), m.shear().toDouble() * vcDegPerRad,
          m.aspect()};
}

inline vcMatrix<2> standardMatrix(double rotationDeg, double uniform, double xRel, double yRel) {
  const vcRadian r(rotationDeg * vcRadPerDeg);
  return vcMatrix<2>(r, r, xRel * uniform, yRel * uniform);
}

inline vcMatrix<2> advancedMatrix(double rotationDeg, double scale, double shearDeg,
                                  double aspect) {
  return vcMatrix<2>(scale, aspect, vcRadian(shearDeg * vcRadPerDeg),
                     vcRadian(rotationDeg * vcRadPerDeg));
}

}  // namespace vc_flxalign
