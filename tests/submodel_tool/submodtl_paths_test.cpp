#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "engines/geofind/vcGFAlign.h"
#include "platform/diag/vcDiag.h"
#include "tool_scenes.h"
#include "vcFlexErrors.h"
#include "vcSubModelTool.h"

// Run paths of the sub-model tool that the end-to-end finds do not pass through.
namespace {

using tool_scenes::render;
using tool_scenes::rigid;
using Std = vcFlexSubModelParamsDefs;
using Gfnd = vcFlexSubModelGfndDefs;

const vcXform<2> kTruth = rigid(0.0, 70.0, 60.0);

vc_SubModelTool geofindTool(unsigned long algorithms = Gfnd::eGeorapid | Gfnd::eGeofind) {
  vcFlexSubModelGfndTrainParams p;
  p.autoSelectGrainLimits(false);
  p.grainLimits(4.0f, 1.0f);
  p.algorithms(algorithms);
  vc_SubModelTool tool;
  tool.train(vcFlexSubModel(render(100, 80, vcXform<2>()), "p"), p);
  return tool;
}

vc_SubModelTool correlationTool() {
  vcFlexSubModelCorTrainParams p;
  p.coarseGrainLimit(2.0);
  vc_SubModelTool tool;
  tool.train(vcFlexSubModel(render(100, 80, vcXform<2>()), "p"), p);
  return tool;
}

// A mask over the scene: `inside` over the pattern's box, 255 elsewhere.
vcPelBuffer<unsigned char> maskOver(const vcPelBuffer<unsigned char>& scene, unsigned char inside) {
  vcPelBuffer<unsigned char> m(scene.width(), scene.height());
  for (long y = 0; y < m.height(); ++y)
    for (long x = 0; x < m.width(); ++x)
      m.set(x, y, x >= 70 && x < 170 && y >= 60 && y < 140 ? inside : 255);
  return m;
}

double bestScore(const vc_SubModelResultSet& rs) {
  double best = 0;
  for (const auto& r : rs.results()) best = std::max(best, r->score());
  return best;
}

TEST(SubModelToolPaths, MasksHideWhatTheyCoverWithEitherEngine) {
  const vcPelBuffer<unsigned char> scene = render(260, 220, kTruth);
  const vc2XformLinear start(rigid(0.0, 66.0, 63.0));
  vcFlexSubModelGfndRunParams g;
  g.xyUncertainty(10, 10);
  vcFlexSubModelCorRunParams c;
  c.xyUncertainty(10, 10);
  const vc_SubModelTool gf = geofindTool(), cor = correlationTool();
  for (int engine = 0; engine < 2; ++engine) {
    const vc_SubModelTool& tool = engine ? cor : gf;
    const vcFlexSubModelRunParams& rp = engine ? static_cast<const vcFlexSubModelRunParams&>(c) : g;
    vc_SubModelResultSet open, hidden, partial;
    tool.run(scene, maskOver(scene, 255), start, rp, {}, open);
    tool.run(scene, maskOver(scene, 0), start, rp, {}, hidden);
    ASSERT_GE(open.numFound(), 1) << "engine " << engine;
    EXPECT_GT(bestScore(open), 0.9);
    EXPECT_LT(bestScore(hidden), 0.5) << "engine " << engine;
    // For the correlation engine only 255 means "use": a partial value hides the pixel too.
    if (engine) {
      tool.run(scene, maskOver(scene, 128), start, rp, {}, partial);
      EXPECT_LT(bestScore(partial), 0.5);
    }
  }
}

TEST(SubModelToolPaths, EngineRangeErrorAndTrainAlgorithm) {
  // The correlation model was trained without an angle zone: a run asking for one is refused.
  const vc_SubModelTool cor = correlationTool();
  vcFlexSubModelCorRunParams c;
  c.zoneEnable(Std::eAngle);
  c.zoneRelStandard(Std::eAngle, -10, 10);
  vc_SubModelResultSet rs;
  try {
    cor.run(render(260, 220, kTruth), vc2XformLinear(kTruth), c, {}, rs);
    ADD_FAILURE() << "no exception";
  } catch (const vcFlexAlignDefs::CanNotRun& e) {
    EXPECT_EQ(e.message(), "Correlation runtime range outside of the trained range.");
  }
  // The fast algorithm alone trains the coarse stage only; with the fine one, both.
  EXPECT_EQ(geofindTool(Gfnd::eGeorapid).geofindPattern()->trainedAlgorithm(), 1);
  EXPECT_EQ(geofindTool(Gfnd::eGeofind).geofindPattern()->trainedAlgorithm(), 2);
  EXPECT_EQ(geofindTool().geofindPattern()->trainedAlgorithm(), 2);
}

TEST(SubModelToolPaths, MatchInfoAndTheWholeImageRule) {
  const vc_SubModelTool gf = geofindTool();
  const vcPelBuffer<unsigned char> scene = render(260, 220, kTruth);
  vcFlexSubModelGfndRunParams g;
  g.xyUncertainty(10, 10);
  vc_SubModelResultSet rs;
  gf.run(scene, vc2XformLinear(kTruth), g, {}, rs);
  ASSERT_GE(rs.numFound(), 1);
  EXPECT_EQ(dynamic_cast<const vcFlexSubModelGfndResult&>(*rs.results()[0]).matchInfo(), nullptr);
  g.saveMatchInfo(true);
  gf.run(scene, vc2XformLinear(kTruth), g, {}, rs);
  const auto& withInfo = dynamic_cast<const vcFlexSubModelGfndResult&>(*rs.results()[0]);
  ASSERT_NE(withInfo.matchInfo(), nullptr);
  EXPECT_EQ(withInfo.matchInfo()->score(), withInfo.score());

  // An uncertainty as large as the image searches it whole for Geofind (no window record);
  // the correlation engine needs it strictly larger.
  const unsigned long flags = 0x40000;
  auto windowRecords = [&](const vc_SubModelTool& tool, const vcFlexSubModelRunParams& rp) {
    vcDiagObject diag;
    vc_SubModelResultSet out;
    tool.run(scene, vc2XformLinear(kTruth), rp, {}, out, &diag, flags);
    int n = 0;
    for (long i = 0; i < diag.numRecords(); ++i)
      n += diag.diagRecord(i).annotation() == "Sub-Model Tool Internal Diagnostics (ROI)";
    return n;
  };
  g.xyUncertainty(260, 220);
  EXPECT_EQ(windowRecords(gf, g), 0);
  g.xyUncertainty(259, 220);
  EXPECT_EQ(windowRecords(gf, g), 1);
  vcFlexSubModelCorRunParams c;
  c.xyUncertainty(260, 220);
  EXPECT_EQ(windowRecords(correlationTool(), c), 1);
  c.xyUncertainty(261, 221);
  EXPECT_EQ(windowRecords(correlationTool(), c), 0);
}

// The advanced DOF set sweeps skew, which the standard set does not have: turning the y axis by
// up to 45 degrees moves the rectangle's top-left corner (0, 20) to (-14.1, 14.1). The sweep
// bounds the poses independently of the order the engine composes them in, so the window may
// be larger than the skewed rectangles, but must hold them and stay near them.
TEST(SubModelToolPaths, AdvancedModeWindowsHoldTheSkewRange) {
  vcPelBuffer<unsigned char> img(40, 20);
  for (long y = 5; y < 15; ++y)
    for (long x = 10; x < 30; ++x) img.set(x, y, 200);
  const vcFlexSubModel sm(img, "r");
  vcFlexSubModelGfndTrainParams tp;
  tp.autoSelectGrainLimits(false);
  tp.grainLimits(4.0f, 1.0f);  // margin: twice the coarse grain
  const vcPelBuffer<unsigned char> scene(300, 200);
  vcFlexSubModelGfndRunParams p;
  p.dofMode(Gfnd::eAdvanced);
  const vcPelRect plain = vfSubModelSearchWindow(scene, tp, p, sm, rigid(0, 120, 80));
  EXPECT_EQ(plain, vcPelRect(112, 72, 56, 36));
  p.zoneEnable(Std::eSkew);
  p.zoneRelAdvanced(Std::eSkew, 0.0, 45.0);
  const vcPelRect w = vfSubModelSearchWindow(scene, tp, p, sm, rigid(0, 120, 80));
  const double left = 120 - 20 * std::sqrt(0.5) - 8;
  EXPECT_LE(w.x(), left);
  EXPECT_LE(w.y(), 72);
  EXPECT_GE(w.x() + w.width(), 168);
  EXPECT_GE(w.y() + w.height(), 108);
  // Within the circle the rectangle's far corner sweeps, widened by the skew's stretch.
  EXPECT_LE(w.width(), 2 * (1.5 * std::hypot(40.0, 20.0) + 8) + 2);
}

}  // namespace
