// The final fit: the arrangement pose through the found sub-models, clamped to the run's
// ranges, and the per-sub-model data that follow from it.

#include <algorithm>

#include "flexalign/flxalign_dof.h"
#include "flexalign/flxalign_run.h"
#include "platform/core/vcLSFitter.h"
#include "platform/core/vcText.h"
#include "vcFlexAlignTool.h"

namespace {

using Xf = vcPtrHandle<vc2XformBase>;
using namespace vc_flxalign;
using FD = vcFlexAlignDefs;

using vc_flxalign::isBlank;

// The DOF set a final-fit mode fits of `dofs` (the polynomial modes fall back to the automatic
// fit, whose set it is): each mode clears the DOFs it leaves out in the two four-DOF modes.
unsigned long linearFitDofs(FD::FinalFitMode mode, FD::DOFMode dofMode, unsigned long dofs) {
  const bool fourDofModes = dofMode == FD::eStandard || dofMode == FD::eAdvanced;
  switch (mode) {
    case FD::eLinearTranslation:
      return 0;
    case FD::eLinearTranslationRotation:
      return fourDofModes ? dofs & ~(2ul | 4ul | 8ul) : dofs;
    case FD::eLinearTranslationScale:
      return fourDofModes ? dofs & ~(1ul | 4ul | 8ul) : dofs;
    case FD::eLinearTranslationRotationScale:
      return fourDofModes ? dofs & ~(4ul | 8ul) : dofs;
    case FD::eLinearTranslationRotationScaleAspect:
      return dofMode == FD::eAdvanced ? dofs & ~4ul : dofs;
    default:
      return dofs;
  }
}

// Degrees of freedom of a linear fit of `dofs`: 2 (translation), 3 (with a rotation), 4 (with
// a scale) or 6 (with an axis scale, aspect or skew).
int fittedDofCount(unsigned long dofs) {
  if (dofs == 0) return 2;
  if (dofs & (4ul | 8ul)) return 6;
  if (dofs & 2ul) return 4;
  return (dofs & 1ul) ? 3 : 2;
}

// Found sub-models a fit of `count` degrees of freedom needs.
std::size_t piecesFor(int count) { return count > 4 ? 3 : count > 2 ? 2 : 1; }

// A clamp that moves no piece by more than this (client units) is rounding, not a clamp.
constexpr double kClampNoticed = 0.01;

}  // namespace

double vc_flxalign::pieceTranslationUncertainty(const vcFlexSubModelRunParams& p) {
  return std::max(p.xUncertainty(), p.yUncertainty());
}

double vc_flxalign::angleHalfWidth(const vcFlexSubModelRunParams& p) {
  double lo, hi;
  if (!p.searchZones().angle(lo, hi)) return 0.0;
  return std::max(0.0, 0.5 * (hi - lo));
}

std::size_t vc_FlexAlignRun::piecesForFinalFit_(const vcFlexAlignRunParams& rp) {
  if (rp.finalFitMode() == FD::eNone) return 0;
  return piecesFor(fittedDofCount(
      linearFitDofs(rp.finalFitMode(), rp.dofMode(), rp.dofData().getEnableFlags())));
}

