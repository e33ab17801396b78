#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "engines/geofind/vcGFAlign.h"
#include "platform/core/vcArchive.h"
#include "platform/core/vcThreadPool.h"
#include "tools/testing/vcSampleImages.h"

namespace {

// Pattern rendered centred in a 160 x 160 training image.
const vcXform<2> kTrainPose(vcMatrix<2>(), vcVector<2>(80, 80));

vcPelBuffer<unsigned char> trainImage(const vcSamplePattern& p) {
  vcSampleRender r;
  r.width = r.height = 160;
  return vfRenderSample(p, kTrainPose, r);
}

vcXform<2> poseAt(double x, double y, double deg, double scale) {
  return vcXform<2>(vcMatrix<2>(scale, 1.0, vcRadian(0.0), vcRadian(deg * vcRadPerDeg)), {x, y});
}

vcGFAlignRunParams paramsFor(double angleLo, double angleHi, double sLo, double sHi) {
  vcGFAlignRunParams rp;
  vcGeorapidDOFList list;
  auto* a = new vcGeorapidAngle(nullptr, 1);
  a->range(angleLo, angleHi);
  a->overlap(360.0f);
  auto* s = new vcGeorapidScale(a, 1);
  s->range(sLo, sHi);
  s->overlap(1.4f);
  list.assign(s);
  rp.customizeDOFs(&list);
  return rp;
}

// Expected engine pose: train pixels -> run pixels = pose * trainPose^-1.
void expectPose(const vcGFAlignResult& r, const vcXform<2>& truth, double tolPx, double tolDeg,
                double tolScale) {
  const vcXform<2> expect = truth * kTrainPose.inverse();
  const vcVector<2> c = expect.mapPoint({80, 80}), f = r.pose().mapPoint({80, 80});
  EXPECT_LT(c.distance(f), tolPx);
  const double da =
      vfNormalizeAngle(r.pose().matrix().rotation() - expect.matrix().rotation()).toDouble() /
      vcRadPerDeg;
  EXPECT_LT(std::fabs(da), tolDeg);
  EXPECT_LT(std::fabs(r.pose().matrix().scale() / expect.matrix().scale() - 1), tolScale);
}

TEST(GeofindRun, FindsPatternAtRandomPosesWithNoise) {
  vcGFAlignPattern pat;
  pat.train(trainImage(vfSampleAsymmetricPattern()), 2, nullptr, 0);
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> U(0, 1);
  for (int i = 0; i < 6; ++i) {
    const vcXform<2> truth =
        poseAt(200 + 240 * U(rng), 150 + 180 * U(rng), -180 + 360 * U(rng), 0.9 + 0.2 * U(rng));
    vcSampleRender opt;
    opt.noiseSigma = 5;
    opt.clutterShapes = 6;
    opt.seed = 100 + i;
    const auto img = vfRenderSample(vfSampleAsymmetricPattern(), truth, opt);
    vcGFAlignResultSet rs;
    pat.run(img, paramsFor(-180, 180, 0.88, 1.12), rs, nullptr, 0);
    ASSERT_GE(rs.numFound(), 1) << "case " << i;
    EXPECT_TRUE(rs[0].accepted());
    expectPose(rs[0], truth, 0.2, 0.2, 0.003);
    EXPECT_GT(rs[0].coverage(), 0.8f);
  }
}

// A prediction shortens the search but must not change its answer: near the truth it finds
// what the scan finds, far from it the run falls back to the scan; a shared image cache and a
// pool of threads give the very same poses as a run on its own.
TEST(GeofindRun, PredictionCacheAndThreadsKeepTheAnswer) {
  vcGFAlignPattern pat;
  pat.train(trainImage(vfSampleAsymmetricPattern()), 2, nullptr, 0);
  const vcXform<2> truth = poseAt(330, 250, 37, 1.04);
  vcSampleRender opt;
  opt.noiseSigma = 6;
  opt.clutterShapes = 8;
  opt.seed = 31;
  const auto img = vfRenderSample(vfSampleAsymmetricPattern(), truth, opt);
  const vcGFAlignRunParams plain = paramsFor(-180, 180, 0.9, 1.1);
  vcGFAlignResultSet scan;
  pat.run(img, plain, scan, nullptr, 0);
  ASSERT_GE(scan.numFound(), 1);
  expectPose(scan[0], truth, 0.2, 0.2, 0.003);
  const vcVector<2> at = scan[0].pose().mapPoint(pat.origin());
  const vcGFImageCache cache(img);
  vcThreadPool pool(3);
  for (const vcVector<2> guess : {at + vcVector<2>(2.5, -1.5), at + vcVector<2>(90, 60)}) {
    vcGFAlignRunParams rp = plain;
    rp.imageCache(cache);
    rp.prediction(guess, 4, 4);
    vcGFAlignResultSet alone, threaded;
    pat.run(img, rp, alone, nullptr, 0);
    rp.threadPool(&pool);
    pat.run(img, rp, threaded, nullptr, 0);
    ASSERT_GE(alone.numFound(), 1);
    expectPose(alone[0], truth, 0.2, 0.2, 0.003);
    ASSERT_EQ(threaded.numFound(), alone.numFound());
    EXPECT_EQ(threaded[0].pose().trans(), alone[0].pose().trans());
    EXPECT_EQ(threaded[0].score(), alone[0].score());
  }
  EXPECT_THROW(vcGFAlignRunParams().prediction({std::nan(""), 0}, 1, 1), vcGFAlignDefs::BadParams);
}

TEST(GeofindRun, OccludedPatternIsStillFound) {
  vcGFAlignPattern pat;
  pat.train(trainImage(vfSampleAsymmetricPattern()), 2, nullptr, 0);
  for (int i = 0; i < 4; ++i) {
    const vcXform<2> truth = poseAt(300 + 10 * i, 240, 30.0 * i - 40, 1.0);
    vcSampleRender opt;
    opt.noiseSigma = 5;
    opt.occludeFraction = 0.25;
    opt.seed = 300 + i;
    vcGFAlignResultSet rs;
    pat.run(vfRenderSample(vfSampleAsymmetricPattern(), truth, opt), paramsFor(-60, 60, 1, 1), rs,
            nullptr, 0);
    ASSERT_GE(rs.numFound(), 1);
    expectPose(rs[0], truth, 0.3, 0.3, 0.01);
    EXPECT_LT(rs[0].coverage(), 0.95f);  // the occluded edges are not claimed as matched
  }
}

TEST(GeofindRun, DistantOriginUnderOcclusionKeepsFullRangeSearchOnTarget) {
  // The reference point lies far outside the pattern, so every turn or scale step also shifts
  // the pattern a long way; the search must still settle on the right pose.
  vcGFAlignPattern pat;
  const vcVector<2> origin(-300, 260);
  pat.origin(origin);
  pat.train(trainImage(vfSampleAsymmetricPattern()), 2, nullptr, 0);
  std::mt19937 rng(23);
  std::uniform_real_distribution<double> U(0, 1);
  for (int i = 0; i < 12; ++i) {
    const double x = 220 + 200 * U(rng), y = 170 + 140 * U(rng);
    const double deg = -180 + 360 * U(rng), scale = 0.9 + 0.2 * U(rng);
    const vcXform<2> truth = poseAt(x, y, deg, scale);
    vcSampleRender opt;
    opt.noiseSigma = 5;
    opt.clutterShapes = 6;
    opt.occludeFraction = 0.25;
    opt.seed = 500 + i;
    vcGFAlignResultSet rs;
    pat.run(vfRenderSample(vfSampleAsymmetricPattern(), truth, opt), paramsFor(-180, 180, 0.9, 1.1),
            rs, nullptr, 0);
    ASSERT_GE(rs.numFound(), 1) << "case " << i;
    // Pattern coordinates are training pixels less the origin.
    const vcVector<2> centre = (truth * kTrainPose.inverse()).mapPoint({80, 80});
    EXPECT_LT(rs[0].pose().mapPoint(vcVector<2>(80, 80) - origin).distance(centre), 0.3)
        << "case " << i;
  }
}

TEST(GeofindRun, DefaultSettingsFindPatternOnNoisyImages) {
  // Noise well above the default contrast threshold: the run must not take it for edges.
  vcGFAlignPattern pat;
  pat.train(trainImage(vfSampleAsymmetricPattern()), 2, nullptr, 0);
  const double sigmas[] = {12, 20, 20};
  for (int i = 0; i < 3; ++i) {
    const vcXform<2> truth = poseAt(280 + 30 * i, 230, 70.0 * i - 100, 0.93 + 0.06 * i);
    vcSampleRender opt;
    opt.noiseSigma = sigmas[i];
    opt.clutterShapes = 6;
    opt.seed = 700 + i;
    vcGFAlignResultSet rs;
    pat.run(vfRenderSample(vfSampleAsymmetricPattern(), truth, opt), paramsFor(-180, 180, 0.9, 1.1),
            rs, nullptr, 0);
    ASSERT_GE(rs.numFound(), 1) << "case " << i;
    EXPECT_TRUE(rs[0].accepted()) << "case " << i;
    expectPose(rs[0], truth, 0.15, 0.15, 0.002);
  }
}

TEST(GeofindRun, FortyPercentCoveredIsFoundAtTheRightScale) {
  // The flat block's outline runs just outside the pattern's own edges, so a larger pose fitted
  // to it and to the visible part competes with the true one.
  vcGFAlignPattern pat;
  pat.train(trainImage(vfSampleAsymmetricPattern()), 2, nullptr, 0);
  for (int i = 0; i < 4; ++i) {
    const vcXform<2> truth = poseAt(300 + 15 * i, 240, 95.0 * i - 150, 0.92 + 0.05 * i);
    vcSampleRender opt;
    opt.noiseSigma = 5;
    opt.clutterShapes = 6;
    opt.occludeFraction = 0.4;
    opt.seed = 800 + i;
    vcGFAlignResultSet rs;
    pat.run(vfRenderSample(vfSampleAsymmetricPattern(), truth, opt), paramsFor(-180, 180, 0.9, 1.1),
            rs, nullptr, 0);
    ASSERT_GE(rs.numFound(), 1) << "case " << i;
    EXPECT_TRUE(rs[0].accepted()) << "case " << i;
    expectPose(rs[0], truth, 0.2, 0.2, 0.003);
    EXPECT_LT(rs[0].coverage(), 0.8f);
  }
}

TEST(GeofindRun, ResultBelowTheAcceptThresholdKeepsItsMeasures) {
  vcGFAlignPattern pat;
  pat.train(trainImage(vfSampleAsymmetricPattern()), 2, nullptr, 0);
  const vcXform<2> truth = poseAt(320, 240, 20, 1.0);
  vcSampleRender opt;
  opt.noiseSigma = 5;
  opt.occludeFraction = 0.25;
  const auto img = vfRenderSample(vfSampleAsymmetricPattern(), truth, opt);
  // Far out of reach of a quarter-covered pattern: reported, but not accepted.
  vcGFAlignRunParams rp = paramsFor(-180, 180, 1, 1);
  rp.acceptThreshold(0.97);
  vcGFAlignResultSet rs;
  pat.run(img, rp, rs, nullptr, 0);
  ASSERT_EQ(rs.numFound(), 1);
  const vcGFAlignResult& r = rs[0];
  EXPECT_FALSE(r.accepted());
  expectPose(r, truth, 0.2, 0.2, 0.01);
  EXPECT_GT(r.score(), 0.5f);
  EXPECT_LT(r.score(), 0.97f);
  EXPECT_GT(r.coverage(), 0.6f);
  EXPECT_LT(r.coverage(), 0.9f);
  EXPECT_GT(r.contrast(), 10.0f);
  EXPECT_GE(r.clutter(), 0.0f);
  EXPECT_LE(r.score(), r.coverage() - 0.5f * r.clutter() + 1e-5f);
}

// Largest distance between the training image's corners under two train-pixel -> run-pixel poses.
double cornerError(const vcXform<2>& a, const vcXform<2>& b) {
  double e = 0;
  for (const vcVector<2>& c :
       {vcVector<2>(0, 0), vcVector<2>(160, 0), vcVector<2>(160, 160), vcVector<2>(0, 160)})
    e = std::max(e, a.mapPoint(c).distance(b.mapPoint(c)));
  return e;
}

TEST(GeofindRun, SeparateAxisScalesAndSkewAreRecovered) {
  vcGFAlignPattern pat;
  pat.train(trainImage(vfSampleAsymmetricPattern()), 2, nullptr, 0);
  // List order is outermost first: the pose's linear part is XScale * YScale * Skew * Angle.
  auto* angle = new vcGeorapidAngle(nullptr, 1);
  angle->range(-10, 10);
  auto* skew = new vcGeorapidSkew(angle, 1);
  skew->range(-6, 6);
  auto* ys = new vcGeorapidYScale(skew, 1);
  ys->range(0.92, 1.08);
  auto* xs = new vcGeorapidXScale(ys, 1);
  xs->range(0.92, 1.08);
  vcGeorapidDOFList list;
  list.assign(xs);
  vcGFAlignRunParams rp;
  rp.customizeDOFs(&list);
  const double sk = 3.0 * vcRadPerDeg, an = 6.5 * vcRadPerDeg;
  const vcMatrix<2> truthM = vcMatrix<2>(1.05, 0.0, 0.0, 0.96) *
                             vcMatrix<2>(1.0, -std::sin(sk), 0.0, std::cos(sk)) *
                             vcMatrix<2>(std::cos(an), -std::sin(an), std::sin(an), std::cos(an));
  const vcXform<2> truth(truthM, {322.6, 236.1});
  vcSampleRender opt;
  opt.noiseSigma = 5;
  opt.clutterShapes = 4;
  vcGFAlignResultSet rs;
  pat.run(vfRenderSample(vfSampleAsymmetricPattern(), truth, opt), rp, rs, nullptr, 0);
  ASSERT_GE(rs.numFound(), 1);
  EXPECT_LT(cornerError(rs[0].pose(), truth * kTrainPose.inverse()), 0.3);
  ASSERT_EQ(rs[0].numDOFs(), 4);
  EXPECT_NEAR(rs[0].dofValue(1), 1.05, 0.003);  // x scale
  EXPECT_NEAR(rs[0].dofValue(2), 0.96, 0.003);  // y scale
  EXPECT_NEAR(rs[0].dofValue(3), 3.0, 0.2);     // skew, degrees
  EXPECT_NEAR(rs[0].dofValue(4), 6.5, 0.2);     // angle, degrees
}

TEST(GeofindRun, RunMaskTimeLimitAndMatchInfo) {
  vcGFAlignPattern pat;
  pat.train(trainImage(vfSampleAsymmetricPattern()), 2, nullptr, 0);
  const vcXform<2> truth = poseAt(300, 240, 15, 1.0);
  vcSampleRender opt;
  opt.noiseSigma = 4;
  const auto img = vfRenderSample(vfSampleAsymmetricPattern(), truth, opt);
  vcGFAlignRunParams rp = paramsFor(-30, 30, 1, 1);
  rp.saveMatchInfo(true);
  vcGFAlignResultSet rs;
  // A mask that hides the pattern leaves nothing acceptable there; an open one finds it.
  vcPelBuffer<unsigned char> mask(640, 480);
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x) mask.set(x, y, x < 200 || x > 400 ? 255 : 0);
  pat.run(img, mask, rp, rs, nullptr, 0);
  for (const auto& r : rs.results()) EXPECT_FALSE(r.accepted());
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x) mask.set(x, y, 255);
  pat.run(img, mask, rp, rs, nullptr, 0);
  ASSERT_GE(rs.numFound(), 1);
  expectPose(rs[0], truth, 0.2, 0.2, 0.01);
  // Match info pairs every matched model point with an image edge close by.
  const auto& mp = rs[0].matchModelPoints();
  const auto& ip = rs[0].matchImagePoints();
  ASSERT_EQ(mp.size(), ip.size());
  EXPECT_GT(mp.size(), 100u);
  for (std::size_t i = 0; i < mp.size(); ++i) EXPECT_LT(mp[i].distance(ip[i]), 1.5);
  // A time limit far below one run's cost expires.
  rp.timeout(1e-7);
  EXPECT_THROW(pat.run(img, rp, rs, nullptr, 0), vcTimeout::Expired);
}

