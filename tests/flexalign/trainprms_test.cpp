#include <gtest/gtest.h>

#include "support/archive_check.h"
#include "vcFlexAlignTool.h"

namespace {

using BadIndex = vcFlexAlignDefs::BadIndex;

vcFlexSubModelGfndTrainParams gfnd(float coarse) {
  vcFlexSubModelGfndTrainParams p;
  p.autoSelectGrainLimits(false);
  p.grainLimits(coarse, 1.0f);
  return p;
}

TEST(FlexAlignTrainParams, CustomEntriesAreClonedReplacedAndRestored) {
  vcFlexAlignTrainParams tp(gfnd(4.0f));
  vcFlexSubModelCorTrainParams mine;
  mine.coarseGrainLimit(2.0);
  tp.custom(3, mine);
  mine.coarseGrainLimit(3.0);  // the stored clone must not follow
  tp.custom(5, gfnd(8.0f));
  tp.custom(3, gfnd(6.0f));
  EXPECT_EQ(tp.customSubModelInstanceIndices(), (std::vector<long>{3, 5}));
  EXPECT_TRUE(tp.custom(3).equal(gfnd(6.0f)));
  EXPECT_TRUE(tp.subModelInstanceParams(5).equal(gfnd(8.0f)));
  EXPECT_TRUE(tp.subModelInstanceParams(4).equal(gfnd(4.0f)));

  tp.restoreStandardParams(3);
  tp.restoreStandardParams(9);  // no entry: nothing happens
  EXPECT_EQ(tp.customSubModelInstanceIndices(), (std::vector<long>{5}));
  EXPECT_TRUE(tp.subModelInstanceParams(3).equal(gfnd(4.0f)));
  EXPECT_THROW(tp.custom(3), BadIndex);
  EXPECT_THROW(tp.custom(-1), BadIndex);
  EXPECT_THROW(tp.custom(-1, mine), BadIndex);
  EXPECT_THROW(tp.subModelInstanceParams(-1), BadIndex);
  EXPECT_THROW(tp.restoreStandardParams(-2), BadIndex);
  EXPECT_EQ(tp.customSubModelInstanceIndices().size(), 1u);
}

TEST(FlexAlignTrainParams, CopiesAreDeepAndEqualityIsByValue) {
  vcFlexAlignTrainParams a(gfnd(4.0f));
  a.custom(1, vcFlexSubModelCorTrainParams());
  vcFlexAlignTrainParams b(a);
  EXPECT_TRUE(a == b);
  EXPECT_NE(&a.standard(), &b.standard());
  EXPECT_NE(&a.custom(1), &b.custom(1));
  b.custom(1, gfnd(2.0f));
  EXPECT_FALSE(a == b);
  EXPECT_TRUE(a.custom(1).equal(vcFlexSubModelCorTrainParams()));
  b = a;
  EXPECT_TRUE(a == b);
  b.standard(gfnd(8.0f));
  EXPECT_FALSE(a == b);
  // Same entries in another order are different parameters.
  vcFlexAlignTrainParams c, d;
  c.custom(1, gfnd(2.0f));
  c.custom(2, gfnd(3.0f));
  d.custom(2, gfnd(3.0f));
  d.custom(1, gfnd(2.0f));
  EXPECT_FALSE(c == d);
  EXPECT_EQ(std::string(10, ' ') + "Currently FlexAlign has no global training parameters.\n",
            c.toDebugString());
}

// The private view is the same settings: what is set through either shows in the other.
TEST(FlexAlignTrainParams, PrivateViewIsTheSameObject) {
  vcFlexAlignTrainParams pub(gfnd(4.0f));
  pub.custom(2, vcFlexSubModelCorTrainParams());
  vc_FlexAlignTrainParams& view = pub.privData();
  EXPECT_EQ(typeid(view), typeid(vc_FlexAlignTrainParams));
  EXPECT_EQ(&pub.privData(), &view);
  view.custom(5, gfnd(2.0f));
  EXPECT_EQ(pub.customSubModelInstanceIndices(), (std::vector<long>{2, 5}));
  pub.restoreStandardParams(2);
  EXPECT_EQ(view.customSubModelInstanceIndices(), std::vector<long>{5});
  // Assigning to the view writes the object; a copy of the view is a settings object of its own.
  view = vc_FlexAlignTrainParams();
  EXPECT_TRUE(pub == vcFlexAlignTrainParams());
  vc_FlexAlignTrainParams copy(view);
  copy.custom(1, gfnd(3.0f));
  EXPECT_TRUE(pub.customSubModelInstanceIndices().empty());
  vc_FlexAlignTrainParams priv;
  EXPECT_EQ(&priv.vcFlexAlignTrainParams::privData(), &priv);
  EXPECT_TRUE(priv.standard().equal(vcFlexSubModelCorTrainParams()));
}

TEST(FlexAlignTrainParams, ArchiveRoundTripAndDamagedArchives) {
  vcFlexAlignTrainParams tp(gfnd(4.0f));
  tp.custom(7, vcFlexSubModelCorTrainParams());
  tp.custom(2, gfnd(6.0f));
  const vcTest::Bytes bytes = vcTest::storeBytes(tp);
  vcFlexAlignTrainParams back;
  EXPECT_EQ(vcTest::loadBytes(bytes, back), 0u);
  EXPECT_TRUE(back == tp);
  EXPECT_NE(dynamic_cast<const vcFlexSubModelGfndTrainParams*>(&back.standard()), nullptr);

  vcTest::Bytes wrong = bytes;
  wrong[0] = 1;
  vcFlexAlignTrainParams target;
  const vcFlexAlignTrainParams before(target);
  EXPECT_THROW(vcTest::loadBytes(wrong, target), vcArchive::UnknownVersion);
  EXPECT_TRUE(target == before);
  vcFlexAlignTrainParams t;
  vcTest::expectDamageRefused(
      bytes, 300, 11,
      [&](const vcTest::Bytes& b) {
        t = vcFlexAlignTrainParams();
        return vcTest::loadBytes(b, t);
      },
      [&] { return t == before; });
}

}  // namespace
