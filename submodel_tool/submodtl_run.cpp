// Sub-model tool run: input checks, distortion-narrowed ranges, search window, Geofind run.

#include <algorithm>
#include <cmath>
#include <limits>

#include "engines/geofind/vcGFAlign.h"
#include "submodel_tool/submodtl_cor.h"
#include "submodel_tool/submodtl_diag.h"
#include "submodel_tool/submodtl_util.h"
#include "vcFlexErrors.h"
#include "vcFlexGeometry.h"
#include "vcGeorapidDOF.h"
#include "vcSubModelTool.h"

using vc_submodtl::linearAtOrigin;
using vc_submodtl::messageOf;
using Std = vcFlexSubModelParamsDefs;
using Gfnd = vcFlexSubModelGfndDefs;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// Centre and corners of the sub-model's model rectangle under the start pose.
struct MappedModel {
  vcVector<2> k;
  vcVector<2> q[4];
};

MappedModel mapModel(const vcFlexSubModel& subModel, const vc2XformBase& startPose) {
  MappedModel m;
  vcVector<2> c[4];
  vc_submodtl::modelCorners(subModel, c);
  for (int i = 0; i < 4; ++i) m.q[i] = startPose.mapPoint(c[i]);
  m.k = startPose.mapPoint(vcFlexSubModelHelper::centerPt(subModel));
  return m;
}

MappedModel checkedModel(double d, const vcFlexSubModel& subModel, const vc2XformBase& startPose) {
  if (!vc_SubModelTool::isDistortionValid(d, subModel, startPose))
    throw vcFlexAlignDefs::DistortionRateTooLarge();
  return mapModel(subModel, startPose);
}

// Scale factors that move no corner by more than d, with r_i the corners' distances (or
// distance components) from the centre: [max(0, (r - d) / r), (r + d) / r] for the farthest.
template <class Dist>
vcRange scaleRange(double d, const MappedModel& m, Dist dist) {
  double lo = 0.0, hi = kInf;
  for (const vcVector<2>& q : m.q) {
    const double r = dist(q - m.k);
    if (r == 0.0) continue;
    lo = std::max(lo, (r - d) / r);
    hi = std::min(hi, (r + d) / r);
  }
  return {lo, hi};
}

bool enabled(unsigned long flags, long dof) {
  return (flags & static_cast<unsigned long>(dof)) != 0;
}

}  // namespace

bool vc_SubModelTool::isDistortionValid(double d, const vcFlexSubModel& subModel,
                                        const vc2XformBase& startPose) {
  const MappedModel m = mapModel(subModel, startPose);
  for (int i = 0; i < 4; ++i) {
    if (m.q[i].distance(m.q[(i + 1) % 4]) < 2.0 * d) return false;
    if (m.q[i].distance(m.k) < d) return false;
  }
  return true;
}

vcRange vc_SubModelTool::rotationRange(double d, const vcFlexSubModel& subModel,
                                       const vc2XformBase& startPose) {
  const MappedModel m = checkedModel(d, subModel, startPose);
  // Corner q at distance r from the centre may move by d: the turn about the centre that takes
  // it to where the circle of radius r about the centre meets the circle of radius d about q.
  double t = kInf;
  for (const vcVector<2>& q : m.q) {
    const double r = q.distance(m.k);
    if (r == 0.0) continue;
    const double a = (2.0 * r * r - d * d) / (2.0 * r);
    const double h = std::sqrt(std::max(0.0, r * r - a * a));
    t = std::min(t, std::fabs(std::atan(h / a)) * vcDegPerRad);
  }
  return {-t, t};
}

vcRange vc_SubModelTool::uScaleRange(double d, const vcFlexSubModel& subModel,
                                     const vc2XformBase& startPose) {
  return scaleRange(d, checkedModel(d, subModel, startPose),
                    [](const vcVector<2>& v) { return v.len(); });
}

vcRange vc_SubModelTool::xScaleRange(double d, const vcFlexSubModel& subModel,
                                     const vc2XformBase& startPose) {
  return scaleRange(d, checkedModel(d, subModel, startPose),
                    [](const vcVector<2>& v) { return std::fabs(v.x()); });
}

vcRange vc_SubModelTool::yScaleRange(double d, const vcFlexSubModel& subModel,
                                     const vc2XformBase& startPose) {
  return scaleRange(d, checkedModel(d, subModel, startPose),
                    [](const vcVector<2>& v) { return std::fabs(v.y()); });
}

