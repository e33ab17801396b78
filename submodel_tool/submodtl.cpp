// Sub-model tool: data, training, copying, comparison and persistence.

#include <algorithm>
#include <typeinfo>
#include <utility>
#include <vector>

#include "engines/correlation/vcPatCor.h"
#include "platform/core/vcArchive.h"
#include "platform/core/vcTimer.h"
#include "platform/display/vc2Wireframe.h"
#include "submodel_tool/submodtl_diag.h"
#include "submodel_tool/submodtl_engine.h"
#include "submodel_tool/submodtl_util.h"
#include "vcFlexErrors.h"
#include "vcSubModelTool.h"

namespace vc_submodtl {

std::string messageOf(const vcException& e) {
  if (const auto* s = dynamic_cast<const vcExceptionWithString*>(&e)) return s->message(false);
  return e.messageText();
}

std::string pieceMessage(const vcFlexSubModel& subModel, const vcException& e) {
  return "Sub-model \"" + subModel.name() + "\": " + messageOf(e);
}

vcXform<2> linearAtOrigin(const vc2XformBase& x) { return x.linearXform({0.0, 0.0}).xform(); }

void modelCorners(const vcFlexSubModel& subModel, vcVector<2> out[4]) {
  const vcRect& r = subModel.encloseRect();
  const vcPtrHandle_const<vc2XformBase> inv = subModel.originInverse();
  const vcVector<2> c[4] = {r.ul(), r.ur(), r.lr(), r.ll()};
  for (int i = 0; i < 4; ++i) out[i] = inv->mapPoint(c[i]);
}

}  // namespace vc_submodtl

using vc_submodtl::messageOf;

vc_SubModelTool::vc_SubModelTool() : subModel_(std::string()) {}

vc_SubModelTool::vc_SubModelTool(const vc_SubModelTool& o) : subModel_(std::string()) {
  assign_(o);
}

vc_SubModelTool& vc_SubModelTool::operator=(const vc_SubModelTool& o) {
  if (this != &o) assign_(o);
  return *this;
}

vc_SubModelTool::vc_SubModelTool(vc_SubModelTool&& o) : subModel_(std::string()) {
  *this = std::move(o);
}

vc_SubModelTool& vc_SubModelTool::operator=(vc_SubModelTool&& o) noexcept {
  if (this == &o) return *this;
  clean_();
  std::swap(engine_, o.engine_);
  std::swap(trainParams_, o.trainParams_);
  subModel_.swap(o.subModel_);
  trainTime_ = o.trainTime_;
  trained_ = o.trained_;
  o.clean_();
  return *this;
}

vc_SubModelTool::~vc_SubModelTool() { clean_(); }

void vc_SubModelTool::clean_() {
  engine_.reset();
  trained_ = false;
}

void vc_SubModelTool::assign_(const vc_SubModelTool& o) {
  clean_();
  trainParams_ =
      o.trainParams_ ? o.trainParams_->clone() : vcPtrHandle<vcFlexSubModelTrainParams>();
  subModel_ = o.subModel_;
  // The copy's engine object shares the trained data of the source's: the model that training
  // again from the same sub-model and parameters would build, without the cost.
  if (o.isTrained() && o.engine_) engine_ = o.engine_->clone();
  trainTime_ = o.trainTime_;
  trained_ = o.trained_;
}

void vc_SubModelTool::retrain_() {
  if (trainParams_) train(subModel_, *trainParams_, nullptr, 0);
}

bool vc_SubModelTool::isTrained() const {
  return engine_ ? engine_->isTrained(trained_) : trained_;
}

const vc_PatCorModel<unsigned char>* vc_SubModelTool::correlationModel() const {
  return engine_ ? engine_->correlationModel() : nullptr;
}

const vcGFAlignPattern* vc_SubModelTool::geofindPattern() const {
  return engine_ ? engine_->geofindPattern() : nullptr;
}

std::vector<std::string> vc_SubModelTool::trainingWarnings() const {
  return engine_ ? engine_->trainingWarnings() : std::vector<std::string>();
}

void vc_SubModelTool::train(const vcFlexSubModel& subModel, const vcFlexSubModelTrainParams& params,
                            vcDiagObject* diag, unsigned long diagFlags) {
  vc_submodtl::recordTrainInputs(diag, diagFlags, subModel, params);
  const vc_SubModelEngine* engine = vc_SubModelEngine::forKind(params.engine());
  if (!engine) {
    const vcFlexAlignDefs::InternalError e;
    vc_submodtl::recordTrainOutputs(diag, diagFlags, -1.0);
    vc_submodtl::recordFailure(diag, diagFlags, "vc_SubModelTool::train", e);
    throw e;
  }
  try {
    train_(subModel, params, *engine, diag);
  } catch (const vcException& e) {
    vc_submodtl::recordTrainOutputs(diag, diagFlags, -1.0);
    vc_submodtl::recordFailure(diag, diagFlags, "vc_SubModelTool::train", e);
    throw;
  }
  vc_submodtl::recordTrainOutputs(diag, diagFlags, trainTime_);
}

