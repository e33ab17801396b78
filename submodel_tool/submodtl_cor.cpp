// Sub-model tool, correlation engine: parameter conversion, training and run.

#include "submodel_tool/submodtl_cor.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "submodel_tool/submodtl_diag.h"
#include "submodel_tool/submodtl_engine.h"
#include "submodel_tool/submodtl_util.h"
#include "vcFlexErrors.h"
#include "vcSubModelTool.h"

using vc_submodtl::linearAtOrigin;
using vc_submodtl::messageOf;
using Std = vcFlexSubModelParamsDefs;

double vfCorrelationReach(const vcFlexSubModelCorTrainParams& p) {
  return 3.0 * p.coarseGrainLimit();
}

// Engine DOF codes 1 = angle, 2 = scale (the same numbers as eAngle and eUniformScale);
// algorithm codes 1 = coarse pass, 2 = fine pass.
void vfConvertCorTrainParams(const vcFlexSubModelCorTrainParams& p, vc_PatCorTrainParams& e) {
  const unsigned long acc = p.accuracies() & 3;
  e.algorithms(acc);
  e.zoneNominal(1, p.privData().zoneNominal(Std::eAngle));
  e.zoneNominal(2, p.privData().zoneNominal(Std::eUniformScale));
  e.zoneAllowed(p.zoneAllowed() & 3);
  e.zoneMaxRange(1, p.zoneMaxRangeStandard(Std::eAngle));
  e.zoneMaxRange(2, p.zoneMaxRangeStandard(Std::eUniformScale));
  if (acc != 0) {
    e.step(1, p.privData().coarseStep(Std::eAngle), 1);
    e.step(2, p.privData().coarseStep(Std::eUniformScale), 1);
  }
  if (acc & 2) {
    e.step(1, p.privData().fineStep(Std::eAngle), 2);
    e.step(2, p.privData().fineStep(Std::eUniformScale), 2);
  }
}

void vfConvertCorRunParams(const vcFlexSubModelRunParams& params, long numToFind,
                           const vc2XformBase& startPose, vc_PatCorRunParams& e) {
  if (params.engine() != Std::eCorrelationEngine)
    throw vcFlexAlignDefs::CanNotRun("Runtime params are not the same type as runtime params");
  const auto& p = static_cast<const vcFlexSubModelCorRunParams&>(params);
  e.numToFind(numToFind);
  e.acceptThreshold(1, p.acceptThreshold());
  e.acceptThreshold(2, p.acceptThreshold());
  const double n = p.privData().neighborAcceptThreshold();
  e.neighborAcceptThreshold(1, n);
  e.neighborAcceptThreshold(2, n);
  e.uncertainty(vcPair<long>(2, 2));
  e.zoneEnable(p.zoneEnable() & 3);
  e.zoneRel(1, p.zoneLowRelStandard(Std::eAngle), p.zoneHighRelStandard(Std::eAngle));
  e.zoneRel(2, p.zoneLowRelStandard(Std::eUniformScale), p.zoneHighRelStandard(Std::eUniformScale));
  e.zoneOverlap(1, p.zoneOverlapStandard(Std::eAngle));
  e.zoneOverlap(2, p.zoneOverlapStandard(Std::eUniformScale));
  e.xyRel(vcVector<2>(-p.xUncertainty(), -p.yUncertainty()),
          vcVector<2>(p.xUncertainty(), p.yUncertainty()));
  e.xyOverlap(p.xyOverlap());
  e.startPose = linearAtOrigin(startPose);
  e.startPoseType = 2;
  e.partialMatch(p.partialMatch());
}

namespace {

const vcFlexSubModelCorTrainParams& corTrain(const vcFlexSubModelTrainParams& p) {
  return static_cast<const vcFlexSubModelCorTrainParams&>(p);
}

class vc_SubModelCorEngine final : public vc_SubModelEngine {
 public:
  Engine kind() const override { return Std::eCorrelationEngine; }
  const char* name() const override { return "Correlation"; }
  std::unique_ptr<vc_SubModelEngine> fresh() const override {
    return std::make_unique<vc_SubModelCorEngine>();
  }
  std::unique_ptr<vc_SubModelEngine> clone() const override {
    auto c = std::make_unique<vc_SubModelCorEngine>();
    if (model_) c->model_ = std::make_unique<vc_PatCorModel<unsigned char>>(*model_);
    return c;
  }

