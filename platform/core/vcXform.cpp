#include "platform/core/vcXform.h"

#include <cmath>
#include <ostream>

#include "platform/core/vcException.h"

vcMatrix<2> vcMatrix<2>::inverse() const {
  const double d = det();
  const double norm = std::fabs(a_[0]) + std::fabs(a_[1]) + std::fabs(a_[2]) + std::fabs(a_[3]);
  // Relative test so that tiny but well-conditioned matrices still invert.
  if (d == 0.0 || !std::isfinite(d) || std::fabs(d) <= 1e-14 * norm * norm)
    throw vcMathError::Singular("matrix is singular");
  return {a_[3] / d, -a_[1] / d, -a_[2] / d, a_[0] / d};
}

vcXform<2> vcXform<2>::inverse() const {
  const vcMatrix<2> mi = m_.inverse();
  return {mi, -(mi * t_)};
}

vcVector<2> vcXform<2>::invMapPoint(const vcVector<2>& p) const { return m_.inverse() * (p - t_); }

std::ostream& operator<<(std::ostream& os, const vcMatrix<2>& m) {
  return os << "[" << m(0, 0) << " " << m(0, 1) << "; " << m(1, 0) << " " << m(1, 1) << "]";
}

std::ostream& operator<<(std::ostream& os, const vcXform<2>& x) {
  return os << "{" << x.matrix() << " + " << x.trans() << "}";
}