vcRange vc_SubModelTool::aspectRange(double d, const vcFlexSubModel& subModel,
                                     const vc2XformBase& startPose) {
  return yScaleRange(d, subModel, startPose);
}

vcRange vc_SubModelTool::skewRange(double d, const vcFlexSubModel& subModel,
                                   const vc2XformBase& startPose) {
  const MappedModel m = checkedModel(d, subModel, startPose);
  // Turning the y axis by t moves a corner at height Y sideways by about Y tan t; allow d for
  // the highest corner: t = atan(d / Y) = 90 - atan(Y / d).
  double mx = -360.0 + 90.0;
  for (const vcVector<2>& q : m.q)
    mx = std::max(mx, std::atan(std::fabs((q - m.k).y()) / d) * vcDegPerRad);
  const double t = 90.0 - mx;
  return {-t, t};
}

double vc_SubModelTool::computeDistortion(const vc2XformBase& startPose,
                                          const vcFlexSubModelRunParams& params,
                                          const std::vector<vcVector<2>>& points) const {
  const double r = params.distortionRate();
  if (std::fabs(r) <= 1e-15) return 0.0;
  if (points.empty()) return 0.0;
  const vcVector<2> k = startPose.mapPoint(vcFlexSubModelHelper::centerPt(subModel_));
  double m = kInf;
  for (const vcVector<2>& p : points) m = std::min(m, k.distance(startPose.mapPoint(p)));
  return m * r;
}

vcPtrHandle<vcFlexSubModelRunParams> vc_SubModelTool::applyDistortionToDOFs(
    double d, const vc2XformBase& startPose, const vcFlexSubModelRunParams& params) const {
  vcPtrHandle<vcFlexSubModelRunParams> copy = params.clone();
  copy->distortionRate(0.0);
  if (auto* cor = dynamic_cast<vcFlexSubModelCorRunParams*>(copy.ptr())) {
    const vcRange rot = rotationRange(d, subModel_, startPose);
    const vcRange us = uScaleRange(d, subModel_, startPose);
    const unsigned long en = cor->zoneEnable();
    if (enabled(en, Std::eAngle))
      cor->dofData().expandRelRange(Std::eAngle, rot.start(), rot.end());
    if (enabled(en, Std::eUniformScale))
      cor->dofData().expandRelRange(Std::eUniformScale, us.start() - 1.0, us.end() - 1.0);
  } else if (auto* gf = dynamic_cast<vcFlexSubModelGfndRunParams*>(copy.ptr())) {
    vc_DofData& table = gf->dofData();
    // Custom lists have no ranges distortion could be turned into.
    if (gf->dofMode() != Gfnd::eStandard && gf->dofMode() != Gfnd::eAdvanced)
      throw vcFlexAlignDefs::WrongDOFMode();
    const unsigned long en = gf->zoneEnable();
    switch (gf->dofMode()) {
      case Gfnd::eStandard: {
        const vcRange rot = rotationRange(d, subModel_, startPose);
        const vcRange us = uScaleRange(d, subModel_, startPose);
        const vcRange xs = xScaleRange(d, subModel_, startPose);
        const vcRange ys = yScaleRange(d, subModel_, startPose);
        if (enabled(en, Std::eAngle)) table.expandRelRange(Std::eAngle, rot.start(), rot.end());
        if (enabled(en, Std::eUniformScale))
          table.expandRelRange(Std::eUniformScale, us.start() - 1.0, us.end() - 1.0);
        if (enabled(en, Std::eXScale))
          table.expandRelRange(Std::eXScale, xs.start() - 1.0, xs.end() - 1.0);
        if (enabled(en, Std::eYScale))
          table.expandRelRange(Std::eYScale, ys.start() - 1.0, ys.end() - 1.0);
        break;
      }
      case Gfnd::eAdvanced: {
        const vcRange rot = rotationRange(d, subModel_, startPose);
        const vcRange sc = uScaleRange(d, subModel_, startPose);
        const vcRange as = aspectRange(d, subModel_, startPose);
        const vcRange sk = skewRange(d, subModel_, startPose);
        if (enabled(en, Std::eRotation))
          table.expandRelRange(Std::eRotation, rot.start(), rot.end());
        if (enabled(en, Std::eScale))
          table.expandRelRange(Std::eScale, sc.start() - 1.0, sc.end() - 1.0);
        if (enabled(en, Std::eSkew)) table.expandRelRange(Std::eSkew, sk.start(), sk.end());
        if (enabled(en, Std::eAspect))
          table.expandRelRange(Std::eAspect, as.start() - 1.0, as.end() - 1.0);
        break;
      }
      default:
        throw vcFlexAlignDefs::WrongDOFMode();
    }
  }
  return copy;
}

