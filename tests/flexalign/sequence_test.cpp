// The run's sequence around the search: parameters refused before any search, masks, the
// re-search of missed instances, the removal of repeated results and the ranking, and result
// sets through an archive.
#include <gtest/gtest.h>

#include "support/archive_check.h"
#include "tests/flexalign/flexalign_access.h"
#include "tests/flexalign/three_pieces.h"
#include "vcFlexAlignTool.h"

namespace {

using A = vcFlexAlignTestAccess;
using namespace vcTestThree;

// Run parameters of neither engine.
class OtherRunParams : public vcFlexSubModelRunParams {
 public:
  vcPtrHandle<vcFlexSubModelRunParams> clone() const override {
    return vcPtrHandle<vcFlexSubModelRunParams>(new OtherRunParams(*this));
  }
  bool equal(const vcFlexSubModelRunParams& o) const override {
    return dynamic_cast<const OtherRunParams*>(&o) != nullptr;
  }
};

std::string messageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const FD::Errors& e) {
    return e.message();
  }
  return "no exception";
}

struct Fixture {
  Scene s = scene();
  vcFlexAlignPattern pat = trained(s);
  vcPelBuffer<unsigned char> img = blankImage(3);
  vc2XformLinear start{rigid(200, 150, 0)};
  Fixture() { render(s, rigid(200, 150, 0), std::vector<vcXform<2>>(3, rigid(0, 0, 0)), img); }
};

TEST(FlexAlignSequence, SubModelParametersOfTheWrongKindOrModeAreRefused) {
  const Fixture f;
  vcFlexAlignResultSet rs;
  for (FD::RunStrategy strategy : {FD::eIndependentSubModels, FD::eLocallyFixturedSubModels}) {
    vcFlexAlignRunParams rp = runParams(strategy);
    vcFlexSubModelGfndRunParams advanced;
    advanced.dofMode(vcFlexSubModelGfndDefs::eAdvanced);
    rp.custom(0, advanced);
    EXPECT_EQ(messageOf([&] { f.pat.run(f.img, f.start, {}, rp, rs); }),
              "Sub-model and arrangement DOF modes are incompatible.");
    rp.custom(0, OtherRunParams());
    EXPECT_EQ(messageOf([&] { f.pat.run(f.img, f.start, {}, rp, rs); }),
              "Sub-model runtime parameters are not of the allowed type.");
    // The custom DOF mode on both sides is not supported.
    vc_SubModelGfndRunParams custom;
    custom.dofMode(vcFlexSubModelGfndDefs::eCustom);
    vc_FlexAlignRunParams both(runParams(strategy));
    both.dofMode(FD::eCustom);
    both.custom(0, custom);
    EXPECT_THROW(f.pat.run(f.img, f.start, {}, both, rs), FD::NotImplemented);
  }
}

TEST(FlexAlignSequence, AMaskHidesWhatItCovers) {
  const Fixture f;
  vcPelBuffer<unsigned char> mask(f.img.width(), f.img.height());
  for (long y = 0; y < mask.height(); ++y)
    for (long x = 0; x < mask.width(); ++x) mask.set(x, y, 255);
  for (FD::RunStrategy strategy : {FD::eIndependentSubModels, FD::eLocallyFixturedSubModels}) {
    vcFlexAlignResultSet rs;
    f.pat.run(f.img, mask, f.start, {}, runParams(strategy), rs);
    ASSERT_EQ(rs.results().size(), 1u);
    EXPECT_EQ(rs.results()[0].positionIndices().size(), 3u);
  }
  // Piece 2 (centred at (248, 318)) under a zero mask.
  for (long y = 250; y < 400; ++y)
    for (long x = 180; x < 320; ++x) mask.set(x, y, 0);
  vcFlexAlignRunParams rp = runParams(FD::eLocallyFixturedSubModels);
  rp.acceptThreshold(0.3);
  vcFlexAlignResultSet rs;
  f.pat.run(f.img, mask, f.start, {}, rp, rs);
  ASSERT_EQ(rs.results().size(), 1u);
  EXPECT_EQ(rs.results()[0].positionIndices().size(), 2u);
  EXPECT_FALSE(rs.results()[0].instanceStatus()[2].found());
}

