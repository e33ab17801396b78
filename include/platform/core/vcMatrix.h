// 2x2 matrix of a linear transform, with the two decompositions callers read poses in.
//
// Per-axis form: the image of the x axis is xScale * (cos xRot, sin xRot) and the image of the
// y axis is yScale * (-sin yRot, cos yRot); these are the matrix columns.
// Scale/aspect/shear/rotation form: scale = xScale, aspect = yScale / xScale,
// rotation = xRot, shear = yRot - xRot. Both describe the same matrix, so every
// non-degenerate matrix decomposes uniquely (with xScale > 0, and yScale < 0 for a mirror).
#pragma once

#include <cmath>
#include <ostream>

#include "platform/core/vcAngle.h"
#include "platform/core/vcVector.h"

template <int N>
class vcMatrix;

template <>
class vcMatrix<2> {
 public:
  // Identity.
  constexpr vcMatrix() = default;
  constexpr vcMatrix(double a00, double a01, double a10, double a11) : a_{a00, a01, a10, a11} {}
  vcMatrix(double scale, double aspect, vcRadian shear, vcRadian rotation) {
    setPerAxis(rotation, rotation + shear, scale, scale * aspect);
  }
  vcMatrix(vcRadian xRot, vcRadian yRot, double xScale, double yScale) {
    setPerAxis(xRot, yRot, xScale, yScale);
  }

  double element(int r, int c) const { return a_[r * 2 + c]; }
  void element(int r, int c, double v) { a_[r * 2 + c] = v; }
  double operator()(int r, int c) const { return element(r, c); }

  double xScale() const { return std::hypot(a_[0], a_[2]); }
  vcRadian xRot() const { return vcRadian(std::atan2(a_[2], a_[0])); }
  // Length of the image of the y axis, signed: negative for a mirroring matrix. (Not
  // det / xScale, which is the length only when the axes stay perpendicular.)
  double yScale() const {
    const double l = std::hypot(a_[1], a_[3]);
    return det() < 0 ? -l : l;
  }
  vcRadian yRot() const {
    const double ys = yScale();
    if (ys == 0) return xRot();
    return vcRadian(std::atan2(-a_[1] / ys, a_[3] / ys));
  }
  double scale() const { return xScale(); }
  double aspect() const {
    const double xs = xScale();
    return xs > 0 ? yScale() / xs : 0.0;
  }
  vcRadian rotation() const { return xRot(); }
  vcRadian shear() const { return vfNormalizeAngle(yRot() - xRot()); }

  double det() const { return a_[0] * a_[3] - a_[1] * a_[2]; }
  bool isSingular() const { return std::fabs(det()) < 1e-300; }
  // Throws vcMathError::Singular for a singular matrix (defined in vcXform.h's companion).
  vcMatrix inverse() const;
  vcMatrix transpose() const { return {a_[0], a_[2], a_[1], a_[3]}; }

  vcMatrix operator*(const vcMatrix& o) const {
    return {a_[0] * o.a_[0] + a_[1] * o.a_[2], a_[0] * o.a_[1] + a_[1] * o.a_[3],
            a_[2] * o.a_[0] + a_[3] * o.a_[2], a_[2] * o.a_[1] + a_[3] * o.a_[3]};
  }
  vcVector<2> operator*(const vcVector<2>& v) const {
    return {a_[0] * v.x() + a_[1] * v.y(), a_[2] * v.x() + a_[3] * v.y()};
  }
  vcMatrix operator*(double s) const { return {a_[0] * s, a_[1] * s, a_[2] * s, a_[3] * s}; }
  vcMatrix operator+(const vcMatrix& o) const {
    return {a_[0] + o.a_[0], a_[1] + o.a_[1], a_[2] + o.a_[2], a_[3] + o.a_[3]};
  }
  bool operator==(const vcMatrix&) const = default;

 private:
  void setPerAxis(vcRadian xRot, vcRadian yRot, double xScale, double yScale) {
    a_[0] = xScale * cos(xRot);
    a_[2] = xScale * sin(xRot);
    a_[1] = -yScale * sin(yRot);
    a_[3] = yScale * cos(yRot);
  }
  double a_[4] = {1.0, 0.0, 0.0, 1.0};
};

std::ostream& operator<<(std::ostream& os, const vcMatrix<2>& m);
