#include <gtest/gtest.h>

#include <cmath>

#include "engines/correlation/vcPatCor.h"
#include "platform/core/vcAngle.h"
#include "tools/testing/vcCorrImages.h"

using corrtest::Field;
using corrtest::Pose;
using corrtest::render;

namespace {

constexpr long kW = 200, kH = 160;
// Training window: 48 x 48 at (76, 56); its centre is (99.5, 79.5).
const vcPelRect kWin(76, 56, 48, 48);
constexpr double kCx = 99.5, kCy = 79.5;

struct Scene {
  Field field{11, kW, kH};
  vcPelBuffer<unsigned char> train = render(field, kW, kH, Pose());
  vcPelBuffer_const<unsigned char> window() const {
    vcPelBuffer_const<unsigned char> w = train;
    w.window(kWin);
    return w;
  }
};

const Scene& scene() {
  static const Scene s;
  return s;
}

vc_PatCorTrainParams zoned(bool fine) {
  vc_PatCorTrainParams p;
  p.algorithms(fine ? 2 : 1);
  p.zoneAllowed(3);
  p.zoneMaxRange(1, 20.0);
  p.zoneMaxRange(2, 0.15);
  return p;
}

vc_PatCorModelU8 trained(const vc_PatCorTrainParams& p,
                         const vcPelBuffer_const<unsigned char>& mask = {}) {
  vc_PatCorModelU8 m;
  m.train(scene().window(), mask, p);
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

// Where the result pose puts the training centre, against the truth.
double centreError(const vc_PatCorResult& r, const Pose& truth) {
  double ex, ey;
  truth.map(kCx, kCy, ex, ey);
  const vcVector<2> got = r.pose() * vcVector<2>(kCx, kCy);
  return std::hypot(got.x() - ex, got.y() - ey);
}

double poseAngleDeg(const vc_PatCorResult& r) {
  return r.pose().matrix().rotation().toDouble() * 180 / vcPi;
}

}  // namespace

TEST(PatCorFind, ExactAndSubPixelTranslations) {
  const vc_PatCorModelU8 m = trained(vc_PatCorTrainParams());
  vc_PatCorRunParams rp;
  double sq = 0;
  int n = 0;
  for (double tx : {-37.0, 0.0, 21.25, 40.6})
    for (double ty : {-30.0, 0.5, 17.8}) {
      const Pose truth = around(0, 1, tx, ty);
      const vcPelBuffer<unsigned char> img = render(scene().field, kW, kH, truth);
      vc_PatCorResultSet rs;
      m.run(img, rp, rs);
      ASSERT_TRUE(rs.success());
      ASSERT_EQ(rs.numFound(), 1) << tx << "," << ty;
      const double e = centreError(rs[0], truth);
      EXPECT_LT(e, 0.02) << tx << "," << ty;
      EXPECT_GT(rs[0].score(), 0.97);
      EXPECT_NEAR(poseAngleDeg(rs[0]), 0.0, 1e-9);
      sq += e * e;
      ++n;
      if (tx == std::floor(tx) && ty == std::floor(ty)) {
        EXPECT_LT(e, 0.02);
        EXPECT_GT(rs[0].score(), 0.999);
      }
    }
  EXPECT_LT(std::sqrt(sq / n), 0.01);
}

TEST(PatCorFind, NoisyImageStillFoundWithLowerScore) {
  const vc_PatCorModelU8 m = trained(vc_PatCorTrainParams());
  const Pose truth = around(0, 1, 13.3, -9.6);
  const vcPelBuffer<unsigned char> img = render(scene().field, kW, kH, truth, 20.0);
  vc_PatCorResultSet rs;
  m.run(img, vc_PatCorRunParams(), rs);
  ASSERT_EQ(rs.numFound(), 1);
  EXPECT_LT(centreError(rs[0], truth), 0.5);
  EXPECT_LT(rs[0].score(), 0.97);
  EXPECT_GT(rs[0].score(), 0.6);
  // A threshold above the noisy score rejects it.
  vc_PatCorRunParams strict;
  strict.acceptThreshold(1, 0.99);
  m.run(img, strict, rs);
  EXPECT_TRUE(rs.success());
  EXPECT_EQ(rs.numFound(), 0);
}

TEST(PatCorFind, RotatedAndScaledWithinTrainedZone) {
  for (bool fine : {false, true}) {
    const vc_PatCorModelU8 m = trained(zoned(fine));
    vc_PatCorRunParams rp;
    rp.zoneEnable(3);
    rp.zoneRel(1, -20, 20);
    rp.zoneRel(2, -0.15, 0.15);
    for (const auto& [deg, s] : {std::pair{12.3, 1.0}, {-17.0, 1.0}, {0.0, 1.11}, {8.0, 0.92}}) {
      const Pose truth = around(deg, s, 6.4, -4.2);
      const vcPelBuffer<unsigned char> img = render(scene().field, kW, kH, truth);
      vc_PatCorResultSet rs;
      m.run(img, rp, rs);
      ASSERT_GE(rs.numFound(), 1) << fine << " " << deg << " " << s;
      // The fit brings angle and scale to the correlation maximum with or without fine steps.
      const double angTol = 0.05, scTol = 0.002;
      EXPECT_NEAR(poseAngleDeg(rs[0]), deg, angTol) << fine;
      EXPECT_NEAR(rs[0].angle(), deg, angTol);
      EXPECT_NEAR(rs[0].pose().matrix().scale(), s, scTol) << fine;
      EXPECT_LT(centreError(rs[0], truth), 0.05) << fine << " " << deg;
      if (fine) {
        EXPECT_GT(rs[0].score(), 0.93);
      }
    }
  }
}

TEST(PatCorFind, ZoneDisabledSearchesStartPoseOnly) {
  const vc_PatCorModelU8 m = trained(zoned(true));
  const Pose truth = around(10, 1, 0, 0);
  const vcPelBuffer<unsigned char> img = render(scene().field, kW, kH, truth);
  vc_PatCorRunParams rp;  // zones off: only the unrotated template
  rp.acceptThreshold(1, 0.0);
  rp.acceptThreshold(2, 0.0);
  vc_PatCorResultSet rs;
  m.run(img, rp, rs);
  ASSERT_GE(rs.numFound(), 1);
  EXPECT_NEAR(poseAngleDeg(rs[0]), 0.0, 1e-9);
  EXPECT_LT(rs[0].score(), 0.9);
  // The start pose's own rotation is searched around instead.
  rp.startPose = vcXform<2>(vcMatrix<2>(1.0, 1.0, vcRadian(0.0), vcRadian(10 * vcPi / 180)),
                            vcVector<2>(0, 0));
  rp.startPoseType = 2;
  m.run(img, rp, rs);
  ASSERT_GE(rs.numFound(), 1);
  EXPECT_NEAR(poseAngleDeg(rs[0]), 10.0, 1e-6);
  EXPECT_LT(centreError(rs[0], truth), 0.3);
  EXPECT_GT(rs[0].score(), 0.98);
}

TEST(PatCorFind, SeveralInstancesOverlapAndTranslationRange) {
  // Two copies of the pattern side by side on a flat background.
  const vcPelBuffer_const<unsigned char> w = scene().window();
  vcPelBuffer<unsigned char> img(kW, kH);
  for (long y = 0; y < kH; ++y)
    for (long x = 0; x < kW; ++x) img.set(x, y, 100);
  const long at[2][2] = {{20, 30}, {120, 90}};
  for (const auto& p : at)
    for (long y = 0; y < 48; ++y)
      for (long x = 0; x < 48; ++x) img.set(p[0] + x, p[1] + y, w.get(x, y));
  const vc_PatCorModelU8 m = trained(vc_PatCorTrainParams());
  vc_PatCorRunParams rp;
  rp.numToFind(5);
  vc_PatCorResultSet rs;
  m.run(img, rp, rs);
  ASSERT_EQ(rs.numFound(), 2);
  for (const vc_PatCorResult& r : rs.results()) {
    const vcVector<2> c = r.pose() * vcVector<2>(kCx, kCy);
    // Sub-pixel fits lean toward the flat side at a pattern's edge: a looser bound.
    const bool first = std::hypot(c.x() - 43.5, c.y() - 53.5) < 0.25;
    const bool second = std::hypot(c.x() - 143.5, c.y() - 113.5) < 0.25;
    EXPECT_TRUE(first || second) << c.x() << "," << c.y();
  }
  EXPECT_GT(std::hypot(rs[0].imagePosition().x() - rs[1].imagePosition().x(),
                       rs[0].imagePosition().y() - rs[1].imagePosition().y()),
            50);
  rp.numToFind(1);
  m.run(img, rp, rs);
  EXPECT_EQ(rs.numFound(), 1);
  // The translation range around a start pose near the second copy picks it.
  rp.startPose = vcXform<2>(vcMatrix<2>(), vcVector<2>(143.5 - kCx + 3, 113.5 - kCy - 2));
  rp.startPoseType = 2;
  rp.xyRel(vcVector<2>(-5, -5), vcVector<2>(5, 5));
  m.run(img, rp, rs);
  ASSERT_EQ(rs.numFound(), 1);
  EXPECT_LT(std::hypot((rs[0].pose() * vcVector<2>(kCx, kCy)).x() - 143.5,
                       (rs[0].pose() * vcVector<2>(kCx, kCy)).y() - 113.5),
            0.25);
  // A range that holds neither copy finds nothing.
  rp.xyRel(vcVector<2>(-1, -1), vcVector<2>(1, 1));
  rp.startPose = vcXform<2>(vcMatrix<2>(), vcVector<2>(-20, 0));
  m.run(img, rp, rs);
  EXPECT_EQ(rs.numFound(), 0);
}

TEST(PatCorZones, RunRangeOutsideTrainedZoneIsBadRange) {
  const vc_PatCorModelU8 m = trained(zoned(true));
  const vcPelBuffer<unsigned char> img = render(scene().field, kW, kH, Pose());
  vc_PatCorResultSet rs;
  vc_PatCorRunParams rp;
  rp.zoneEnable(1);
  rp.zoneRel(1, -25, 5);
  EXPECT_THROW(m.run(img, rp, rs), vc_PatCorDefs::BadRange);
  rp.zoneRel(1, -20, 20);
  EXPECT_NO_THROW(m.run(img, rp, rs));
  rp.zoneEnable(2);
  rp.zoneRel(2, -0.1, 0.2);
  EXPECT_THROW(m.run(img, rp, rs), vc_PatCorDefs::BadRange);
  // A zone not allowed at training admits only its nominal.
  const vc_PatCorModelU8 plain = trained(vc_PatCorTrainParams());
  rp.zoneEnable(1);
  rp.zoneRel(1, -1, 1);
  EXPECT_THROW(plain.run(img, rp, rs), vc_PatCorDefs::BadRange);
  rp.zoneRel(1, 0, 0);
  EXPECT_NO_THROW(plain.run(img, rp, rs));
}

TEST(PatCorMasks, TrainingAndRunMasksIgnoreOccludedPixels) {
  const Pose truth = around(0, 1, 11, 7);
  vcPelBuffer<unsigned char> img = render(scene().field, kW, kH, truth);
  // Occlude the left third of the pattern in the run image with a bright bar.
  const long ox = 76 + 11, oy = 56 + 7;
  for (long y = oy; y < oy + 48; ++y)
    for (long x = ox; x < ox + 16; ++x) img.set(x, y, 250);
  vc_PatCorRunParams rp;
  rp.acceptThreshold(1, 0.0);
  vc_PatCorResultSet rs;
  const vc_PatCorModelU8 plain = trained(vc_PatCorTrainParams());
  plain.run(img, rp, rs);
  ASSERT_GE(rs.numFound(), 1);
  const double unmasked = rs[0].score();
  EXPECT_LT(unmasked, 0.9);

  vcPelBuffer<unsigned char> tmask(48, 48);
  for (long y = 0; y < 48; ++y)
    for (long x = 16; x < 48; ++x) tmask.set(x, y, 255);
  const vc_PatCorModelU8 masked = trained(vc_PatCorTrainParams(), tmask);
  EXPECT_FALSE(masked == plain);
  masked.run(img, rp, rs);
  ASSERT_GE(rs.numFound(), 1);
  EXPECT_GT(rs[0].score(), 0.99);
  EXPECT_LT(centreError(rs[0], truth), 0.5);

  vcPelBuffer<unsigned char> rmask(kW, kH);
  for (long y = 0; y < kH; ++y)
    for (long x = 0; x < kW; ++x) rmask.set(x, y, (x >= ox && x < ox + 16) ? 0 : 255);
  plain.run(img, rmask, rp, rs);
  ASSERT_GE(rs.numFound(), 1);
  EXPECT_GT(rs[0].score(), 0.99);
  EXPECT_LT(centreError(rs[0], truth), 0.05);
}

TEST(PatCorMasks, PartialMatchFindsPatternCutByTheWindow) {
  // The pattern's left 14 columns fall outside the run window.
  const Pose truth = around(0, 1, -20.3, 3.6);
  const vcPelBuffer<unsigned char> img = render(scene().field, kW, kH, truth);
  vcPelBuffer_const<unsigned char> win = img;
  win.window(vcPelRect(70, 20, 120, 120));
  const vc_PatCorModelU8 m = trained(vc_PatCorTrainParams());
  vc_PatCorRunParams rp;
  rp.acceptThreshold(1, 0.9);
  vc_PatCorResultSet rs;
  m.run(win, rp, rs);
  const bool missed = rs.numFound() == 0 || centreError(rs[0], truth) > 1.0;
  EXPECT_TRUE(missed);
  rp.partialMatch(vcPelRect(20, 0, 1, 1));
  m.run(win, rp, rs);
  ASSERT_EQ(rs.numFound(), 1);
  EXPECT_GT(rs[0].score(), 0.99);
  EXPECT_LT(centreError(rs[0], truth), 0.2);
  // A window narrower than the template is refused unless the margins make up for it.
  win.window(vcPelRect(70, 20, 40, 120));
  rp.partialMatch(vcPelRect(0, 0, 1, 1));
  EXPECT_THROW(m.run(win, rp, rs), vc_PatCorDefs::BadImage);
  rp.partialMatch(vcPelRect(10, 0, 1, 1));
  EXPECT_NO_THROW(m.run(win, rp, rs));
}

TEST(PatCorModel, OriginEqualityAndCopies) {
  vc_PatCorModelU8 m = trained(vc_PatCorTrainParams());
  vc_PatCorModelU8 same = trained(vc_PatCorTrainParams());
  EXPECT_TRUE(m == same);
  EXPECT_TRUE(vc_PatCorModelU8() == vc_PatCorModelU8());
  EXPECT_FALSE(m == vc_PatCorModelU8());
  EXPECT_FALSE(m == trained(zoned(false)));
  vc_PatCorModelU8 other;
  other.sample(vcPair<double>(2, 2));
  other.train(scene().window(), {}, vc_PatCorTrainParams());
  EXPECT_FALSE(m == other);

  // The origin moves the model frame: a result pose maps the origin to where the training
  // point (kCx - 10, kCy + 4) lies in the run image.
  const vcXform<2> o(vcMatrix<2>(), vcVector<2>(kCx - 10, kCy + 4));
  m.origin(o);
  EXPECT_FALSE(m == same);
  const vcVector<2> back = m.originInverse_ * vcVector<2>(kCx - 10, kCy + 4);
  EXPECT_NEAR(back.x(), 0, 1e-12);
  EXPECT_NEAR(back.y(), 0, 1e-12);
  const Pose truth = around(0, 1, 9, -3);
  const vcPelBuffer<unsigned char> img = render(scene().field, kW, kH, truth);
  vc_PatCorResultSet rs;
  m.run(img, vc_PatCorRunParams(), rs);
  ASSERT_EQ(rs.numFound(), 1);
  const vcVector<2> p = rs[0].pose() * vcVector<2>(0, 0);
  EXPECT_NEAR(p.x(), kCx - 10 + 9, 0.05);
  EXPECT_NEAR(p.y(), kCy + 4 - 3, 0.05);
  // The same frame brought by the run parameters, on the model with its own identity origin:
  // the same pose, and the model is left as it was.
  vc_PatCorRunParams framed;
  framed.modelOrigin(o);
  vc_PatCorResultSet rs2;
  same.run(img, framed, rs2);
  ASSERT_EQ(rs2.numFound(), 1);
  EXPECT_EQ(rs2[0].pose(), rs[0].pose());
  EXPECT_TRUE(same.origin().isIdentity());
  const double nan = std::nan("");
  EXPECT_THROW(framed.modelOrigin(vcXform<2>(vcMatrix<2>(), vcVector<2>(nan, 0))),
               vc_PatCorDefs::BadParams);
  EXPECT_EQ(*framed.modelOrigin(), o);
  // A singular origin leaves an identity inverse.
  m.origin_ = vcXform<2>(vcMatrix<2>(0, 0, 0, 0), vcVector<2>(1, 1));
  m.computeOriginInverse_();
  EXPECT_TRUE(m.originInverse_.isIdentity());

  const vc_PatCorModelU8 copy = same;
  EXPECT_TRUE(copy == same);
  same.untrain();
  EXPECT_FALSE(same.isTrained());
  EXPECT_TRUE(copy.isTrained());
}

TEST(PatCorErrors, BadInputsAreRefused) {
  vc_PatCorModelU8 m;
  vc_PatCorResultSet rs;
  const vcPelBuffer<unsigned char> img = render(scene().field, kW, kH, Pose());
  EXPECT_THROW(m.run(img, vc_PatCorRunParams(), rs), vc_PatCorDefs::NotTrained);
  EXPECT_THROW(m.train(vcPelBuffer_const<unsigned char>(), {}, vc_PatCorTrainParams()),
               vc_PatCorDefs::BadImage);
  EXPECT_THROW(
      m.train(scene().window(), vcPelBuffer<unsigned char>(47, 48), vc_PatCorTrainParams()),
      vc_PatCorDefs::BadImage);
  vcPelBuffer<unsigned char> flat(48, 48);
  EXPECT_THROW(m.train(flat, {}, vc_PatCorTrainParams()), vc_PatCorDefs::BadImage);
  EXPECT_FALSE(m.isTrained());

  m = trained(vc_PatCorTrainParams());
  EXPECT_THROW(m.run(vcPelBuffer_const<unsigned char>(), vc_PatCorRunParams(), rs),
               vc_PatCorDefs::BadImage);
  vcPelBuffer_const<unsigned char> small = img;
  small.window(vcPelRect(0, 0, 47, 100));
  EXPECT_THROW(m.run(small, vc_PatCorRunParams(), rs), vc_PatCorDefs::BadImage);
  EXPECT_THROW(m.run(img, vcPelBuffer<unsigned char>(kW, kH - 1), vc_PatCorRunParams(), rs),
               vc_PatCorDefs::BadImage);
  EXPECT_FALSE(rs.success());
  EXPECT_THROW(m.sample(vcPair<double>(0.5, 1)), vc_PatCorDefs::BadParams);
}

// Values a damaged file or a slip of the keyboard can carry: each is refused with the engine's
// own error before it can overflow a pixel position or ask for an absurd amount of memory.
TEST(PatCorErrors, ExtremeValuesAreRefusedBeforeAnyWork) {
  using Bad = vc_PatCorDefs::BadParams;
  const vcPelBuffer<unsigned char> img = render(scene().field, kW, kH, Pose());
  vc_PatCorModelU8 m;
  m.origin(vcXform<2>(vcMatrix<2>(), vcVector<2>(1e171, 0)));
  EXPECT_THROW(m.train(scene().window(), {}, vc_PatCorTrainParams()), Bad);
  m.origin(vcXform<2>());
  vcPelBuffer_const<unsigned char> far = scene().window();
  far.clientFromImageXform(vcXform<2>(vcMatrix<2>(1e9, 0, 0, 1e9), vcVector<2>()));
  EXPECT_THROW(m.train(far, {}, vc_PatCorTrainParams()), vc_PatCorDefs::BadImage);
  vc_PatCorTrainParams tp = zoned(false);
  EXPECT_THROW(tp.zoneNominal(2, 1e171), Bad);
  tp.step(1, 1e-6, 1);  // 20 degrees in steps of a millionth
  EXPECT_THROW(m.train(scene().window(), {}, tp), Bad);
  EXPECT_FALSE(m.isTrained());

  m = trained(zoned(false));
  vc_PatCorResultSet rs;
  vc_PatCorRunParams rp;
  rp.startPoseType = 1;
  rp.startPose = vcXform<2>(vcMatrix<2>(), vcVector<2>(std::nan(""), 0));
  EXPECT_THROW(m.run(img, rp, rs), Bad);
  // A start pose within the bounds that blows the template up past the window.
  rp.startPose = vcXform<2>(vcMatrix<2>(900, 0, 0, 900), vcVector<2>(100, 80));
  EXPECT_THROW(m.run(img, rp, rs), vc_PatCorDefs::BadImage);
  m.origin_ = vcXform<2>(vcMatrix<2>(1e-9, 0, 0, 1e-9), vcVector<2>());
  rp.startPoseType = 0;
  EXPECT_THROW(m.run(img, rp, rs), Bad);
  EXPECT_FALSE(rs.success());
}

TEST(PatCorParams, SettersValidateAndKeepValues) {
  vc_PatCorTrainParams t;
  EXPECT_THROW(t.algorithms(0), vc_PatCorDefs::BadParams);
  EXPECT_THROW(t.step(3, 1.0, 1), vc_PatCorDefs::BadParams);
  EXPECT_THROW(t.step(1, 1.0, 3), vc_PatCorDefs::BadParams);
  EXPECT_THROW(t.step(1, 0.0, 1), vc_PatCorDefs::BadParams);
  EXPECT_THROW(t.zoneMaxRange(2, 1.0), vc_PatCorDefs::BadParams);
  EXPECT_THROW(t.zoneNominal(2, 0.0), vc_PatCorDefs::BadParams);
  EXPECT_THROW(t.zoneAllowed(4), vc_PatCorDefs::BadParams);
  t.step(2, 0.01, 2);
  EXPECT_EQ(t.step(2, 2), 0.01);
  EXPECT_EQ(t.step(2, 1), 0.05);
  t.zoneMaxRange(2, 0.99);
  EXPECT_EQ(t.zoneMaxRange(2), 0.99);
  EXPECT_FALSE(t == vc_PatCorTrainParams());

  vc_PatCorRunParams r;
  EXPECT_THROW(r.numToFind(0), vc_PatCorDefs::BadParams);
  EXPECT_THROW(r.xyOverlap(-0.1), vc_PatCorDefs::BadParams);
  EXPECT_THROW(r.zoneRel(2, -1.0, 0.0), vc_PatCorDefs::BadParams);
  EXPECT_THROW(r.zoneRel(1, 2.0, 1.0), vc_PatCorDefs::BadParams);
  EXPECT_THROW(r.xyRel(vcVector<2>(1, 0), vcVector<2>(0, 0)), vc_PatCorDefs::BadParams);
  EXPECT_THROW(r.uncertainty(vcPair<long>(-1, 0)), vc_PatCorDefs::BadParams);
  EXPECT_THROW(r.acceptThreshold(0, 0.5), vc_PatCorDefs::BadParams);
  r.zoneRel(1, -3, 4);
  EXPECT_EQ(r.zoneRelLow(1), -3);
  EXPECT_EQ(r.zoneRelHigh(1), 4);
  r.neighborAcceptThreshold(2, 0.3);
  EXPECT_EQ(r.neighborAcceptThreshold(2), 0.3);
  EXPECT_EQ(r.neighborAcceptThreshold(1), -2.0);
}
