// What trained edges fix, on pieces whose answer is known: a pencil slides along its length, a
// disc, a washer and a coin with a boss have no angle, a square pad's angle is defined modulo 90
// degrees, and the asymmetric sample fixes everything.
#include <gtest/gtest.h>

#include <cmath>

#include "engines/geofind/vcGFAlign.h"
#include "platform/core/vcAngle.h"
#include "platform/core/vcArchive.h"
#include "tools/testing/vcSampleImages.h"

// Named: the folder's tests compile in one unity batch.
namespace geofind_constraints {

vcSamplePattern shapes(std::vector<vcSampleShape> s) {
  vcSamplePattern p;
  p.shapes = std::move(s);
  return p;
}

vcGFAlignPattern trained(const vcSamplePattern& p, double deg = 0) {
  vcSampleRender r;
  r.width = r.height = 160;
  r.noiseSigma = 2;
  vcGFAlignPattern g;
  g.train(
      vfRenderSample(
          p, vcXform<2>(vcMatrix<2>(1, 1, vcRadian(0), vcRadian(deg * vcPi / 180)), {80, 80}), r),
      2, nullptr, 0);
  return g;
}

// The direction modulo 180 degrees, as the smaller of the two ways round.
double offBy(double a, double b) {
  const double d = std::fmod(std::fabs(a - b), 180.0);
  return std::min(d, 180 - d);
}

TEST(GeofindConstraints, KnownPieces) {
  // A pencil: a long body, a flat end and a shallow point, turned by 30 degrees.
  const vcGFAlignPattern pencil = trained(
      shapes({vfSamplePolygon({{-60, -6}, {35, -6}, {60, 0}, {35, 6}, {-60, 6}}, 220)}), 30);
  const vc_GFConstraints& c = pencil.constraints();
  EXPECT_EQ(c.symmetry, 1);
  EXPECT_LT(c.weakShare(), kVcGFWeakShare);
  EXPECT_LT(offBy(c.weakDirection(), 30), 3);
  EXPECT_LT(offBy(c.strongDirection(), 120), 3);
  EXPECT_GT(c.weakSigma(), 3 * c.strongSigma());
  ASSERT_EQ(pencil.trainingWarnings().size(), 1u);
  EXPECT_NE(pencil.trainingWarnings()[0].find("slide"), std::string::npos);
  EXPECT_NE(pencil.trainingWarnings()[0].find(" 30 degrees"), std::string::npos);

  const vcGFAlignPattern disc = trained(shapes({vfSampleCircle({0, 0}, 40, 220)}));
  const vcGFAlignPattern washer =
      trained(shapes({vfSampleCircle({0, 0}, 45, 220), vfSampleCircle({0, 0}, 18, 40)}));
  // A coin with an off-centre boss: no turn maps it onto itself, but its edges barely fix an
  // angle.
  const vcGFAlignPattern coin =
      trained(shapes({vfSampleCircle({0, 0}, 40, 220), vfSampleCircle({9, 12}, 12, 120)}));
  vc_GFPatternInfo turns;
  coin.getInfo(turns);
  EXPECT_FALSE(turns.flags & vcGFAlignDefs::eSymCircle);
  for (const vcGFAlignPattern* round : {&disc, &washer, &coin}) {
    EXPECT_EQ(round->constraints().symmetry, 0);
    EXPECT_LT(round->constraints().angleShare(), kVcGFRoundShare);
    EXPECT_GT(round->constraints().weakShare(), 0.9);
    EXPECT_EQ(
        round->trainingWarnings(),
        std::vector<std::string>{"it is round: its edges fix no angle (a part takes it from its "
                                 "other pieces; searched alone, search it at one angle)"});
  }

  const vcGFAlignPattern pad =
      trained(shapes({vfSamplePolygon({{-30, -30}, {30, -30}, {30, 30}, {-30, 30}}, 220)}), 10);
  EXPECT_EQ(pad.constraints().symmetry, 4);
  EXPECT_GT(pad.constraints().weakShare(), 0.9);
  EXPECT_EQ(pad.trainingWarnings(),
            std::vector<std::string>{"it is 4-fold symmetric: its angle is defined only modulo "
                                     "90 degrees; keep its angle range narrower than that"});

  const vcGFAlignPattern asym = trained(vfSampleAsymmetricPattern());
  EXPECT_EQ(asym.constraints().symmetry, 1);
  EXPECT_GT(asym.constraints().weakShare(), 0.3);
  EXPECT_GT(asym.constraints().angleShare(), 0.2);
  EXPECT_TRUE(asym.trainingWarnings().empty());
  EXPECT_THROW(vcGFAlignPattern().constraints(), vcGFAlignDefs::NotTrained);
}

// The analysis is stored with the model; an archive of the version before it (no analysis at
// its end) loads with the analysis worked out again.
TEST(GeofindConstraints, KeptInTheArchive) {
  vcGFAlignPattern pad =
      trained(shapes({vfSamplePolygon({{-30, -30}, {30, -30}, {30, 30}, {-30, 30}}, 220)}), 10);
  vcArchive out;
  out || pad;
  vcArchive tail;
  vc_GFConstraints c = pad.constraints();
  tail || c.centre || c.sxx || c.sxy || c.syy || c.leverage || c.spread || c.symmetry;
  std::vector<std::uint8_t> old = out.bytes();
  old.resize(old.size() - tail.bytes().size());
  ASSERT_EQ(old[0], 1);  // the version byte
  old[0] = 0;
  for (const std::vector<std::uint8_t>& bytes : {out.bytes(), old}) {
    vcArchive in(bytes);
    vcGFAlignPattern back;
    in || back;
    EXPECT_EQ(in.remaining(), 0u);
    EXPECT_EQ(back.constraints().symmetry, 4);
    EXPECT_DOUBLE_EQ(back.constraints().sxx, pad.constraints().sxx);
    EXPECT_DOUBLE_EQ(back.constraints().leverage, pad.constraints().leverage);
  }
}

}  // namespace geofind_constraints