void vc_FlexAlignRun::doFinalFit(vcFlexAlignResult& result, const vc2XformBase& startPose,
                                 const vcFlexAlignRunParams& rp, FD::FinalFitMode mode,
                                 FD::DOFMode dofMode, unsigned long& dofs,
                                 const vc2XformBase& pointXform) const {
  if (result.subModelResults_.empty()) {
    result.pose_ = startPose.clone();
    computeSubModelFromArrangementPose(result);
    result.infoStrings_.push_back(
        "No sub-models are present to do a final fit.  Using start pose.");
    result.infoIds_.push_back(0);
    return;
  }
  // Origin-relative arrangement points against start-pose-normalised image points.
  const Xf originInverse = arrangement_.origin()->inverseBase();
  const Xf startInverse = startPose.inverseBase();
  std::vector<vcVector<2>> arrPts, imgPts;
  for (std::size_t i = 0; i < result.subModelResults_.size(); ++i) {
    const std::size_t p = static_cast<std::size_t>(result.positionIndices_[i]);
    const vcFlexSubModel& s =
        arrangement_.subModels()[static_cast<std::size_t>(arrangement_.subModelIndices()[p])];
    if (isBlank(s)) continue;
    const vcVector<2> c = vcFlexSubModelHelper::centerPt(s);
    arrPts.push_back(originInverse->mapPoint(arrangement_.positions()[p]->mapPoint(c)));
    imgPts.push_back(startInverse->mapPoint(
        result.subModelResults_[i]->pose().mapPoint(pointXform.mapPoint(c))));
  }
  result.pose_ = startPose.clone();
  computeSubModelFromArrangementPose(result);

  auto automatic = [&] {
    const Xf fit = doLeastSqrsFinalFit(arrPts, imgPts, dofMode, dofs);
    if (dofs == 0) {
      const vcVector<2> t = startPose.mapPoint(fit->mapPoint(vcVector<2>(0.0, 0.0)));
      result.pose_ = new vc2XformLinear(vcMatrix<2>(), t);
    } else {
      result.pose_ = startPose.composeBase(*fit);
    }
  };
  switch (mode) {
    case FD::eNone:
      break;
    case FD::eLinearTranslation:
      result.pose_ = startPose.composeBase(*doLeastSqrsFinalFit(arrPts, imgPts, dofMode, 0));
      break;
    case FD::eLinearTranslationRotation:
    case FD::eLinearTranslationScale:
    case FD::eLinearTranslationRotationScale:
    case FD::eLinearTranslationRotationScaleAspect:
      dofs = linearFitDofs(mode, dofMode, dofs);
      automatic();
      break;
    case FD::ePolynomialOrder1:
    case FD::ePolynomialOrder2:
    case FD::ePolynomialOrder3: {
      const int order = mode == FD::ePolynomialOrder1 ? 1 : mode == FD::ePolynomialOrder2 ? 2 : 3;
      try {
        Xf poly(new vc2XformPoly(imgPts, arrPts, order));
        // The polynomial already maps origin-frame points, whatever the order: conjugating the
        // first-order one by the origin would move the part by the origin's lever arm.
        result.pose_ = startPose.composeBase(*poly);
      } catch (const vcException& e) {
        // Too few or degenerate pairs for the polynomial: the linear fit still gives a pose,
        // and the result says which fit it got.
        doFinalFit(result, startPose, rp, FD::eAutomatic, dofMode, dofs, vc2XformLinear());
        computeSubModelFromArrangementPose(result);
        result.infoStrings_.push_back("The polynomial final fit of order " + std::to_string(order) +
                                      " through " + std::to_string(arrPts.size()) +
                                      " found sub-models failed (" + e.messageText() +
                                      "); the linear fit was used instead.");
        result.infoIds_.push_back(0);
        return;
      }
      break;
    }
    default:  // eAutomatic and the full linear set
      automatic();
      break;
  }
  clampArrangementPoseToRuntimeDOFRanges(result, startPose, rp);
  computeSubModelFromArrangementPose(result);
}

