// Affine 2-D transform: p' = M p + t.
#pragma once

#include <ostream>

#include "platform/core/vcMatrix.h"
#include "platform/core/vcVector.h"

template <int N>
class vcXform;

template <>
class vcXform<2> {
 public:
  vcXform() = default;
  vcXform(const vcMatrix<2>& m, const vcVector<2>& t) : m_(m), t_(t) {}

  const vcMatrix<2>& matrix() const { return m_; }
  void matrix(const vcMatrix<2>& m) { m_ = m; }
  const vcVector<2>& trans() const { return t_; }
  void trans(const vcVector<2>& t) { t_ = t; }

  vcVector<2> mapPoint(const vcVector<2>& p) const { return m_ * p + t_; }
  vcVector<2> mapVector(const vcVector<2>& v) const { return m_ * v; }
  vcVector<2> operator*(const vcVector<2>& p) const { return mapPoint(p); }
  // (a * b) applies b first, then a.
  vcXform operator*(const vcXform& b) const { return {m_ * b.m_, m_ * b.t_ + t_}; }
  // Throws vcMathError::Singular when the matrix cannot be inverted.
  vcXform inverse() const;
  vcVector<2> invMapPoint(const vcVector<2>& p) const;
  bool operator==(const vcXform&) const = default;
  bool isIdentity() const { return *this == vcXform(); }

 private:
  vcMatrix<2> m_;
  vcVector<2> t_;
};

std::ostream& operator<<(std::ostream& os, const vcXform<2>& x);

// Bounds on the transforms the engines accept from callers and files: translations beyond
// 1e6 pixels and axis scales outside [0.001, 1000] are damage, not geometry, and would push
// derived pixel positions out of the range of int or ask for more pixels than any image holds.
inline constexpr double kVcMaxCoordinate = 1e6;
inline constexpr double kVcMaxScale = 1e3;
// Finite, translation within kVcMaxCoordinate, and both singular values of the linear part
// within [1 / kVcMaxScale, kVcMaxScale].
bool vfIsSaneXform(const vcXform<2>& x);
