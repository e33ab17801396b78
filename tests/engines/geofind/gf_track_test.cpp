// Tracking down the pyramid: poses started where the coarse grid leaves them (a few pixels, a
// few degrees and a few per cent off) converge onto the drawn copies, one level after another,
// and tracking keeps each copy once and drops a pose that found nothing.
#include <gtest/gtest.h>

#include <cmath>

#include "support/geofind_scene.h"

namespace gf_track_test {

using namespace vc_gfrun;

struct TwoPlates {
  TwoPlates() {
    const vcSamplePattern pat = vcGfScene::placed(
        vcGfScene::lPlate(),
        {s.xform(1.04, -17.4, {110.3, 112.6}), s.xform(0.95, 12.2, {232.7, 120.4})});
    vcSampleRender r;
    r.width = 400, r.height = 240;
    r.noiseSigma = 3;
    image = vfRenderSample(pat, vcXform<2>(), r);
    pyr = s.open(image);
    grid = coarseGrid(s.P, s.lv[2], 2);
  }
  // Off by as much as the coarse grid leaves: over a level-2 pixel, about half an angle and a
  // scale step.
  Pose start(const Pose& t, double dx, double dy, double ddeg, double ds) const {
    return s.pose(t.v[0] + ds, t.v[1] + ddeg, {t.tx + dx, t.ty + dy});
  }
  // A fit on level l averages hundreds of edges, each found to a fraction of that level's
  // pixel: the pose is good to a tenth of the pixel at the pattern's rim, far inside the next
  // level's capture band.
  void expectNear(const Pose& p, const Pose& t, int level) const {
    const double px = 0.1 * (1 << level), rim = s.lv[0].rim;
    EXPECT_LT(s.centre(p).distance(s.centre(t)), px) << "level " << level;
    EXPECT_LT(std::fabs(p.v[1] - t.v[1]) * vcPi / 180 * rim, px) << "level " << level;
    EXPECT_LT(std::fabs(p.v[0] / t.v[0] - 1) * rim, px) << "level " << level;
  }
  vcGfScene::Scene s{vcGfScene::lPlate(), 2, 0.9, 1.1, -40, 40};
  const Pose truth[2] = {s.pose(1.04, -17.4, {110.3, 112.6}), s.pose(0.95, 12.2, {232.7, 120.4})};
  vcPelBuffer<unsigned char> image;
  std::vector<LevelImage> pyr;
  DofGrid grid;
};

TEST(GeofindTrack, PerturbedPoseConvergesLevelByLevel) {
  const TwoPlates sc;
  for (const Pose& t : sc.truth) {
    Pose p = sc.start(t, 3.0, -2.5, 2.5, -0.03);
    Grad scratch;
    FitStats st;
    for (int l = 2; l >= 0; --l) {
      refine(sc.s.P, sc.s.lv[l], sc.pyr[l], l, sc.s.tune.levelIterations, sc.s.tune.levelCapture, p,
             scratch, &st);
      sc.expectNear(p, t, l);
    }
    EXPECT_GT(st.score, 0.95);
  }
}

// Two starts on one copy converge onto one solution, which tracking keeps once; a start on
// empty background scores nothing and is dropped; both copies remain, each at its pose.
TEST(GeofindTrack, TrackingKeepsEachCopyOnceAndDropsEmptyStarts) {
  const TwoPlates sc;
  std::vector<Pose> poses = {
      sc.start(sc.truth[0], 3.0, -2.5, 2.5, -0.03), sc.start(sc.truth[0], -2.0, 3.0, -2.0, 0.03),
      sc.start(sc.truth[1], 2.0, 2.0, 2.0, 0.02), sc.s.pose(1.0, 0.0, {345, 120})};
  trackDown(sc.s.P, sc.s.lv, sc.pyr, 2, sc.grid, 0.5, 1, poses);
  ASSERT_EQ(poses.size(), 2u);
  EXPECT_GE(poses[0].score, poses[1].score);
  const bool firstIsA = poses[0].tx < poses[1].tx;
  sc.expectNear(poses[firstIsA ? 0 : 1], sc.truth[0], 1);
  sc.expectNear(poses[firstIsA ? 1 : 0], sc.truth[1], 1);
}

}  // namespace gf_track_test
