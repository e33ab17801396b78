// The pose model of a run (see gfRunTypes.h): DOF matrices, the window-pixel pose B and its
// derivatives, and the tests that tell two poses apart.
#include <algorithm>
#include <cmath>

#include "engines/geofind/gfRunTypes.h"

namespace vc_gfrun {

vcMatrix<2> dofMatrix(const Problem& P, const Pose& p) {
  vcMatrix<2> D;
  for (std::size_t k = 0; k < P.dofs.size(); ++k) D = D * P.dofs[k].dof->matrix(p.v[k]);
  return D;
}

vcMatrix<2> poseB(const Problem& P, const Pose& p) { return P.Mw * P.S * dofMatrix(P, p); }

vcMatrix<2> poseDB(const Problem& P, const Pose& p, std::size_t k) {
  vcMatrix<2> D;
  for (std::size_t j = 0; j < P.dofs.size(); ++j)
    D = D * (j == k ? P.dofs[j].dof->derivative(p.v[j]) : P.dofs[j].dof->matrix(p.v[j]));
  return P.Mw * P.S * D;
}

vcMatrix<2> invTranspose(const vcMatrix<2>& B) {
  const double d = B.det();
  return {B(1, 1) / d, -B(1, 0) / d, -B(0, 1) / d, B(0, 0) / d};
}

void posedNormal(const vcMatrix<2>& Bit, double mx, double my, double& nx, double& ny) {
  nx = Bit(0, 0) * mx + Bit(0, 1) * my;
  ny = Bit(1, 0) * mx + Bit(1, 1) * my;
  const double nl = std::sqrt(nx * nx + ny * ny);
  nx /= nl, ny /= nl;
}

PatPoints toPattern(const vc_GFPointSet& s, const vcXform<2>& G) {
  PatPoints o;
  const vcMatrix<2> Gi = invTranspose(G.matrix());
  for (std::size_t i = 0; i < s.size(); ++i) {
    const vcVector<2> u = G.mapPoint({s.x[i], s.y[i]});
    const vcVector<2> n = (Gi * vcVector<2>(s.nx[i], s.ny[i])).unit();
    o.ux.push_back(float(u.x()));
    o.uy.push_back(float(u.y()));
    o.nx.push_back(float(n.x()));
    o.ny.push_back(float(n.y()));
    o.w.push_back(s.w[i]);
    o.totalW += s.w[i];
    o.centroid += s.w[i] * u;
  }
  if (o.totalW > 0) o.centroid = o.centroid * (1.0 / o.totalW);
  for (std::size_t i = 0; i < o.size(); ++i)
    o.rim = std::max(o.rim, std::hypot(o.ux[i] - o.centroid.x(), o.uy[i] - o.centroid.y()));
  return o;
}

bool isSizeDof(const DofSpec& d) {
  return d.dof->kind() != vxGeorapidDOF::eAngle && d.dof->kind() != vxGeorapidDOF::eSkew;
}

double circDiff(double a, double b, double period) {
  double d = std::fabs(a - b);
  if (period > 0) {
    d = std::fmod(d, period);
    d = std::min(d, period - d);
  }
  return d;
}

void clampDofs(const Problem& P, Pose& p) {
  for (std::size_t k = 0; k < P.dofs.size(); ++k) {
    const DofSpec& d = P.dofs[k];
    if (d.fixed) {
      p.v[k] = d.low;
    } else if (d.fullCircle) {
      p.v[k] = d.low + std::fmod(std::fmod(p.v[k] - d.low, 360.0) + 360.0, 360.0);
    } else {
      p.v[k] = std::clamp(p.v[k], d.low, d.high);
    }
  }
}

bool sameSolution(const Problem& P, const vcVector<2>& pivot, const Pose& a, const Pose& b,
                  double slack) {
  const vcVector<2> ca = poseB(P, a) * pivot + vcVector<2>(a.tx, a.ty);
  const vcVector<2> cb = poseB(P, b) * pivot + vcVector<2>(b.tx, b.ty);
  if (ca.distance(cb) > P.tune.samePosition * slack) return false;
  for (std::size_t k = 0; k < P.dofs.size(); ++k) {
    const double tol =
        isSizeDof(P.dofs[k]) ? P.tune.sameSize * std::max(1.0, std::fabs(a.v[k])) : slack;
    if (circDiff(a.v[k], b.v[k], P.dofs[k].dof->circular()) > tol) return false;
  }
  return true;
}

}  // namespace vc_gfrun