TEST(GeofindRun, PolarityMatters) {
  // Train on the pattern, search its negative.
  vcSamplePattern p = vfSampleAsymmetricPattern();
  vcSamplePattern neg = p;
  neg.background = 255 - p.background;
  for (auto& s : neg.shapes) s.grey = 255 - s.grey;
  const vcXform<2> truth = poseAt(320, 240, 10, 1.0);
  vcSampleRender opt;
  opt.noiseSigma = 3;
  const auto img = vfRenderSample(neg, truth, opt);
  vcGFAlignPattern strict;
  strict.train(trainImage(p), 2, nullptr, 0);
  vcGFAlignResultSet rs;
  strict.run(img, paramsFor(-20, 20, 1, 1), rs, nullptr, 0);
  for (const auto& r : rs.results()) EXPECT_FALSE(r.accepted() && r.score() > 0.5f);
  vcGFAlignPattern loose;
  loose.ignorePolarity(true);
  loose.train(trainImage(p), 2, nullptr, 0);
  loose.run(img, paramsFor(-20, 20, 1, 1), rs, nullptr, 0);
  ASSERT_GE(rs.numFound(), 1);
  expectPose(rs[0], truth, 0.2, 0.2, 0.01);
}

TEST(GeofindRun, MaskedTrainingAndSeveralInstances) {
  vcSamplePattern p = vfSampleAsymmetricPattern();
  const auto timg = trainImage(p);
  vcPelBuffer<unsigned char> mask(160, 160);
  for (int y = 0; y < 160; ++y)
    for (int x = 0; x < 160; ++x) mask.set(x, y, x < 80 ? 255 : 0);  // left half only
  vcGFAlignPattern pat;
  pat.train(timg, mask, 2, nullptr, 0);
  for (auto q : pat.finePoints()) EXPECT_LT(q.x(), 82.0);
  // Two copies in one image.
  vcSamplePattern two = p;
  const vcXform<2> t1 = poseAt(180, 200, 0, 1), t2 = poseAt(460, 260, 5, 1);
  vcSampleRender opt;
  opt.noiseSigma = 4;
  auto img = vfRenderSample(p, t1, opt);
  const auto img2 = vfRenderSample(p, t2, opt);
  for (int y = 0; y < 480; ++y)
    for (int x = 330; x < 640; ++x) img.set(x, y, img2.row(y)[x]);
  vcGFAlignRunParams rp = paramsFor(-10, 10, 1, 1);
  rp.numToFind(2);
  vcGFAlignResultSet rs;
  pat.run(img, rp, rs, nullptr, 0);
  ASSERT_EQ(rs.numFound(), 2);
  const bool firstIsLeft = rs[0].pose().trans().x() < rs[1].pose().trans().x();
  expectPose(rs[firstIsLeft ? 0 : 1], t1, 0.3, 0.3, 0.01);
  expectPose(rs[firstIsLeft ? 1 : 0], t2, 0.3, 0.3, 0.01);
  EXPECT_EQ(rs[0].numDOFs(), 2);
}

