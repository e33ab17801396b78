// Sub-model tool run: input checks, distortion-narrowed ranges, search window, the engine run.

#include <algorithm>
#include <cmath>
#include <limits>

#include "geometry/searchwindow.h"
#include "submodel_tool/submodtl_diag.h"
#include "submodel_tool/submodtl_engine.h"
#include "submodel_tool/submodtl_util.h"
#include "vcFlexErrors.h"
#include "vcFlexGeometry.h"
#include "vcGeorapidDOF.h"
#include "vcSubModelTool.h"

using vc_submodtl::linearAtOrigin;

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
  const vc_SubModelZones z = copy->searchZones();
  if (z.set == vc_SubModelZones::eNone) return copy;
  // Custom lists have no ranges distortion could be turned into.
  if (z.set == vc_SubModelZones::eCustom) throw vcFlexAlignDefs::WrongDOFMode();
  // The ranges of the set's DOFs, bit 1 << i at i; angles (and the skew) as offsets in degrees,
  // scales as offsets from the nominal 1.
  const bool advanced = z.set == vc_SubModelZones::eAdvanced;
  const vcRange rot = rotationRange(d, subModel_, startPose);
  const vcRange scale = uScaleRange(d, subModel_, startPose);
  const vcRange third =
      advanced ? aspectRange(d, subModel_, startPose) : xScaleRange(d, subModel_, startPose);
  const vcRange fourth =
      advanced ? skewRange(d, subModel_, startPose) : yScaleRange(d, subModel_, startPose);
  // The advanced set's third bit is the skew, its fourth the aspect.
  const vcRange range[4] = {rot, scale, advanced ? fourth : third, advanced ? third : fourth};
  const bool angle[4] = {true, false, advanced, false};
  for (int i = 0; i < 4; ++i) {
    const long dof = 1L << i;
    if (!enabled(z.enabled, dof)) continue;
    const double off = angle[i] ? 0.0 : 1.0;
    copy->expandSearchZone(dof, range[i].start() - off, range[i].end() - off);
  }
  return copy;
}

// ---- search window ----

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
  const vc_SubModelEngine* engine = vc_SubModelEngine::forKind(trainParams.engine());
  const double margin = engine ? engine->searchMargin(trainParams) : 0.0;
  // A caller-made DOF list has no ranges the window could follow, parameters of no engine
  // none at all: search everything.
  const vc_SubModelZones z = runParams.searchZones();
  if (!z.hasRanges()) return image.window();
  const vcSearchZones zones =
      vfSearchZones(z.enabled, z.set == vc_SubModelZones::eAdvanced, z.low, z.high);
  const vcSearchUncertainty u{runParams.xUncertainty(), runParams.yUncertainty(),
                              runParams.xyUncertaintyMode()};
  return vfSearchWindow(poly, pose, image.clientFromImageXform(), zones, u, margin, image.window(),
                        &swept);
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
    note.window = vfPixelWindow(swept);
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

void vc_SubModelTool::recordedRun_(
    const vcPelBuffer_const<unsigned char>& image, const vcPelBuffer_const<unsigned char>& mask,
    const vc2XformBase& startPose, const vcFlexSubModelRunParams& params,
    const std::vector<vcVector<2>>& points, vc_SubModelResultSet& results, vcDiagObject* diag,
    unsigned long diagFlags, bool useMask, const vc_SubModelSearchContext* context) const {
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
  if (!isTrained()) throw vcFlexAlignDefs::NotTrained();
  if (!image.isBound()) throw vcFlexAlignDefs::BadImage("The runtime image is unbound");
  if (useMask) {
    if (!mask.isBound()) throw vcFlexAlignDefs::BadImage("Mask image has to be bound");
    if (!(mask.window() == image.window()))
      throw vcFlexAlignDefs::BadImage("Mask image size does not match runtime image");
  }
  const vcFlexSubModelParamsDefs::Engine kind = params.engine();
  if (engine_ && engine_->hasModel() && kind != vcFlexSubModelParamsDefs::eNoEngine &&
      kind != engine_->kind())
    throw vcFlexAlignDefs::CanNotRun("Training/Runtime parameter mismatch.");

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

  // Parameters of no engine search nothing. Parameters of another kind than the trained
  // engine's (possible only for a blank sub-model) run that kind's engine without an engine
  // object: a blank result, or the error that nothing was trained for them.
  const vc_SubModelEngine* engine = vc_SubModelEngine::forKind(kind);
  if (!engine) return;
  if (engine_ && engine_->kind() == kind) engine = engine_.get();
  const vcPelBuffer_const<unsigned char> runMask =
      useMask ? mask : vcPelBuffer_const<unsigned char>();
  engine->run({image, runMask, startPose, *effective, effective->numToFind(), trainParams_.ptr(),
               subModel_, diag, diagFlags, context},
              results);
}
