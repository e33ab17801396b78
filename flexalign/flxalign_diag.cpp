// Diagnostic records of FlexAlign training and runs: names and texts a viewer relies on.

#include "flexalign/flxalign_diag.h"

#include <cstdio>

#include "flexalign/flxalign_run.h"
#include "platform/core/vcAngle.h"
#include "platform/diag/vcDiag.h"

namespace {

std::string subModelParamsLabel(long index) {
  return "   Sub-Model Params (for sub-model #" + std::to_string(index) + ")";
}

const vcFlexSubModel& subModelAt(const vcFlexArrangement& a, long placement) {
  return a.subModels()[static_cast<std::size_t>(
      a.subModelIndices()[static_cast<std::size_t>(placement)])];
}

std::string instanceLabel(const vcFlexArrangement& a, long placement) {
  const std::string& name = subModelAt(a, placement).name();
  return "#" + std::to_string(placement) + (name.empty() ? "" : " " + name);
}

// Every placement drawn where the arrangement puts it, in the frame of the origin, the way a
// found instance is drawn.
vcGraphicList arrangementModel(const vcFlexArrangement& a) {
  vcGraphicList g;
  const vcPtrHandle<vc2XformBase> display = a.origin()->inverseBase();
  for (long p = 0; p < static_cast<long>(a.positions().size()); ++p) {
    vcFlexSubModelGfndResult placed;
    placed.pose(a.positions()[static_cast<std::size_t>(p)]->clone());
    placed.draw(g, subModelAt(a, p), *display, 3, vcColor::green, instanceLabel(a, p));
  }
  return g;
}

vcGraphicList arrangementBox(const vcFlexArrangement& a, const vc2XformBase& pose) {
  vcGraphicList g;
  a.draw(g, pose, 1 | 4, vcColor::cyan);
  return g;
}

// Each found instance at its found pose, labelled with its placement.
vcGraphicList foundSubModels(const vcFlexArrangement& a, const vcFlexAlignResult& r) {
  vcGraphicList g;
  const vc2XformLinear identity;
  for (std::size_t k = 0; k < r.subModelResults().size(); ++k) {
    const long p = r.positionIndices()[k];
    const vcFlexSubModelResult& s = *r.subModelResults()[k];
    s.draw(g, subModelAt(a, p), identity, 3, s.accepted() ? vcColor::green : vcColor::yellow,
           instanceLabel(a, p));
  }
  return g;
}

// What `who` threw, on the last record: the message with its details.
void recordThrow(vcDiagObject* diag, unsigned long flags, const char* who, const vcException& e) {
  if (!diag || !vcDiagObject::shouldRecord(flags, vcDiagDefs::eOutputs) || !diag->lastRecord())
    return;
  const auto* s = dynamic_cast<const vcExceptionWithString*>(&e);
  diag->lastRecord()->text("Exception Data", std::string(who) + " threw  " +
                                                 (s ? s->message(true) : e.messageText()) + "\n");
}

}  // namespace

void vc_flxalign::recordTrainInputs(vcDiagObject* diag, unsigned long flags,
                                    const vcFlexArrangement& arrangement,
                                    const vcFlexAlignTrainParams& params) {
  if (!diag || !vcDiagObject::shouldRecord(flags, vcDiagDefs::eInputs)) return;
  vcDiagRecord& r = diag->newDiagRecord();
  r.recordAnnotation("FlexAlign Tool Train Inputs");
  r.graphics(arrangementModel(arrangement), vcDisplay::eClientCoords, "Arrangement Model");
  r.graphics(arrangementBox(arrangement, vc2XformLinear()), vcDisplay::eClientCoords,
             "Arrangement Bounding Box");
  r.text("FlexAlign Params", "FlexAlign Train Params \n" + params.toDebugString());
  const std::string standard = "   Sub-Model Params (default)";
  r.text(standard, standard + " \n" + params.standard().toDebugString());
  for (long index : params.customSubModelInstanceIndices()) {
    const std::string label = subModelParamsLabel(index);
    r.text(label, label + " \n" + params.custom(index).toDebugString());
  }
  diag->level(diag->level() + 1);
  diag->newDiagRecord().recordAnnotation("Details");
  diag->level(diag->level() + 1);
}

void vc_flxalign::recordTrainOutputs(vcDiagObject* diag, unsigned long flags, bool failed) {
  if (!diag) return;
  if (vcDiagObject::shouldRecord(flags, vcDiagDefs::eInputs)) diag->level(diag->level() - 2);
  if (vcDiagObject::shouldRecord(flags, vcDiagDefs::eAll)) {
    diag->summary("Tool", "FlexAlign");
    diag->summary("Trained", failed ? "no (training failed)" : "yes");
  }
  if (!vcDiagObject::shouldRecord(flags, vcDiagDefs::eOutputs)) return;
  vcDiagRecord& r = diag->newDiagRecord();
  r.recordAnnotation("FlexAlign Tool Train Outputs");
  r.text("Status", failed ? "Training FAILED." : "Trained SUCCESSFULLY.");
}