TEST(GeofindRun, WireframeModelFindsRenderedShape) {
  vcGFAlignPattern pat;
  // Outline of the rectangle shape of the square pattern, in training pixels.
  std::vector<std::vector<vcVector<2>>> lines = {{{30, 30}, {130, 30}, {130, 130}, {30, 130}},
                                                 {{60, 60}, {100, 60}, {100, 100}, {60, 100}}};
  // Bright outer square on dark: its clockwise outline has the dark side on the left.
  pat.trainPolylines(lines, {true, true}, {-1.0, 1.0}, vcXform<2>(), 2);
  const vcXform<2> truth = poseAt(300, 220, 12, 1.05);
  vcSampleRender opt;
  opt.noiseSigma = 5;
  vcGFAlignResultSet rs;
  pat.run(vfRenderSample(vfSampleSquarePattern(), truth, opt), paramsFor(-30, 30, 0.95, 1.1), rs,
          nullptr, 0);
  ASSERT_GE(rs.numFound(), 1);
  // The square is 90-degree symmetric: compare the centre and the scale only.
  const vcVector<2> c = (truth * kTrainPose.inverse()).mapPoint({80, 80});
  EXPECT_LT(rs[0].pose().mapPoint({80, 80}).distance(c), 0.3);
  EXPECT_NEAR(rs[0].pose().matrix().scale(), 1.05, 0.005);
}

