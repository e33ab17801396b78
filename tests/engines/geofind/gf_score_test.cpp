// Scoring and clutter on level 0, on a pattern of four equal squares, each a quarter of the
// model's edge weight: the score is the share of that weight whose edges the image shows (with
// their polarity, unless it is ignored), and the clutter the share whose edges are missing
// while an edge of the same direction runs a little beside them.
#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "support/geofind_scene.h"

namespace gf_score_test {

using namespace vc_gfrun;

// Squares of side 20 centred at (+-25, +-25) on grey 120: a negative grey leaves one out, and
// `grow` widens one by so many pixels on every side.
vcSamplePattern squares(std::array<double, 4> grey, std::array<double, 4> grow = {}) {
  vcSamplePattern p;
  p.background = 120;
  p.halfSize = 60;
  for (int i = 0; i < 4; ++i) {
    if (grey[i] < 0) continue;
    const double cx = i % 2 ? 25 : -25, cy = i / 2 ? 25 : -25, h = 10 + grow[i];
    p.shapes.push_back(vfSamplePolygon(
        {{cx - h, cy - h}, {cx + h, cy - h}, {cx + h, cy + h}, {cx - h, cy + h}}, grey[i]));
  }
  return p;
}

struct FourSquares {
  // The scene drawn with `pat` at the model's true pose; its measured candidate.
  Found measure(const vcSamplePattern& pat, bool ignorePolarity = false, bool useClutter = true) {
    vcSampleRender r;
    r.width = 200, r.height = 180;
    pyr = s.open(vfRenderSample(pat, s.xform(1, 8.5, {truth.tx, truth.ty}), r));
    s.P.ignorePolarity = ignorePolarity;
    vcGFAlignRunParams rp;
    rp.scoreUsingClutter(useClutter);
    const std::vector<Found> found =
        scoreCandidates(s.P, s.lv, vcXform<2>(), pyr[0], 0, 1, rp, {truth});
    EXPECT_EQ(found.size(), 1u);
    return found.empty() ? Found() : found[0];
  }
  double clutter(const vcSamplePattern& pat) {
    measure(pat);
    Grad g;
    return clutterOf(s.P, s.lv[0], pyr[0], truth, g);
  }
  vcGfScene::Scene s{squares({200, 200, 200, 200}), 0, 1, 1, 8.5, 8.5};
  const Pose truth = s.pose(1, 8.5, {100.4, 90.7});
  std::vector<LevelImage> pyr;
};

// Each matched point scores the cosine between its normal and the image edge, about 1 here.
TEST(GeofindScore, ScoreIsTheShareOfTheEdgesShown) {
  FourSquares sc;
  const Found all = sc.measure(squares({200, 200, 200, 200}));
  EXPECT_GT(all.score, 0.98);
  EXPECT_LT(all.clutter, 0.01);
  EXPECT_LT(sc.s.centre(all.p).distance(sc.s.centre(sc.truth)), 0.1);
  for (int missing = 1; missing <= 3; ++missing) {
    std::array<double, 4> grey = {200, 200, 200, 200};
    for (int i = 0; i < missing; ++i) grey[std::size_t(3 - i)] = -1;
    const Found f = sc.measure(squares(grey));
    EXPECT_NEAR(f.score, (4 - missing) / 4.0, 0.02) << missing << " missing";
    EXPECT_NEAR(f.st.coverage, (4 - missing) / 4.0, 0.02) << missing << " missing";
    EXPECT_LT(f.clutter, 0.01) << missing << " missing";
  }
}

// Squares darker than the background have their edges the other way round.
TEST(GeofindScore, ReversedEdgesCountOnlyWhenPolarityIsIgnored) {
  FourSquares sc;
  EXPECT_NEAR(sc.measure(squares({200, 40, 200, 40})).score, 0.5, 0.02);
  EXPECT_NEAR(sc.measure(squares({200, 40, 200, 40}), true).score, 1.0, 0.02);
  EXPECT_LT(sc.measure(squares({40, 40, 40, 40})).score, 0.02);
  EXPECT_NEAR(sc.measure(squares({40, 40, 40, 40}), true).score, 1.0, 0.02);
}

// A square drawn 2.5 px wider than the model's misses its edges by more than the match band
// and less than the near-miss distance: its quarter of the weight is clutter. Drawn 6 px wider,
// or left out, it says nothing about the pose. With scoreUsingClutter the score pays
// clutterWeight for each share of clutter.
TEST(GeofindScore, ClutterGrowsWithEdgesBesideTheMissedOnes) {
  FourSquares sc;
  const std::array<double, 4> plain = {200, 200, 200, 200};
  EXPECT_NEAR(sc.clutter(squares(plain, {2.5, 0, 0, 0})), 0.25, 0.02);
  EXPECT_NEAR(sc.clutter(squares(plain, {2.5, 0, 0, 2.5})), 0.5, 0.02);
  EXPECT_NEAR(sc.clutter(squares(plain, {2.5, 2.5, 2.5, 0})), 0.75, 0.02);
  EXPECT_LT(sc.clutter(squares(plain, {6, 0, 0, 0})), 0.01);
  EXPECT_LT(sc.clutter(squares({-1, 200, 200, 200})), 0.01);
  // Edges that cross the model's at 45 degrees, within the near-miss distance of the square's
  // points: a diamond in its place, its corners beyond that distance. Only the few points
  // beside its corners, where its gradient turns through their normal's direction, may count.
  vcSamplePattern crossed = squares({-1, 200, 200, 200});
  crossed.shapes.push_back(vfSamplePolygon({{-40, -25}, {-25, -40}, {-10, -25}, {-25, -10}}, 200));
  EXPECT_LT(sc.clutter(crossed), 0.05);

  const Found counted = sc.measure(squares(plain, {2.5, 0, 0, 0}));
  EXPECT_NEAR(counted.clutter, 0.25, 0.02);
  EXPECT_NEAR(counted.score, 0.75 - sc.s.tune.clutterWeight * 0.25, 0.02);
  EXPECT_NEAR(sc.measure(squares(plain, {2.5, 0, 0, 0}), false, false).score, 0.75, 0.02);
}

}  // namespace gf_score_test