// ---- search window ----

namespace {

struct Bounds {
  double a0 = 0, a1 = 0;  // angle or rotation, radians
  double s0 = 1, s1 = 1;  // uniform scale
  double x0 = 1, x1 = 1;  // x scale, or aspect in the advanced set
  double y0 = 1, y1 = 1;  // y scale
  double k0 = 0, k1 = 0;  // skew, radians
  bool advanced = false;
};

// Relative range ends of the table entry of `dof` (offsets from the nominal as the table
// stores them), or the identity when the DOF is not searched.
void angleBounds(const vc_DofData& t, unsigned long en, long dof, double& lo, double& hi) {
  if (!enabled(en, dof)) return;
  lo = t.getMinOffset(dof) * vcRadPerDeg;
  hi = t.getMaxOffset(dof) * vcRadPerDeg;
}

void scaleBounds(const vc_DofData& t, unsigned long en, long dof, double& lo, double& hi) {
  if (!enabled(en, dof)) return;
  lo = 1.0 + t.getMinOffset(dof);
  hi = 1.0 + t.getMaxOffset(dof);
}

vcPelRect toPixels(const vcRect& r, const vcPelRect& window) {
  const long x0 = static_cast<long>(std::floor(r.x()));
  const long y0 = static_cast<long>(std::floor(r.y()));
  const long x1 = static_cast<long>(std::ceil(r.x() + r.width()));
  const long y1 = static_cast<long>(std::ceil(r.y() + r.height()));
  return vcPelRect(x0, y0, x1 - x0, y1 - y0).intersect(window);
}

}  // namespace

vcPelRect vfSubModelSearchWindow(const vcPelBuffer_const<unsigned char>& image,
                                 const vcFlexSubModelTrainParams& trainParams,
                                 const vcFlexSubModelRunParams& runParams,
                                 const vcFlexSubModel& subModel, const vcXform<2>& pose) {
  vcRect swept;
  return vc_submodtl::searchWindow(image, trainParams, runParams, subModel, pose, swept);
}

vcPelRect vc_submodtl::searchWindow(const vcPelBuffer_const<unsigned char>& image,
                                    const vcFlexSubModelTrainParams& trainParams,
                                    const vcFlexSubModelRunParams& runParams,
                                    const vcFlexSubModel& subModel, const vcXform<2>& pose,
                                    vcRect& swept) {
  swept = vcRect(image.window());
  const vcRect& er = subModel.encloseRect();
  const vcPolygon poly({er.ul(), er.ur(), er.lr(), er.ll()});
  double margin = 0.0;
  if (const auto* t = dynamic_cast<const vcFlexSubModelCorTrainParams*>(&trainParams))
    margin = vfCorrelationReach(*t);
  else if (const auto* t = dynamic_cast<const vcFlexSubModelGfndTrainParams*>(&trainParams))
    margin = 2.0 * t->coarseGrainLimit();

  Bounds b;
  double ux = 0, uy = 0;
  long mode = Std::eElliptical;
  if (const auto* c = dynamic_cast<const vcFlexSubModelCorRunParams*>(&runParams)) {
    const unsigned long en = c->zoneEnable();
    angleBounds(c->dofData(), en, Std::eAngle, b.a0, b.a1);
    scaleBounds(c->dofData(), en, Std::eUniformScale, b.s0, b.s1);
    ux = c->xUncertainty();
    uy = c->yUncertainty();
    mode = c->xyUncertaintyMode();
  } else if (const auto* g = dynamic_cast<const vcFlexSubModelGfndRunParams*>(&runParams)) {
    // A caller-made DOF list has no ranges the window could follow: search everything.
    if (g->dofMode() != Gfnd::eStandard && g->dofMode() != Gfnd::eAdvanced) return image.window();
    const unsigned long en = g->zoneEnable();
    const vc_DofData& t = g->dofData();
    ux = g->xUncertainty();
    uy = g->yUncertainty();
    mode = g->xyUncertaintyMode();
    switch (g->dofMode()) {
      case Gfnd::eStandard:
        angleBounds(t, en, Std::eAngle, b.a0, b.a1);
        scaleBounds(t, en, Std::eUniformScale, b.s0, b.s1);
        scaleBounds(t, en, Std::eXScale, b.x0, b.x1);
        scaleBounds(t, en, Std::eYScale, b.y0, b.y1);
        break;
      case Gfnd::eAdvanced:
        b.advanced = true;
        angleBounds(t, en, Std::eRotation, b.a0, b.a1);
        scaleBounds(t, en, Std::eScale, b.s0, b.s1);
        angleBounds(t, en, Std::eSkew, b.k0, b.k1);
        scaleBounds(t, en, Std::eAspect, b.x0, b.x1);
        break;
      default:
        return image.window();
    }
  } else {
    return image.window();
  }

  const vcXform<2>& B = image.clientFromImageXform();
  const vcRect r = swept =
      b.advanced ? vfEncloseRect(poly, pose, B, ux, uy, vcRadian(b.a0), vcRadian(b.a1), b.s0, b.s1,
                                 b.x0, b.x1, vcRadian(b.k0), vcRadian(b.k1), margin, mode)
                 : vfEncloseRect(poly, pose, B, ux, uy, vcRadian(b.a0), vcRadian(b.a1), b.s0, b.s1,
                                 b.x0, b.x1, b.y0, b.y1, margin, mode);
  return toPixels(r, image.window());
}