TEST(GeofindInfo, SymmetryFlags) {
  auto flagsOf = [](const vcSamplePattern& p) {
    vcGFAlignPattern pat;
    pat.train(trainImage(p), 1, nullptr, 0);
    vc_GFPatternInfo info;
    info.flags = ~0ul;
    pat.getInfo(info);
    return info;
  };
  const auto asym = flagsOf(vfSampleAsymmetricPattern());
  EXPECT_EQ(asym.flags & 0xFF, 0u);
  const auto sq = flagsOf(vfSampleSquarePattern());
  EXPECT_TRUE(sq.flags & vcGFAlignDefs::eSym90);
  EXPECT_TRUE(sq.flags & vcGFAlignDefs::eSym180);
  EXPECT_FALSE(sq.flags & vcGFAlignDefs::eSymCircle);
  EXPECT_NEAR(sq.value1, 90.0, 1e-9);
  const auto rect = flagsOf(vfSampleRectanglePattern());
  EXPECT_TRUE(rect.flags & vcGFAlignDefs::eSym180);
  EXPECT_FALSE(rect.flags & vcGFAlignDefs::eSym90);
  const auto circ = flagsOf(vfSampleCirclePattern());
  EXPECT_TRUE(circ.flags & vcGFAlignDefs::eSymCircle);
}

