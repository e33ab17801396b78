// The continuous fit and what it reports: sub-pixel position, angle and scale at the same
// accuracy, a soft image and an occluded strip without bias, an uncertainty that matches the
// errors, a search that does not report a peak beyond its edge, and ambiguity.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "engines/correlation/vcPatCor.h"
#include "platform/core/vcAngle.h"
#include "tools/testing/vcCorrImages.h"
#include "tools/testing/vcPhotoSample.h"

using corrtest::Field;
using corrtest::Pose;
using corrtest::render;

namespace {

constexpr long kW = 200, kH = 160;
const vcPelRect kWin(76, 56, 48, 48);
constexpr double kCx = 99.5, kCy = 79.5;

const Field& field() {
  static const Field f(11, kW, kH);
  return f;
}

vc_PatCorModelU8 trainedOn(const vcPelBuffer<unsigned char>& img, const vcPelRect& win,
                           const vc_PatCorTrainParams& p = vc_PatCorTrainParams()) {
  vcPelBuffer_const<unsigned char> w = img;
  w.window(win);
  vc_PatCorModelU8 m;
  m.train(w, {}, p);
  return m;
}

Pose around(double deg, double s, double tx, double ty) {
  Pose p;
  p.theta = deg * vcPi / 180;
  p.s = s;
  p.tx = tx;
  p.ty = ty;
  p.cx = kCx;
  p.cy = kCy;
  return p;
}

vcVector<2> centreError(const vc_PatCorResult& r, const Pose& truth) {
  double ex, ey;
  truth.map(kCx, kCy, ex, ey);
  return r.pose() * vcVector<2>(kCx, kCy) - vcVector<2>(ex, ey);
}

// Turns and sizes of +-5 degrees and 0.95 .. 1.05 are found as accurately as the upright
// pattern: the fit brings angle and scale to the correlation maximum instead of the nearest
// halved step.
TEST(PatCorFit, TurnedAndScaledAtTheUprightAccuracy) {
  const vcPelBuffer<unsigned char> train = render(field(), kW, kH, Pose());
  vc_PatCorTrainParams tp;
  tp.zoneAllowed(3);
  tp.zoneMaxRange(1, 5.0);
  tp.zoneMaxRange(2, 0.05);
  const vc_PatCorModelU8 m = trainedOn(train, kWin, tp);
  vc_PatCorRunParams rp;
  rp.zoneEnable(3);
  rp.zoneRel(1, -5, 5);
  rp.zoneRel(2, -0.05, 0.05);
  double upright = 0, turned = 0, worstAngle = 0, worstScale = 0;
  std::mt19937 g(5);
  std::uniform_real_distribution<double> t(-30, 30), a(-5, 5), s(0.95, 1.05);
  for (int i = 0; i < 16; ++i) {
    const bool up = i % 2 == 0;
    const Pose truth = up ? around(0, 1, t(g), t(g)) : around(a(g), s(g), t(g), t(g));
    vc_PatCorResultSet rs;
    m.run(render(field(), kW, kH, truth), rp, rs);
    ASSERT_EQ(rs.numFound(), 1) << i;
    (up ? upright : turned) += std::pow(centreError(rs[0], truth).len(), 2) / 8;
    worstAngle = std::max(worstAngle, std::fabs(rs[0].angle() - truth.theta * 180 / vcPi));
    worstScale = std::max(worstScale, std::fabs(rs[0].scale() - truth.s));
  }
  EXPECT_LT(std::sqrt(upright), 0.01);
  EXPECT_LT(std::sqrt(turned), std::max(0.01, 2 * std::sqrt(upright)));
  EXPECT_LT(worstAngle, 0.02);
  EXPECT_LT(worstScale, 5e-4);
}

// A strip of the pattern that moved its own way (a neighbouring piece's edge inside the window)
// costs the position nothing: the fit's weights leave out the pixels the template does not
// explain.
TEST(PatCorFit, AStripThatMovedItsOwnWayIsLeftOut) {
  const vcPelBuffer<unsigned char> train = render(field(), kW, kH, Pose());
  const vc_PatCorModelU8 m = trainedOn(train, kWin);
  const Pose truth = around(0, 1, 6.3, -4.7);
  vcPelBuffer<unsigned char> img = render(field(), kW, kH, truth);
  const vcPelBuffer<unsigned char> moved = render(field(), kW, kH, around(0, 1, 9.3, -1.7));
  // The pattern's top ten rows come from the field moved by 3 px more.
  for (long y = 56 - 5; y < 56 - 5 + 10; ++y)
    for (long x = 0; x < kW; ++x) img.set(x, y, moved.get(x, y));
  vc_PatCorResultSet rs;
  m.run(img, vc_PatCorRunParams(), rs);
  ASSERT_EQ(rs.numFound(), 1);
  EXPECT_LT(centreError(rs[0], truth).len(), 0.05);
}

// The 1-sigma ellipse matches the errors under noise (the mean squared Mahalanobis distance of
// a two-dimensional error is 2), and grows with the noise.
TEST(PatCorFit, PositionCovarianceMatchesTheErrors) {
  const vcPelBuffer<unsigned char> train = render(field(), kW, kH, Pose());
  const vc_PatCorModelU8 m = trainedOn(train, kWin);
  std::mt19937 g(9);
  std::uniform_real_distribution<double> t(-30, 30);
  double m2 = 0, var[2] = {0, 0};
  const int n = 30;
  for (int noise = 0; noise < 2; ++noise)
    for (int i = 0; i < n; ++i) {
      const Pose truth = around(0, 1, t(g), t(g));
      vc_PatCorResultSet rs;
      m.run(render(field(), kW, kH, truth, noise ? 16.0 : 8.0, unsigned(i + 1)),
            vc_PatCorRunParams(), rs);
      ASSERT_EQ(rs.numFound(), 1);
      const vcMatrix<2>& C = rs[0].positionCovariance();
      var[noise] += 0.5 * (C(0, 0) + C(1, 1)) / n;
      if (noise) continue;
      const vcVector<2> e = centreError(rs[0], truth);
      const double det = C(0, 0) * C(1, 1) - C(0, 1) * C(1, 0);
      ASSERT_GT(det, 0);
      m2 += (e.x() * e.x() * C(1, 1) - 2 * e.x() * e.y() * C(0, 1) + e.y() * e.y() * C(0, 0)) /
            det / n;
    }
  EXPECT_GT(m2, 1.0);
  EXPECT_LT(m2, 4.0);
  EXPECT_GT(var[1], 2.5 * var[0]);
}

// A pattern lying beyond the centres a search allows is not reported at the edge of them with
// the score of the slope there.
TEST(PatCorFit, NoResultAtTheEdgeOfTheSearch) {
  const vcPelBuffer<unsigned char> train = render(field(), kW, kH, Pose());
  const vc_PatCorModelU8 m = trainedOn(train, kWin);
  const Pose truth = around(0, 1, 6, 0);
  vc_PatCorRunParams rp;
  rp.startPose = vcXform<2>();
  rp.startPoseType = 2;
  rp.xyRel(vcVector<2>(0, 0), vcVector<2>(0, 0));
  rp.uncertainty(vcPair<long>(3, 3));
  rp.acceptThreshold(1, 0.3);
  vc_PatCorResultSet rs;
  m.run(render(field(), kW, kH, truth), rp, rs);
  EXPECT_EQ(rs.numFound(), 0);
  rp.uncertainty(vcPair<long>(8, 8));
  m.run(render(field(), kW, kH, truth), rp, rs);
  ASSERT_EQ(rs.numFound(), 1);
  EXPECT_LT(centreError(rs[0], truth).len(), 0.01);
}

// Repetitive texture: the pattern recurs within the search, and the result says so with the
// rival's score; the distinctive pattern has no rival near it. A lone straight edge cannot be
// placed along itself: ambiguous too.
TEST(PatCorFit, RepetitiveTextureAndALoneEdgeAreAmbiguous) {
  vcPelBuffer<unsigned char> tiles(kW, kH), edge(kW, kH);
  for (long y = 0; y < kH; ++y)
    for (long x = 0; x < kW; ++x) {
      const double v = field().at(double(x % 24), double(y % 24));
      tiles.set(x, y, static_cast<unsigned char>(std::lround(std::clamp(v, 0.0, 255.0))));
      edge.set(x, y, x < 100 ? 60 : 190);
    }
  const vcPelRect win(80, 60, 40, 40);
  vc_PatCorResultSet rs;
  trainedOn(tiles, win).run(tiles, vc_PatCorRunParams(), rs);
  ASSERT_GE(rs.numFound(), 1);
  EXPECT_TRUE(rs[0].ambiguous());
  EXPECT_GT(rs[0].runnerUpScore(), rs[0].score() - 0.02);

  const vcPelBuffer<unsigned char> distinct = render(field(), kW, kH, Pose());
  trainedOn(distinct, win).run(distinct, vc_PatCorRunParams(), rs);
  ASSERT_EQ(rs.numFound(), 1);
  EXPECT_FALSE(rs[0].ambiguous());
  EXPECT_LT(rs[0].runnerUpScore(), rs[0].score() - 0.1);

  vc_PatCorRunParams near;
  near.startPose = vcXform<2>();
  near.startPoseType = 2;
  near.xyRel(vcVector<2>(0, 0), vcVector<2>(0, 0));
  near.uncertainty(vcPair<long>(6, 6));
  trainedOn(edge, win).run(edge, near, rs);
  ASSERT_EQ(rs.numFound(), 1);
  EXPECT_TRUE(rs[0].ambiguous());
  EXPECT_GT(rs[0].positionCovariance()(1, 1), 1.0);
}

// Out of focus: a sharp template on a blurred photograph pulls towards the side of its window
// with the stronger detail; matched with a template blurred as much, pieces of the camera man
// land within a tenth of a pixel.
TEST(PatCorFit, BlurredPhotographWithoutBias) {
  if (!vfHavePhotos()) GTEST_SKIP() << "skimage's sample photographs (python3-skimage) are missing";
  const vcPhotoPart part = vfMakePhotoPart("camera");
  vcPhotoSceneOptions soft;
  soft.maxShift = soft.maxTurnDeg = 0;
  soft.shift = vcVector<2>(2.4, -1.3);
  soft.blurSigma = 2.0;
  const vcPhotoScene scene = vfRenderPhotoScene(part, soft);
  double worst = 0;
  for (std::size_t k = 0; k < part.regions.size(); ++k) {
    const vc_PatCorModelU8 m = trainedOn(part.trainImage, part.regions[k]);
    vc_PatCorRunParams rp;
    rp.startPose = vcXform<2>();
    rp.startPoseType = 2;
    rp.xyRel(vcVector<2>(0, 0), vcVector<2>(0, 0));
    rp.uncertainty(vcPair<long>(6, 6));
    vc_PatCorResultSet rs;
    m.run(scene.image, rp, rs);
    ASSERT_EQ(rs.numFound(), 1) << part.names[k];
    const vcPelRect& r = part.regions[k];
    const vcVector<2> c(r.x() + 0.5 * (r.width() - 1), r.y() + 0.5 * (r.height() - 1));
    worst = std::max(worst, (rs[0].pose() * c - (c + soft.shift)).len());
  }
  EXPECT_LT(worst, 0.1);
}

}  // namespace
