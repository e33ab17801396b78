// Sub-model tool, Geofind engine: training, run and the stored pattern.

#include <algorithm>
#include <cmath>
#include <memory>

#include "engines/geofind/vcGFAlign.h"
#include "platform/core/vcArchive.h"
#include "submodel_tool/submodtl_engine.h"
#include "submodel_tool/submodtl_util.h"
#include "vcFlexErrors.h"
#include "vcGeorapidDOF.h"
#include "vcSubModelTool.h"

using vc_submodtl::linearAtOrigin;
using vc_submodtl::messageOf;

namespace {

using Gfnd = vcFlexSubModelGfndDefs;
using SD = vcFlexSubModelParamsDefs;

const vcFlexSubModelGfndTrainParams& gfndTrain(const vcFlexSubModelTrainParams& p) {
  return static_cast<const vcFlexSubModelGfndTrainParams&>(p);
}

class vc_SubModelGfndEngine final : public vc_SubModelEngine {
 public:
  Engine kind() const override { return SD::eGeofindEngine; }
  const char* name() const override { return "Geofind"; }
  std::unique_ptr<vc_SubModelEngine> fresh() const override {
    return std::make_unique<vc_SubModelGfndEngine>();
  }
  std::unique_ptr<vc_SubModelEngine> clone() const override {
    auto c = std::make_unique<vc_SubModelGfndEngine>();
    if (pattern_) c->pattern_ = std::make_unique<vcGFAlignPattern>(*pattern_);
    return c;
  }

  bool hasModel() const override { return pattern_ != nullptr; }
  bool isTrained(bool trainedFlag) const override {
    return (pattern_ && pattern_->isTrained()) || trainedFlag;
  }
  void train(const vcFlexSubModel& subModel, const vcFlexSubModelTrainParams& params,
             vcDiagObject* diag) override;
  void run(const vc_SubModelEngineRun& in, vc_SubModelResultSet& results) const override;

  bool sameTraining(const vcFlexSubModelTrainParams& a,
                    const vcFlexSubModelTrainParams& b) const override {
    return gfndTrain(a) == gfndTrain(b);
  }
  double searchMargin(const vcFlexSubModelTrainParams& p) const override {
    return 2.0 * gfndTrain(p).coarseGrainLimit();
  }

  std::vector<std::string> trainingWarnings() const override {
    return pattern_ ? pattern_->trainingWarnings() : std::vector<std::string>();
  }
  const vcGFAlignPattern* geofindPattern() const override { return pattern_.get(); }

  bool storesModel() const override { return true; }
  void serializeModel(vcArchive& ar) override {
    if (ar.isLoading()) pattern_ = std::make_unique<vcGFAlignPattern>();
    ar || *pattern_;
  }
  // A loaded pattern must be the one its parameters train, or a run would silently use another
  // model than the file says.
  bool modelMatches(const vcFlexSubModelTrainParams& params) const override {
    if (params.engine() != SD::eGeofindEngine || !pattern_ || !pattern_->isTrained()) return false;
    const vcGFAlignPattern& g = *pattern_;
    const vcFlexSubModelGfndTrainParams& p = gfndTrain(params);
    const long algorithm = (p.algorithms() & Gfnd::eGeofind) ? 2 : 1;
    return g.ignorePolarity() == p.ignorePolarity() && g.elasticity() == p.elasticity() &&
           g.autoSelectGrainLimits() == p.autoSelectGrainLimits() &&
           g.fineGrainLimit() == std::min(float(p.coarseGrainLimit()), float(p.fineGrainLimit())) &&
           g.coarseGrainLimit() ==
               std::max(float(p.coarseGrainLimit()), float(p.fineGrainLimit())) &&
           g.trainedAlgorithm() == algorithm;
  }