vcPtrHandle<vc2XformBase> vc_FlexAlignRun::doLeastSqrsFinalFit(
    const std::vector<vcVector<2>>& arrPts, const std::vector<vcVector<2>>& imgPts,
    FD::DOFMode dofMode, unsigned long dofs) const {
  if (arrPts.size() != imgPts.size())
    throw FD::InternalError("The final fit was given " + std::to_string(arrPts.size()) +
                            " arrangement points and " + std::to_string(imgPts.size()) +
                            " image points");
  if (dofs != 0 && dofMode == FD::eCustom) throw FD::NotImplemented();
  const int count = fittedDofCount(dofs);
  const std::size_t pairs = arrPts.size();
  if (count > 2 && pairs < piecesFor(count))
    throw FD::BadParams("The final fit of " + std::to_string(count) +
                        " degrees of freedom needs at least " + std::to_string(piecesFor(count)) +
                        " found sub-models; " + std::to_string(pairs) + " found");
  vcXform<2> x;
  try {
    vcLSGeneralFitter fitter;
    fitter.update(arrPts, imgPts, {}, 1.0);
    double residual = 0.0;
    x = fitter.fit(count, residual, 1e10);
  } catch (const vcException& e) {
    throw FD::CanNotRun("The final fit through " + std::to_string(pairs) +
                        " found sub-models failed: " + e.messageText());
  }
  vcMatrix<2> m = x.matrix();
  if (dofs != 0) {
    // Each DOF outside the set takes its neutral value.
    const bool adv = dofMode == FD::eAdvanced;
    if (!(dofs & 1ul)) m = vcMatrix<2>(m.scale(), m.aspect(), m.shear(), vcRadian(0.0));
    if (!(dofs & 2ul)) m = vcMatrix<2>(1.0, m.aspect(), m.shear(), m.rotation());
    if (adv) {
      if (!(dofs & 8ul)) m = vcMatrix<2>(m.scale(), 1.0, m.shear(), m.rotation());
      if (!(dofs & 4ul)) m = vcMatrix<2>(m.scale(), m.aspect(), vcRadian(0.0), m.rotation());
    } else {
      const double uniform = std::sqrt(std::abs(m.xScale() * m.yScale()));
      if (!(dofs & 4ul)) m = vcMatrix<2>(m.xRot(), m.yRot(), uniform, m.yScale());
      const double uniform2 = std::sqrt(std::abs(m.xScale() * m.yScale()));
      if (!(dofs & 8ul)) m = vcMatrix<2>(m.xRot(), m.yRot(), m.xScale(), uniform2);
    }
  }
  return new vc2XformLinear(m, x.trans());
}

void vc_FlexAlignRun::clampArrangementPoseToRuntimeDOFRanges(vcFlexAlignResult& result,
                                                             const vc2XformBase& startPose,
                                                             const vcFlexAlignRunParams& rp) const {
  const vcVector<2> zero(0.0, 0.0);
  const vcVector<2> p = result.pose_->mapPoint(zero), s = startPose.mapPoint(zero);
  const vcVector<2> t(std::clamp(p.x(), s.x() - rp.xUncertainty(), s.x() + rp.xUncertainty()),
                      std::clamp(p.y(), s.y() - rp.yUncertainty(), s.y() + rp.yUncertainty()));
  const vc2XformLinear startLin = startPose.linearXform(zero);
  const vc2XformLinear poseLin = result.pose_->linearXform(zero);
  const unsigned long en = rp.dofData().getEnableFlags();
  auto clampAdd = [&](unsigned long bit, double v, double start, double lo, double hi) {
    return (en & bit) ? std::clamp(v, start + std::min(lo, hi), start + std::max(lo, hi)) : start;
  };
  auto clampMul = [&](unsigned long bit, double v, double start, double lo, double hi) {
    const double a = (1.0 + lo) * start, b = (1.0 + hi) * start;
    return (en & bit) ? std::clamp(v, std::min(a, b), std::max(a, b)) : start;
  };
  vcMatrix<2> m;
  if (rp.dofMode() == FD::eAdvanced) {
    const auto v = advancedDofValues(poseLin.matrix());
    const auto s0 = advancedDofValues(startLin.matrix());
    auto lo = [&](FD::AdvancedDOF d) { return rp.zoneLowRelAdvanced(d); };
    auto hi = [&](FD::AdvancedDOF d) { return rp.zoneHighRelAdvanced(d); };
    m = advancedMatrix(clampAdd(1, v[0], s0[0], lo(FD::eRotation), hi(FD::eRotation)),
                       clampMul(2, v[1], s0[1], lo(FD::eScale), hi(FD::eScale)),
                       clampAdd(4, v[2], s0[2], lo(FD::eSkew), hi(FD::eSkew)),
                       clampMul(8, v[3], s0[3], lo(FD::eAspect), hi(FD::eAspect)));
  } else if (rp.dofMode() == FD::eStandard) {
    const auto v = standardDofValues(poseLin.matrix());
    const auto s0 = standardDofValues(startLin.matrix());
    auto lo = [&](FD::StandardDOF d) { return rp.zoneLowRelStandard(d); };
    auto hi = [&](FD::StandardDOF d) { return rp.zoneHighRelStandard(d); };
    m = standardMatrix(clampAdd(1, v[0], s0[0], lo(FD::eAngle), hi(FD::eAngle)),
                       clampMul(2, v[1], s0[1], lo(FD::eUniformScale), hi(FD::eUniformScale)),
                       clampMul(4, v[2], s0[2], lo(FD::eXScale), hi(FD::eXScale)),
                       clampMul(8, v[3], s0[3], lo(FD::eYScale), hi(FD::eYScale)));
  } else {
    m = poseLin.matrix();  // a custom DOF list has no ranges of its own to clamp to
  }
  // New linear part at the origin; a non-linear residual of the old pose is kept.
  const vc2XformLinear fresh(m, t);
  const Xf residual = poseLin.inverseBase()->composeBase(*result.pose_);
  const Xf clamped = fresh.composeBase(*residual);

  // How far the clamp moved each found piece from where the fit put it: a pose moved further
  // than a piece's own uncertainty no longer agrees with the pieces it was fitted through.
  double most = 0.0, excess = -1.0, moved = 0.0, allowed = 0.0;
  const Xf originInverse = arrangement_.origin()->inverseBase();
  for (std::size_t i = 0; i < result.subModelResults_.size(); ++i) {
    const long q = result.positionIndices_[i];
    const vcFlexSubModel& sm = vc_flxalign::subModelOf(arrangement_, q);
    if (isBlank(sm)) continue;
    const vcVector<2> c =
        originInverse->mapPoint(arrangement_.positions()[static_cast<std::size_t>(q)]->mapPoint(
            vcFlexSubModelHelper::centerPt(sm)));
    const double d = clamped->mapPoint(c).distance(result.pose_->mapPoint(c));
    const double own = std::max(1.0, pieceTranslationUncertainty(rp.subModelInstanceParams(q)));
    most = std::max(most, d);
    if (d - own > excess) excess = d - own, moved = d, allowed = own;
  }
  result.pose_ = clamped;
  if (most < kClampNoticed) return;
  result.infoStrings_.push_back(
      "The fitted pose was clamped to the run's ranges, moving a piece by up to " +
      vfStr(std::round(most * 100.0) / 100.0));
  result.infoIds_.push_back(0);
  if (excess <= 0.0) return;
  result.found_ = false;
  result.status_ = vcFlexAlignStatus(vcFlexAlignStatus::eClamped);
  result.status_.amount = moved;
  result.status_.threshold = allowed;
}