  bool hasModel() const override { return model_ != nullptr; }
  // A model that exists decides, trained or not (a training that failed part way leaves one).
  bool isTrained(bool trainedFlag) const override {
    return model_ ? model_->isTrained() : trainedFlag;
  }
  void train(const vcFlexSubModel& subModel, const vcFlexSubModelTrainParams& params,
             vcDiagObject* diag) override;
  void run(const vc_SubModelEngineRun& in, vc_SubModelResultSet& results) const override;

  bool sameTraining(const vcFlexSubModelTrainParams& a,
                    const vcFlexSubModelTrainParams& b) const override {
    return corTrain(a) == corTrain(b);
  }
  double searchMargin(const vcFlexSubModelTrainParams& p) const override {
    return vfCorrelationReach(corTrain(p));
  }
  const vc_PatCorModel<unsigned char>* correlationModel() const override { return model_.get(); }

 private:
  std::unique_ptr<vc_PatCorModel<unsigned char>> model_;
};

void vc_SubModelCorEngine::train(const vcFlexSubModel& subModel,
                                 const vcFlexSubModelTrainParams& trainParams, vcDiagObject* diag) {
  switch (subModel.modelType()) {
    case vcFlexModelDefs::eSynthetic:
      throw vcFlexAlignDefs::CanNotTrain("Must use image models in correlation mode");
    case vcFlexModelDefs::eImage:
      break;
    default:
      model_.reset();  // blank: nothing to train
      return;
  }
  const vcFlexSubModelCorTrainParams& params = corTrain(trainParams);
  vc_PatCorTrainParams engine;
  vfConvertCorTrainParams(params, engine);
  try {
    model_.reset();
    model_ = std::make_unique<vc_PatCorModel<unsigned char>>();
    const double g = params.coarseGrainLimit();
    model_->sample(vcPair<double>(g, g));
    model_->train(subModel.image(), subModel.mask(), engine, diag, 0);
  } catch (const vcException& e) {
    throw vcFlexAlignDefs::CanNotTrain(messageOf(e));
  }
}

void vc_SubModelCorEngine::run(const vc_SubModelEngineRun& in,
                               vc_SubModelResultSet& results) const {
  if (!in.trainParams || in.trainParams->engine() != Std::eCorrelationEngine)
    throw vcFlexAlignDefs::InternalError();
  const vcFlexSubModelCorTrainParams* tp = &corTrain(*in.trainParams);
  const auto& params = static_cast<const vcFlexSubModelCorRunParams&>(in.params);
  const vcPelBuffer_const<unsigned char>& image = in.image;
  const vcPelBuffer_const<unsigned char>& mask = in.mask;
  const vc2XformBase& startPose = in.startPose;
  const vcFlexSubModel& subModel = in.subModel;
  vcDiagObject* diag = in.diag;
  const unsigned long diagFlags = in.diagFlags;
  if (subModel.modelType() == vcFlexModelDefs::eBlank) {
    results.addResult(vc_submodtl::blankResult<vcFlexSubModelCorResult>(startPose));
    return;
  }
  if (subModel.modelType() == vcFlexModelDefs::eSynthetic) throw vcFlexAlignDefs::NotImplemented();
  if (!model_) throw vcFlexAlignDefs::InternalError();

  vc_PatCorResultSet found;
  vc_SubModelSearchNote note;
  try {
    vc_PatCorRunParams rp;
    vfConvertCorRunParams(params, in.numToFind, startPose, rp);
    // The window reaches vfCorrelationReach past every pose the zones and uncertainty allow;
    // the engine searches every centre it holds, as Geofind searches its whole window, so that
    // a piece moved a few pixels from where its neighbours predict it is inside its search
    // instead of pinned to the edge of a two-pixel one.
    const long reach = std::max(2L, std::lround(vfCorrelationReach(*tp)));
    rp.uncertainty(vcPair<long>(reach, reach));
    vcPelBuffer_const<unsigned char> window;
    const bool searchable =
        vc_submodtl::runView(image, *tp, params, subModel, startPose, params.xUncertainty(),
                             params.yUncertainty(), true, window, note, diag, diagFlags);
    results.note(note);
    if (!searchable) return;
    // A window the image's border clipped: the piece may reach past the border by what was
    // cut off, and is matched on what lies inside, as Geofind matches the edges inside.
    const vcPelRect& want = note.window;
    const vcPelRect got = window.window();
    if (!want.isNull() && params.partialMatch() == vcPelRect(0, 0, 1, 1)) {
      const long l = std::max(0L, got.x() - want.x()), t = std::max(0L, got.y() - want.y());
      const long r = std::max(0L, (want.x() + want.width()) - (got.x() + got.width()));
      const long b = std::max(0L, (want.y() + want.height()) - (got.y() + got.height()));
      if (l + t + r + b > 0) rp.partialMatch(vcPelRect(l, t, r + 1, b + 1));
    }

    // The model reports poses of the sub-model frame: the frame goes with this run's
    // parameters, so the model itself is left as it is and may serve other threads.
    rp.modelOrigin(linearAtOrigin(*subModel.origin()));
    const vc_PatCorModel<unsigned char>& model = *model_;
    if (mask.isBound()) {
      vcPelBuffer<unsigned char> mapped(window.width(), window.height());
      vcPelBuffer_const<unsigned char> m = mask;
      m.window(window.window());
      // The engine reads 255 as "use" and 1 as "ignore"; anything else the caller marked as
      // partial is ignored as well.
      unsigned char table[256] = {};
      table[0] = 1;
      table[255] = 255;
      vfPelMap(m, mapped, table);
      model.run(window, mapped, rp, found, diag, 0);
    } else {
      model.run(window, rp, found, diag, 0);
    }
  } catch (const vcTimeout::Expired&) {
    throw;
  } catch (const vcFlexAlignDefs::Errors&) {
    throw;
  } catch (const vc_PatCorDefs::BadRange&) {
    throw vcFlexAlignDefs::CanNotRun("Correlation runtime range outside of the trained range.");
  } catch (const vc_PatCorDefs::BadImage&) {
    // The image and mask were checked above: what is left is a window that cannot hold the
    // template, as a window clipped at the image's border may be. Nothing to find there.
    note.outcome = vc_SubModelSearchNote::eWindowTooSmall;
    results.note(note);
    return;
  } catch (const vc_PatCorDefs::BadParams& e) {
    // The caller's settings or start pose, refused by the engine.
    throw vcFlexAlignDefs::BadParams(vc_submodtl::pieceMessage(subModel, e));
  } catch (const vcException& e) {
    throw vcFlexAlignDefs::InternalError(messageOf(e));
  }
  if (!found.success()) return;

  const vcPelBuffer_const<unsigned char>& trainImage = subModel.image();
  const vcXform<2> unitToImage(vcMatrix<2>(static_cast<double>(trainImage.width()), 0.0, 0.0,
                                           static_cast<double>(trainImage.height())),
                               vcVector<2>(static_cast<double>(trainImage.offset().x()),
                                           static_cast<double>(trainImage.offset().y())));
  const vcXform<2> imageFromClient = image.imageFromClientXform();
  for (const vc_PatCorResult& er : found.results()) {
    vcPtrHandle<vcFlexSubModelCorResult> r(new vcFlexSubModelCorResult);
    const vcXform<2> pose = er.pose();
    r->pose(vcPtrHandle_const<vc2XformBase>(new vc2XformLinear(pose)));
    r->score(er.score());
    // A place the image does not decide (another as good, or a peak too flat to place) is
    // handed on, but not as the engine's answer.
    r->accepted(!er.ambiguous());
    r->uncertainty(vc_submodtl::clientCovariance(image, er.positionCovariance()), er.angleSigma(),
                   vc_submodtl::informationShare(er.positionCovariance()) < 0.1);
    // The training image's unit square, into sub-model coordinates, then by the found pose.
    const vcAffineRectangle region(pose * linearAtOrigin(*subModel.originInverse()) *
                                   trainImage.clientFromImageXform() * unitToImage);
    r->matchRegion(region);
    r->imageRegion(region.encloseImageRect(imageFromClient));
    results.addResult(r);
  }
}

}  // namespace

const vc_SubModelEngine& vfCorrelationEngine() {
  static const vc_SubModelCorEngine prototype;
  return prototype;
}
