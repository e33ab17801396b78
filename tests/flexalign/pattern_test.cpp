#include <gtest/gtest.h>

#include "platform/diag/vcDiag.h"
#include "support/archive_check.h"
#include "tools/testing/vcSampleImages.h"
#include "vcFlexAlignTool.h"

namespace {

using Xf = vcPtrHandle_const<vc2XformBase>;

Xf shift(double x, double y) { return new vc2XformLinear(vcMatrix<2>(), vcVector<2>(x, y)); }

vcFlexSubModel imageSubModel(const vcSamplePattern& pat, const std::string& name) {
  vcSampleRender opt;
  opt.width = opt.height = 96;
  const vcXform<2> pose(vcMatrix<2>(0.6, 0, 0, 0.6), vcVector<2>(48, 48));
  return vcFlexSubModel(vfRenderSample(pat, pose, opt), name);
}

vcFlexSubModelCorTrainParams cor(double grain) {
  vcFlexSubModelCorTrainParams p;
  p.coarseGrainLimit(grain);
  return p;
}

// Sub-model A placed three times, B once, a blank once.
vcFlexArrangement part(double dx = 0.0) {
  std::vector<vcFlexSubModel> subs = {imageSubModel(vfSampleAsymmetricPattern(), "A"),
                                      imageSubModel(vfSampleSquarePattern(), "B"),
                                      vcFlexSubModel(std::string("blank"))};
  return vcFlexArrangement(
      subs, {0, 1, 0, 0, 2},
      {shift(0, 0), shift(120 + dx, 0), shift(0, 110), shift(130, 120), shift(60, 60)});
}

template <class E>
void expectMessage(const std::function<void()>& f, const std::string& text) {
  try {
    f();
    ADD_FAILURE() << "no exception, expected: " << text;
  } catch (const E& e) {
    EXPECT_EQ(e.message(), text);
  }
}

TEST(FlexAlignPattern, InstancesSharingSubModelAndParametersShareATool) {
  vcFlexAlignTrainParams tp(cor(2.0));
  tp.custom(3, cor(3.0));  // the third placement of A gets its own tool
  vcFlexAlignPattern pat;
  EXPECT_FALSE(pat.isTrained());
  pat.train(part(), tp);
  ASSERT_TRUE(pat.isTrained());
  // Tools by sub-model, then by parameter set: A-standard, A-custom, B, blank.
  EXPECT_EQ(pat.tools().size(), 4u);
  EXPECT_EQ(pat.instanceToTool(), (std::vector<long>{0, 2, 0, 1, 3}));
  EXPECT_EQ(pat.tools()[1].subModel().name(), "A");
  EXPECT_TRUE(pat.tools()[1].trainParams()->equal(cor(3.0)));
  EXPECT_EQ(pat.tools()[2].subModel().name(), "B");
  for (const vc_SubModelTool& t : pat.tools()) EXPECT_TRUE(t.isTrained());
  EXPECT_TRUE(pat.arrangement() == part());
  EXPECT_TRUE(pat.trainParams() == tp);

  // A second training appends its tools; the map follows the new ones.
  pat.train(part(), vcFlexAlignTrainParams(cor(2.0)));
  EXPECT_EQ(pat.tools().size(), 7u);
  EXPECT_EQ(pat.instanceToTool(), (std::vector<long>{4, 5, 4, 4, 6}));
}

TEST(FlexAlignPattern, BadArrangementsAreRefusedAndKeepAnEarlierTraining) {
  vcFlexAlignPattern pat;
  const vcFlexAlignTrainParams tp(cor(2.0));
  pat.train(part(), tp);
  const vcFlexAlignPattern before(pat);
  const vcFlexSubModel blank(std::string("blank"));
  using Bad = vcFlexAlignDefs::BadArrangement;
  expectMessage<Bad>([&] { pat.train(vcFlexArrangement(), tp); },
                     "Arrangement contains no sub-models.");
  expectMessage<Bad>(
      [&] { pat.train(vcFlexArrangement({blank}, std::vector<long>{}, std::vector<Xf>{}), tp); },
      "No sub-model instances are specified within an arrangement.");
  expectMessage<Bad>(
      [&] {
        pat.train(vcFlexArrangement({blank, imageSubModel(vfSampleSquarePattern(), "unused")},
                                    std::vector<long>{0, 0}, {shift(0, 0), shift(5, 5)}),
                  tp);
      },
      "Arrangement contains no non-Blank sub-models.");
  EXPECT_TRUE(pat == before);
  EXPECT_TRUE(pat.isTrained());

  vcFlexAlignPattern fresh;
  expectMessage<vcFlexAlignDefs::NotTrained>([&] { fresh.retrain(part()); },
                                             "Cannot retrain an untrained tool.");
  expectMessage<vcFlexAlignDefs::BadParams>(
      [&] { vcFlexAlignPatternHelper::maxRecursionDepth(fresh, -1); },
      "Recursion depth must be >= 0");
  vcFlexAlignPatternHelper::maxRecursionDepth(fresh, 0);
  EXPECT_EQ(vcFlexAlignPatternHelper::maxRecursionDepth(fresh), 0);
}

TEST(FlexAlignPattern, RetrainKeepsToolsWhenOnlyPosesMoved) {
  vcFlexAlignPattern pat;
  vcFlexAlignTrainParams tp(cor(2.0));
  tp.custom(2, cor(3.0));
  pat.train(part(), tp);
  const vc_PatCorModel<unsigned char>* engine = pat.tools()[0].correlationModel();
  pat.retrain(part(4.0));
  EXPECT_EQ(pat.tools().size(), 4u);
  EXPECT_EQ(pat.tools()[0].correlationModel(), engine);
  EXPECT_TRUE(pat.arrangement() == part(4.0));

  // A changed sub-model trains anew with the stored parameters, custom entry included.
  vcFlexArrangement changed = part();
  changed.addSubModel(imageSubModel(vfSampleCirclePattern(), "C"), {shift(200, 200)});
  pat.retrain(changed);
  EXPECT_EQ(pat.tools().size(), 9u);
  EXPECT_TRUE(pat.tools()[pat.instanceToTool()[2]].trainParams()->equal(cor(3.0)));
  EXPECT_TRUE(pat.trainParams() == tp);
  pat.untrain();
  EXPECT_FALSE(pat.isTrained());
}

TEST(FlexAlignPattern, ArchivedPatternLoadsEqualAndTrained) {
  vcFlexAlignPattern pat;
  vcFlexAlignTrainParams tp(cor(2.0));
  vcFlexSubModelGfndTrainParams g;
  g.autoSelectGrainLimits(false);
  g.grainLimits(4.0f, 1.0f);
  tp.custom(1, g);
  pat.train(part(), tp);
  vcFlexAlignPatternHelper::maxRecursionDepth(pat, 2);
  const vcTest::Bytes bytes = vcTest::storeBytes(pat);
  vcFlexAlignPattern back;
  EXPECT_EQ(vcTest::loadBytes(bytes, back), 0u);
  EXPECT_TRUE(back == pat);
  EXPECT_TRUE(back.isTrained());
  EXPECT_NE(back.tools()[back.instanceToTool()[1]].geofindPattern(), nullptr);
  EXPECT_EQ(vcFlexAlignPatternHelper::maxRecursionDepth(back), 2);

  // Damaged copies fail cleanly and leave the target as it was.
  const vcFlexAlignPattern empty;
  for (std::size_t cut : {std::size_t{1}, std::size_t{40}, bytes.size() / 2, bytes.size() - 5}) {
    vcFlexAlignPattern t;
    EXPECT_THROW(vcTest::loadBytes(vcTest::Bytes(bytes.begin(), bytes.begin() + cut), t),
                 vcException);
    EXPECT_TRUE(t == empty);
  }
  vcTest::Bytes wrongMap = bytes;
  wrongMap[bytes.size() - 10] = 0x7f;  // an instance-to-tool entry that names no tool
  vcFlexAlignPattern t;
  EXPECT_THROW(vcTest::loadBytes(wrongMap, t), vcArchive::BadData);
  EXPECT_TRUE(t == empty);
}

TEST(FlexAlignPattern, TrainRecordsInputsAndOutputsAtTheSameLevel) {
  vcDiagObject diag;
  const unsigned long flags = 0x10000 | 0x20000;
  vcFlexAlignPattern pat;
  vcFlexAlignTrainParams tp(cor(2.0));
  tp.custom(2, cor(3.0));
  pat.train(part(), tp, &diag, flags);
  ASSERT_GE(diag.numRecords(), 3);
  const vcDiagRecord& in = diag.diagRecord(0);
  EXPECT_EQ(in.annotation(), "FlexAlign Tool Train Inputs");
  ASSERT_NE(in.findText("   Sub-Model Params (for sub-model #2)"), nullptr);
  EXPECT_EQ(diag.diagRecord(1).annotation(), "Details");
  EXPECT_EQ(diag.diagRecord(1).level(), in.level() + 1);
  const vcDiagRecord& out = diag.diagRecord(diag.numRecords() - 1);
  EXPECT_EQ(out.annotation(), "FlexAlign Tool Train Outputs");
  EXPECT_EQ(out.level(), in.level());
  EXPECT_EQ(out.findText("Status")->text, "Trained SUCCESSFULLY.");

  diag.clear();
  EXPECT_THROW(pat.train(vcFlexArrangement(), tp, &diag, flags), vcFlexAlignDefs::BadArrangement);
  const vcDiagRecord& failed = diag.diagRecord(diag.numRecords() - 1);
  EXPECT_EQ(failed.findText("Status")->text, "Training FAILED.");
  ASSERT_NE(failed.findText("Exception Data"), nullptr);
  EXPECT_NE(failed.findText("Exception Data")->text.find("vcFlexAlignPattern::train threw  "),
            std::string::npos);
  EXPECT_EQ(diag.level(), 0);
}

}  // namespace
