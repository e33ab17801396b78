// Diagnostic records of FlexAlign training: names and texts a viewer relies on.

#include "platform/diag/vcDiag.h"
#include "vcFlexAlignTool.h"

namespace {

constexpr unsigned long kInputs = 0x10000;
constexpr unsigned long kOutputs = 0x20000;

std::string subModelParamsLabel(long index) {
  return "   Sub-Model Params (for sub-model #" + std::to_string(index) + ")";
}

}  // namespace

// The inputs record, then a "Details" record one level down; what the sub-model tools record
// while training nests one level further.
void vcFlexAlignPattern::recordTrainInputs(vcDiagObject* diag, unsigned long flags,
                                           const vcFlexArrangement& arrangement,
                                           const vcFlexAlignTrainParams& params) const {
  (void)arrangement;
  if (!diag || !vcDiagObject::shouldRecord(flags, kInputs)) return;
  vcDiagRecord& r = diag->newDiagRecord();
  r.recordAnnotation("FlexAlign Tool Train Inputs");
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

void vcFlexAlignPattern::recordTrainOutputs(vcDiagObject* diag, unsigned long flags,
                                            bool failed) const {
  if (!diag) return;
  if (vcDiagObject::shouldRecord(flags, kInputs)) diag->level(diag->level() - 2);
  if (!vcDiagObject::shouldRecord(flags, kOutputs)) return;
  vcDiagRecord& r = diag->newDiagRecord();
  r.recordAnnotation("FlexAlign Tool Train Outputs");
  r.text("Status", failed ? "Training FAILED." : "Trained SUCCESSFULLY.");
}

void vcFlexAlignPattern::recordTrainThrow(vcDiagObject* diag, unsigned long flags,
                                          const vcException& e) const {
  if (!diag || !vcDiagObject::shouldRecord(flags, kOutputs) || !diag->lastRecord()) return;
  const auto* s = dynamic_cast<const vcExceptionWithString*>(&e);
  diag->lastRecord()->text("Exception Data", "vcFlexAlignPattern::train threw  " +
                                                 (s ? s->message(true) : e.messageText()) + "\n");
}

// The run's inputs: the image, then one level down the parameters; the run's own records and
// those of the sub-model tools nest below.
void vcFlexAlignPattern::recordRunInputs(vcDiagObject* diag, unsigned long flags,
                                         const vcPelBuffer_const<unsigned char>& image,
                                         const vc2XformBase& startPose,
                                         const std::vector<vcVector<2>>& fixtures,
                                         const vcFlexAlignRunParams& params) const {
  (void)startPose;
  (void)fixtures;
  if (!diag || !vcDiagObject::shouldRecord(flags, kInputs)) return;
  vcDiagRecord& r = diag->newDiagRecord();
  r.recordAnnotation("FlexAlign Tool Run Inputs");
  if (image.isBound()) r.image(image);
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

void vcFlexAlignPattern::recordRunOutputs(vcDiagObject* diag, unsigned long flags,
                                          const vcPelBuffer_const<unsigned char>& image,
                                          const vcFlexAlignResultSet& results, bool failed) const {
  if (!diag) return;
  if (vcDiagObject::shouldRecord(flags, kInputs)) diag->level(diag->level() - 2);
  if (!vcDiagObject::shouldRecord(flags, kOutputs)) return;
  vcDiagRecord& r = diag->newDiagRecord();
  r.recordAnnotation("FlexAlign Tool Run Outputs");
  if (image.isBound()) r.image(image);
  r.text("Status", failed ? "Run FAILED." : "Run SUCCESSFULLY.");
  r.text("Run Time", "Run Time: " + std::to_string(results.time()));
  r.text("Results", "Results Set:\n" + results.toDebugString());
}

void vcFlexAlignPattern::recordRunThrow(vcDiagObject* diag, unsigned long flags,
                                        const vcException& e) const {
  if (!diag || !vcDiagObject::shouldRecord(flags, kOutputs) || !diag->lastRecord()) return;
  const auto* s = dynamic_cast<const vcExceptionWithString*>(&e);
  diag->lastRecord()->text("Exception Data", "vcFlexAlignPattern::run threw  " +
                                                 (s ? s->message(true) : e.messageText()) + "\n");
}
