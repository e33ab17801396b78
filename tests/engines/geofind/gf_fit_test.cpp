// The least-squares fit on level 0: the edge search along a normal finds a drawn edge at its
// sub-pixel place and polarity, and Gauss-Newton brings a pose started a pixel and a degree
// off onto the sub-pixel shift, turn and scale the plate was drawn at.
#include <gtest/gtest.h>

#include <cmath>

#include "support/geofind_scene.h"

namespace gf_fit_test {

using namespace vc_gfrun;

// An edge from grey 40 to 200 at x = e, softened by the renderer's blur of 1 px (with its
// pixel filter, a Gaussian of deviation sqrt(1.25)). Interpolating the gradient linearly
// between pixels skews its profile by the edge's phase on the pixel grid: the edge is found up
// to 0.04 px off (none at phases 0 and 1/2, most near 1/4).
TEST(GeofindFit, EdgeSearchFindsTheSubPixelEdgeAndItsPolarity) {
  const double e = 50.3, sigma = std::sqrt(1.25);
  vcSamplePattern pat;
  pat.background = 40;
  pat.halfSize = 200;
  pat.shapes.push_back(vfSamplePolygon({{e, -100}, {200, -100}, {200, 200}, {e, 200}}, 200));
  vcSampleRender r;
  r.width = 100, r.height = 60;
  const auto img = vfRenderSample(pat, vcXform<2>(), r);
  vcGfScene::Scene s(vcGfScene::lPlate(), 0, 1, 1, 0, 0);
  const std::vector<LevelImage> pyr = s.open(img);
  Grad g;
  gradientOf(pyr[0], pyr[0].win, g);
  const EdgeProbe E = EdgeProbe::within(g, pyr[0].win);
  // Sobel / 8 across the edge is the half difference of the pixels either side: its peak is
  // 160 (Phi(1 / sigma) - Phi(-1 / sigma)) / 2; interpolating between pixels lowers it a little.
  const double peak = 80 * std::erf(1 / (sigma * std::sqrt(2.0)));
  double t, mag;
  for (double x : {47.0, 47.25, 47.5, 47.8}) {
    ASSERT_TRUE(findEdge(E, x, 30, 1, 0, 4, false, 10, 16, t, mag)) << x;
    EXPECT_NEAR(t, e - x, 0.045) << x;
    EXPECT_NEAR(mag, peak, 0.1 * peak) << x;
    // Along the opposite normal the edge falls from bright to dark: found only when polarity
    // is ignored.
    EXPECT_FALSE(findEdge(E, 2 * e - x, 30, -1, 0, 4, false, 10, 16, t, mag)) << x;
    ASSERT_TRUE(findEdge(E, 2 * e - x, 30, -1, 0, 4, true, 10, 16, t, mag)) << x;
    EXPECT_NEAR(t, e - x, 0.045) << x;
    // Out of reach, or weaker than the threshold: no edge.
    EXPECT_FALSE(findEdge(E, x - 6, 30, 1, 0, 4, false, 10, 16, t, mag)) << x;
    EXPECT_FALSE(findEdge(E, x, 30, 1, 0, 4, false, 2.5 * peak, 16, t, mag)) << x;
  }
}

// Drawn without noise, each edge point is found to within the 0.04 px of the interpolation's
// phase error (grey levels rounded to whole ones add far less against an edge of 160). Edges of
// one direction share their phase, so the centroid may keep that error along each axis (0.057
// px at most); turn and scale, which the points' errors of either sign average out, are good to
// 0.05 px at the plate's rim.
TEST(GeofindFit, LevelZeroFitRecoversSubPixelShiftTurnAndScale) {
  vcGfScene::Scene s(vcGfScene::lPlate(), 0, 0.9, 1.1, -30, 30);
  struct Case {
    Pose truth, start;
  } cases[] = {{s.pose(1, 0, {120.37, 95.81}), s.pose(1, 0, {120, 96})},
               {s.pose(1.027, 7.3, {121.6, 94.2}), s.pose(1, 6, {121, 95})},
               {s.pose(0.962, -11.65, {118.45, 97.1}), s.pose(0.98, -10.5, {119.2, 96.5})}};
  for (const Case& c : cases) {
    vcSampleRender r;
    r.width = 240, r.height = 190;
    const auto img = vfRenderSample(
        vcGfScene::lPlate(), s.xform(c.truth.v[0], c.truth.v[1], {c.truth.tx, c.truth.ty}), r);
    const std::vector<LevelImage> pyr = s.open(img);
    Pose p = c.start;
    Grad scratch;
    FitStats st;
    refine(s.P, s.lv[0], pyr[0], 0, s.tune.rankIterations, s.tune.captureAfterTracking, p, scratch,
           &st);
    refine(s.P, s.lv[0], pyr[0], 0, s.tune.fineIterations, s.tune.fineCapture, p, scratch, &st);
    const double rim = s.lv[0].rim;
    EXPECT_LT(s.centre(p).distance(s.centre(c.truth)), 0.075);
    EXPECT_LT(std::fabs(p.v[1] - c.truth.v[1]) * vcPi / 180 * rim, 0.05);
    EXPECT_LT(std::fabs(p.v[0] / c.truth.v[0] - 1) * rim, 0.05);
    // Every point has its edge, straight along its normal, close to where it lies.
    EXPECT_TRUE(st.converged);
    EXPECT_EQ(st.matched, s.lv[0].size());
    EXPECT_DOUBLE_EQ(st.coverage, 1.0);
    EXPECT_GT(st.score, 0.99);
    EXPECT_LT(st.fitError, 0.05);
  }
}

}  // namespace gf_fit_test
