// Overlap and uncertainty decisions of the Geofind result.
#include <cmath>

#include "submodel_params/baseprms_match.h"
#include "vcFlexErrors.h"
#include "vcFlexSubModelParams.h"

namespace {

using GDefs = vcFlexSubModelGfndDefs;

constexpr double kTransSlack = 4.0;

const vcFlexSubModelGfndRunParams& gfndParams(const vcFlexSubModelRunParams& p) {
  if (p.engine() != vcFlexSubModelParamsDefs::eGeofindEngine)
    throw vcFlexAlignDefs::InternalError();
  return static_cast<const vcFlexSubModelGfndRunParams&>(p);
}

// The DOF values of a relative linear map in the order of the mode's DOF bits.
void relativeDofValues(GDefs::DOFMode mode, const vcMatrix<2>& m, double v[4]) {
  if (mode == GDefs::eCustom) throw vcFlexAlignDefs::NotImplemented();
  const double s = m.scale();
  v[0] = m.rotation().toDouble() * vcDegPerRad;
  v[1] = s;
  if (mode == GDefs::eStandard) {
    v[2] = s > 0.0 ? m.xScale() / s : 0.0;
    v[3] = s > 0.0 ? m.yScale() / s : 0.0;
  } else {
    v[2] = m.shear().toDouble() * vcDegPerRad;
    v[3] = m.aspect();
  }
}

}  // namespace

bool vcFlexSubModelGfndResult::isOverlapping(const vcRect& extent, const vc2XformBase& originInv,
                                             const vcFlexSubModelResult& other,
                                             const vcFlexSubModelRunParams& params) const {
  if (other.engine() != vcFlexSubModelParamsDefs::eGeofindEngine)
    throw vcFlexAlignDefs::InternalError();
  const auto* o = static_cast<const vcFlexSubModelGfndResult*>(&other);
  const vcFlexSubModelGfndRunParams& p = gfndParams(params);

  const vcRect a = vfPlacedRegionBox(extent, originInv, pose());
  const vcRect b = vfPlacedRegionBox(extent, originInv, o->pose());
  if (vfBoxOverlap(a, b) <= p.xyOverlap()) return false;
  if (p.dofList().empty()) return true;

  // The tolerances are the engine DOFs' own, configured from the run table as a run would.
  vcGeorapidDOFList list(p.dofList());
  p.dofData().setup(list);
  const std::vector<vxGeorapidDOF*> dofs = list.dofs();
  for (std::size_t i = 0; i < dofs.size(); ++i) {
    // A result without a value for this DOF (a blank sub-model's) cannot differ in it.
    if (i >= dofValues_.size() || i >= o->dofValues_.size()) continue;
    const double diff = vfDofDifference(dofValues_[i], o->dofValues_[i], dofs[i]->circular());
    if (dofs[i]->overlapTolerance() < diff) return false;
  }
  return true;
}

bool vcFlexSubModelGfndResult::isWithinDofUncertainty(const vcFlexSubModel&,
                                                      const vc2XformBase& expectedPose,
                                                      const vcFlexSubModelRunParams& params) const {
  const vcFlexSubModelGfndRunParams& p = gfndParams(params);
  if (!vfWithinTranslation(pose(), expectedPose, p.xUncertainty() + kTransSlack,
                           p.yUncertainty() + kTransSlack))
    return false;

  // Angle-like DOFs get degrees of slack, factors a few percent.
  static const double kStandardTol[4] = {2.0, 0.05, 0.05, 0.05};
  static const double kAdvancedTol[4] = {2.0, 0.05, 1.0, 0.05};
  if (p.dofMode() == GDefs::eCustom) throw vcFlexAlignDefs::NotImplemented();
  const double* tol = p.dofMode() == GDefs::eStandard ? kStandardTol : kAdvancedTol;

  double values[4];
  relativeDofValues(p.dofMode(), vfRelativeLinear(pose(), expectedPose), values);
  const vc_DofData& t = p.dofData();
  for (int i = 0; i < 4; ++i) {
    const long key = 1L << i;
    const bool additive = t.getMode(key) == vc_DofData::eAdditive;
    double lo, hi;
    if (t.isEnabled(key)) {
      lo = t.getMin(key) - tol[i];
      hi = t.getMax(key) + tol[i];
    } else {
      const double centre = additive ? 0.0 : 1.0;
      lo = centre - tol[i];
      hi = centre + tol[i];
    }
    // Rotation and skew are angles: compare them a whole number of turns from the range.
    const double v = additive ? vfAngleNear(values[i], 0.5 * (lo + hi)) : values[i];
    if (!(v >= lo && v <= hi)) return false;
  }
  return true;
}
