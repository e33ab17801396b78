// Overlap and within-uncertainty decisions of both result kinds, at their boundaries.
#include <gtest/gtest.h>

#include "params_test_util.h"
#include "vcFlexModels.h"
#include "vcFlexSubModelParams.h"

namespace {

using D = vcFlexSubModelParamsDefs;
using G = vcFlexSubModelGfndDefs;

// A 20 x 10 sub-model whose origin sits at its centre (client (10, 5)).
const vcRect kExtent(0, 0, 20, 10);
const vc2XformLinear kOriginInverse(vcMatrix<2>(), {-10, -5});

vcPtrHandle_const<vc2XformBase> pose(double x, double y, double deg = 0, double scale = 1,
                                     double aspect = 1, double skewDeg = 0) {
  return new vc2XformLinear(vcMatrix<2>(scale, aspect, vcDegree(skewDeg), vcDegree(deg)), {x, y});
}

template <class R>
R resultAt(const vcPtrHandle_const<vc2XformBase>& p) {
  R r;
  r.pose(p);
  return r;
}

TEST(CorResultOverlap, TranslationAngleAndScaleBoundaries) {
  vcFlexSubModelCorRunParams p;  // xyOverlap 0.5
  const auto a = resultAt<vcFlexSubModelCorResult>(pose(100, 100));
  // Along x the overlap is 1 - dx / 20: 0.5 at dx = 10, which does not count as overlapping.
  EXPECT_FALSE(a.isOverlapping(kExtent, kOriginInverse,
                               resultAt<vcFlexSubModelCorResult>(pose(110, 100)), p));
  EXPECT_TRUE(a.isOverlapping(kExtent, kOriginInverse,
                              resultAt<vcFlexSubModelCorResult>(pose(109.9, 100)), p));
  // Along y the box is 10 high: dy = 4.9 still overlaps 0.51.
  EXPECT_TRUE(a.isOverlapping(kExtent, kOriginInverse,
                              resultAt<vcFlexSubModelCorResult>(pose(100, 104.9)), p));
  EXPECT_FALSE(a.isOverlapping(kExtent, kOriginInverse,
                               resultAt<vcFlexSubModelCorResult>(pose(100, 105.1)), p));

  p.zoneOverlapStandard(D::eAngle, 10.0);
  EXPECT_TRUE(a.isOverlapping(kExtent, kOriginInverse,
                              resultAt<vcFlexSubModelCorResult>(pose(100, 100, 9.9)), p));
  EXPECT_FALSE(a.isOverlapping(kExtent, kOriginInverse,
                               resultAt<vcFlexSubModelCorResult>(pose(100, 100, 10.1)), p));
  // The angle difference is taken around the circle.
  const auto b = resultAt<vcFlexSubModelCorResult>(pose(100, 100, 175));
  EXPECT_TRUE(b.isOverlapping(kExtent, kOriginInverse,
                              resultAt<vcFlexSubModelCorResult>(pose(100, 100, -176)), p));
  p.zoneOverlapStandard(D::eAngle, 0.0);
  p.zoneOverlapStandard(D::eUniformScale, 1.0);
  // Scale difference 1.05 - 1 = 0.05 is below the overlap value 1.0 as the rule compares it.
  EXPECT_TRUE(a.isOverlapping(kExtent, kOriginInverse,
                              resultAt<vcFlexSubModelCorResult>(pose(100, 100, 0, 1.05)), p));

  vcFlexSubModelGfndRunParams wrong;
  EXPECT_THROW(a.isOverlapping(kExtent, kOriginInverse, a, wrong), vcFlexAlignDefs::InternalError);
  EXPECT_THROW(a.isOverlapping(kExtent, kOriginInverse, vcFlexSubModelGfndResult(), p),
               vcFlexAlignDefs::InternalError);
}

TEST(CorResultUncertainty, Boundaries) {
  vcFlexSubModelCorRunParams p;
  p.xyUncertainty(10, 5);
  const auto expected = pose(50, 60, 30, 2.0);
  const vcFlexSubModel none;  // a blank one: the decision does not look at the sub-model
  auto within = [&](const vcPtrHandle_const<vc2XformBase>& found) {
    return resultAt<vcFlexSubModelCorResult>(found).isWithinDofUncertainty(none, *expected, p);
  };
  EXPECT_TRUE(within(pose(50 + 14, 60 - 9, 30, 2.0)));  // uncertainty + 4 on both axes
  EXPECT_FALSE(within(pose(50 + 14.01, 60, 30, 2.0)));
  EXPECT_FALSE(within(pose(50, 60 + 9.01, 30, 2.0)));
  // Angle and scale disabled: +-2 degrees, +-1 percent around the expected pose.
  EXPECT_TRUE(within(pose(50, 60, 31.99, 2.0)));
  EXPECT_FALSE(within(pose(50, 60, 32.01, 2.0)));
  EXPECT_TRUE(within(pose(50, 60, 30, 2.0 * 1.0099)));
  EXPECT_FALSE(within(pose(50, 60, 30, 2.0 * 1.0101)));
  // Enabled zones widen the allowance: angle [-10, 20] + 2.
  p.zoneEnable(D::eAngle | D::eUniformScale);
  p.zoneRelStandard(D::eAngle, -10, 20);
  p.zoneRelStandard(D::eUniformScale, -0.1, 0.1);
  EXPECT_TRUE(within(pose(50, 60, 30 + 21.99, 2.0)));
  EXPECT_FALSE(within(pose(50, 60, 30 - 12.01, 2.0)));
  EXPECT_TRUE(within(pose(50, 60, 30, 2.0 * 1.109)));
  EXPECT_FALSE(within(pose(50, 60, 30, 2.0 * 1.111)));
  // An aspect change is never within: the engine scales uniformly.
  EXPECT_FALSE(within(pose(50, 60, 30, 2.0, 1.02)));
}

vcFlexSubModelGfndResult gfndAt(const vcPtrHandle_const<vc2XformBase>& p,
                                std::vector<double> values) {
  auto r = resultAt<vcFlexSubModelGfndResult>(p);
  r.dofValues(values);
  return r;
}

TEST(GfndResultOverlap, TranslationAndDofBoundaries) {
  vcFlexSubModelGfndRunParams p;  // xyOverlap 0.8
  // Values in list order: y scale, x scale, scale, angle.
  const auto a = gfndAt(pose(0, 0), {1, 1, 1, 170});
  // Equal poses overlap whenever xyOverlap < 1 and no DOF values differ.
  EXPECT_TRUE(a.isOverlapping(kExtent, kOriginInverse, gfndAt(pose(0, 0), {1, 1, 1, 170}), p));
  p.xyOverlap(1.0);
  EXPECT_FALSE(a.isOverlapping(kExtent, kOriginInverse, gfndAt(pose(0, 0), {1, 1, 1, 170}), p));
  p.xyOverlap(0.8);
  // 1 - dx / 20 = 0.8 at dx = 4: not overlapping.
  EXPECT_FALSE(a.isOverlapping(kExtent, kOriginInverse, gfndAt(pose(4, 0), {1, 1, 1, 170}), p));
  EXPECT_TRUE(a.isOverlapping(kExtent, kOriginInverse, gfndAt(pose(3.9, 0), {1, 1, 1, 170}), p));

  // The angle's tolerance is its overlap value, taken around the circle: 170 vs -175 is 15.
  p.zoneOverlapStandard(D::eAngle, 15.5);
  EXPECT_TRUE(a.isOverlapping(kExtent, kOriginInverse, gfndAt(pose(0, 0), {1, 1, 1, -175}), p));
  p.zoneOverlapStandard(D::eAngle, 14.5);
  EXPECT_FALSE(a.isOverlapping(kExtent, kOriginInverse, gfndAt(pose(0, 0), {1, 1, 1, -175}), p));
  // A scale's tolerance is (overlap - 1) times its range centre; the disabled scale is pinned
  // at 1, so overlap 1.1 allows 0.1.
  p.zoneOverlapStandard(D::eUniformScale, 1.1);
  EXPECT_TRUE(a.isOverlapping(kExtent, kOriginInverse, gfndAt(pose(0, 0), {1, 1, 1.09, 170}), p));
  EXPECT_FALSE(a.isOverlapping(kExtent, kOriginInverse, gfndAt(pose(0, 0), {1, 1, 1.11, 170}), p));

  vcFlexSubModelCorRunParams wrong;
  EXPECT_THROW(a.isOverlapping(kExtent, kOriginInverse, a, wrong), vcFlexAlignDefs::InternalError);
}

TEST(GfndResultUncertainty, StandardAndAdvancedBoundaries) {
  vc_SubModelGfndRunParams p;
  p.xyUncertainty(2, 3);
  const auto expected = pose(10, 10, -20, 1.5);
  const vcFlexSubModel none;
  auto within = [&](const vcPtrHandle_const<vc2XformBase>& found) {
    return gfndAt(found, {}).isWithinDofUncertainty(none, *expected, p);
  };
  EXPECT_TRUE(within(pose(16, 17, -20, 1.5)));
  EXPECT_FALSE(within(pose(16.01, 10, -20, 1.5)));
  EXPECT_FALSE(within(pose(10, 2.99, -20, 1.5)));
  // Standard, all disabled: angle +-2, scale factors +-0.05.
  EXPECT_TRUE(within(pose(10, 10, -21.99, 1.5)));
  EXPECT_FALSE(within(pose(10, 10, -22.01, 1.5)));
  EXPECT_TRUE(within(pose(10, 10, -20, 1.5 * 1.049)));
  EXPECT_FALSE(within(pose(10, 10, -20, 1.5 * 1.051)));
  EXPECT_FALSE(within(pose(10, 10, -20, 1.5, 1.06)));  // y scale / scale = aspect
  p.zoneEnable(D::eAngle | D::eYScale);
  p.zoneRelStandard(D::eAngle, 170, 190);
  p.zoneRelStandard(D::eYScale, -0.2, 0.1);
  EXPECT_TRUE(within(pose(10, 10, -20 + 180, 1.5)));  // reported as -180 turns into the range
  EXPECT_TRUE(within(pose(10, 10, -20 + 180, 1.5, 1.14)));
  EXPECT_FALSE(within(pose(10, 10, -20 + 180, 1.5, 1.16)));
  EXPECT_FALSE(within(pose(10, 10, -20, 1.5)));  // angle 0 is outside [168, 192]

  // Advanced: skew tolerance 1 degree when disabled.
  p.dofMode(G::eAdvanced);
  EXPECT_TRUE(within(pose(10, 10, -20, 1.5, 1.0, 0.99)));
  EXPECT_FALSE(within(pose(10, 10, -20, 1.5, 1.0, 1.01)));
  EXPECT_TRUE(within(pose(10, 10, -20, 1.5, 1.049)));
  p.zoneEnable(D::eSkew);
  p.zoneRelAdvanced(D::eSkew, -3, 3);
  EXPECT_TRUE(within(pose(10, 10, -20, 1.5, 1.0, 3.99)));
  EXPECT_FALSE(within(pose(10, 10, -20, 1.5, 1.0, 4.01)));

  // Custom mode has no rule; a translation miss is decided before the mode is looked at.
  p.dofMode(G::eCustom);
  EXPECT_THROW(within(pose(10, 10)), vcFlexAlignDefs::NotImplemented);
  EXPECT_FALSE(within(pose(100, 10)));
}

}  // namespace