 private:
  std::unique_ptr<vcGFAlignPattern> pattern_;
};

void vc_SubModelGfndEngine::train(const vcFlexSubModel& subModel,
                                  const vcFlexSubModelTrainParams& trainParams, vcDiagObject*) {
  pattern_.reset();
  if (subModel.modelType() == vcFlexModelDefs::eBlank) return;
  const vcFlexSubModelGfndTrainParams& params = gfndTrain(trainParams);
  try {
    pattern_ = std::make_unique<vcGFAlignPattern>();
    pattern_->ignorePolarity(params.ignorePolarity());
    pattern_->elasticity(params.elasticity());
    pattern_->autoSelectGrainLimits(params.autoSelectGrainLimits());
    pattern_->grainLimits(static_cast<float>(params.coarseGrainLimit()),
                          static_cast<float>(params.fineGrainLimit()));
    const long mask = (params.algorithms() & Gfnd::eGeofind) ? 2 : 1;
    if (subModel.modelType() == vcFlexModelDefs::eSynthetic) {
      const vcPtrHandle_const<vc2XformBase> cfi = subModel.clientFromImage();
      if (!cfi) throw vcBadPointer();
      pattern_->train(subModel.shapes(), subModel.weights(), linearAtOrigin(*cfi), mask, nullptr,
                      0);
    } else if (!subModel.mask().isBound()) {
      pattern_->train(subModel.image(), mask, nullptr, 0);
    } else {
      pattern_->train(subModel.image(), subModel.mask(), mask, nullptr, 0);
    }
  } catch (const vcTimeout::Expired&) {
    throw;
  } catch (const vcException& e) {
    throw vcFlexAlignDefs::CanNotTrain(messageOf(e));
  }
}

void vc_SubModelGfndEngine::run(const vc_SubModelEngineRun& in,
                                vc_SubModelResultSet& results) const {
  if (!in.trainParams || in.trainParams->engine() != SD::eGeofindEngine)
    throw vcFlexAlignDefs::InternalError();
  const vcFlexSubModelGfndTrainParams& tp = gfndTrain(*in.trainParams);
  const vcFlexSubModelGfndRunParams& params =
      static_cast<const vcFlexSubModelGfndRunParams&>(in.params);
  const vcFlexSubModel& subModel = in.subModel;
  const vc2XformBase& startPose = in.startPose;
  const vc_SubModelSearchContext* context = in.context;
  if (subModel.modelType() == vcFlexModelDefs::eBlank) {
    vcPtrHandle<vcFlexSubModelGfndResult> r =
        vc_submodtl::blankResult<vcFlexSubModelGfndResult>(startPose);
    r->measures(0.0, 0.0, 1.0, 0.0);  // full coverage, nothing else measured
    results.addResult(r);
    return;
  }
  if (!pattern_) throw vcFlexAlignDefs::InternalError();

  const vcGeorapidDOFList& dofs = params.dofList();
  vcGFAlignResultSet found;
  vc_SubModelSearchNote note;
  try {
    vcPelBuffer_const<unsigned char> window;
    const bool searchable =
        vc_submodtl::runView(in.image, tp, params, subModel, startPose, params.xUncertainty(),
                             params.yUncertainty(), false, window, note, in.diag, in.diagFlags);
    results.note(note);
    if (!searchable) return;

    // The pattern reports poses of the sub-model frame: the frame goes with this run's
    // parameters, so the pattern itself is left as it is and may serve other threads.
    vcGFAlignRunParams rp;
    rp.patternFrame(vcVector<2>(0.0, 0.0), linearAtOrigin(*subModel.origin()));
    rp.algorithm(params.algorithm() == Gfnd::eGeofind ? 2 : 1);
    rp.acceptThreshold(params.acceptThreshold());
    rp.contrastThreshold(params.contrastThreshold());
    rp.scoreUsingClutter(params.scoreUsingClutter());
    rp.numToFind(context && context->keep > 0 ? std::min(in.numToFind, context->keep)
                                              : in.numToFind);
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

    const vcGFAlignPattern& pattern = *pattern_;
    if (in.mask.isBound()) {
      vcPelBuffer_const<unsigned char> m = in.mask;
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
    throw vcFlexAlignDefs::BadParams(vc_submodtl::pieceMessage(subModel, e));
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
    r->uncertainty(vc_submodtl::clientCovariance(in.image, er.positionCovariance()),
                   er.angleSigma(), er.positionWeak());
    if (params.saveMatchInfo()) r->matchInfo(&er);
    r->matchRegion(vcAffineRectangle(er.matchRegionXform()));
    r->imageRegion(er.imageRegion());
    std::vector<double> values;
    for (long k = 1; k <= n && k <= er.numDOFs(); ++k) values.push_back(er.dofValue(k));
    r->dofValues(values);
    results.addResult(r);
  }
}

}  // namespace

const vc_SubModelEngine& vfGeofindEngine() {
  static const vc_SubModelGfndEngine prototype;
  return prototype;
}
