#include "platform/core/vcLSFitter.h"

#include <cmath>
#include <string>

#include "platform/core/vcException.h"

void vcLSGeneralFitter::update(const std::vector<vcVector<2>>& from,
                               const std::vector<vcVector<2>>& to,
                               const std::vector<double>& weights, double weight) {
  if (from.size() != to.size()) throw vcBadParams("fitter point lists differ in length");
  if (!weights.empty() && weights.size() != from.size())
    throw vcBadParams("fitter weight list differs in length from the points");
  auto checkWeight = [](double w) {
    if (!(w >= 0) || !std::isfinite(w)) throw vcBadParams("fitter weights must be finite and >= 0");
  };
  if (weights.empty()) checkWeight(weight);
  for (double w : weights) checkWeight(w);
  pts_.reserve(pts_.size() + from.size());
  for (std::size_t i = 0; i < from.size(); ++i)
    pts_.push_back({from[i], to[i], weights.empty() ? weight : weights[i]});
}

vcXform<2> vcLSGeneralFitter::fit(int dof, double& residual, double maxResidual) const {
  if (dof != 2 && dof != 3 && dof != 4 && dof != 6)
    throw vcBadParams("fitter supports 2, 3, 4 or 6 degrees of freedom, not " +
                      std::to_string(dof));
  // Weighted centroids; every family below is solved on centred coordinates, where the
  // translation separates: t = qBar - M pBar.
  double sw = 0;
  vcVector<2> pBar, qBar;
  for (const Pair& p : pts_) {
    sw += p.w;
    pBar += p.from * p.w;
    qBar += p.to * p.w;
  }
  if (!(sw > 0)) throw vcMathError::Singular("fitter has no weighted points");
  pBar = pBar / sw;
  qBar = qBar / sw;

  // Second moments of the centred points: Spp = sum w p p^T, Sqp = sum w q p^T.
  double pxx = 0, pxy = 0, pyy = 0, qxpx = 0, qxpy = 0, qypx = 0, qypy = 0;
  for (const Pair& p : pts_) {
    const vcVector<2> a = p.from - pBar, b = p.to - qBar;
    pxx += p.w * a.x() * a.x();
    pxy += p.w * a.x() * a.y();
    pyy += p.w * a.y() * a.y();
    qxpx += p.w * b.x() * a.x();
    qxpy += p.w * b.x() * a.y();
    qypx += p.w * b.y() * a.x();
    qypy += p.w * b.y() * a.y();
  }
  const double spread = pxx + pyy;
  // Spread of the from points relative to their distance from the origin, so that a cloud
  // far from (0, 0) is not mistaken for a single point by an absolute test.
  const double scaleRef = spread + sw * pBar.dot(pBar);
  const bool coincide = !(spread > 1e-24 * (scaleRef > 0 ? scaleRef : 1.0));

  vcMatrix<2> m;
  if (dof >= 3 && coincide) throw vcMathError::Singular("fit needs at least two distinct points");
  if (dof == 3 || dof == 4) {
    // Minimise over M = [a -b; b a]: a = sum w (p . q) / Spp, b = sum w (p x q) / Spp.
    const double dotSum = qxpx + qypy, crossSum = qypx - qxpy;
    if (dof == 3) {
      const double th = std::atan2(crossSum, dotSum);
      m = vcMatrix<2>(std::cos(th), -std::sin(th), std::sin(th), std::cos(th));
    } else {
      const double a = dotSum / spread, b = crossSum / spread;
      m = vcMatrix<2>(a, -b, b, a);
    }
  } else if (dof == 6) {
    // M = Sqp Spp^-1, with Spp = [pxx pxy; pxy pyy].
    const double det = pxx * pyy - pxy * pxy;
    if (!(det > 1e-12 * spread * spread))
      throw vcMathError::Singular("affine fit needs points that are not on one line");
    const double i00 = pyy / det, i01 = -pxy / det, i11 = pxx / det;
    m = vcMatrix<2>(qxpx * i00 + qxpy * i01, qxpx * i01 + qxpy * i11, qypx * i00 + qypy * i01,
                    qypx * i01 + qypy * i11);
  }
  const vcXform<2> x(m, qBar - m * pBar);
  double ss = 0;
  for (const Pair& p : pts_) {
    const vcVector<2> d = x.mapPoint(p.from) - p.to;
    ss += p.w * d.dot(d);
  }
  residual = std::sqrt(ss / sw);
  if (!(residual <= maxResidual))
    throw vcMathError::Singular("fit residual " + std::to_string(residual) + " exceeds the limit");
  return x;
}