TEST(GeofindErrors, BadInputsThrow) {
  vcGFAlignPattern pat;
  vcGFAlignResultSet rs;
  vcPelBuffer<unsigned char> img(64, 64);
  EXPECT_THROW(pat.run(img, vcGFAlignRunParams(), rs, nullptr, 0), vcGFAlignDefs::NotTrained);
  EXPECT_THROW(pat.train(vcPelBuffer_const<unsigned char>(), 1, nullptr, 0),
               vcGFAlignDefs::BadImage);
  vcPelBuffer<unsigned char> tiny(4, 4);
  EXPECT_THROW(pat.train(tiny, 1, nullptr, 0), vcGFAlignDefs::BadParams);
  EXPECT_THROW(pat.train(img, 1, nullptr, 0), vcGFAlignDefs::CanNotTrain);  // flat: no edges
  EXPECT_THROW(pat.train(trainImage(vfSampleSquarePattern()), 3, nullptr, 0),
               vcGFAlignDefs::BadParams);
  EXPECT_FALSE(pat.isTrained());
  pat.train(trainImage(vfSampleSquarePattern()), 1, nullptr, 0);
  EXPECT_THROW(pat.run(vcPelBuffer_const<unsigned char>(), vcGFAlignRunParams(), rs, nullptr, 0),
               vcGFAlignDefs::BadImage);
  EXPECT_THROW(
      pat.run(img, vcPelBuffer<unsigned char>(10, 10), vcGFAlignRunParams(), rs, nullptr, 0),
      vcGFAlignDefs::BadImage);
  EXPECT_THROW(pat.run(img, paramsFor(10, -10, 1, 1), rs, nullptr, 0), vcGFAlignDefs::BadParams);
  EXPECT_THROW(pat.run(img, paramsFor(0, 0, 0.01, 5), rs, nullptr, 0), vcGFAlignDefs::BadParams);
  EXPECT_THROW(pat.run(img, paramsFor(0, 0, 1.2, 1.1), rs, nullptr, 0), vcGFAlignDefs::BadParams);
  EXPECT_THROW(pat.elasticity(-1), vcGFAlignDefs::BadParams);
  EXPECT_THROW(pat.grainLimits(0.5f, 4), vcGFAlignDefs::BadParams);
  vcGFAlignRunParams rp;
  EXPECT_THROW(rp.numToFind(0), vcGFAlignDefs::BadParams);
  EXPECT_THROW(rp.xyOverlap(1.5), vcGFAlignDefs::BadParams);
  EXPECT_THROW(rs[0], vcGFAlignDefs::BadParams);
}

