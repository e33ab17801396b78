// Overlap and uncertainty decisions of the correlation result.
#include <cmath>

#include "submodel_params/baseprms_match.h"
#include "vcFlexErrors.h"
#include "vcFlexSubModelParams.h"

namespace {

using Defs = vcFlexSubModelParamsDefs;

// Allowances beyond the run's own zones: the engine refines past its search grid.
constexpr double kTransSlack = 4.0;
constexpr double kAngleSlack = 2.0;
constexpr double kScaleSlack = 0.01;

const vcFlexSubModelCorRunParams& corParams(const vcFlexSubModelRunParams& p) {
  if (p.engine() != Defs::eCorrelationEngine) throw vcFlexAlignDefs::InternalError();
  return static_cast<const vcFlexSubModelCorRunParams&>(p);
}

bool within(double v, double lo, double hi) { return v >= lo && v <= hi; }

}  // namespace

bool vcFlexSubModelCorResult::isOverlapping(const vcRect& extent, const vc2XformBase& originInv,
                                            const vcFlexSubModelResult& other,
                                            const vcFlexSubModelRunParams& params) const {
  if (other.engine() != Defs::eCorrelationEngine) throw vcFlexAlignDefs::InternalError();
  const auto* o = static_cast<const vcFlexSubModelCorResult*>(&other);
  const vcFlexSubModelCorRunParams& p = corParams(params);

  const vcRect a = vfPlacedRegionBox(extent, originInv, pose());
  const vcRect b = vfPlacedRegionBox(extent, originInv, o->pose());
  if (vfBoxOverlap(a, b) <= p.xyOverlap()) return false;

  const vcMatrix<2> m1 = pose().linearXform(vcVector<2>(0, 0)).matrix();
  const vcMatrix<2> m2 = o->pose().linearXform(vcVector<2>(0, 0)).matrix();
  const double angleDiff = vfDofDifference(m1.rotation().toDouble() * vcDegPerRad,
                                           m2.rotation().toDouble() * vcDegPerRad, 360.0);
  if (p.dofData().getOverlap(Defs::eAngle) < angleDiff) return false;
  const double scaleDiff = std::fabs(m1.scale() - m2.scale());
  if (p.dofData().getOverlap(Defs::eUniformScale) < scaleDiff) return false;
  return true;
}

bool vcFlexSubModelCorResult::isWithinDofUncertainty(const vcFlexSubModel&,
                                                     const vc2XformBase& expectedPose,
                                                     const vcFlexSubModelRunParams& params) const {
  const vcFlexSubModelCorRunParams& p = corParams(params);
  if (!vfWithinTranslation(pose(), expectedPose, p.xUncertainty() + kTransSlack,
                           p.yUncertainty() + kTransSlack))
    return false;

  const vcMatrix<2> rel = vfRelativeLinear(pose(), expectedPose);
  const vc_DofData& t = p.dofData();
  double lo = -kAngleSlack, hi = kAngleSlack;
  if (t.isEnabled(Defs::eAngle)) {
    lo = t.getMin(Defs::eAngle) - kAngleSlack;
    hi = t.getMax(Defs::eAngle) + kAngleSlack;
  }
  const double angle = vfAngleNear(rel.rotation().toDouble() * vcDegPerRad, 0.5 * (lo + hi));
  if (!within(angle, lo, hi)) return false;

  const double s = rel.scale();
  lo = 1.0 - kScaleSlack;
  hi = 1.0 + kScaleSlack;
  if (t.isEnabled(Defs::eUniformScale)) {
    lo = t.getMin(Defs::eUniformScale) - kScaleSlack;
    hi = t.getMax(Defs::eUniformScale) + kScaleSlack;
  }
  if (!within(s, lo, hi)) return false;
  // The engine searches uniform scale only: the axes must scale alike.
  if (!(s > 0.0)) return false;
  return within(rel.xScale() / s, 1.0 - kScaleSlack, 1.0 + kScaleSlack) &&
         within(rel.yScale() / s, 1.0 - kScaleSlack, 1.0 + kScaleSlack);
}
