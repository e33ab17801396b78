// Why a part or a piece was not found: the statuses a run leaves on its results.
#include <gtest/gtest.h>

#include "support/archive_check.h"
#include "tests/flexalign/three_pieces.h"
#include "vcFlexAlignTool.h"

namespace {

using namespace vcTestThree;
using St = vcFlexAlignStatus;

const std::vector<vcXform<2>> kStill(3, rigid(0, 0, 0));

// The part at (200, 150) with the right quarter of piece 2 (centred at (248, 318)) painted over:
// its best candidate scores about three quarters.
vcPelBuffer<unsigned char> quarterCovered(const Scene& s, int hide, std::uint32_t seed) {
  vcPelBuffer<unsigned char> img = blankImage(seed);
  render(s, rigid(200, 150, 0), kStill, img, hide);
  for (long y = 270; y < 370; ++y)
    for (long x = 268; x < 300; ++x) img.row(y)[x] = 40;
  return img;
}

TEST(FlexAlignStatus, PieceUnderItsThresholdHiddenOrOutsideTheImage) {
  const Scene s = scene();
  const vcFlexAlignPattern pat = trained(s);
  for (FD::RunStrategy strategy : {FD::eIndependentSubModels, FD::eLocallyFixturedSubModels}) {
    // Piece 2 partly covered asks for more than its candidate scores.
    vcPelBuffer<unsigned char> img = quarterCovered(s, /*hide=*/-1, 5);
    vcFlexAlignRunParams rp = runParams(strategy);
    vcFlexSubModelGfndRunParams strict(
        dynamic_cast<const vcFlexSubModelGfndRunParams&>(rp.standard()));
    strict.acceptThreshold(0.9);
    rp.custom(2, strict);
    rp.acceptThreshold(0.3);
    vcFlexAlignResultSet rs;
    pat.run(img, vc2XformLinear(rigid(200, 150, 0)), {}, rp, rs);
    ASSERT_EQ(rs.results().size(), 1u);
    const vcFlexAlignResult& r = rs.results()[0];
    ASSERT_EQ(r.instanceStatus().size(), 3u);
    EXPECT_EQ(r.status().kind, St::eFound);
    EXPECT_EQ(r.instanceStatus()[0].kind, St::eFound);
    vcPtrHandle<vcFlexSubModelResult> first;
    r.getSubModelResult(0, first);
    EXPECT_NEAR(r.instanceStatus()[0].score, first->score(), 1e-6);
    const St& low = r.instanceStatus()[2];
    EXPECT_EQ(low.kind, St::eBelowThreshold) << low.text();
    EXPECT_EQ(low.threshold, 0.9);
    EXPECT_GT(low.score, 0.3);
    EXPECT_LT(low.score, 0.9);
    EXPECT_NE(r.toDebugString().find("missed #2 = best candidate"), std::string::npos);

    // Piece 1 (130 px to the right) beyond the right edge of a 600 px wide view.
    img = blankImage(6);
    render(s, rigid(500, 150, 0), kStill, img);
    vcPelBuffer_const<unsigned char> view = img;
    view.window(vcPelRect(0, 0, 600, 480));
    rp = runParams(strategy);
    rp.xyUncertainty(5, 5);
    rp.zoneEnable(0);
    pat.run(view, vc2XformLinear(rigid(500, 150, 0)), {}, rp, rs);
    ASSERT_EQ(rs.results().size(), 1u);
    const St& out = rs.results()[0].instanceStatus()[1];
    EXPECT_EQ(out.kind, St::eOutsideImage) << out.text();
    EXPECT_GE(out.window.x(), 600);
    EXPECT_GT(out.window.width(), 0);
  }
}

// Two instances of one piece placed 8 px apart: the second one's search finds the first one's
// piece and rejects it, saying by how much they overlap.
TEST(FlexAlignStatus, CandidateRejectedForOverlappingAnotherPiece) {
  Scene s = scene();
  std::vector<Xf> positions{new vc2XformLinear(rigid(0, 0, 0)), new vc2XformLinear(rigid(8, 0, 0)),
                            new vc2XformLinear(rigid(0, 120, 0))};
  s.arrangement = vcFlexArrangement(s.arrangement.subModels(), {0, 0, 2}, positions);
  const vcFlexAlignPattern pat = trained(s);
  vcPelBuffer<unsigned char> img = blankImage(8);
  Scene drawn = scene();
  drawn.nominal = {rigid(0, 0, 0), rigid(0, 0, 0), rigid(0, 120, 0)};
  render(drawn, rigid(200, 150, 0), kStill, img, /*hide=*/1);
  vcFlexAlignRunParams rp = runParams(FD::eLocallyFixturedSubModels);
  rp.runOrderMode(FD::eExplicitOrdering);
  rp.runOrder(std::vector<long>{0, 1, 2});
  vcFlexAlignResultSet rs;
  pat.run(img, vc2XformLinear(rigid(200, 150, 0)), {}, rp, rs);
  ASSERT_EQ(rs.results().size(), 1u);
  const St& st = rs.results()[0].instanceStatus()[1];
  ASSERT_EQ(st.kind, St::eOverlapped) << st.text();
  EXPECT_EQ(st.other, 0);
  EXPECT_GT(st.score, 0.9);
  EXPECT_GT(st.amount, 0.8);  // 88 of 96 px of the pattern box shared
  EXPECT_EQ(st.threshold, 0.6);
  EXPECT_NE(st.text({"body", "copy", "arm"}).find("overlaps body by"), std::string::npos);
}

TEST(FlexAlignStatus, PartUnderTheThresholdOrMissingARequiredPiece) {
  const Scene s = scene();
  const vcFlexAlignPattern pat = trained(s);
  vcPelBuffer<unsigned char> img = blankImage(9);
  render(s, rigid(200, 150, 0), kStill, img, /*hide=*/0);
  vcFlexAlignRunParams rp = runParams(FD::eLocallyFixturedSubModels);
  rp.acceptThreshold(0.9);  // two of three pieces make about 0.66
  vcFlexAlignResultSet rs;
  pat.run(img, vc2XformLinear(rigid(200, 150, 0)), {}, rp, rs);
  EXPECT_TRUE(rs.results().empty());
  ASSERT_EQ(rs.rejected().size(), 1u);
  const vcFlexAlignResult& low = rs.rejected()[0];
  EXPECT_FALSE(low.found());
  EXPECT_EQ(low.status().kind, St::eBelowThreshold);
  EXPECT_EQ(low.status().threshold, 0.9);
  EXPECT_NEAR(low.status().score, low.score(), 1e-6);
  EXPECT_LT(low.score(), 0.9);
  EXPECT_EQ(low.positionIndices().size(), 2u);
  EXPECT_NE(low.instanceStatus()[0].kind, St::eFound);

  // One piece cannot carry a fit with a turn: that combination is not found, and the run goes
  // on instead of failing.
  vcPelBuffer<unsigned char> one = blankImage(10);
  render(s, rigid(200, 150, 0), kStill, one, /*hide=*/1);
  for (long y = 250; y < 400; ++y)
    for (long x = 180; x < 320; ++x) one.row(y)[x] = 40;  // piece 2 too
  rp.acceptThreshold(0.3);
  EXPECT_NO_THROW(pat.run(one, vc2XformLinear(rigid(200, 150, 0)), {}, rp, rs));
  EXPECT_TRUE(rs.results().empty());
  ASSERT_EQ(rs.rejected().size(), 1u);
  EXPECT_EQ(rs.rejected()[0].status().kind, St::eTooFewPieces);
  EXPECT_EQ(rs.rejected()[0].status().amount, 1.0);
  EXPECT_EQ(rs.rejected()[0].status().threshold, 2.0);

  // The independent search stops at a missing required piece and says which.
  rp = runParams(FD::eIndependentSubModels);
  vcFlexSubModelGfndRunParams required(
      dynamic_cast<const vcFlexSubModelGfndRunParams&>(rp.standard()));
  required.required(true);
  rp.custom(0, required);
  pat.run(img, vc2XformLinear(rigid(200, 150, 0)), {}, rp, rs);
  EXPECT_TRUE(rs.results().empty());
  ASSERT_EQ(rs.rejected().size(), 1u);
  EXPECT_EQ(rs.rejected()[0].status().kind, St::eRequiredMissing);
  EXPECT_EQ(rs.rejected()[0].status().other, 0);
  EXPECT_NE(rs.rejected()[0].instanceStatus()[0].kind, St::eFound);
  EXPECT_EQ(rs.rejected()[0].instanceStatus()[2].kind, St::eNotSearched);
  // The locally fixtured search keeps the part, not found, naming the missing piece.
  rp.runStrategy(FD::eLocallyFixturedSubModels);
  pat.run(img, vc2XformLinear(rigid(200, 150, 0)), {}, rp, rs);
  ASSERT_EQ(rs.results().size(), 1u);
  EXPECT_EQ(rs.results()[0].status().kind, St::eRequiredMissing);
  EXPECT_EQ(rs.results()[0].status().other, 0);
  EXPECT_EQ(rs.results()[0].status().text({"body"}), "the required body is missing");
}

TEST(FlexAlignStatus, KeptThroughCopiesAndArchivesOldVersionsStillLoad) {
  const Scene s = scene();
  const vcFlexAlignPattern pat = trained(s);
  const vcPelBuffer<unsigned char> img = quarterCovered(s, /*hide=*/1, 5);
  vcFlexAlignRunParams rp = runParams(FD::eLocallyFixturedSubModels);
  vcFlexSubModelGfndRunParams strict(
      dynamic_cast<const vcFlexSubModelGfndRunParams&>(rp.standard()));
  strict.acceptThreshold(0.9);
  rp.custom(2, strict);
  rp.acceptThreshold(0.7);
  vcFlexAlignResultSet rs;
  pat.run(img, vc2XformLinear(rigid(200, 150, 0)), {}, rp, rs);
  ASSERT_EQ(rs.rejected().size(), 1u);
  const vcFlexAlignResultSet copy(rs);
  EXPECT_EQ(copy.rejected()[0].instanceStatus(), rs.rejected()[0].instanceStatus());
  EXPECT_EQ(copy.rejected()[0].status(), rs.rejected()[0].status());

  vcFlexAlignResultSet stored(rs);
  const vcTest::Bytes bytes = vcTest::storeBytes(stored);
  vcFlexAlignResultSet back;
  EXPECT_EQ(vcTest::loadBytes(bytes, back), 0u);
  ASSERT_EQ(back.rejected().size(), 1u);
  EXPECT_EQ(back.rejected()[0].instanceStatus(), rs.rejected()[0].instanceStatus());
  EXPECT_EQ(back.rejected()[0].status(), rs.rejected()[0].status());
  EXPECT_EQ(back.rejected()[0].instanceStatus()[2].kind, St::eBelowThreshold);

  // Version 0 of a result: no statuses after the DOF mode.
  vcFlexAlignResult one = rs.rejected()[0];
  vcTest::Bytes v0 = vcTest::storeBytes(one);
  v0[0] = 0;
  v0.resize(v0.size() - 48 - 5 - 48 * one.instanceStatus().size());
  vcFlexAlignResult old;
  EXPECT_EQ(vcTest::loadBytes(v0, old), 0u);
  EXPECT_FALSE(old.found());
  EXPECT_TRUE(old.instanceStatus().empty());
  EXPECT_EQ(old.status().kind, St::eRequiredMissing);
  // Version 0 of a set: no rejected list.
  vcFlexAlignResultSet empty;
  vcTest::Bytes set0 = vcTest::storeBytes(empty);
  set0[0] = 0;
  set0.resize(set0.size() - 5 - 4);
  EXPECT_EQ(vcTest::loadBytes(set0, back), 0u);
  EXPECT_TRUE(back.rejected().empty());
  // A status that contradicts the found flag, or an unknown kind, is damage.
  vcTest::Bytes bad = vcTest::storeBytes(one);
  bad[bad.size() - 5 - 48 * 3 - 48] = 0;  // the part's kind: found, with found false
  EXPECT_THROW(vcTest::loadBytes(bad, old), vcArchive::BadData);
  bad = vcTest::storeBytes(one);
  bad[bad.size() - 48] = 99;
  EXPECT_THROW(vcTest::loadBytes(bad, old), vcArchive::BadData);
}

}  // namespace
