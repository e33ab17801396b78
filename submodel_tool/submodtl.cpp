// Sub-model tool: data, training, copying, comparison and persistence.

#include <algorithm>
#include <typeinfo>
#include <utility>
#include <vector>

#include "engines/geofind/vcGFAlign.h"
#include "platform/core/vcArchive.h"
#include "platform/core/vcTimer.h"
#include "platform/display/vc2Wireframe.h"
#include "submodel_tool/submodtl_cor.h"
#include "submodel_tool/submodtl_diag.h"
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
  std::swap(corModel_, o.corModel_);
  std::swap(gfPattern_, o.gfPattern_);
  std::swap(trainParams_, o.trainParams_);
  subModel_.swap(o.subModel_);
  trainTime_ = o.trainTime_;
  trained_ = o.trained_;
  o.clean_();
  return *this;
}

vc_SubModelTool::~vc_SubModelTool() { clean_(); }

void vc_SubModelTool::clean_() {
  delete corModel_;
  corModel_ = nullptr;
  delete gfPattern_;
  gfPattern_ = nullptr;
  trained_ = false;
}

void vc_SubModelTool::assign_(const vc_SubModelTool& o) {
  clean_();
  trainParams_ =
      o.trainParams_ ? o.trainParams_->clone() : vcPtrHandle<vcFlexSubModelTrainParams>();
  subModel_ = o.subModel_;
  // Engine objects are never shared, but their trained data is immutable (runs change nothing
  // in it), so the copy's own engine objects share it: the model that training again from the
  // same sub-model and parameters would build, without the cost.
  if (o.isTrained()) {
    if (o.corModel_) corModel_ = new vc_PatCorModel<unsigned char>(*o.corModel_);
    if (o.gfPattern_) gfPattern_ = new vcGFAlignPattern(*o.gfPattern_);
  }
  trainTime_ = o.trainTime_;
  trained_ = o.trained_;
}

void vc_SubModelTool::retrain_() {
  if (trainParams_) train(subModel_, *trainParams_, nullptr, 0);
}

bool vc_SubModelTool::isTrained() const {
  if (corModel_) return corModel_->isTrained();
  if (gfPattern_ && gfPattern_->isTrained()) return true;
  return trained_;
}

std::vector<std::string> vc_SubModelTool::trainingWarnings() const {
  return gfPattern_ ? gfPattern_->trainingWarnings() : std::vector<std::string>();
}

void vc_SubModelTool::train(const vcFlexSubModel& subModel, const vcFlexSubModelTrainParams& params,
                            vcDiagObject* diag, unsigned long diagFlags) {
  vc_submodtl::recordTrainInputs(diag, diagFlags, subModel, params);
  const auto* cor = dynamic_cast<const vcFlexSubModelCorTrainParams*>(&params);
  const auto* gfnd = dynamic_cast<const vcFlexSubModelGfndTrainParams*>(&params);
  if (!cor && !gfnd) {
    const vcFlexAlignDefs::InternalError e;
    vc_submodtl::recordTrainOutputs(diag, diagFlags, -1.0);
    vc_submodtl::recordFailure(diag, diagFlags, "vc_SubModelTool::train", e);
    throw e;
  }
  try {
    train_(subModel, params, cor, gfnd, diag, diagFlags);
  } catch (const vcException& e) {
    vc_submodtl::recordTrainOutputs(diag, diagFlags, -1.0);
    vc_submodtl::recordFailure(diag, diagFlags, "vc_SubModelTool::train", e);
    throw;
  }
  vc_submodtl::recordTrainOutputs(diag, diagFlags, trainTime_);
}

void vc_SubModelTool::train_(const vcFlexSubModel& subModel,
                             const vcFlexSubModelTrainParams& params,
                             const vcFlexSubModelCorTrainParams* cor,
                             const vcFlexSubModelGfndTrainParams* gfnd, vcDiagObject* diag,
                             unsigned long diagFlags) {
  vcTimer timer(true);
  if (isTrained() && trainParams_ && params.equal(*trainParams_) && subModel == subModel_) {
    timer.stop();
    trainTime_ = timer.sec();
    return;
  }
  // Only the engine that this training uses may survive it; a blank sub-model keeps none.
  if (cor || subModel.modelType() == vcFlexModelDefs::eBlank) {
    delete gfPattern_;
    gfPattern_ = nullptr;
  }
  if (gfnd || subModel.modelType() == vcFlexModelDefs::eBlank) {
    delete corModel_;
    corModel_ = nullptr;
  }
  if (cor)
    trainCorrelation_(subModel, *cor, diag, diagFlags);
  else
    trainGeofind_(subModel, *gfnd, diag, diagFlags);
  // Clone before assigning: params may be our own stored object (retraining, copying).
  vcPtrHandle<vcFlexSubModelTrainParams> stored = params.clone();
  if (&subModel != &subModel_) subModel_ = subModel;
  trainParams_ = stored;
  trained_ = true;
  timer.stop();
  trainTime_ = timer.sec();
}

void vc_SubModelTool::trainCorrelation_(const vcFlexSubModel& subModel,
                                        const vcFlexSubModelCorTrainParams& params,
                                        vcDiagObject* diag, unsigned long) {
  switch (subModel.modelType()) {
    case vcFlexModelDefs::eSynthetic:
      throw vcFlexAlignDefs::CanNotTrain("Must use image models in correlation mode");
    case vcFlexModelDefs::eImage:
      break;
    default:
      return;  // blank: nothing to train
  }
  vc_PatCorTrainParams engine;
  vfConvertCorTrainParams(params, engine);
  try {
    delete corModel_;
    corModel_ = nullptr;
    corModel_ = new vc_PatCorModel<unsigned char>;
    const double g = params.coarseGrainLimit();
    corModel_->sample(vcPair<double>(g, g));
    corModel_->train(subModel.image(), subModel.mask(), engine, diag, 0);
  } catch (const vcException& e) {
    throw vcFlexAlignDefs::CanNotTrain(messageOf(e));
  }
}