// Each found sub-model's placement in arrangement coordinates as the arrangement pose implies
// it. For a symmetric sub-model the components its symmetry code names (1 rotation, 2 scale,
// 4 aspect, 8 shear), which the match cannot tell, come from the nominal placement, so that a
// circle's arbitrary found angle does not read as a turned piece; the others stay as found,
// turned about the sub-model's centre, which the symmetry keeps in place. The found poses
// themselves are left as the engines reported them.
void vc_FlexAlignRun::computeSubModelFromArrangementPose(vcFlexAlignResult& result) const {
  const Xf poseInverse = result.pose_->inverseBase();
  const vc2XformBase& origin = *arrangement_.origin();
  const vcVector<2> zero(0.0, 0.0);
  for (std::size_t i = 0; i < result.subModelResults_.size(); ++i) {
    vcFlexSubModelResult& r = *result.subModelResults_[i];
    const std::size_t p = static_cast<std::size_t>(result.positionIndices_[i]);
    const vcFlexSubModel& s =
        arrangement_.subModels()[static_cast<std::size_t>(arrangement_.subModelIndices()[p])];
    Xf placed = origin.composeBase(*poseInverse->composeBase(r.pose()));
    const unsigned long sym = s.symmetry() & 15ul;
    if (sym != 0) {
      const vc2XformLinear found = placed->linearXform(zero);
      const vcMatrix<2>& a = found.matrix();
      const vcMatrix<2> n = arrangement_.positions()[p]->linearXform(zero).matrix();
      const vcMatrix<2> m(
          (sym & 2ul) ? n.scale() : a.scale(), (sym & 4ul) ? n.aspect() : a.aspect(),
          (sym & 8ul) ? n.shear() : a.shear(), (sym & 1ul) ? n.rotation() : a.rotation());
      const vcVector<2> c = vcFlexSubModelHelper::centerPt(s);
      placed = new vc2XformLinear(m, found.mapPoint(c) - m * c);
    }
    r.arrangementFromSubModel(vcPtrHandle_const<vc2XformBase>(placed));
  }
}
