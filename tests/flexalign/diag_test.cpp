#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "platform/diag/vcDiag.h"
#include "tools/testing/vcFlexSample.h"
#include "vcFlexAlignTool.h"

namespace {

using FD = vcFlexAlignDefs;

struct Fixture {
  vcFlexSample sample = vfMakeFlexSample();
  vcFlexAlignPattern pattern;
  vcFlexSampleImage image;
  vcFlexAlignRunParams params;

  Fixture() {
    pattern.train(sample.arrangement, vfFlexSampleTrainParams(sample));
    vcFlexSampleOptions opt;
    opt.partPose = vfFlexSamplePose(sample, 5.0, 1.0, 10, -6);
    image = vfRenderFlexSample(sample, opt);
    vcFlexSubModelGfndRunParams sub;
    sub.xyUncertainty(6, 6);
    sub.zoneEnable(vcFlexSubModelParamsDefs::eAngle);
    sub.zoneRelStandard(vcFlexSubModelParamsDefs::eAngle, -4, 4);
    params = vcFlexAlignRunParams(sub);
    params.runStrategy(FD::eLocallyFixturedSubModels);
    params.xyUncertainty(30, 30);
    params.zoneEnable(FD::eAngle);
    params.zoneRelStandard(FD::eAngle, -10, 10);
  }
  vcFlexAlignResultSet run(vcDiagObject* diag, unsigned long flags) const {
    vcFlexAlignResultSet rs;
    pattern.run(image.image, vc2XformLinear(vfFlexSamplePose(sample, 0, 1)), {{320, 240}}, params,
                rs, diag, flags);
    return rs;
  }
};

const Fixture& fixture() {
  static const Fixture f;
  return f;
}

std::set<std::string> titles(const vcDiagObject& d) {
  std::set<std::string> t;
  for (long i = 0; i < d.numRecords(); ++i) t.insert(d.diagRecord(i).annotation());
  return t;
}

const vcDiagRecord* find(const vcDiagObject& d, const std::string& title) {
  for (long i = 0; i < d.numRecords(); ++i)
    if (d.diagRecord(i).annotation() == title) return &d.diagRecord(i);
  return nullptr;
}

std::vector<std::string> itemNames(const vcDiagRecord& r) {
  std::vector<std::string> n;
  for (const auto& it : r.items()) n.push_back(it.name);
  return n;
}

void expectSameXform(const vc2XformBase& a, const vc2XformBase& b) {
  const vcXform<2> x = a.linearXform({0, 0}).xform(), y = b.linearXform({0, 0}).xform();
  EXPECT_EQ(x.matrix()(0, 0), y.matrix()(0, 0));
  EXPECT_EQ(x.matrix()(0, 1), y.matrix()(0, 1));
  EXPECT_EQ(x.matrix()(1, 0), y.matrix()(1, 0));
  EXPECT_EQ(x.matrix()(1, 1), y.matrix()(1, 1));
  EXPECT_EQ(x.trans().x(), y.trans().x());
  EXPECT_EQ(x.trans().y(), y.trans().y());
}

TEST(FlexAlignDiag, EachFlagWritesOnlyItsKindOfRecord) {
  const Fixture& f = fixture();
  vcDiagObject inputs, outputs, intermediate, none;
  f.run(&inputs, 0x10000);
  f.run(&outputs, 0x20000);
  f.run(&intermediate, 0x40000);
  f.run(&none, 0);
  f.run(nullptr, 0x70000);
  EXPECT_EQ(none.numRecords(), 0);

  const std::set<std::string> in = titles(inputs), out = titles(outputs),
                              mid = titles(intermediate);
  for (const char* t :
       {"FlexAlign Tool Run Inputs", "FlexAlign Params", "Details", "Sub-Model Tool Run"}) {
    EXPECT_TRUE(in.count(t)) << t;
    EXPECT_FALSE(out.count(t) || mid.count(t)) << t;
  }
  for (const char* t : {"FlexAlign Tool Run Outputs", "Sub-Model Tool Run Outputs"}) {
    EXPECT_TRUE(out.count(t)) << t;
    EXPECT_FALSE(in.count(t) || mid.count(t)) << t;
  }
  EXPECT_TRUE(mid.count("Independent DOFs"));
  EXPECT_TRUE(mid.count("Sub-Model Tool Internal Diagnostics (ROI)"));
  EXPECT_FALSE(in.count("Independent DOFs") || out.count("Independent DOFs"));
  for (const vcDiagObject* d : {&inputs, &outputs, &intermediate}) EXPECT_EQ(d->level(), 0);
}

TEST(FlexAlignDiag, RunRecordsCarryTheirNamedItemsAndOutputsSitBesideInputs) {
  const Fixture& f = fixture();
  vcDiagObject diag;
  const vcFlexAlignResultSet rs = f.run(&diag, 0x70000);
  ASSERT_GE(rs.results().size(), 1u);
  const vcDiagRecord* in = find(diag, "FlexAlign Tool Run Inputs");
  const vcDiagRecord* out = find(diag, "FlexAlign Tool Run Outputs");
  ASSERT_TRUE(in && out);
  EXPECT_EQ(in->level(), out->level());
  EXPECT_TRUE(in->hasImage() && out->hasImage());
  EXPECT_EQ(itemNames(*in),
            (std::vector<std::string>{"Fixtures", "Arrangement Bounding Box at the Start Pose"}));
  EXPECT_EQ(in->item(0).graphics.size(), 1);  // one fixture point

  std::vector<std::string> expected = {"Status", "Run Time"};
  for (std::size_t i = 0; i < rs.results().size(); ++i) {
    expected.push_back("Arrangement Bounding Box - Result #" + std::to_string(i));
    expected.push_back("Sub-Model Bounding Boxes - Result #" + std::to_string(i));
  }
  expected.push_back("Results");
  EXPECT_EQ(itemNames(*out), expected);
  EXPECT_EQ(out->findText("Status")->text, "Run SUCCESSFULLY.");
  EXPECT_EQ(out->findText("Run Time")->text.rfind("Run Time: ", 0), 0u);
  EXPECT_EQ(out->findText("Results")->text, "Results Set:\n" + rs.toDebugString());
  EXPECT_FALSE(out->item(3).graphics.empty());  // the found pieces of result 0

  const vcDiagRecord* params = find(diag, "FlexAlign Params");
  ASSERT_NE(params, nullptr);
  EXPECT_EQ(params->level(), in->level() + 1);
  EXPECT_EQ(params->findText("FlexAlign Params")->text,
            "FlexAlign Run Params\n" + f.params.toDebugString());
  EXPECT_NE(params->findText("   Sub-Model Params (default)"), nullptr);
}

TEST(FlexAlignDiag, RecordingNeverChangesTheResults) {
  const Fixture& f = fixture();
  const vcFlexAlignResultSet plain = f.run(nullptr, 0);
  vcDiagObject diag;
  const vcFlexAlignResultSet recorded = f.run(&diag, 0xFFFFFFFFul);
  ASSERT_GT(diag.numRecords(), 10);
  ASSERT_EQ(plain.results().size(), recorded.results().size());
  ASSERT_GE(plain.results().size(), 1u);
  for (std::size_t i = 0; i < plain.results().size(); ++i) {
    const vcFlexAlignResult &a = plain.results()[i], &b = recorded.results()[i];
    EXPECT_EQ(a.found(), b.found());
    EXPECT_EQ(a.score(), b.score());
    EXPECT_EQ(a.infoStrings(), b.infoStrings());
    EXPECT_EQ(a.positionIndices(), b.positionIndices());
    expectSameXform(a.pose(), b.pose());
    ASSERT_EQ(a.subModelResults().size(), b.subModelResults().size());
    for (std::size_t k = 0; k < a.subModelResults().size(); ++k) {
      EXPECT_EQ(a.subModelResults()[k]->score(), b.subModelResults()[k]->score());
      expectSameXform(a.subModelResults()[k]->pose(), b.subModelResults()[k]->pose());
    }
  }
}

TEST(FlexAlignDiag, DebugTextsKeepTheirLayout) {
  const std::string ind(10, ' ');
  vcFlexAlignRunParams p;
  const std::string s = p.toDebugString();
  // Every line is indented; enum literals end their own line.
  std::size_t start = 0;
  while (start < s.size()) {
    EXPECT_EQ(s.compare(start, 10, ind), 0) << s.substr(start, 40);
    start = s.find('\n', start) + 1;
  }
  EXPECT_EQ(s.rfind(ind + "numToFind = 1\n" + ind + "finalFitMode = vcFlexAlignDefs::e", 0), 0u);
  for (const std::string line :
       {"runStrategy = vcFlexAlignDefs::eIndependentSubModels\n",
        "runOrderMode = vcFlexAlignDefs::eAutomaticOrdering\n", "runOrder = Not specified\n",
        "dofMode = vcFlexAlignDefs::eStandard\n", "zoneEnable = \n", "zone(s): \n",
        "zoneOverlap = \n", "xyUncertaintyMode = \n"})
    EXPECT_NE(s.find("\n" + ind + line), std::string::npos) << line;
  EXPECT_LT(s.find("zoneOverlap"), s.find("acceptThreshold = "));

  const vcFlexAlignResultSet rs = fixture().run(nullptr, 0);
  const std::string t = rs.toDebugString();
  EXPECT_EQ(t.rfind(ind + "time = ", 0), 0u);
  EXPECT_NE(t.find("\n" + ind + "numFound = " + std::to_string(rs.numFound()) + "\n"),
            std::string::npos);
  const std::string r0 = rs.results()[0].toDebugString();
  EXPECT_NE(t.find("\n   Result #0\n" + r0), std::string::npos);
  EXPECT_EQ(r0.rfind(ind + "location = (", 0), 0u);
  for (const char* label : {"pose = \n", "angle = ", "xScale = ", "yScale = ", "score = "})
    EXPECT_NE(r0.find("\n" + ind + label), std::string::npos) << label;
  EXPECT_NE(r0.find("\n           Sub-Model #"), std::string::npos);
}

}  // namespace