// An instance missed before another was found is searched again at the end of its branch when
// the pattern's recursion depth allows it (the depth counts the instances found on the
// branch). The order is 0, 2, 1: hidden piece 2 is missed before piece 1 is found.
TEST(FlexAlignSequence, MissedInstancesAreSearchedAgainUpToTheRecursionDepth) {
  Fixture f;
  vcPelBuffer<unsigned char> img = blankImage(3);
  render(f.s, rigid(200, 150, 0), std::vector<vcXform<2>>(3, rigid(0, 0, 0)), img, /*hide=*/2);
  const vcFlexAlignRunParams rp = runParams(FD::eLocallyFixturedSubModels);
  vcFlexAlignResultSet rs;
  f.pat.run(img, f.start, {}, rp, rs);
  EXPECT_EQ(rs.searches(), 3);
  vcFlexAlignPatternHelper::maxRecursionDepth(f.pat, 10);
  f.pat.run(img, f.start, {}, rp, rs);
  EXPECT_EQ(rs.searches(), 4);
  ASSERT_EQ(rs.results().size(), 1u);
  EXPECT_EQ(rs.results()[0].positionIndices().size(), 2u);
}

// Of overlapping results the weaker goes, of equal ones the earlier; found ones rank first.
TEST(FlexAlignSequence, RepeatsAreRemovedAndFoundOnesRankFirst) {
  const Fixture f;
  const vcFlexAlignRunParams rp = runParams(FD::eIndependentSubModels);
  std::vector<vcFlexAlignResult> res = {
      A::result(rigid(0, 0, 0), 0.5), A::result(rigid(2, 0, 0), 0.9),
      A::result(rigid(0, 3, 0), 0.7), A::result(rigid(400, 0, 0), 0.6)};
  A::removeOverlapping(f.pat, res, rp);
  ASSERT_EQ(res.size(), 2u);
  EXPECT_FLOAT_EQ(res[0].score(), 0.9f);
  EXPECT_FLOAT_EQ(res[1].score(), 0.6f);
  res = {A::result(rigid(0, 0, 0), 0.8, {0}), A::result(rigid(1, 0, 0), 0.8, {0, 1})};
  A::removeOverlapping(f.pat, res, rp);
  ASSERT_EQ(res.size(), 1u);
  EXPECT_EQ(res[0].positionIndices().size(), 2u);  // the later one
  res = {A::result(rigid(0, 0, 0), 0.9), A::result(rigid(0, 0, 0), 0.5),
         A::result(rigid(0, 0, 0), 0.7)};
  A::found(res[0], false);
  A::rank(res, 2);
  ASSERT_EQ(res.size(), 2u);
  EXPECT_TRUE(res[0].found());
  EXPECT_FLOAT_EQ(res[0].score(), 0.7f);
  EXPECT_FLOAT_EQ(res[1].score(), 0.5f);
}

TEST(FlexAlignSequence, AResultSetWithResultsThroughAnArchive) {
  const Fixture f;
  vcFlexAlignRunParams rp = runParams(FD::eLocallyFixturedSubModels);
  vcFlexAlignResultSet rs;
  f.pat.run(f.img, f.start, {}, rp, rs);
  ASSERT_EQ(rs.results().size(), 1u);
  const vcTest::Bytes bytes = vcTest::storeBytes(rs);
  vcFlexAlignResultSet back;
  EXPECT_EQ(vcTest::loadBytes(bytes, back), 0u);
  EXPECT_EQ(back.time(), rs.time());
  EXPECT_EQ(back.searches(), rs.searches());
  ASSERT_EQ(back.results().size(), 1u);
  const vcFlexAlignResult &a = rs.results()[0], &b = back.results()[0];
  EXPECT_EQ(b.positionIndices(), a.positionIndices());
  EXPECT_EQ(b.score(), a.score());
  EXPECT_EQ(b.instanceStatus(), a.instanceStatus());
  EXPECT_TRUE(b.pose().linearXform({0, 0}) == a.pose().linearXform({0, 0}));
  for (std::size_t i = 0; i < a.subModelResults().size(); ++i)
    EXPECT_TRUE(b.subModelResults()[i]->pose().linearXform({0, 0}) ==
                a.subModelResults()[i]->pose().linearXform({0, 0}));
  vcFlexAlignResultSet t;
  vcTest::expectDamageRefused(
      bytes, 200, 9,
      [&](const vcTest::Bytes& d) {
        t = vcFlexAlignResultSet();
        return vcTest::loadBytes(d, t);
      },
      [&] { return t.results().empty(); });
}

}  // namespace