void vc_flxalign::recordTrainThrow(vcDiagObject* diag, unsigned long flags, const vcException& e) {
  recordThrow(diag, flags, "vcFlexAlignPattern::train", e);
}

// The run's inputs: the image, then one level down the parameters; the run's own records and
// those of the sub-model tools nest below.
void vc_FlexAlignRun::recordRunInputs(vcDiagObject* diag, unsigned long flags,
                                      const vcPelBuffer_const<unsigned char>& image,
                                      const vc2XformBase& startPose,
                                      const std::vector<vcVector<2>>& fixtures,
                                      const vcFlexAlignRunParams& params) const {
  if (!diag || !vcDiagObject::shouldRecord(flags, vcDiagDefs::eInputs)) return;
  vcDiagRecord& r = diag->newDiagRecord();
  r.recordAnnotation("FlexAlign Tool Run Inputs");
  if (image.isBound()) r.image(image);
  vcGraphicList crosses;
  for (const vcVector<2>& f : fixtures)
    crosses.append(vcPtrHandle<vcGraphic>(
        new vcGraphicCross(f, 10.0, vcRadian(0.25 * vcPi), vcColor::magenta)));
  r.graphics(crosses, vcDisplay::eClientCoords, "Fixtures");
  r.graphics(arrangementBox(arrangement_, startPose), vcDisplay::eClientCoords,
             "Arrangement Bounding Box at the Start Pose");
  diag->level(diag->level() + 1);
  vcDiagRecord& p = diag->newDiagRecord();
  p.recordAnnotation("FlexAlign Params");
  if (image.isBound()) p.image(image);
  p.text("FlexAlign Params", "FlexAlign Run Params\n" + params.toDebugString());
  const std::string standard = "   Sub-Model Params (default)";
  p.text(standard, standard + " \n" + params.standard().toDebugString());
  for (long index : params.customSubModelInstanceIndices()) {
    const std::string label = subModelParamsLabel(index);
    p.text(label, label + " \n" + params.custom(index).toDebugString());
  }
  diag->newDiagRecord().recordAnnotation("Details");
  diag->level(diag->level() + 1);
}

void vc_FlexAlignRun::recordRunOutputs(vcDiagObject* diag, unsigned long flags,
                                       const vcPelBuffer_const<unsigned char>& image,
                                       const vcFlexAlignResultSet& results, bool failed) const {
  if (!diag) return;
  if (vcDiagObject::shouldRecord(flags, vcDiagDefs::eInputs)) diag->level(diag->level() - 2);
  if (vcDiagObject::shouldRecord(flags, vcDiagDefs::eAll)) {
    // The last run recorded speaks for the page.
    diag->summary("Tool", "FlexAlign");
    diag->summary("Results found", failed ? "none (the run failed)"
                                          : std::to_string(results.numFound()) + " of " +
                                                std::to_string(results.results().size()));
    const bool any = !failed && !results.results().empty();
    diag->summary("Instances found (best result)",
                  (any ? std::to_string(results.results()[0].positionIndices().size()) : "0") +
                      " of " + std::to_string(arrangement_.positions().size()));
    char ms[32];
    std::snprintf(ms, sizeof ms, "%.2f ms", results.time() * 1e3);
    diag->summary("Run time", ms);
  }
  if (!vcDiagObject::shouldRecord(flags, vcDiagDefs::eOutputs)) return;
  vcDiagRecord& r = diag->newDiagRecord();
  r.recordAnnotation("FlexAlign Tool Run Outputs");
  if (image.isBound()) r.image(image);
  r.text("Status", failed ? "Run FAILED." : "Run SUCCESSFULLY.");
  r.text("Run Time", "Run Time: " + std::to_string(results.time()));
  for (std::size_t i = 0; i < results.results().size(); ++i) {
    const vcFlexAlignResult& res = results.results()[i];
    const std::string n = std::to_string(i);
    r.graphics(arrangementBox(arrangement_, res.pose()), vcDisplay::eClientCoords,
               "Arrangement Bounding Box - Result #" + n);
    r.graphics(foundSubModels(arrangement_, res), vcDisplay::eClientCoords,
               "Sub-Model Bounding Boxes - Result #" + n);
  }
  r.text("Results", "Results Set:\n" + results.toDebugString());
}

void vc_FlexAlignRun::recordRunThrow(vcDiagObject* diag, unsigned long flags,
                                     const vcException& e) const {
  recordThrow(diag, flags, "vcFlexAlignPattern::run", e);
}
