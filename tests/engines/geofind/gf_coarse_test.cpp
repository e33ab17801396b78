// The coarse search on the top level: two copies of a plate among other shapes, over the full
// turn. Each copy must lead a place of its own at its drawn pose, to within what the coarse
// grid resolves, and the peaks that one copy leaves on neighbouring poses must not come back
// as candidates of their own.
#include <gtest/gtest.h>

#include <cmath>

#include "support/geofind_scene.h"

namespace gf_coarse_test {

using namespace vc_gfrun;

struct TwoPlates {
  TwoPlates() {
    vcSamplePattern pat = vcGfScene::placed(
        vcGfScene::lPlate(), {s.xform(1, truth[0].v[1], {truth[0].tx, truth[0].ty}),
                              s.xform(1, truth[1].v[1], {truth[1].tx, truth[1].ty})});
    // Shapes that are not the plate: a disc, a triangle, a bar.
    pat.shapes.push_back(vfSampleCircle({165, 28}, 12, 150));
    pat.shapes.push_back(vfSamplePolygon({{140, 200}, {190, 215}, {150, 232}}, 230));
    pat.shapes.push_back(vfSamplePolygon({{280, 190}, {312, 190}, {312, 200}, {280, 200}}, 120));
    vcSampleRender r;
    r.width = 320, r.height = 240;
    r.noiseSigma = 4;
    image = vfRenderSample(pat, vcXform<2>(), r);
    pyr = s.open(image);
    grid = coarseGrid(s.P, s.lv[2], 2);
  }
  vcGfScene::Scene s{vcGfScene::lPlate(), 2, 1, 1, -180, 180};
  const Pose truth[2] = {s.pose(1, 23, {96.4, 118.7}), s.pose(1, -140, {228.2, 110.3})};
  vcPelBuffer<unsigned char> image;
  std::vector<LevelImage> pyr;
  DofGrid grid;

  // The grid's nearest angle lies within half a step of the truth, and the 3 x 3 spread of the
  // orientation maps lets a peak stand a step and a level pixel (f = 4) off it besides the
  // half pixel of rounding.
  void expectAt(const Cand& c, const Pose& t) const {
    const vcVector<2> at = s.centre(t, 2);
    EXPECT_LE(circDiff(c.v[1], t.v[1], 360), grid.steps[1] * 1.01);
    EXPECT_LE(std::fabs(c.cx - at.x()), 1.5 * 4);
    EXPECT_LE(std::fabs(c.cy - at.y()), 1.5 * 4);
    // The origin follows the centroid, turned about it by the angle's error.
    const double turn = s.lv[2].centroid.len() * circDiff(c.v[1], t.v[1], 360) * vcPi / 180 + 1e-6;
    EXPECT_NEAR(c.x - t.tx, c.cx - at.x(), turn);
    EXPECT_NEAR(c.y - t.ty, c.cy - at.y(), turn);
  }
};

TEST(GeofindCoarse, EachCopyLeadsItsPlaceAndItsNeighboursAreSuppressed) {
  TwoPlates sc;
  const std::vector<Cand> cands = coarseSearch(sc.s.P, sc.s.lv[2], sc.pyr[2], 2, sc.grid, 0.5, 12);
  ASSERT_GE(cands.size(), 2u);
  // The two plates are the two strongest places, in either order.
  std::vector<const Cand*> places;
  for (const Cand& c : cands)
    if (c.placeBest) places.push_back(&c);
  ASSERT_GE(places.size(), 2u);
  for (const Pose& t : sc.truth) {
    const vcVector<2> at = sc.s.centre(t, 2);
    const Cand* lead = nullptr;
    for (const Cand* p : {places[0], places[1]})
      if (std::hypot(p->cx - at.x(), p->cy - at.y()) < 1.5 * 4 * std::sqrt(2.0)) lead = p;
    ASSERT_NE(lead, nullptr) << "no place at " << at.x() << "," << at.y();
    sc.expectAt(*lead, t);
    EXPECT_GT(lead->score, 0.8);  // every edge of the plate is there
    // Closer than suppressOfRim of the plate's radius (beyond it one rival may stand) every
    // candidate is a variant of the one place, and no two of them are neighbouring grid poses.
    std::vector<const Cand*> near;
    for (const Cand& c : cands)
      if (std::hypot(c.cx - at.x(), c.cy - at.y()) < 0.3 * sc.s.lv[0].rim) near.push_back(&c);
    int leads = 0;
    for (std::size_t i = 0; i < near.size(); ++i) {
      leads += near[i]->placeBest;
      for (std::size_t j = 0; j < i; ++j)
        EXPECT_GT(circDiff(near[i]->v[1], near[j]->v[1], 360),
                  sc.s.tune.suppressSteps * sc.grid.steps[1]);
    }
    EXPECT_EQ(leads, 1);
  }
}

// A prediction's search scores only the origins its box allows (to the level pixel its scan
// rounds to), and finds the copy inside it.
TEST(GeofindCoarse, LocalSearchFindsThePredictedCopyInsideItsBox) {
  TwoPlates sc;
  const Prediction box{sc.truth[1].tx + 3, sc.truth[1].ty - 2, 6, 6};
  const std::vector<Cand> cands = localSearch(sc.s.P, sc.s.lv[2], sc.pyr[2], 2, sc.grid, box, 12);
  ASSERT_FALSE(cands.empty());
  sc.expectAt(cands.front(), sc.truth[1]);
  for (const Cand& c : cands) {
    EXPECT_LE(std::fabs(c.x - box.tx), box.ex + 4);
    EXPECT_LE(std::fabs(c.y - box.ty), box.ey + 4);
  }
}

}  // namespace gf_coarse_test