// Finite but absurd values: refused with BadParams or BadImage and leaving the pattern as it
// was, or, for the elasticity, a run whose work stays proportional to the pattern.
TEST(GeofindErrors, ExtremeValuesAreRefusedOrBounded) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  vcGFAlignPattern pat;
  for (const vcVector<2>& o : {vcVector<2>(1e300, 0), vcVector<2>(0, -inf), vcVector<2>(nan, 1)})
    EXPECT_THROW(pat.origin(o), vcGFAlignDefs::BadParams);
  for (const vcXform<2>& x :
       {poseAt(0, 0, 0, 1e9), poseAt(0, 0, 0, 1e-9), poseAt(nan, 0, 0, 1), poseAt(1e300, 0, 0, 1)})
    EXPECT_THROW(pat.trainClientFromPattern(x), vcGFAlignDefs::BadParams);
  EXPECT_EQ(pat.origin(), vcVector<2>(0, 0));
  EXPECT_EQ(pat.trainClientFromPattern(), vcXform<2>());

  pat.train(trainImage(vfSampleSquarePattern()), 1, nullptr, 0);
  vcPelBuffer<unsigned char> scene = trainImage(vfSampleSquarePattern());
  vcGFAlignResultSet rs;
  for (const vcXform<2>& x : {poseAt(nan, 0, 0, 1), poseAt(0, 0, 0, inf)}) {
    scene.clientFromImageXform(x);
    EXPECT_THROW(pat.run(scene, paramsFor(-10, 10, 1, 1), rs, nullptr, 0), vcGFAlignDefs::BadImage);
  }
  vcPelBuffer<unsigned char> badTrain = trainImage(vfSampleSquarePattern());
  badTrain.clientFromImageXform(poseAt(0, nan, 0, 1));
  EXPECT_THROW(pat.train(badTrain, 1, nullptr, 0), vcGFAlignDefs::BadImage);
  EXPECT_TRUE(pat.isTrained());

  // A huge capture band still finds the pattern where it is.
  pat.elasticity(1e12);
  pat.train(trainImage(vfSampleSquarePattern()), 1, nullptr, 0);
  scene.clientFromImageXform(vcXform<2>());
  pat.run(scene, paramsFor(-10, 10, 1, 1), rs, nullptr, 0);
  ASSERT_GE(rs.numFound(), 1);
  expectPose(rs[0], kTrainPose, 0.5, 0.5, 0.01);
}

