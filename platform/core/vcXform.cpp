#include "platform/core/vcXform.h"

#include <algorithm>
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

bool vfIsSaneXform(const vcXform<2>& x) {
  const vcMatrix<2>& m = x.matrix();
  const double a = m(0, 0), b = m(0, 1), c = m(1, 0), d = m(1, 1);
  const vcVector<2>& t = x.trans();
  if (!std::isfinite(a) || !std::isfinite(b) || !std::isfinite(c) || !std::isfinite(d) ||
      !std::isfinite(t.x()) || !std::isfinite(t.y()))
    return false;
  if (std::fabs(t.x()) > kVcMaxCoordinate || std::fabs(t.y()) > kVcMaxCoordinate) return false;
  const double sum = a * a + b * b + c * c + d * d, det = std::fabs(a * d - b * c);
  const double disc = std::sqrt(std::max(0.0, sum * sum - 4 * det * det));
  const double smax = std::sqrt((sum + disc) / 2), smin = det / std::max(smax, 1e-300);
  return smax <= kVcMaxScale && smin >= 1.0 / kVcMaxScale;
}