void vc_SubModelTool::train_(const vcFlexSubModel& subModel,
                             const vcFlexSubModelTrainParams& params,
                             const vc_SubModelEngine& engine, vcDiagObject* diag) {
  vcTimer timer(true);
  if (isTrained() && trainParams_ && params.equal(*trainParams_) && subModel == subModel_) {
    timer.stop();
    trainTime_ = timer.sec();
    return;
  }
  // Only the engine that this training uses may survive it; a blank sub-model keeps no engine
  // object.
  if (!engine_ || engine_->kind() != engine.kind()) engine_ = engine.fresh();
  engine_->train(subModel, params, diag);
  // Clone before assigning: params may be our own stored object (retraining, copying).
  vcPtrHandle<vcFlexSubModelTrainParams> stored = params.clone();
  if (&subModel != &subModel_) subModel_ = subModel;
  trainParams_ = stored;
  trained_ = true;
  timer.stop();
  trainTime_ = timer.sec();
}

namespace {

// Training parameters compare by engine kind and that kind's fields, so a private class and its
// public base with equal settings train the same engine model.
bool sameKindAndFields(const vcFlexSubModelTrainParams& a, const vcFlexSubModelTrainParams& b) {
  if (a.engine() != b.engine()) return false;
  const vc_SubModelEngine* engine = vc_SubModelEngine::forKind(a.engine());
  return engine ? engine->sameTraining(a, b) : a.equal(b);
}

}  // namespace

bool vc_SubModelTool::operator==(const vc_SubModelTool& o) const {
  if (trained_ != o.trained_) return false;
  if (trainParams_.isNull() || o.trainParams_.isNull()) {
    if (trainParams_.isNull() != o.trainParams_.isNull()) return false;
  } else {
    if (!sameKindAndFields(*trainParams_, *o.trainParams_)) return false;
  }
  if (!(subModel_ == o.subModel_)) return false;
  // Correlation models compare; Geofind patterns do not.
  const vc_PatCorModel<unsigned char>*a = correlationModel(), *b = o.correlationModel();
  if (trainParams_ && trainParams_->engine() == vcFlexSubModelParamsDefs::eCorrelationEngine) {
    if ((a == nullptr) != (b == nullptr)) return false;
    if (a && !(*a == *b)) return false;
  }
  return true;
}

namespace {

// What a version 1 archive holds besides the parameters and the sub-model: the trained Geofind
// pattern, or nothing (a blank sub-model, an untrained tool, or a correlation model, which is
// trained again from the sub-model on loading).
enum StoredEngine : unsigned char { eNothingStored = 0, eGeofindStored = 1 };

}  // namespace

// Version 0 holds the parameters and the sub-model, and a loaded tool is trained again from
// them. Version 1 adds the trained flag, the train time and the trained Geofind pattern, so
// that loading costs what reading the model costs instead of a training.
vcArchive& operator||(vcArchive& ar, vc_SubModelTool& tool) {
  unsigned char version = 1;
  ar || version;
  if (version > 1) throw vcArchive::UnknownVersion("submodtl", __LINE__);
  vcFlexSubModelTrainParams* params = tool.trainParams_.ptr();
  serializePointer(ar, nullptr, params);
  if (ar.isStoring()) {
    ar || tool.subModel_;
    bool trained = tool.isTrained();
    const bool stores = tool.engine_ && tool.engine_->storesModel() && tool.engine_->hasModel();
    unsigned char engine = trained && stores ? eGeofindStored : eNothingStored;
    ar || trained || tool.trainTime_ || engine;
    if (engine == eGeofindStored) tool.engine_->serializeModel(ar);
    return ar;
  }
  vcPtrHandle<vcFlexSubModelTrainParams> loaded(params);
  vcFlexSubModel subModel(std::string{});
  ar || subModel;
  bool trained = true;
  double trainTime = 0.0;
  unsigned char engine = eNothingStored;
  std::unique_ptr<vc_SubModelEngine> stored;
  if (version == 1) {
    ar || trained || trainTime || engine;
    if (engine > eGeofindStored) throw vcArchive::BadData("submodtl: unknown engine");
    if (engine == eGeofindStored) {
      stored = vfGeofindEngine().fresh();
      stored->serializeModel(ar);
      if (!trained || !loaded || subModel.modelType() == vcFlexModelDefs::eBlank ||
          !stored->modelMatches(*loaded))
        throw vcArchive::BadData("submodtl: the stored Geofind pattern does not match the tool");
    }
  }
  tool.clean_();
  tool.trainParams_ = loaded;
  tool.subModel_.swap(subModel);
  if (stored) {
    tool.engine_ = std::move(stored);
    tool.trained_ = true;
    tool.trainTime_ = trainTime;
  } else if (trained) {
    // Nothing stored to run with: trained from what was read, as version 0 always is. The
    // stored train time stays, so that saving a loaded tool writes the bytes it was read from.
    tool.retrain_();
    if (version == 1) tool.trainTime_ = trainTime;
  }
  return ar;
}
