#include <gtest/gtest.h>

#include <cmath>

#include "tool_scenes.h"
#include "vcSubModelTool.h"

// A sub-model whose origin is not the identity: poses are reported for the origin frame, and
// the match region still lies over the found pattern in the run image, for both engines.
namespace {

using tool_scenes::render;
using tool_scenes::rigid;
using Std = vcFlexSubModelParamsDefs;

// Where the match region's corners are against where the training image's corners landed.
double regionError(const vcAffineRectangle& r, const vcXform<2>& truth) {
  const vcVector<2> want[4] = {truth.mapPoint({0, 0}), truth.mapPoint({100, 0}),
                               truth.mapPoint({100, 80}), truth.mapPoint({0, 80})};
  const vcVector<2> got[4] = {r.ul(), r.ur(), r.lr(), r.ll()};
  double e = 0;
  for (int k = 0; k < 4; ++k) e = std::max(e, got[k].distance(want[k]));
  return e;
}

void expectOverPattern(const vc_SubModelResultSet& rs, const vcXform<2>& truth,
                       const vcXform<2>& origin) {
  ASSERT_GE(rs.numFound(), 1);
  const vcFlexSubModelResult& r = *rs.results()[0];
  // The pose maps the origin frame; the training image's corners go through the origin.
  const vcXform<2> pose = r.pose().linearXform({0, 0}).xform();
  const vcVector<2> centre = (pose * origin.inverse()).mapPoint({50, 40});
  EXPECT_LT(centre.distance(truth.mapPoint({50, 40})), 0.3);
  EXPECT_LT(regionError(r.matchRegion(), truth), 1.0);
  // The image region holds the match region (the engines place pixel edges half a pixel
  // apart, so within half a pixel).
  const vcPelRect& box = r.imageRegion();
  const vcAffineRectangle& m = r.matchRegion();
  for (const vcVector<2>& c : {m.ul(), m.ur(), m.lr(), m.ll()}) {
    EXPECT_GE(c.x(), box.x() - 0.5);
    EXPECT_LE(c.x(), box.x() + box.width() + 0.5);
    EXPECT_GE(c.y(), box.y() - 0.5);
    EXPECT_LE(c.y(), box.y() + box.height() + 0.5);
  }
}

TEST(SubModelToolOrigin, MatchRegionLiesOverTheFoundPatternWithEitherEngine) {
  const vcXform<2> origin = rigid(20.0, 7.0, -5.0);
  vcFlexSubModel sm(render(100, 80, vcXform<2>()), "p");
  sm.origin(vc2XformLinear(origin));

  // Geofind: turned and moved.
  {
    vcFlexSubModelGfndTrainParams tp;
    tp.autoSelectGrainLimits(false);
    tp.grainLimits(4.0f, 1.0f);
    vc_SubModelTool tool;
    tool.train(sm, tp);
    const vcXform<2> truth = rigid(12.0, 60.4, 50.2);
    const vcPelBuffer<unsigned char> scene = render(240, 200, truth);
    vcFlexSubModelGfndRunParams rp;
    rp.xyUncertainty(8, 8);
    rp.zoneEnable(Std::eAngle);
    rp.zoneRelStandard(Std::eAngle, -5.0, 5.0);
    vc_SubModelResultSet rs;
    tool.run(scene, vc2XformLinear(rigid(10.0, 57.0, 53.0) * origin), rp, {}, rs);
    expectOverPattern(rs, truth, origin);
  }
  // Correlation: moved only (the engine searches no turn here).
  {
    vcFlexSubModelCorTrainParams tp;
    tp.coarseGrainLimit(2.0);
    vc_SubModelTool tool;
    tool.train(sm, tp);
    const vcXform<2> truth = rigid(0.0, 61.0, 47.0);
    const vcPelBuffer<unsigned char> scene = render(240, 200, truth);
    vcFlexSubModelCorRunParams rp;
    rp.xyUncertainty(10, 10);
    vc_SubModelResultSet rs;
    tool.run(scene, vc2XformLinear(rigid(0.0, 56.0, 50.0) * origin), rp, {}, rs);
    expectOverPattern(rs, truth, origin);
  }
}

}  // namespace
