#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engines/geofind/vcGFAlign.h"
#include "platform/core/vcArchive.h"
#include "tool_scenes.h"
#include "vcFlexErrors.h"
#include "vcSubModelTool.h"

namespace {

using tool_scenes::render;

vcFlexSubModel imageSubModel() { return vcFlexSubModel(render(100, 80, vcXform<2>()), "pattern"); }

vcFlexSubModelGfndTrainParams gfndParams(float coarse = 4.0f) {
  vcFlexSubModelGfndTrainParams p;
  p.autoSelectGrainLimits(false);
  p.grainLimits(coarse, 1.0f);
  p.algorithms(vcFlexSubModelGfndDefs::eGeorapid | vcFlexSubModelGfndDefs::eGeofind);
  return p;
}

vcFlexSubModelCorTrainParams corParams() {
  vcFlexSubModelCorTrainParams p;
  p.coarseGrainLimit(2.0);
  return p;
}

// Training parameters of neither engine kind.
class OtherTrainParams : public vcFlexSubModelTrainParams {
 public:
  vcPtrHandle<vcFlexSubModelTrainParams> clone() const override { return new OtherTrainParams; }
  bool equal(const vcFlexSubModelTrainParams& o) const override {
    return dynamic_cast<const OtherTrainParams*>(&o) != nullptr;
  }
  void dispatchSerialize(vcArchive&) override {}
};

TEST(SubModelToolTrain, BlankSubModelTrainsNoEngineWithEitherKind) {
  for (int kind = 0; kind < 2; ++kind) {
    vc_SubModelTool tool;
    EXPECT_FALSE(tool.isTrained());
    if (kind == 0)
      tool.train(vcFlexSubModel(std::string("blank")), gfndParams());
    else
      tool.train(vcFlexSubModel(std::string("blank")), corParams());
    EXPECT_TRUE(tool.isTrained());
    EXPECT_EQ(tool.geofindPattern(), nullptr);
    EXPECT_EQ(tool.correlationModel(), nullptr);
    EXPECT_EQ(tool.subModel().name(), "blank");
  }
}

TEST(SubModelToolTrain, EngineFollowsParameterTypeAndEqualRetrainKeepsIt) {
  const vcFlexSubModel sm = imageSubModel();
  vc_SubModelTool tool;
  tool.train(sm, gfndParams());
  ASSERT_TRUE(tool.isTrained());
  const vcGFAlignPattern* pattern = tool.geofindPattern();
  ASSERT_NE(pattern, nullptr);
  EXPECT_EQ(tool.correlationModel(), nullptr);
  EXPECT_TRUE(pattern->isTrained());
  EXPECT_GE(tool.trainTime(), 0.0);

  // Equal inputs (a different but equal parameter object and sub-model copy): kept. A marker
  // on the engine object tells it from a fresh one that happens to reuse its address.
  const_cast<vcGFAlignPattern*>(pattern)->origin({7, 7});
  const vcFlexSubModel copy = sm;
  tool.train(copy, gfndParams());
  ASSERT_EQ(tool.geofindPattern(), pattern);
  EXPECT_EQ(tool.geofindPattern()->origin(), vcVector<2>(7, 7));

  // Other parameters retrain and are stored.
  tool.train(sm, gfndParams(6.0f));
  EXPECT_TRUE(tool.trainParams()->equal(gfndParams(6.0f)));
  EXPECT_FALSE(tool.trainParams()->equal(gfndParams()));

  // Switching kind replaces the engine: at most one exists.
  tool.train(sm, corParams());
  EXPECT_EQ(tool.geofindPattern(), nullptr);
  ASSERT_NE(tool.correlationModel(), nullptr);
  EXPECT_TRUE(tool.isTrained());
  EXPECT_TRUE(tool.trainParams()->equal(corParams()));
}

TEST(SubModelToolTrain, FailuresLeaveTheToolAsItWas) {
  vc_SubModelTool tool;
  EXPECT_THROW(tool.train(imageSubModel(), OtherTrainParams()), vcFlexAlignDefs::InternalError);
  EXPECT_FALSE(tool.isTrained());

  std::vector<vc2Wireframe> shapes(1);
  shapes[0].insertVertex({10, 10}, -1, vcRadian(0), vcDimTol());
  shapes[0].insertVertex({50, 10}, -1, vcRadian(0), vcDimTol());
  shapes[0].insertVertex({50, 40}, -1, vcRadian(0), vcDimTol());
  shapes[0].close(vcRadian(0), vcDimTol());
  const vcFlexSubModel synthetic(shapes, vc2XformLinear(), "synthetic");
  tool.train(vcFlexSubModel(std::string("kept")), gfndParams());
  try {
    tool.train(synthetic, corParams());
    ADD_FAILURE() << "correlation trained a synthetic sub-model";
  } catch (const vcFlexAlignDefs::CanNotTrain& e) {
    EXPECT_EQ(e.message(false), "Must use image models in correlation mode");
  }
  EXPECT_TRUE(tool.isTrained());
  EXPECT_EQ(tool.subModel().name(), "kept");
  EXPECT_TRUE(tool.trainParams()->equal(gfndParams()));
}

TEST(SubModelToolTrain, CopyHasItsOwnEngineAndComparesEqual) {
  vc_SubModelTool gf;
  gf.train(imageSubModel(), gfndParams());
  const vc_SubModelTool gfCopy(gf);
  ASSERT_NE(gfCopy.geofindPattern(), nullptr);
  EXPECT_NE(gfCopy.geofindPattern(), gf.geofindPattern());
  EXPECT_TRUE(gfCopy.isTrained());
  EXPECT_TRUE(gfCopy == gf);

  vc_SubModelTool cor;
  cor.train(imageSubModel(), corParams());
  vc_SubModelTool corCopy;
  corCopy = cor;
  ASSERT_NE(corCopy.correlationModel(), nullptr);
  EXPECT_NE(corCopy.correlationModel(), cor.correlationModel());
  EXPECT_TRUE(corCopy == cor);
  // Equal settings through the private class are the same training.
  vc_SubModelCorTrainParams priv;
  priv.coarseGrainLimit(2.0);
  vc_SubModelTool corPriv;
  corPriv.train(imageSubModel(), priv);
  EXPECT_TRUE(corPriv == cor);
  priv.stepSizes(vcFlexSubModelParamsDefs::eAngle, 4.0, 1.0);
  corPriv.train(imageSubModel(), priv);
  EXPECT_FALSE(corPriv == cor);

  // Different kinds, parameters, sub-models or trained states differ.
  EXPECT_FALSE(gf == cor);
  vc_SubModelTool other;
  other.train(imageSubModel(), gfndParams(6.0f));
  EXPECT_FALSE(other == gf);
  vc_SubModelTool renamed;
  renamed.train(vcFlexSubModel(render(100, 80, vcXform<2>()), "other name"), gfndParams());
  EXPECT_FALSE(renamed == gf);
  EXPECT_FALSE(vc_SubModelTool() == gf);
  EXPECT_TRUE(vc_SubModelTool() == vc_SubModelTool());
}

// The best result of a Geofind tool run about the pattern's own place in its training render.
vcXform<2> runPose(const vc_SubModelTool& tool) {
  vcFlexSubModelGfndRunParams run;
  run.xyUncertainty(8, 8);
  vc_SubModelResultSet rs;
  tool.run(render(100, 80, vcXform<2>()), vc2XformLinear(), run, {}, rs);
  EXPECT_GT(rs.numFound(), 0);
  return rs.numFound() > 0 ? rs.results()[0]->pose().linearXform({0, 0}).xform() : vcXform<2>();
}

TEST(SubModelToolTrain, ArchiveHoldsTheGeofindModelAndOldArchivesRetrain) {
  for (int kind = 0; kind < 2; ++kind) {
    vc_SubModelTool tool;
    if (kind == 0)
      tool.train(imageSubModel(), gfndParams());
    else
      tool.train(imageSubModel(), corParams());
    vcArchive out;
    out || tool;
    vcArchive in(out.bytes());
    vc_SubModelTool loaded;
    in || loaded;
    EXPECT_TRUE(loaded.isTrained());
    EXPECT_TRUE(loaded == tool);
    EXPECT_EQ(loaded.geofindPattern() != nullptr, kind == 0);
    EXPECT_EQ(loaded.correlationModel() != nullptr, kind == 1);
    // A Geofind model is read, not trained again (which would time itself anew), and runs as
    // the stored one did.
    if (kind == 0) {
      EXPECT_EQ(loaded.trainTime(), tool.trainTime());
      EXPECT_EQ(runPose(loaded), runPose(tool));
    }
  }

  // Version 0 held the parameters and the sub-model only: the tool trains on loading.
  vc_SubModelTool trained;
  trained.train(imageSubModel(), gfndParams());
  vcFlexSubModelTrainParams* params = trained.trainParams().ptr();
  vcFlexSubModel subModel = imageSubModel();
  vcArchive v0;
  unsigned char zero = 0;
  v0 || zero;
  serializePointer(v0, nullptr, params);
  v0 || subModel;
  vcArchive in0(v0.bytes());
  vc_SubModelTool old;
  in0 || old;
  EXPECT_TRUE(old.isTrained());
  EXPECT_TRUE(old == trained);
  EXPECT_EQ(runPose(old), runPose(trained));

  // An unknown version byte is refused.
  vcArchive out;
  out || trained;
  std::vector<std::uint8_t> bytes = out.bytes();
  bytes[0] = 2;
  vcArchive in(bytes);
  vc_SubModelTool target;
  EXPECT_THROW(in || target, vcArchive::UnknownVersion);
  EXPECT_FALSE(target.isTrained());
}

TEST(SubModelToolTrain, ArchivedGeofindModelMustBeTheOneItsParametersTrain) {
  // A tool archive whose model was trained with another polarity setting than its parameters
  // say: a run would use a model the file does not describe, so it is refused.
  vcFlexSubModelTrainParams* params = new vcFlexSubModelGfndTrainParams(gfndParams());
  vcPtrHandle<vcFlexSubModelTrainParams> owner(params);
  vcFlexSubModel subModel = imageSubModel();
  vcGFAlignPattern other;
  other.ignorePolarity(true);
  other.autoSelectGrainLimits(false);
  other.grainLimits(4.0f, 1.0f);
  other.train(subModel.image(), 2, nullptr, 0);
  vcArchive out;
  unsigned char version = 1, engine = 1;
  bool trained = true;
  double time = 0.0;
  out || version;
  serializePointer(out, nullptr, params);
  out || subModel || trained || time || engine || other;
  vcArchive in(out.bytes());
  vc_SubModelTool tool;
  EXPECT_THROW(in || tool, vcArchive::BadData);
  EXPECT_FALSE(tool.isTrained());
}

}  // namespace