TEST(GeofindDofList, CopyAppendAndEqual) {
  vcGeorapidDOFList a;
  a.assign(new vcGeorapidScale(new vcGeorapidAngle(nullptr, 1), 1));
  a.head()->range(0.9, 1.1);
  vcGeorapidDOFList b = a;
  EXPECT_EQ(b.size(), 2u);
  EXPECT_NE(b.head(), a.head());
  EXPECT_TRUE(a.equal(b, true));
  b.at(1)->range(-5, 5);
  EXPECT_FALSE(a.equal(b, true));
  b.push_back(new vcGeorapidStartPose(nullptr, poseAt(1, 2, 3, 1)));
  EXPECT_EQ(b.size(), 3u);
  EXPECT_EQ(b.at(2)->kind(), vxGeorapidDOF::eStartPose);
  EXPECT_FLOAT_EQ(b.at(1)->circular(), 360.0f);
}

TEST(GeofindDofList, ArchiveKeepsEveryLevel) {
  // The concrete DOF levels add no data to their base: the base's ranges must still be stored.
  vcGeorapidDOFList a;
  a.assign(new vcGeorapidScale(new vcGeorapidAngle(nullptr, 1), 1));
  a.head()->range(0.9, 1.1);
  a.at(1)->range(-20, 30);
  vcArchive out;
  out || *a.head();
  vcGeorapidDOFList b;
  b.assign(new vcGeorapidScale(nullptr, 1));
  vcArchive in(out.bytes());
  in || *b.head();
  EXPECT_EQ(in.remaining(), 0u);
  ASSERT_EQ(b.size(), 2u);
  EXPECT_EQ(b.at(1)->kind(), a.at(1)->kind());
  EXPECT_TRUE(a.equal(b, true));
}

}  // namespace

#include "platform/core/vcAngle.h"
#include "platform/display/vc2Wireframe.h"

namespace {

TEST(GeofindRun, WireframeWithArcsFindsRenderedCircles) {
  // Two closed two-arc circles matching the circle pattern (radii 50 and 25 around (80, 80)).
  auto circleWf = [](double r) {
    vc2Wireframe w;
    w.insertVertex({80 + r, 80}, -1, vcRadian(0), vcDimTol(0, 0, 0, vcDimTol::eAbsolute));
    w.insertVertex({80 - r, 80}, -1, vcRadian(vcPi), vcDimTol(0, 0, 0, vcDimTol::eAbsolute));
    w.close(vcRadian(vcPi), vcDimTol(0, 0, 0, vcDimTol::eAbsolute));
    return w;
  };
  vcGFAlignPattern pat;
  pat.ignorePolarity(true);
  pat.train({circleWf(50), circleWf(25)}, vcXform<2>(), 2, nullptr, 0);
  const vcXform<2> truth = poseAt(250, 260, 0, 0.95);
  vcSampleRender opt;
  opt.noiseSigma = 5;
  vcGFAlignResultSet rs;
  pat.run(vfRenderSample(vfSampleCirclePattern(), truth, opt), paramsFor(0, 0, 0.9, 1.1), rs,
          nullptr, 0);
  ASSERT_GE(rs.numFound(), 1);
  EXPECT_LT(rs[0].pose().mapPoint({80, 80}).distance({250, 260}), 0.2);
  EXPECT_NEAR(rs[0].pose().matrix().scale(), 0.95, 0.004);
}

}  // namespace

