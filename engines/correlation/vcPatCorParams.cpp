// Parameter validation of the correlation engine.
#include <cmath>

#include "engines/correlation/vcPatCor.h"

namespace {

int dofIndex(long dof) {
  if (dof != vc_PatCorDefs::eAngle && dof != vc_PatCorDefs::eScale)
    throw vc_PatCorDefs::BadParams("Unknown DOF: must be 1 (angle) or 2 (scale)");
  return static_cast<int>(dof - 1);
}

int algIndex(long alg) {
  if (alg != vc_PatCorDefs::eCoarse && alg != vc_PatCorDefs::eFine)
    throw vc_PatCorDefs::BadParams("Unknown algorithm: must be 1 (coarse) or 2 (fine)");
  return static_cast<int>(alg - 1);
}

void checkZoneMask(unsigned long mask) {
  if (mask & ~3ul) throw vc_PatCorDefs::BadParams("Unknown DOF in zone mask");
}

void checkFinite(double v) {
  if (!std::isfinite(v)) throw vc_PatCorDefs::BadParams("Value must be finite");
}

}  // namespace

void vc_PatCorTrainParams::algorithms(unsigned long a) {
  if (a < 1 || a > 3) throw vc_PatCorDefs::BadParams("Algorithms must be 1, 2 or 3");
  algorithms_ = a;
}

double vc_PatCorTrainParams::step(long dof, long algorithm) const {
  const int d = dofIndex(dof);
  return algIndex(algorithm) == 0 ? coarseStep_[d] : fineStep_[d];
}

void vc_PatCorTrainParams::step(long dof, double value, long algorithm) {
  const int d = dofIndex(dof);
  const int a = algIndex(algorithm);
  checkFinite(value);
  if (value <= 0.0) throw vc_PatCorDefs::BadParams("Step must be > 0");
  (a == 0 ? coarseStep_ : fineStep_)[d] = value;
}

void vc_PatCorTrainParams::zoneAllowed(unsigned long mask) {
  checkZoneMask(mask);
  zoneAllowed_ = mask;
}

double vc_PatCorTrainParams::zoneMaxRange(long dof) const { return maxRange_[dofIndex(dof)]; }

void vc_PatCorTrainParams::zoneMaxRange(long dof, double v) {
  const int d = dofIndex(dof);
  checkFinite(v);
  if (v < 0.0 || (d == 1 && v >= 1.0))
    throw vc_PatCorDefs::BadParams("Zone range must be >= 0 (and < 1 for the scale)");
  maxRange_[d] = v;
}

double vc_PatCorTrainParams::zoneNominal(long dof) const { return nominal_[dofIndex(dof)]; }

void vc_PatCorTrainParams::zoneNominal(long dof, double v) {
  const int d = dofIndex(dof);
  checkFinite(v);
  if (d == 1 && !(v >= 1.0 / kVcMaxScale && v <= kVcMaxScale))
    throw vc_PatCorDefs::BadParams("Scale nominal must be in [0.001, 1000]");
  nominal_[d] = v;
}

double vc_PatCorRunParams::acceptThreshold(long algorithm) const {
  return accept_[algIndex(algorithm)];
}

void vc_PatCorRunParams::acceptThreshold(long algorithm, double v) {
  const int a = algIndex(algorithm);
  checkFinite(v);
  accept_[a] = v;
}

double vc_PatCorRunParams::neighborAcceptThreshold(long algorithm) const {
  return neighbor_[algIndex(algorithm)];
}

void vc_PatCorRunParams::neighborAcceptThreshold(long algorithm, double v) {
  const int a = algIndex(algorithm);
  checkFinite(v);
  neighbor_[a] = v;
}

void vc_PatCorRunParams::numToFind(long n) {
  if (n < 1) throw vc_PatCorDefs::BadParams("numToFind must be >= 1");
  numToFind_ = n;
}

void vc_PatCorRunParams::partialMatch(const vcPelRect& r) {
  if (r.x() < 0 || r.y() < 0 || r.width() < 1 || r.height() < 1)
    throw vc_PatCorDefs::BadParams("Partial match margins must be >= 0");
  partialMatch_ = r;
}

void vc_PatCorRunParams::uncertainty(const vcPair<long>& u) {
  if (u.x() < 0 || u.y() < 0) throw vc_PatCorDefs::BadParams("Uncertainty must be >= 0");
  uncertainty_ = u;
}

void vc_PatCorRunParams::xyOverlap(double v) {
  checkFinite(v);
  if (v < 0.0) throw vc_PatCorDefs::BadParams("xyOverlap must be >= 0");
  xyOverlap_ = v;
}

void vc_PatCorRunParams::modelOrigin(const vcXform<2>& o) {
  if (!vfIsSaneXform(o))
    throw vc_PatCorDefs::BadParams(
        "The model origin must be finite, with scales in [0.001, 1000] and a translation "
        "within 1e6");
  modelOrigin_ = o;
}

void vc_PatCorRunParams::xyRel(const vcVector<2>& low, const vcVector<2>& high) {
  if (std::isnan(low.x()) || std::isnan(low.y()) || std::isnan(high.x()) || std::isnan(high.y()) ||
      low.x() > high.x() || low.y() > high.y())
    throw vc_PatCorDefs::BadParams("xyRel: low must be <= high");
  xyLow_ = low;
  xyHigh_ = high;
}

void vc_PatCorRunParams::zoneEnable(unsigned long mask) {
  checkZoneMask(mask);
  zoneEnable_ = mask;
}

double vc_PatCorRunParams::zoneOverlap(long dof) const { return zoneOverlap_[dofIndex(dof)]; }

void vc_PatCorRunParams::zoneOverlap(long dof, double v) {
  const int d = dofIndex(dof);
  checkFinite(v);
  if (v < 0.0) throw vc_PatCorDefs::BadParams("zoneOverlap must be >= 0");
  zoneOverlap_[d] = v;
}

double vc_PatCorRunParams::zoneRelLow(long dof) const { return zoneLow_[dofIndex(dof)]; }
double vc_PatCorRunParams::zoneRelHigh(long dof) const { return zoneHigh_[dofIndex(dof)]; }

void vc_PatCorRunParams::zoneRel(long dof, double low, double high) {
  const int d = dofIndex(dof);
  checkFinite(low);
  checkFinite(high);
  if (low > high || (d == 1 && low <= -1.0))
    throw vc_PatCorDefs::BadParams("Zone: low must be <= high (and > -1 for the scale)");
  zoneLow_[d] = low;
  zoneHigh_[d] = high;
}