bool vc_submodtl::runView(const vcPelBuffer_const<unsigned char>& image,
                          const vcFlexSubModelTrainParams& trainParams,
                          const vcFlexSubModelRunParams& runParams, const vcFlexSubModel& subModel,
                          const vc2XformBase& startPose, double ux, double uy, bool strict,
                          vcPelBuffer_const<unsigned char>& view, vc_SubModelSearchNote& note,
                          vcDiagObject* diag, unsigned long diagFlags) {
  view = image;
  const double w = static_cast<double>(image.width()), h = static_cast<double>(image.height());
  const bool whole = strict ? (w < ux && h < uy) : (w <= ux && h <= uy);
  vcPelRect win = image.window();
  if (!whole) {
    const vcXform<2> pose = linearAtOrigin(startPose) * linearAtOrigin(*subModel.originInverse());
    vcRect swept;
    win = searchWindow(image, trainParams, runParams, subModel, pose, swept);
    recordWindow(diag, diagFlags, image, swept, win);
    const long x0 = static_cast<long>(std::floor(swept.x()));
    const long y0 = static_cast<long>(std::floor(swept.y()));
    note.window = vcPelRect(x0, y0, static_cast<long>(std::ceil(swept.x() + swept.width())) - x0,
                            static_cast<long>(std::ceil(swept.y() + swept.height())) - y0);
  }
  if (win.isNull()) {
    note.outcome = vc_SubModelSearchNote::eWindowOutsideImage;
    return false;
  }
  if (win.width() < vc_SubModelTool::kMinSearchSize ||
      win.height() < vc_SubModelTool::kMinSearchSize) {
    note.outcome = vc_SubModelSearchNote::eWindowTooSmall;
    return false;
  }
  return view.window(win);
}

// ---- run ----

void vc_SubModelTool::run(const vcPelBuffer_const<unsigned char>& image,
                          const vc2XformBase& startPose, const vcFlexSubModelRunParams& params,
                          const std::vector<vcVector<2>>& points, vc_SubModelResultSet& results,
                          vcDiagObject* diag, unsigned long diagFlags,
                          const vc_SubModelSearchContext* context) const {
  recordedRun_(image, vcPelBuffer_const<unsigned char>(), startPose, params, points, results, diag,
               diagFlags, false, context);
}

void vc_SubModelTool::run(const vcPelBuffer_const<unsigned char>& image,
                          const vcPelBuffer_const<unsigned char>& mask,
                          const vc2XformBase& startPose, const vcFlexSubModelRunParams& params,
                          const std::vector<vcVector<2>>& points, vc_SubModelResultSet& results,
                          vcDiagObject* diag, unsigned long diagFlags,
                          const vc_SubModelSearchContext* context) const {
  recordedRun_(image, mask, startPose, params, points, results, diag, diagFlags, true, context);
}