TEST(GeofindRun, TwoCopiesWithAScaleDofAreEachFoundOnce) {
  // A half-turn symmetric pattern matches each copy twice at one place; the search may stop
  // only when numToFind results at distinct places are safe. With a scale DOF, distinct was
  // measured at scale 0, so the two matches of the clean copy ended the search before the
  // partly covered copy was measured.
  vcGFAlignPattern pat;
  pat.train(trainImage(vfSampleRectanglePattern()), 2, nullptr, 0);
  struct Case {
    double cleanDeg, coveredDeg, cleanScale;
    std::uint32_t seed;
  };
  for (const Case& c : {Case{0, 20, 0.96, 905}, Case{0, 70, 0.96, 909}, Case{40, -30, 0.96, 917},
                        Case{80, 70, 1.04, 943}}) {
    const vcXform<2> clean = poseAt(180, 250, c.cleanDeg, c.cleanScale);
    const vcXform<2> covered = poseAt(470, 230, c.coveredDeg, 2.0 - c.cleanScale);
    vcSampleRender opt;
    opt.noiseSigma = 5;
    opt.seed = c.seed;
    auto img = vfRenderSample(vfSampleRectanglePattern(), clean, opt);
    opt.occludeFraction = 0.1;
    const auto right = vfRenderSample(vfSampleRectanglePattern(), covered, opt);
    for (int y = 0; y < 480; ++y)
      for (int x = 320; x < 640; ++x) img.set(x, y, right.row(y)[x]);
    vcGFAlignRunParams rp = paramsFor(-180, 180, 0.9, 1.1);
    rp.numToFind(2);
    vcGFAlignResultSet rs;
    pat.run(img, rp, rs, nullptr, 0);
    ASSERT_EQ(rs.numFound(), 2) << "case " << c.seed;
    // One result on each copy: neither copy is reported twice.
    for (const vcXform<2>& truth : {clean, covered}) {
      const vcVector<2> centre = (truth * kTrainPose.inverse()).mapPoint({80, 80});
      int near = 0;
      for (const vcGFAlignResult& r : rs.results())
        near += r.accepted() && r.pose().mapPoint({80, 80}).distance(centre) < 0.5;
      EXPECT_EQ(near, 1) << "case " << c.seed;
    }
  }
}

TEST(GeofindRun, RunParametersCarryThePatternFrame) {
  // A frame given with the run reports the poses that the same frame set on the pattern gives,
  // and leaves the pattern's own frame alone.
  vcGFAlignPattern own;
  own.train(trainImage(vfSampleAsymmetricPattern()), 2, nullptr, 0);
  vcGFAlignPattern framedOnPattern = own;
  const vcVector<2> origin(12, -7);
  const vcXform<2> tcfp = poseAt(40, 30, 15, 1.2);
  framedOnPattern.origin(origin);
  framedOnPattern.trainClientFromPattern(tcfp);
  const vcXform<2> truth = poseAt(300, 220, 25, 1.0);
  vcSampleRender opt;
  opt.noiseSigma = 4;
  const auto img = vfRenderSample(vfSampleAsymmetricPattern(), truth, opt);
  vcGFAlignRunParams rp = paramsFor(-180, 180, 0.9, 1.1);
  vcGFAlignResultSet a, b;
  framedOnPattern.run(img, rp, a, nullptr, 0);
  rp.patternFrame(origin, tcfp);
  own.run(img, rp, b, nullptr, 0);
  ASSERT_EQ(a.numFound(), 1);
  ASSERT_EQ(b.numFound(), 1);
  EXPECT_EQ(a[0].pose(), b[0].pose());
  EXPECT_EQ(a[0].score(), b[0].score());
  EXPECT_EQ(own.origin(), vcVector<2>(0, 0));
  // Refused as by the pattern's setters, keeping the frame set before.
  EXPECT_THROW(rp.patternFrame({std::nan(""), 0}, tcfp), vcGFAlignDefs::BadParams);
  EXPECT_THROW(rp.patternFrame(origin, vcXform<2>(vcMatrix<2>(0, 0, 0, 0), {})),
               vcGFAlignDefs::BadParams);
  EXPECT_TRUE(rp.hasPatternFrame());
  EXPECT_EQ(rp.frameOrigin(), origin);
  rp.clearPatternFrame();
  EXPECT_FALSE(rp.hasPatternFrame());
}
