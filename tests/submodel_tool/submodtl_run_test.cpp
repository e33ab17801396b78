#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "platform/core/vcAngle.h"
#include "tool_scenes.h"
#include "vcFlexErrors.h"
#include "vcSubModelTool.h"

namespace {

using tool_scenes::cornerError;
using tool_scenes::render;
using tool_scenes::rigid;
using Std = vcFlexSubModelParamsDefs;
using Gfnd = vcFlexSubModelGfndDefs;

vcFlexSubModelGfndTrainParams gfndTrain() {
  vcFlexSubModelGfndTrainParams p;
  p.autoSelectGrainLimits(false);
  p.grainLimits(4.0f, 1.0f);
  p.algorithms(Gfnd::eGeorapid | Gfnd::eGeofind);
  return p;
}

vcFlexSubModelGfndRunParams gfndRun(double unc) {
  vcFlexSubModelGfndRunParams p;
  p.algorithm(Gfnd::eGeofind);
  p.xyUncertainty(unc, unc);
  p.acceptThreshold(0.5);
  p.zoneEnable(Std::eAngle);
  p.zoneRelStandard(Std::eAngle, -5.0, 5.0);
  return p;
}

vcFlexSubModelCorTrainParams corTrain() {
  vcFlexSubModelCorTrainParams p;
  p.coarseGrainLimit(2.0);
  return p;
}

vcFlexSubModelCorRunParams corRun(double unc) {
  vcFlexSubModelCorRunParams p;
  p.xyUncertainty(unc, unc);
  p.acceptThreshold(0.5);
  return p;
}

vcXform<2> linear(const vc2XformBase& x) { return x.linearXform({0, 0}).xform(); }

// The best-scoring result's pose.
vcXform<2> bestPose(const vc_SubModelResultSet& rs) {
  double best = -1;
  vcXform<2> pose;
  for (const auto& r : rs.results())
    if (r->score() > best) {
      best = r->score();
      pose = linear(r->pose());
    }
  return pose;
}

// ---- end-to-end finds at a known pose ----

TEST(SubModelToolRun, GeofindFindsImageSubModelAtKnownPose) {
  vc_SubModelTool tool;
  tool.train(vcFlexSubModel(render(100, 80, vcXform<2>()), "p"), gfndTrain());
  const vcXform<2> truth = rigid(3.0, 61.3, 47.6);
  const vcPelBuffer<unsigned char> scene = render(240, 200, truth);
  vc_SubModelResultSet rs;
  tool.run(scene, vc2XformLinear(rigid(1.5, 58.0, 50.0)), gfndRun(12.0), {}, rs);
  ASSERT_GE(rs.numFound(), 1);
  EXPECT_LT(cornerError(bestPose(rs), truth), 0.1);
  EXPECT_TRUE(linear(rs.startPose()) == rigid(1.5, 58.0, 50.0));
  double best = 0;
  for (const auto& r : rs.results()) best = std::max(best, r->score());
  for (const auto& r : rs.results()) EXPECT_GE(r->score(), 0.5);

  // Just above the best score the engine still reports the instance (it reports down to half
  // the threshold), so only the tool's own threshold check leaves the set empty.
  ASSERT_LT(best, 1.0);  // room for a threshold above it
  vcFlexSubModelGfndRunParams strict = gfndRun(12.0);
  strict.acceptThreshold((best + 1.0) / 2);
  vc_SubModelResultSet none;
  tool.run(scene, vc2XformLinear(rigid(1.5, 58.0, 50.0)), strict, {}, none);
  EXPECT_EQ(none.numFound(), 0);
}

TEST(SubModelToolRun, GeofindFindsSyntheticSubModelAtKnownPose) {
  std::vector<vc2Wireframe> shapes;
  for (const vcPolygon& part : tool_scenes::patternParts()) {
    vc2Wireframe w;
    for (const vcVector<2>& v : part.vertices()) w.insertVertex(v, -1, vcRadian(0), vcDimTol());
    w.close(vcRadian(0), vcDimTol());
    shapes.push_back(w);
  }
  vcFlexSubModelGfndTrainParams train = gfndTrain();
  train.ignorePolarity(true);
  vc_SubModelTool tool;
  tool.train(vcFlexSubModel(shapes, vc2XformLinear(), "synthetic"), train);
  const vcXform<2> truth = rigid(-2.0, 70.4, 52.2);
  vc_SubModelResultSet rs;
  tool.run(render(240, 200, truth), vc2XformLinear(rigid(0, 68, 55)), gfndRun(12.0), {}, rs);
  ASSERT_GE(rs.numFound(), 1);
  EXPECT_LT(cornerError(bestPose(rs), truth), 0.25);
}

TEST(SubModelToolRun, CorrelationFindsImageSubModelAtKnownTranslation) {
  vc_SubModelTool tool;
  tool.train(vcFlexSubModel(render(100, 80, vcXform<2>()), "p"), corTrain());
  const vcXform<2> truth = rigid(0, 52.4, 38.7);
  vc_SubModelResultSet rs;
  tool.run(render(220, 180, truth), vc2XformLinear(rigid(0, 55, 36)), corRun(8.0), {}, rs);
  ASSERT_GE(rs.numFound(), 1);
  EXPECT_LT(cornerError(bestPose(rs), truth), 0.2);
  const auto r = rs.results()[0];
  EXPECT_TRUE(r->accepted());
  // The match region is the training image's extent under the found pose.
  EXPECT_NEAR(r->matchRegion().center().distance(bestPose(rs).mapPoint({50, 40})), 0, 0.5);
}

// A piece 5 px from where it was expected, searched with the default uncertainty of 0, is
// inside its search (three coarse grains past the expected pose) and found where it is, not
// at the edge of a two-pixel search; 10 px away it is outside and not reported at all.
TEST(SubModelToolRun, CorrelationPieceMovedAFewPixelsIsInsideItsDefaultSearch) {
  vc_SubModelTool tool;
  tool.train(vcFlexSubModel(render(100, 80, vcXform<2>()), "p"), corTrain());
  const vcXform<2> truth = rigid(0, 62.4, 48.7);
  const vcPelBuffer<unsigned char> scene = render(240, 200, truth);
  vc_SubModelResultSet rs;
  tool.run(scene, vc2XformLinear(rigid(0, 62.4 - 4, 48.7 + 3)), corRun(0.0), {}, rs);
  ASSERT_EQ(rs.numFound(), 1);
  EXPECT_LT(cornerError(bestPose(rs), truth), 0.15);
  tool.run(scene, vc2XformLinear(rigid(0, 62.4 - 10, 48.7)), corRun(0.0), {}, rs);
  EXPECT_EQ(rs.numFound(), 0);
}

TEST(SubModelToolRun, BlankSubModelGivesOneResultAtTheStartPose) {
  const vc2XformLinear start(rigid(10, 5, 7));
  const vcPelBuffer<unsigned char> scene(50, 50);
  for (int kind = 0; kind < 2; ++kind) {
    vc_SubModelTool tool;
    vc_SubModelResultSet rs;
    if (kind == 0) {
      tool.train(vcFlexSubModel(std::string("b")), gfndTrain());
      tool.run(scene, start, gfndRun(3), {{0, 0}}, rs);
      tool.run(scene, start, gfndRun(3), {{0, 0}}, rs);  // a second run replaces the first
    } else {
      tool.train(vcFlexSubModel(std::string("b")), corTrain());
      tool.run(scene, start, corRun(3), {{0, 0}}, rs);
    }
    ASSERT_EQ(rs.numFound(), 1);
    const auto r = rs.results()[0];
    EXPECT_TRUE(r->accepted());
    EXPECT_EQ(r->score(), 1.0);
    EXPECT_TRUE(linear(r->pose()) == start.xform());
  }
}

// ---- input errors ----

TEST(SubModelToolRun, RefusesBadInputs) {
  const vcPelBuffer<unsigned char> scene(60, 60);
  vc_SubModelResultSet rs;
  EXPECT_THROW(vc_SubModelTool().run(scene, vc2XformLinear(), gfndRun(1), {}, rs),
               vcFlexAlignDefs::NotTrained);

  vc_SubModelTool gf;
  gf.train(vcFlexSubModel(render(100, 80, vcXform<2>()), "p"), gfndTrain());
  const auto expectMessage = [&](auto&& call, const std::string& msg) {
    try {
      call();
      ADD_FAILURE() << "no error for: " << msg;
    } catch (const vcFlexAlignDefs::Errors& e) {
      EXPECT_EQ(e.message(false), msg);
    }
  };
  expectMessage([&] { gf.run(vcPelBuffer<unsigned char>(), vc2XformLinear(), gfndRun(1), {}, rs); },
                "The runtime image is unbound");
  expectMessage(
      [&] { gf.run(scene, vcPelBuffer<unsigned char>(), vc2XformLinear(), gfndRun(1), {}, rs); },
      "Mask image has to be bound");
  expectMessage(
      [&] {
        gf.run(scene, vcPelBuffer<unsigned char>(60, 59), vc2XformLinear(), gfndRun(1), {}, rs);
      },
      "Mask image size does not match runtime image");
  expectMessage([&] { gf.run(scene, vc2XformLinear(), corRun(1), {}, rs); },
                "Training/Runtime parameter mismatch.");
  EXPECT_THROW(gf.run(scene, vc2XformLinear(), corRun(1), {}, rs), vcFlexAlignDefs::CanNotRun);

  // A blank tool has no engine to mismatch; its stored parameters decide.
  vc_SubModelTool blank;
  blank.train(vcFlexSubModel(std::string("b")), corTrain());
  EXPECT_THROW(blank.run(scene, vc2XformLinear(), gfndRun(1), {}, rs),
               vcFlexAlignDefs::InternalError);
}

TEST(SubModelToolRun, EngineParameterErrorsAreBadParamsNamingThePiece) {
  // Mistakes in the caller's settings that only the engine can see are the caller's to fix:
  // BadParams with the engine's rule and the sub-model's name, not an internal error.
  const vcFlexSubModel sm(render(100, 80, vcXform<2>()), "latch");
  const vcPelBuffer<unsigned char> scene = render(240, 200, rigid(0.0, 60.0, 50.0));
  vc_SubModelResultSet rs;
  const auto expectBadParams = [&](const vc_SubModelTool& tool, const vcXform<2>& start,
                                   const vcFlexSubModelRunParams& rp, const std::string& msg) {
    try {
      tool.run(scene, vc2XformLinear(start), rp, {}, rs);
      ADD_FAILURE() << "no error for: " << msg;
    } catch (const vcFlexAlignDefs::BadParams& e) {
      EXPECT_EQ(e.message(false), msg);
    } catch (const vcException& e) {
      ADD_FAILURE() << "wrong error for: " << msg << ": " << e.messageText();
    }
  };
  vc_SubModelTool gf;
  gf.train(sm, gfndTrain());
  vcFlexSubModelGfndRunParams wide = gfndRun(5);
  wide.zoneEnable(Std::eAngle | Std::eUniformScale);
  wide.zoneRelStandard(Std::eUniformScale, -0.95, 10.0);
  expectBadParams(gf, rigid(0.0, 60.0, 50.0), wide,
                  "Sub-model \"latch\": Illegal range for DOF Scale: spans more than a factor "
                  "of 16");
  vc_SubModelTool cor;
  cor.train(sm, corTrain());
  const vcXform<2> tiny(vcMatrix<2>(1e-4, 0, 0, 1e-4), vcVector<2>(60, 50));
  expectBadParams(cor, tiny, corRun(5),
                  "Sub-model \"latch\": The start pose must be finite, with scales in [0.001, "
                  "1000] and a translation within 1e6");
}

// ---- distortion-derived ranges ----

// A 40 x 20 image sub-model: centre (20, 10), corners 22.36 from it, 20 and 10 off in x and y.
vcFlexSubModel rect40x20() {
  vcPelBuffer<unsigned char> img(40, 20);
  for (long y = 5; y < 15; ++y)
    for (long x = 10; x < 30; ++x) img.set(x, y, 200);
  return vcFlexSubModel(img, "r");
}

TEST(SubModelToolDistortion, RangesFollowTheMappedRectangle) {
  const vcFlexSubModel sm = rect40x20();
  const double r = std::hypot(20.0, 10.0);
  for (double scale : {1.0, 2.0}) {
    const vc2XformLinear pose(vcMatrix<2>(scale, 0, 0, scale), {7, -3});
    const double d = 2.0;
    const vcRange rot = vc_SubModelTool::rotationRange(d, sm, pose);
    // The chord of length d on a circle of radius R subtends 2 asin(d / 2R).
    const double t = 2 * std::asin(d / (2 * r * scale)) * vcDegPerRad;
    EXPECT_NEAR(rot.start(), -t, 1e-9);
    EXPECT_NEAR(rot.end(), t, 1e-9);
    const vcRange us = vc_SubModelTool::uScaleRange(d, sm, pose);
    EXPECT_NEAR(us.start(), 1 - d / (r * scale), 1e-12);
    EXPECT_NEAR(us.end(), 1 + d / (r * scale), 1e-12);
    const vcRange xs = vc_SubModelTool::xScaleRange(d, sm, pose);
    EXPECT_NEAR(xs.start(), 1 - d / (20 * scale), 1e-12);
    EXPECT_NEAR(xs.end(), 1 + d / (20 * scale), 1e-12);
    const vcRange ys = vc_SubModelTool::yScaleRange(d, sm, pose);
    EXPECT_NEAR(ys.start(), 1 - d / (10 * scale), 1e-12);
    EXPECT_NEAR(ys.end(), 1 + d / (10 * scale), 1e-12);
    EXPECT_EQ(vc_SubModelTool::aspectRange(d, sm, pose), ys);
    const vcRange sk = vc_SubModelTool::skewRange(d, sm, pose);
    EXPECT_NEAR(sk.end(), std::atan(d / (10 * scale)) * vcDegPerRad, 1e-9);
    EXPECT_NEAR(sk.start(), -sk.end(), 1e-12);
  }
}

TEST(SubModelToolDistortion, TooLargeForTheSubModel) {
  const vcFlexSubModel sm = rect40x20();
  const vc2XformLinear id;
  // The short side is 20 long: it must be at least 2d.
  EXPECT_TRUE(vc_SubModelTool::isDistortionValid(10.0, sm, id));
  EXPECT_FALSE(vc_SubModelTool::isDistortionValid(10.01, sm, id));
  EXPECT_THROW(vc_SubModelTool::rotationRange(10.5, sm, id),
               vcFlexAlignDefs::DistortionRateTooLarge);
  EXPECT_THROW(vc_SubModelTool::skewRange(10.5, sm, id), vcFlexAlignDefs::DistortionRateTooLarge);
  // Shrinking the pose shrinks what fits.
  EXPECT_FALSE(vc_SubModelTool::isDistortionValid(
      6.0, sm, vc2XformLinear(vcMatrix<2>(0.5, 0, 0, 0.5), {0, 0})));

  // Reached through a run: a far point and a large rate.
  vc_SubModelTool tool;
  tool.train(sm, gfndTrain());
  vcFlexSubModelGfndRunParams p = gfndRun(2);
  p.distortionRate(0.5);
  vc_SubModelResultSet rs;
  EXPECT_THROW(tool.run(vcPelBuffer<unsigned char>(80, 60), id, p, {{20, 60}}, rs),
               vcFlexAlignDefs::DistortionRateTooLarge);
  // The start pose and an emptied list are already in place.
  EXPECT_EQ(rs.numFound(), 0);
}

TEST(SubModelToolDistortion, DistortionWidensOnlyEnabledRanges) {
  const vcFlexSubModel sm = rect40x20();
  vc_SubModelTool tool;
  tool.train(sm, gfndTrain());
  const vc2XformLinear id;
  vcFlexSubModelGfndRunParams p = gfndRun(2);  // angle enabled, +-5 degrees
  p.zoneEnable(Std::eAngle | Std::eXScale);
  p.distortionRate(0.1);
  // Nearest point 20 from the centre (20, 10): distortion 2.
  const std::vector<vcVector<2>> pts = {{20, 40}, {20, -10}, {120, 10}};
  EXPECT_NEAR(tool.computeDistortion(id, p, pts), 2.0, 1e-12);
  EXPECT_EQ(tool.computeDistortion(id, p, {}), 0.0);
  vcFlexSubModelGfndRunParams zero = p;
  zero.distortionRate(0.0);
  EXPECT_EQ(tool.computeDistortion(id, zero, pts), 0.0);

  const auto eff = tool.applyDistortionToDOFs(2.0, id, p);
  const auto& g = dynamic_cast<const vcFlexSubModelGfndRunParams&>(*eff);
  EXPECT_EQ(g.distortionRate(), 0.0);
  EXPECT_EQ(p.distortionRate(), 0.1);  // the caller's parameters are untouched
  const double t = vc_SubModelTool::rotationRange(2.0, sm, id).end();
  EXPECT_NEAR(g.zoneLowRelStandard(Std::eAngle), -5.0 - t, 1e-12);
  EXPECT_NEAR(g.zoneHighRelStandard(Std::eAngle), 5.0 + t, 1e-12);
  // x scale: default offsets (-0.2, 0.2) widened by the factors 0.9 and 1.1.
  EXPECT_NEAR(g.zoneLowRelStandard(Std::eXScale), 0.8 * 0.9 - 1, 1e-12);
  EXPECT_NEAR(g.zoneHighRelStandard(Std::eXScale), 1.2 * 1.1 - 1, 1e-12);
  // Disabled DOFs keep their ranges.
  EXPECT_EQ(g.zoneLowRelStandard(Std::eUniformScale), p.zoneLowRelStandard(Std::eUniformScale));
  EXPECT_EQ(g.zoneHighRelStandard(Std::eYScale), p.zoneHighRelStandard(Std::eYScale));

  vcFlexSubModelCorRunParams c = corRun(2);
  c.zoneEnable(Std::eAngle);
  const auto effCor = tool.applyDistortionToDOFs(2.0, id, c);
  const auto& gc = dynamic_cast<const vcFlexSubModelCorRunParams&>(*effCor);
  EXPECT_NEAR(gc.zoneHighRelStandard(Std::eAngle), c.zoneHighRelStandard(Std::eAngle) + t, 1e-12);
  EXPECT_EQ(gc.zoneHighRelStandard(Std::eUniformScale), c.zoneHighRelStandard(Std::eUniformScale));

  vc_SubModelGfndRunParams custom;
  custom.dofMode(Gfnd::eCustom);
  EXPECT_THROW(tool.applyDistortionToDOFs(2.0, id, custom), vcFlexAlignDefs::WrongDOFMode);
}

// ---- search window ----

TEST(SubModelToolWindow, WindowIsTheSweptRectanglePaddedAndClipped) {
  const vcFlexSubModel sm = rect40x20();
  const vcPelBuffer<unsigned char> scene(200, 100);
  vcFlexSubModelGfndRunParams p;  // nothing enabled: translation only
  p.xyUncertainty(5, 3);
  // Margin = twice the coarse grain (4) = 8, larger than either uncertainty.
  EXPECT_EQ(vfSubModelSearchWindow(scene, gfndTrain(), p, sm, rigid(0, 50, 60)),
            vcPelRect(42, 52, 56, 36));
  p.xyUncertainty(12, 3);
  EXPECT_EQ(vfSubModelSearchWindow(scene, gfndTrain(), p, sm, rigid(0, 50, 20.5)),
            vcPelRect(38, 12, 64, 37));
  // Clipped to the image.
  EXPECT_EQ(vfSubModelSearchWindow(scene, gfndTrain(), p, sm, rigid(0, 170, 85)),
            vcPelRect(158, 77, 42, 23));
  // Enabled ranges widen it: a full turn about the sub-model origin (the rectangle's corner)
  // sweeps the circle through the far corner.
  p.xyUncertainty(0, 0);
  p.zoneEnable(Std::eAngle);
  p.zoneRelStandard(Std::eAngle, -180, 180);
  const double r = std::hypot(40.0, 20.0) + 8;
  const long x0 = static_cast<long>(std::floor(80 - r)), y0 = 0;  // clipped at the top
  const long x1 = static_cast<long>(std::ceil(80 + r)), y1 = static_cast<long>(std::ceil(30 + r));
  EXPECT_EQ(vfSubModelSearchWindow(scene, gfndTrain(), p, sm, rigid(0, 80, 30)),
            vcPelRect(x0, y0, x1 - x0, y1 - y0));
}

}  // namespace