void vc_SubModelTool::recordedRun_(const vcPelBuffer_const<unsigned char>& image,
                                   const vcPelBuffer_const<unsigned char>& mask,
                                   const vc2XformBase& startPose,
                                   const vcFlexSubModelRunParams& params,
                                   const std::vector<vcVector<2>>& points,
                                   vc_SubModelResultSet& results, vcDiagObject* diag,
                                   unsigned long diagFlags, bool useMask,
                                   const vc_SubModelSearchContext* context) const {
  const bool raised =
      vc_submodtl::recordRunInputs(diag, diagFlags, image, subModel_, startPose, params);
  try {
    run_(image, mask, startPose, params, points, results, useMask, diag, diagFlags, context);
  } catch (const vcException& e) {
    vc_submodtl::recordMatchInfo(diag, diagFlags, image, results);
    vc_submodtl::recordRunOutputs(diag, diagFlags, image, subModel_, results, raised);
    vc_submodtl::recordFailure(diag, diagFlags, "vc_SubModelTool::run", e);
    throw;
  }
  vc_submodtl::recordMatchInfo(diag, diagFlags, image, results);
  vc_submodtl::recordRunOutputs(diag, diagFlags, image, subModel_, results, raised);
}

void vc_SubModelTool::run_(const vcPelBuffer_const<unsigned char>& image,
                           const vcPelBuffer_const<unsigned char>& mask,
                           const vc2XformBase& startPose, const vcFlexSubModelRunParams& params,
                           const std::vector<vcVector<2>>& points, vc_SubModelResultSet& results,
                           bool useMask, vcDiagObject* diag, unsigned long diagFlags,
                           const vc_SubModelSearchContext* context) const {
  const bool corParams = dynamic_cast<const vcFlexSubModelCorRunParams*>(&params) != nullptr;
  const bool gfParams = dynamic_cast<const vcFlexSubModelGfndRunParams*>(&params) != nullptr;
  if (!isTrained()) throw vcFlexAlignDefs::NotTrained();
  if (!image.isBound()) throw vcFlexAlignDefs::BadImage("The runtime image is unbound");
  if (useMask) {
    if (!mask.isBound()) throw vcFlexAlignDefs::BadImage("Mask image has to be bound");
    if (!(mask.window() == image.window()))
      throw vcFlexAlignDefs::BadImage("Mask image size does not match runtime image");
  }
  if ((corModel_ && gfParams) || (gfPattern_ && corParams))
    throw vcFlexAlignDefs::CanNotRun("Training/Runtime parameter mismatch.");
  if (corModel_ && gfPattern_) throw vcFlexAlignDefs::InternalError();

  results.startPose(startPose.clone());
  results.clearResults();
  results.note(vc_SubModelSearchNote());

  const double distortion = computeDistortion(startPose, params, points);
  vcPtrHandle<vcFlexSubModelRunParams> effective = params.clone();
  if (subModel_.modelType() != vcFlexModelDefs::eBlank) {
    if (distortion <= 0.0) {
      vc_submodtl::recordDofs(diag, diagFlags, image, "Independent DOFs", subModel_, startPose,
                              params);
    } else {
      effective = applyDistortionToDOFs(distortion, startPose, params);
      vc_submodtl::recordDistortion(diag, diagFlags, image, distortion, subModel_, startPose,
                                    points, *effective);
      vc_submodtl::recordDofs(diag, diagFlags, image, "Independent DOFs", subModel_, startPose,
                              params);
      vc_submodtl::recordDofs(diag, diagFlags, image, "Combined DOFs", subModel_, startPose,
                              *effective);
    }
  }

  const vcPelBuffer_const<unsigned char> runMask =
      useMask ? mask : vcPelBuffer_const<unsigned char>();
  if (const auto* c = dynamic_cast<const vcFlexSubModelCorRunParams*>(effective.ptr()))
    runCorrelation_(image, runMask, startPose, *c, results, diag, diagFlags);
  else if (const auto* g = dynamic_cast<const vcFlexSubModelGfndRunParams*>(effective.ptr()))
    runGeofind_(image, runMask, startPose, *g, results, diag, diagFlags, context);
}

