// Result assembly: the measured candidates become results in client coordinates, those that
// overlap a stronger one are dropped, and at most numToFind remain.
#include <algorithm>
#include <array>
#include <cmath>

#include "engines/geofind/gfRunTypes.h"

using vc_gfrun::circDiff;
using vc_gfrun::dofMatrix;
using vc_gfrun::Found;
using vc_gfrun::Problem;

// The fit's covariance on the result; the weak direction is the covariance's longest axis.
void vc_GFRunner::setUncertainty(vcGFAlignResult& res, const Problem& P,
                                 const vc_gfrun::FitStats& st) {
  const vcMatrix<2>& C = st.positionCov;
  res.positionCov_ = C;
  for (std::size_t k = 0; k < P.dofs.size(); ++k) {
    const auto kind = P.dofs[k].dof->kind();
    if (kind == vxGeorapidDOF::eAngle) res.angleSigma_ = st.dofSigma[k];
    if (kind == vxGeorapidDOF::eScale || kind == vxGeorapidDOF::eScaleLinear)
      res.scaleSigma_ = st.dofSigma[k];
  }
  const double a = C(0, 0), b = C(0, 1), d = C(1, 1);
  const double h = std::sqrt(0.25 * (a - d) * (a - d) + b * b);
  const double longest = 0.5 * (a + d) + h;
  // The eigenvector of the larger eigenvalue: (b, longest - a), or an axis when b vanishes.
  vcVector<2> v = std::fabs(b) > 1e-12 * (a + d) ? vcVector<2>(b, longest - a)
                  : a >= d                       ? vcVector<2>(1, 0)
                                                 : vcVector<2>(0, 1);
  res.weakDirection_ = v.unit();
  res.weakSigma_ = std::sqrt(std::max(0.0, longest));
  res.positionWeak_ = st.informationShare < P.tune.weakInformationShare;
  res.ambiguous_ = longest > P.tune.maxSigmaPx * P.tune.maxSigmaPx;
}

std::vector<vcGFAlignResult> vc_GFRunner::assemble(const Problem& P,
                                                   const std::vector<Found>& found,
                                                   const vc_GFModel& m, const vcXform<2>& G,
                                                   const vcXform<2>& Mw,
                                                   const vcPelBuffer_const<unsigned char>& image,
                                                   const vcGFAlignRunParams& params) {
  const std::size_t numToFind = std::size_t(params.numToFind());
  const vcXform<2>& Cr = image.clientFromImageXform();
  const vcXform<2> MwInv = Mw.inverse();
  const vcPelRect& r = m.region;
  const vcXform<2> unitToTrain(vcMatrix<2>(double(r.width()), 0.0, 0.0, double(r.height())),
                               vcVector<2>(r.x() - 0.5, r.y() - 0.5));
  std::vector<vcGFAlignResult> out;
  std::vector<std::array<double, 4>> boxes;  // centre x, y, width, height in client units
  for (const Found& fd : found) {
    vcGFAlignResult res;
    const vcMatrix<2> Apose = P.S * dofMatrix(P, fd.p);
    // tau = Mw t  =>  t = Mw^-1 tau
    const vcVector<2> t = MwInv.mapPoint({fd.p.tx, fd.p.ty});
    res.pose_ = vcXform<2>(Apose, t);
    res.score_ = float(fd.score);
    res.contrast_ = float(fd.st.contrast);
    res.fitError_ = float(fd.st.fitError);
    res.coverage_ = float(fd.st.coverage);
    res.clutter_ = float(fd.clutter);
    res.accepted_ = fd.score >= params.acceptThreshold() &&
                    fd.st.contrast >= (fd.look.thr >= 0 ? fd.look.thr : P.contrast);
    for (std::size_t k = 0; k < P.dofs.size(); ++k) res.dofValues_.push_back(fd.p.v[k]);
    if (fd.st.haveCov) setUncertainty(res, P, fd.st);
    res.matchRegion_ = res.pose_ * G * unitToTrain;
    double a0 = 1e300, b0 = 1e300, a1 = -1e300, b1 = -1e300;
    for (const vcVector<2>& c : res.matchRegionCorners()) {
      a0 = std::min(a0, c.x()), a1 = std::max(a1, c.x());
      b0 = std::min(b0, c.y()), b1 = std::max(b1, c.y());
    }
    // Overlap as the product of the 1-D overlaps of the enclosing boxes.
    bool dup = false;
    for (std::size_t j = 0; j < out.size() && !dup; ++j) {
      const auto& o = boxes[j];
      const double cx = 0.5 * (a0 + a1), cy = 0.5 * (b0 + b1), w = a1 - a0, hh = b1 - b0;
      const double ox = std::max(0.0, 1.0 - 2.0 * std::fabs(cx - o[0]) / (w + o[2]));
      const double oy = std::max(0.0, 1.0 - 2.0 * std::fabs(cy - o[1]) / (hh + o[3]));
      if (ox * oy <= params.xyOverlap()) continue;
      bool same = true;
      for (std::size_t k = 0; k < P.dofs.size(); ++k) {
        const double d =
            circDiff(res.dofValues_[k], out[j].dofValues_[k], P.dofs[k].dof->circular());
        if (d > P.dofs[k].dof->overlapTolerance()) same = false;
      }
      dup = same;
    }
    if (dup) continue;
    // Image region in root pixels.
    const vcXform<2> toPix = Cr.inverse();
    double p0 = 1e300, q0 = 1e300, p1 = -1e300, q1 = -1e300;
    for (const vcVector<2>& c : res.matchRegionCorners()) {
      const vcVector<2> q = toPix.mapPoint(c);
      p0 = std::min(p0, q.x()), p1 = std::max(p1, q.x());
      q0 = std::min(q0, q.y()), q1 = std::max(q1, q.y());
    }
    const long ix0 = long(std::floor(p0 + 0.5)), iy0 = long(std::floor(q0 + 0.5));
    const long ix1 = long(std::ceil(p1 + 0.5)), iy1 = long(std::ceil(q1 + 0.5));
    res.imageRegion_ = vcPelRect(ix0, iy0, ix1 - ix0, iy1 - iy0).intersect(image.entire());
    if (params.saveMatchInfo()) {
      for (const auto& q : fd.st.modelPts) res.matchModel_.push_back(MwInv.mapPoint(q));
      for (const auto& q : fd.st.imagePts) res.matchImage_.push_back(MwInv.mapPoint(q));
    }
    boxes.push_back({0.5 * (a0 + a1), 0.5 * (b0 + b1), a1 - a0, b1 - b0});
    out.push_back(std::move(res));
    if (out.size() >= numToFind) break;
  }
  return out;
}