// A start pose near the border leaves a window of one or two pixels, or none: no candidate,
// and the note says which, never an engine exception.
TEST(SubModelToolWindow, TooSmallOrOutsideWindowsGiveNoCandidateWithEitherEngine) {
  const vcPelBuffer<unsigned char> scene = render(240, 200, rigid(0, 60, 50));
  for (bool geofind : {true, false}) {
    vc_SubModelTool tool;
    if (geofind)
      tool.train(vcFlexSubModel(render(100, 80, vcXform<2>()), "p"), gfndTrain());
    else
      tool.train(vcFlexSubModel(render(100, 80, vcXform<2>()), "p"), corTrain());
    auto params = [&](double unc) -> vcPtrHandle<vcFlexSubModelRunParams> {
      if (geofind) return gfndRun(unc).clone();
      return corRun(unc).clone();
    };
    const vcPtrHandle<vcFlexSubModelRunParams> held = params(2.0);
    const vcFlexSubModelRunParams& run = *held;
    // A start pose whose window reaches one or two pixels into the image at its right edge.
    double x = 200;
    while (vfSubModelSearchWindow(scene, *tool.trainParams(), run, tool.subModel(), rigid(0, x, 50))
               .width() >= vc_SubModelTool::kMinSearchSize)
      x += 1;
    ASSERT_GT(
        vfSubModelSearchWindow(scene, *tool.trainParams(), run, tool.subModel(), rigid(0, x, 50))
            .width(),
        0);
    vc_SubModelResultSet rs;
    EXPECT_NO_THROW(tool.run(scene, vc2XformLinear(rigid(0, x, 50)), run, {}, rs));
    EXPECT_EQ(rs.numFound(), 0);
    EXPECT_EQ(rs.note().outcome, vc_SubModelSearchNote::eWindowTooSmall) << geofind;
    EXPECT_LT(rs.note().window.x(), 240);
    EXPECT_GT(rs.note().window.x() + rs.note().window.width(), 240);
    // Wider, but too narrow to hold the template: the correlation engine matches the part of
    // a piece inside the image, as Geofind does, and finds nothing there.
    EXPECT_NO_THROW(tool.run(scene, vc2XformLinear(rigid(0, x - 40, 50)), run, {}, rs));
    EXPECT_EQ(rs.note().outcome, vc_SubModelSearchNote::eSearched);
    EXPECT_EQ(rs.numFound(), 0);
    tool.run(scene, vc2XformLinear(rigid(0, 400, 50)), run, {}, rs);
    EXPECT_EQ(rs.note().outcome, vc_SubModelSearchNote::eWindowOutsideImage);
    EXPECT_GE(rs.note().window.x(), 240);
    // An image smaller than the uncertainty is searched whole; two pixels wide it cannot be.
    vcPelBuffer_const<unsigned char> sliver = scene;
    sliver.window(vcPelRect(100, 0, 2, 200));
    EXPECT_NO_THROW(tool.run(sliver, vc2XformLinear(rigid(0, 60, 50)), *params(1e6), {}, rs));
    EXPECT_EQ(rs.note().outcome, vc_SubModelSearchNote::eWindowTooSmall);
  }
}
