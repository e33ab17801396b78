// Diagnostic records of the sub-model tool: names and texts a viewer relies on.

#include "submodel_tool/submodtl_diag.h"

#include <cmath>

#include "engines/geofind/vcGFAlign.h"
#include "platform/core/vcText.h"
#include "submodel_tool/submodtl_engine.h"
#include "submodel_tool/submodtl_util.h"

namespace vc_submodtl {

namespace {

constexpr long kClientCoords = 2;

vcDiagObject* destination(vcDiagObject* diag, unsigned long flags, unsigned long what) {
  vcDiagObject* d = vcDiagObject::getRecordingDestination(diag, flags);
  return d && vcDiagObject::shouldRecord(flags, what) ? d : nullptr;
}

std::string modelTypeText(const vcFlexSubModel& s) {
  switch (s.modelType()) {
    case vcFlexModelDefs::eImage:
      return "Model Type: Image";
    case vcFlexModelDefs::eSynthetic:
      return "Model Type: Synthetic";
    default:
      return "Model Type: Blank";
  }
}

// The sub-model's rectangle (in sub-model coordinates) under a pose, as a drawable outline.
vcGenRect modelRegion(const vcFlexSubModel& subModel, const vcXform<2>& pose) {
  vcVector<2> c[4];
  modelCorners(subModel, c);
  const vcVector<2> ul = pose.mapPoint(c[0]), ur = pose.mapPoint(c[1]), ll = pose.mapPoint(c[3]);
  return vcGenRect(vcXform<2>(
      vcMatrix<2>(ur.x() - ul.x(), ll.x() - ul.x(), ur.y() - ul.y(), ll.y() - ul.y()), ul));
}

void addRegion(vcGraphicList& list, const vcGenRect& r, const vcColor& c) {
  list.append(vcPtrHandle<vcGraphic>(new vcGraphicWithFill<vcGenRect, vcGenRect>(r, c, false)));
}

struct DofEntry {
  long key;
  const char* name;
  bool angle;  // degrees, else a factor
  int kind;    // 0 rotation, 1 uniform scale, 2 x scale, 3 y scale, 4 skew
};

const DofEntry kStandard[] = {{1, "Angle", true, 0},
                              {2, "Uniform Scale", false, 1},
                              {4, "X-Scale", false, 2},
                              {8, "Y-Scale", false, 3}};
const DofEntry kAdvanced[] = {{1, "Rotation", true, 0},
                              {2, "Scale", false, 1},
                              {4, "Skew", true, 4},
                              {8, "Aspect", false, 3}};

vcXform<2> dofXform(const DofEntry& e, double v) {
  switch (e.kind) {
    case 0:
      return vcXform<2>(vcMatrix<2>(1.0, 1.0, vcRadian(0.0), vcRadian(v * vcRadPerDeg)), {0, 0});
    case 1:
      return vcXform<2>(vcMatrix<2>(v, 0, 0, v), {0, 0});
    case 2:
      return vcXform<2>(vcMatrix<2>(v, 0, 0, 1), {0, 0});
    case 3:
      return vcXform<2>(vcMatrix<2>(1, 0, 0, v), {0, 0});
    default:
      return vcXform<2>(vcMatrix<2>(1, -std::sin(v * vcRadPerDeg), 0, std::cos(v * vcRadPerDeg)),
                        {0, 0});
  }
}

// The sub-model under a pose (display from sub-model coordinates): axes in orange, name and
// shapes in green, extent in cyan.
vcGraphicList drawnAt(const vcFlexSubModel& subModel, const vc2XformBase& pose) {
  vcGraphicList g;
  subModel.draw(g, pose, 1, vcColor::orange);
  subModel.draw(g, pose, 2, vcColor::green);
  subModel.draw(g, pose, 4, vcColor::cyan);
  subModel.draw(g, pose, 8, vcColor::green);
  return g;
}

// One level down, a record per enabled DOF: the sub-model's rectangle under the start pose and
// under the poses at the two ends of that DOF's range.
void recordPerDof(vcDiagObject* d, const vcPelBuffer_const<unsigned char>& image,
                  const vcFlexSubModel& subModel, const vc2XformBase& startPose,
                  const vcFlexSubModelRunParams& params) {
  const vc_SubModelZones z = params.searchZones();
  if (!z.hasRanges()) return;
  const DofEntry* entries = z.set == vc_SubModelZones::eAdvanced ? kAdvanced : kStandard;
  d->level(d->level() + 1);
  const vcXform<2> start = linearAtOrigin(startPose);
  for (int i = 0; i < 4; ++i) {
    const DofEntry& e = entries[i];
    if (!(z.enabled & static_cast<unsigned long>(e.key))) continue;
    const double id = e.angle ? 0.0 : 1.0;
    vcGraphicList box, lo, hi;
    addRegion(box, modelRegion(subModel, start), vcColor::orangeColor);
    addRegion(lo, modelRegion(subModel, start * dofXform(e, id + z.low[i])), vcColor::cyanColor);
    addRegion(hi, modelRegion(subModel, start * dofXform(e, id + z.high[i])), vcColor::greenColor);
    vcDiagRecord& r = d->newDiagRecord();
    r.recordAnnotation(e.name);
    if (image.isBound()) r.image(image);
    r.graphics(box, kClientCoords, "Sub-Model Bounding Box");
    r.graphics(lo, kClientCoords, "Min DOF Transform");
    r.graphics(hi, kClientCoords, "Max DOF Transform");
  }
  d->level(d->level() - 1);
}

}  // namespace

void recordTrainInputs(vcDiagObject* diag, unsigned long flags, const vcFlexSubModel& subModel,
                       const vcFlexSubModelTrainParams& params) {
  vcDiagObject* d = destination(diag, flags, vcDiagDefs::eInputs);
  if (!d) return;
  vcDiagRecord& r = d->newDiagRecord();
  r.recordAnnotation("Sub-Model Tool Train Inputs");
  r.text("Model Type", modelTypeText(subModel));
  if (const vc_SubModelEngine* e = vc_SubModelEngine::forKind(params.engine())) {
    const std::string name = e->name();
    r.text("Algorithm", "Train Algorithm: " + name + " \n");
    r.text("Algorithm Specific Parameters", name + " Train Params: \n" + params.toDebugString());
  }
  d->level(d->level() + 1);
  vcFlexSubModelHelper::diagDisplay(subModel, d, flags, vc2XformLinear());
  d->level(d->level() - 1);
}

void recordTrainOutputs(vcDiagObject* diag, unsigned long flags, double t) {
  vcDiagObject* d = destination(diag, flags, vcDiagDefs::eOutputs);
  if (!d) return;
  vcDiagRecord& r = d->newDiagRecord();
  r.recordAnnotation("Sub-Model Tool Train Outputs");
  if (t >= 0.0) {
    r.text("Status", "Trained SUCCESSFULLY.");
    r.text("Train Time", "Train Time: " + vfDbl(t, 2, false));
  } else {
    r.text("Status", "Training FAILED.");
  }
}

void recordFailure(vcDiagObject* diag, unsigned long flags, const std::string& who,
                   const vcException& e) {
  vcDiagObject* d = destination(diag, flags, vcDiagDefs::eOutputs);
  if (!d || !d->lastRecord()) return;
  const auto* s = dynamic_cast<const vcExceptionWithString*>(&e);
  d->lastRecord()->text("Exception Data",
                        who + " threw  " + (s ? s->message(true) : e.messageText()) + "\n");
}

bool recordRunInputs(vcDiagObject* diag, unsigned long flags,
                     const vcPelBuffer_const<unsigned char>& image, const vcFlexSubModel& subModel,
                     const vc2XformBase& startPose, const vcFlexSubModelRunParams& params) {
  vcDiagObject* d = destination(diag, flags, vcDiagDefs::eInputs);
  if (!d) return false;
  const vcGraphicList start = drawnAt(subModel, startPose);
  vcDiagRecord& r = d->newDiagRecord();
  r.recordAnnotation("Sub-Model Tool Run");
  if (image.isBound()) r.image(image);
  r.graphics(start, kClientCoords, "Start Pose");
  const bool cor = params.engine() == vcFlexSubModelParamsDefs::eCorrelationEngine;
  r.text("Algorithm", std::string("Algorithm: ") + (cor ? "Correlation" : "Geofind"));
  r.text("Algorithm Specific Parameters", params.toDebugString());
  // The report puts the piece's name in the record's title.
  r.text("Sub-Model", subModel.name());
  d->level(d->level() + 1);
  return true;
}

void recordWindow(vcDiagObject* diag, unsigned long flags,
                  const vcPelBuffer_const<unsigned char>& image, const vcRect& box,
                  const vcPelRect& roi) {
  vcDiagObject* d = destination(diag, flags, vcDiagDefs::eIntermediate);
  if (!d) return;
  // Both rectangles are in image pixels; draw them in the client frame like the others.
  const vcXform<2>& cfi = image.clientFromImageXform();
  vcGraphicList b, w;
  b.append(vcPtrHandle<vcGraphic>(
      new vcGraphicWithFill<vcGenRect, vcGenRect>(box.map(cfi), vcColor::cyanColor, false)));
  w.append(vcPtrHandle<vcGraphic>(new vcGraphicWithFill<vcGenRect, vcGenRect>(
      vcRect(roi).map(cfi), vcColor::greenColor, false)));
  vcDiagRecord& r = d->newDiagRecord();
  r.recordAnnotation("Sub-Model Tool Internal Diagnostics (ROI)");
  r.image(image);
  r.graphics(b, kClientCoords, "Bounding Box");
  r.graphics(w, kClientCoords, "ROI");
}

void recordDofs(vcDiagObject* diag, unsigned long flags,
                const vcPelBuffer_const<unsigned char>& image, const std::string& title,
                const vcFlexSubModel& subModel, const vc2XformBase& startPose,
                const vcFlexSubModelRunParams& params) {
  vcDiagObject* d = destination(diag, flags, vcDiagDefs::eIntermediate);
  if (!d) return;
  d->newDiagRecord().recordAnnotation(title);
  recordPerDof(d, image, subModel, startPose, params);
}

void recordDistortion(vcDiagObject* diag, unsigned long flags,
                      const vcPelBuffer_const<unsigned char>& image, double dist,
                      const vcFlexSubModel& subModel, const vc2XformBase& startPose,
                      const std::vector<vcVector<2>>& points,
                      const vcFlexSubModelRunParams& combined) {
  vcDiagObject* d = destination(diag, flags, vcDiagDefs::eIntermediate);
  if (!d) return;
  // The allowed movement around each corner of the mapped sub-model.
  vcGraphicList circles;
  vcVector<2> c[4];
  modelCorners(subModel, c);
  for (const vcVector<2>& q : c)
    circles.append(vcPtrHandle<vcGraphic>(new vcGraphicWithFill<vcCircle, vcEllipse>(
        vcCircle(startPose.mapPoint(q), dist), vcColor::cyanColor, false)));
  for (const vcVector<2>& p : points)
    circles.append(vcPtrHandle<vcGraphic>(
        new vcGraphicCross(startPose.mapPoint(p), 5.0, vcRadian(0.0), vcColor::greenColor)));
  vcDiagRecord& r = d->newDiagRecord();
  r.recordAnnotation("Distortion Based DOFs");
  r.image(image);
  r.graphics(circles, kClientCoords, "Distortion Deviations");
  r.text("Distortion", vfDbl(dist, 3, false));
  recordPerDof(d, image, subModel, startPose, combined);
}

void recordMatchInfo(vcDiagObject* diag, unsigned long flags,
                     const vcPelBuffer_const<unsigned char>& image,
                     const vc_SubModelResultSet& results) {
  vcDiagObject* d = destination(diag, flags, vcDiagDefs::eIntermediate);
  if (!d) return;
  vcGraphicList g;
  for (const auto& res : results.results()) res->drawMatch(g);
  vcDiagRecord& r = d->newDiagRecord();
  r.recordAnnotation("Debugging Information");
  if (image.isBound()) r.image(image);
  r.graphics(g, kClientCoords, "Results Match Info");
}

void recordRunOutputs(vcDiagObject* diag, unsigned long flags,
                      const vcPelBuffer_const<unsigned char>& image, const vcFlexSubModel& subModel,
                      const vc_SubModelResultSet& results, bool lowerLevel) {
  vcDiagObject* d = vcDiagObject::getRecordingDestination(diag, flags);
  if (d) {
    // A FlexAlign run around this one writes its own summary when it ends.
    d->summary("Tool", "Sub-Model Tool");
    d->summary("Results found", vfStr(results.numFound()));
  }
  if (d && vcDiagObject::shouldRecord(flags, vcDiagDefs::eOutputs)) {
    vcDiagRecord& r = d->newDiagRecord();
    r.recordAnnotation("Sub-Model Tool Run Outputs");
    if (image.isBound()) r.image(image);
    r.text("Status", results.numFound() == 0 ? "Run FAILED." : "Run SUCCESSFULLY.");
    long i = 0;
    for (const auto& res : results.results()) {
      const vcGraphicList g = drawnAt(subModel, res->pose());
      const std::string n = vfStr(i);
      r.graphics(g, kClientCoords, "Result " + n);
      const bool cor = res->engine() == vcFlexSubModelParamsDefs::eCorrelationEngine;
      r.text("Result Data " + n, std::string(cor ? "\nCorrelation Result " : "\nGeofind Result ") +
                                     n + ": \n" + res->toDebugString());
      ++i;
    }
  }
  if (d && lowerLevel) d->level(d->level() - 1);
}

}  // namespace vc_submodtl
