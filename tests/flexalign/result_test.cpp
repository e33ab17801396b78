#include <gtest/gtest.h>

#include <cmath>

#include "platform/core/vcAngle.h"
#include "support/archive_check.h"
#include "tests/flexalign/flexalign_access.h"
#include "vcFlexAlignTool.h"

namespace {

using A = vcFlexAlignTestAccess;
using D = vcFlexAlignDefs;

vcXform<2> rigid(double x, double y, double deg) {
  const double a = deg * vcPi / 180.0;
  return vcXform<2>(vcMatrix<2>(std::cos(a), -std::sin(a), std::sin(a), std::cos(a)), {x, y});
}

// One 40 x 40 placement at the origin.
vcFlexArrangement square() {
  vcPelBuffer<unsigned char> img(40, 40);
  return vcFlexArrangement({vcFlexSubModel(img, "sq")});
}

TEST(FlexAlignResult, DefaultsAndSubModelLookup) {
  const vcFlexAlignResult r;
  EXPECT_TRUE(r.found());
  EXPECT_EQ(r.score(), 0.0);
  EXPECT_EQ(r.location(), vcVector<2>(0, 0));
  EXPECT_TRUE(r.subModelResults().empty());
  EXPECT_EQ(vcFlexAlignResultSet().numFound(), 0);

  const vcFlexAlignResult s = A::result(rigid(1, 2, 0), 0.7, {3, 7, 9});
  vcPtrHandle<vcFlexSubModelResult> h;
  s.getSubModelResult(7, h);
  EXPECT_EQ(h.ptr(), s.subModelResults()[1].ptr());
  s.getSubModelResult(8, h);
  EXPECT_TRUE(h.isNull());
  EXPECT_EQ(s.getSubModelResult(std::vector<long>{8, 9, 3}, h), 1);
  EXPECT_EQ(h.ptr(), s.subModelResults()[2].ptr());
  EXPECT_EQ(s.getSubModelResult(std::vector<long>{8}, h), -1);
  const vcFlexAlignResult copy(s);  // clones its sub-model results
  EXPECT_NE(copy.subModelResults()[0].ptr(), s.subModelResults()[0].ptr());
  EXPECT_EQ(copy.location(), vcVector<2>(1, 2));
}

TEST(FlexAlignResult, UncertaintyTestAllowsTwoUnitsAndTheZoneTolerances) {
  const vcFlexArrangement arr = square();
  vcFlexAlignRunParams rp;
  rp.xyUncertainty(10.0, 0.0);
  vcFlexAlignResult r = A::result(rigid(12.0, 0, 0), 1);
  EXPECT_TRUE(A::within(r, arr, rp));
  r = A::result(rigid(12.1, 0, 0), 1);
  EXPECT_FALSE(A::within(r, arr, rp));
  // A disabled angle zone still allows half a degree; an enabled one its range plus that.
  r = A::result(rigid(0, 0, 0.4), 1);
  EXPECT_TRUE(A::within(r, arr, rp));
  r = A::result(rigid(0, 0, 0.6), 1);
  EXPECT_FALSE(A::within(r, arr, rp));
  rp.zoneEnable(D::eAngle);
  rp.zoneRelStandard(D::eAngle, -10, 10);
  r = A::result(rigid(0, 0, 10.4), 1);
  EXPECT_TRUE(A::within(r, arr, rp));
  r = A::result(rigid(0, 0, -10.6), 1);
  EXPECT_FALSE(A::within(r, arr, rp));
}

TEST(FlexAlignResult, OverlapByBoxesAndAngleAcrossTheHalfTurn) {
  const vcFlexArrangement arr = square();
  vcFlexAlignRunParams rp;
  vcFlexAlignResult a = A::result(rigid(0, 0, 0), 1), b = A::result(rigid(0, 0, 0), 1);
  EXPECT_TRUE(A::overlap(a, b, arr, rp));
  rp.xyOverlap(1.0);
  EXPECT_FALSE(A::overlap(a, b, arr, rp));
  rp.xyOverlap(0.5);
  b = A::result(rigid(15, 0, 0), 1);  // boxes overlap by 1 - 2 * 15 / 80
  EXPECT_TRUE(A::overlap(a, b, arr, rp));
  b = A::result(rigid(21, 0, 0), 1);
  EXPECT_FALSE(A::overlap(a, b, arr, rp));
  // 179 and -179 degrees are 2 apart.
  rp.zoneOverlapStandard(D::eAngle, 3.0);
  a = A::result(rigid(20, 20, 179), 1);
  b = A::result(rigid(20, 20, -179), 1);
  EXPECT_TRUE(A::overlap(a, b, arr, rp));
  rp.zoneOverlapStandard(D::eAngle, 1.0);
  EXPECT_FALSE(A::overlap(a, b, arr, rp));
}

TEST(FlexAlignResult, ArchivesRoundTripAndRefuseDamage) {
  vcFlexAlignResultSet set;
  vcTest::Bytes empty = vcTest::storeBytes(set);
  vcFlexAlignResult r = A::result(rigid(5, 6, 30), 0.75, {2, 0});
  vcTest::Bytes one = vcTest::storeBytes(r);
  vcFlexAlignResult back;
  EXPECT_EQ(vcTest::loadBytes(one, back), 0u);
  EXPECT_EQ(back.positionIndices(), (std::vector<long>{2, 0}));
  EXPECT_EQ(back.score(), 0.75);
  EXPECT_NEAR((back.subModelResults()[1]->location() - vcVector<2>(5, 6)).len(), 0.0, 1e-12);
  EXPECT_EQ(back.location(), r.location());
  vcTest::Bytes bad = one;
  bad[0] = 2;
  EXPECT_THROW(vcTest::loadBytes(bad, back), vcArchive::UnknownVersion);
  EXPECT_EQ(back.positionIndices().size(), 2u);
  vcFlexAlignResult t;
  vcTest::expectDamageRefused(
      one, 200, 3,
      [&](const vcTest::Bytes& b) {
        t = vcFlexAlignResult();
        return vcTest::loadBytes(b, t);
      },
      [&] { return t.subModelResults().empty(); });
  EXPECT_EQ(vcTest::loadBytes(empty, set), 0u);
  EXPECT_TRUE(set.results().empty());
}

}  // namespace