void vc_SubModelTool::trainGeofind_(const vcFlexSubModel& subModel,
                                    const vcFlexSubModelGfndTrainParams& params, vcDiagObject*,
                                    unsigned long) {
  if (subModel.modelType() == vcFlexModelDefs::eBlank) return;
  try {
    delete gfPattern_;
    gfPattern_ = nullptr;
    gfPattern_ = new vcGFAlignPattern;
    gfPattern_->ignorePolarity(params.ignorePolarity());
    gfPattern_->elasticity(params.elasticity());
    gfPattern_->autoSelectGrainLimits(params.autoSelectGrainLimits());
    gfPattern_->grainLimits(static_cast<float>(params.coarseGrainLimit()),
                            static_cast<float>(params.fineGrainLimit()));
    const long mask = (params.algorithms() & vcFlexSubModelGfndDefs::eGeofind) ? 2 : 1;
    if (subModel.modelType() == vcFlexModelDefs::eSynthetic) {
      const vcPtrHandle_const<vc2XformBase> cfi = subModel.clientFromImage();
      if (!cfi) throw vcBadPointer();
      gfPattern_->train(subModel.shapes(), subModel.weights(), vc_submodtl::linearAtOrigin(*cfi),
                        mask, nullptr, 0);
    } else if (!subModel.mask().isBound()) {
      gfPattern_->train(subModel.image(), mask, nullptr, 0);
    } else {
      gfPattern_->train(subModel.image(), subModel.mask(), mask, nullptr, 0);
    }
  } catch (const vcTimeout::Expired&) {
    throw;
  } catch (const vcException& e) {
    throw vcFlexAlignDefs::CanNotTrain(messageOf(e));
  }
}

namespace {

// Training parameters compare by engine kind and that kind's fields, so a private class and its
// public base with equal settings train the same engine model.
bool sameKindAndFields(const vcFlexSubModelTrainParams& a, const vcFlexSubModelTrainParams& b) {
  const auto* ca = dynamic_cast<const vcFlexSubModelCorTrainParams*>(&a);
  const auto* cb = dynamic_cast<const vcFlexSubModelCorTrainParams*>(&b);
  if (ca || cb) return ca && cb && *ca == *cb;
  const auto* ga = dynamic_cast<const vcFlexSubModelGfndTrainParams*>(&a);
  const auto* gb = dynamic_cast<const vcFlexSubModelGfndTrainParams*>(&b);
  if (ga || gb) return ga && gb && *ga == *gb;
  return a.equal(b);
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
  if (dynamic_cast<const vcFlexSubModelCorTrainParams*>(trainParams_.ptr())) {
    if ((corModel_ == nullptr) != (o.corModel_ == nullptr)) return false;
    if (corModel_ && !(*corModel_ == *o.corModel_)) return false;
  }
  return true;
}

namespace {

// What a version 1 archive holds besides the parameters and the sub-model: the trained Geofind
// pattern, or nothing (a blank sub-model, an untrained tool, or a correlation model, which is
// trained again from the sub-model on loading).
enum StoredEngine : unsigned char { eNoEngine = 0, eGeofindEngine = 1 };

// A loaded Geofind pattern must be the one its parameters train, or a run would silently use
// another model than the file says.
bool matches(const vcGFAlignPattern& g, const vcFlexSubModelTrainParams& params) {
  const auto* p = dynamic_cast<const vcFlexSubModelGfndTrainParams*>(&params);
  if (!p || !g.isTrained()) return false;
  const long algorithm = (p->algorithms() & vcFlexSubModelGfndDefs::eGeofind) ? 2 : 1;
  return g.ignorePolarity() == p->ignorePolarity() && g.elasticity() == p->elasticity() &&
         g.autoSelectGrainLimits() == p->autoSelectGrainLimits() &&
         g.fineGrainLimit() == std::min(float(p->coarseGrainLimit()), float(p->fineGrainLimit())) &&
         g.coarseGrainLimit() ==
             std::max(float(p->coarseGrainLimit()), float(p->fineGrainLimit())) &&
         g.trainedAlgorithm() == algorithm;
}

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
    unsigned char engine = trained && tool.gfPattern_ ? eGeofindEngine : eNoEngine;
    ar || trained || tool.trainTime_ || engine;
    if (engine == eGeofindEngine) ar || *tool.gfPattern_;
    return ar;
  }
  vcPtrHandle<vcFlexSubModelTrainParams> loaded(params);
  vcFlexSubModel subModel(std::string{});
  ar || subModel;
  bool trained = true;
  double trainTime = 0.0;
  unsigned char engine = eNoEngine;
  vcGFAlignPattern pattern;
  if (version == 1) {
    ar || trained || trainTime || engine;
    if (engine > eGeofindEngine) throw vcArchive::BadData("submodtl: unknown engine");
    if (engine == eGeofindEngine) {
      ar || pattern;
      if (!trained || !loaded || subModel.modelType() == vcFlexModelDefs::eBlank ||
          !matches(pattern, *loaded))
        throw vcArchive::BadData("submodtl: the stored Geofind pattern does not match the tool");
    }
  }
  tool.clean_();
  tool.trainParams_ = loaded;
  tool.subModel_.swap(subModel);
  if (engine == eGeofindEngine) {
    tool.gfPattern_ = new vcGFAlignPattern(pattern);
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