void vc_SubModelTool::runGeofind_(const vcPelBuffer_const<unsigned char>& image,
                                  const vcPelBuffer_const<unsigned char>& mask,
                                  const vc2XformBase& startPose,
                                  const vcFlexSubModelGfndRunParams& params,
                                  vc_SubModelResultSet& results, vcDiagObject* diag,
                                  unsigned long diagFlags,
                                  const vc_SubModelSearchContext* context) const {
  const auto* tp = dynamic_cast<const vcFlexSubModelGfndTrainParams*>(trainParams_.ptr());
  if (!tp) throw vcFlexAlignDefs::InternalError();
  if (subModel_.modelType() == vcFlexModelDefs::eBlank) {
    vcPtrHandle<vcFlexSubModelGfndResult> r =
        vc_submodtl::blankResult<vcFlexSubModelGfndResult>(startPose);
    r->measures(0.0, 0.0, 1.0, 0.0);  // full coverage, nothing else measured
    results.addResult(r);
    return;
  }
  if (!gfPattern_) throw vcFlexAlignDefs::InternalError();

  const vcGeorapidDOFList& dofs = params.dofList();
  vcGFAlignResultSet found;
  vc_SubModelSearchNote note;
  try {
    vcPelBuffer_const<unsigned char> window;
    const bool searchable =
        vc_submodtl::runView(image, *tp, params, subModel_, startPose, params.xUncertainty(),
                             params.yUncertainty(), false, window, note, diag, diagFlags);
    results.note(note);
    if (!searchable) return;

    // The pattern reports poses of the sub-model frame: the frame goes with this run's
    // parameters, so the pattern itself is left as it is and may serve other threads.
    vcGFAlignRunParams rp;
    rp.patternFrame(vcVector<2>(0.0, 0.0), linearAtOrigin(*subModel_.origin()));
    rp.algorithm(params.algorithm() == Gfnd::eGeofind ? 2 : 1);
    rp.acceptThreshold(params.acceptThreshold());
    rp.contrastThreshold(params.contrastThreshold());
    rp.scoreUsingClutter(params.scoreUsingClutter());
    const long asked = static_cast<const vcFlexSubModelRunParams&>(params).numToFind();
    rp.numToFind(context && context->keep > 0 ? std::min(asked, context->keep) : asked);
    rp.xyOverlap(params.xyOverlap());
    rp.saveMatchInfo(params.saveMatchInfo());
    vcGeorapidDOFList list(dofs);
    params.dofData().setup(list);
    list.push_back(new vcGeorapidStartPose(nullptr, linearAtOrigin(startPose)));
    rp.customizeDOFs(&list);
    if (context && context->imageCache) rp.imageCache(*context->imageCache);
    if (context) rp.threadPool(context->pool);
    // Searched around a pose known within a finite uncertainty, the engine starts from there.
    if (context && context->hasExpected)
      rp.prediction(context->expected, context->expectedWithin, context->expectedWithin);
    else if (std::isfinite(params.xUncertainty()) && std::isfinite(params.yUncertainty()))
      rp.prediction(startPose.mapPoint(vcVector<2>(0.0, 0.0)), params.xUncertainty(),
                    params.yUncertainty());

    const vcGFAlignPattern& pattern = *gfPattern_;
    if (mask.isBound()) {
      vcPelBuffer_const<unsigned char> m = mask;
      m.window(window.window());
      pattern.run(window, m, rp, found, nullptr, 0);
    } else {
      pattern.run(window, rp, found, nullptr, 0);
    }
  } catch (const vcTimeout::Expired&) {
    throw;
  } catch (const vcFlexAlignDefs::Errors&) {
    throw;
  } catch (const vcGFAlignDefs::BadParams& e) {
    // The caller's ranges or frame, refused by the engine.
    throw vcFlexAlignDefs::BadParams(vc_submodtl::pieceMessage(subModel_, e));
  } catch (const vcException& e) {
    throw vcFlexAlignDefs::InternalError(messageOf(e));
  }

  const long n = static_cast<long>(dofs.size());
  for (long i = 0; i < found.numFound(); ++i) {
    const vcGFAlignResult& er = found[i];
    if (er.score() < params.acceptThreshold()) {
      note.bestRejected = std::max(note.bestRejected, static_cast<double>(er.score()));
      results.note(note);
      continue;
    }
    vcPtrHandle<vcFlexSubModelGfndResult> r(new vcFlexSubModelGfndResult);
    r->pose(vcPtrHandle_const<vc2XformBase>(new vc2XformLinear(er.pose())));
    r->score(er.score());
    r->measures(er.contrast(), er.fitError(), er.coverage(), er.clutter());
    r->accepted(er.accepted());
    r->uncertainty(vc_submodtl::clientCovariance(image, er.positionCovariance()), er.angleSigma(),
                   er.positionWeak());
    if (params.saveMatchInfo()) r->matchInfo(&er);
    r->matchRegion(vcAffineRectangle(er.matchRegionXform()));
    r->imageRegion(er.imageRegion());
    std::vector<double> values;
    for (long k = 1; k <= n && k <= er.numDOFs(); ++k) values.push_back(er.dofValue(k));
    r->dofValues(values);
    results.addResult(r);
  }
}
