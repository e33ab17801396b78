#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "tests/flexalign/three_pieces.h"
#include "vcFlexAlignTool.h"

namespace {

using namespace vcTestThree;

void expectPiecesAt(const vcFlexAlignResult& r, const std::vector<vcXform<2>>& truth,
                    std::size_t expectedCount) {
  ASSERT_EQ(r.subModelResults().size(), expectedCount);
  for (std::size_t i = 0; i < r.subModelResults().size(); ++i) {
    const std::size_t k = static_cast<std::size_t>(r.positionIndices()[i]);
    const vcVector<2> found = r.subModelResults()[i]->pose().mapPoint({48, 48});
    const vcVector<2> want = truth[k].mapPoint({48, 48});
    EXPECT_LT((found - want).len(), 0.5) << "piece " << k;
  }
}

TEST(FlexAlignRun, FindsMovedPiecesWithEachStrategy) {
  const Scene s = scene();
  const vcFlexAlignPattern pat = trained(s);
  const vcXform<2> part = rigid(180, 120, 6.0);
  const std::vector<vcXform<2>> moves = {rigid(2.5, -1.5, 2.0), rigid(-3.0, 2.0, -2.5),
                                         rigid(1.0, 3.5, 1.5)};
  vcPelBuffer<unsigned char> img = blankImage(3);
  const std::vector<vcXform<2>> truth = render(s, part, moves, img);
  // The caller knows the part only to within 15 px and 6 degrees.
  const vc2XformLinear start(rigid(192, 110, 0.0));
  for (FD::RunStrategy strategy : {FD::eIndependentSubModels, FD::eLocallyFixturedSubModels}) {
    vcFlexAlignResultSet rs;
    pat.run(img, start, {}, runParams(strategy), rs);
    ASSERT_EQ(rs.results().size(), 1u) << "strategy " << strategy;
    const vcFlexAlignResult& r = rs.results()[0];
    EXPECT_TRUE(r.found());
    EXPECT_GT(r.score(), 0.8);
    expectPiecesAt(r, truth, 3);
    // The fitted part pose is within the pieces' own displacements of the true one.
    const vcVector<2> centre = r.pose().mapPoint({88, 88});
    EXPECT_LT((centre - part.mapPoint({88, 88})).len(), 4.0);
    EXPECT_GT(rs.time(), 0.0);
  }
}

TEST(FlexAlignRun, TranslationOnlyFitAndRequiredPieces) {
  const Scene s = scene();
  const vcFlexAlignPattern pat = trained(s);
  const vcXform<2> part = rigid(200, 150, 0.0);
  const std::vector<vcXform<2>> shift(3, rigid(5.0, 3.0, 0.0));
  vcPelBuffer<unsigned char> img = blankImage(5);
  render(s, part, shift, img, /*hide=*/1);
  vcFlexAlignRunParams rp = runParams(FD::eIndependentSubModels);
  rp.zoneEnable(0);
  const vc2XformLinear start(part);
  vcFlexAlignResultSet rs;
  pat.run(img, start, {}, rp, rs);
  ASSERT_EQ(rs.results().size(), 1u);
  const vcFlexAlignResult& r = rs.results()[0];
  EXPECT_EQ(r.subModelResults().size(), 2u);  // the hidden piece is simply missing
  EXPECT_TRUE(r.found());
  // With no zone enabled the fit is a pure translation by the pieces' common shift.
  const vc2XformLinear lin = r.pose().linearXform({0, 0});
  EXPECT_NEAR(lin.matrix().element(0, 1), 0.0, 1e-12);
  EXPECT_NEAR(lin.trans().x(), 205.0, 0.3);
  EXPECT_NEAR(lin.trans().y(), 153.0, 0.3);

  vcFlexSubModelGfndRunParams required(
      dynamic_cast<const vcFlexSubModelGfndRunParams&>(rp.standard()));
  required.required(true);
  rp.custom(1, required);
  pat.run(img, start, {}, rp, rs);
  EXPECT_TRUE(rs.results().empty());  // the independent search stops at a missing required piece
  rp.runStrategy(FD::eLocallyFixturedSubModels);
  pat.run(img, start, {}, rp, rs);
  ASSERT_EQ(rs.results().size(), 1u);
  EXPECT_FALSE(rs.results()[0].found());
  EXPECT_EQ(rs.results()[0].infoStrings(),
            std::vector<std::string>{"One or more required sub-models are missing"});
}

TEST(FlexAlignRun, TwoCopiesAreRankedAndCut) {
  const Scene s = scene();
  const vcFlexAlignPattern pat = trained(s);
  const std::vector<vcXform<2>> still(3, rigid(0, 0, 0));
  vcPelBuffer<unsigned char> img = blankImage(7);
  const auto a = render(s, rigid(40, 20, 0), still, img);
  const auto b = render(s, rigid(380, 200, 0), still, img);
  vcFlexAlignRunParams rp = runParams(FD::eIndependentSubModels);
  rp.xyUncertainty(400.0, 300.0);
  rp.numToFind(2);
  vcFlexAlignResultSet rs;
  pat.run(img, vc2XformLinear(rigid(210, 110, 0)), {}, rp, rs);
  ASSERT_EQ(rs.results().size(), 2u);
  EXPECT_GE(rs.results()[0].score(), rs.results()[1].score());
  const bool aFirst = (rs.results()[0].location() - vcVector<2>(40, 20)).len() < 2.0;
  expectPiecesAt(rs.results()[aFirst ? 0 : 1], a, 3);
  expectPiecesAt(rs.results()[aFirst ? 1 : 0], b, 3);
  rp.numToFind(1);
  pat.run(img, vc2XformLinear(rigid(210, 110, 0)), {}, rp, rs);
  EXPECT_EQ(rs.results().size(), 1u);
}

TEST(FlexAlignRun, RefusesBadRunsWithTheirMessages) {
  const Scene s = scene();
  const vcFlexAlignPattern pat = trained(s);
  vcFlexAlignResultSet rs;
  const vc2XformLinear start;
  const vcPelBuffer<unsigned char> img = blankImage(1);
  auto message = [&](const std::function<void()>& f) -> std::string {
    try {
      f();
    } catch (const FD::Errors& e) {
      return e.message();
    }
    return "no exception";
  };
  vcFlexAlignRunParams rp = runParams(FD::eIndependentSubModels);
  EXPECT_THROW(vcFlexAlignPattern().run(img, start, {}, rp, rs), FD::NotTrained);
  EXPECT_EQ(message([&] { pat.run(vcPelBuffer_const<unsigned char>(), start, {}, rp, rs); }),
            "The runtime image is unbound");
  EXPECT_EQ(message([&] { pat.run(img, vcPelBuffer_const<unsigned char>(), start, {}, rp, rs); }),
            "Mask image has to be bound");
  EXPECT_EQ(message([&] { pat.run(img, vcPelBuffer<unsigned char>(10, 10), start, {}, rp, rs); }),
            "Mask image size does not match runtime image");
  EXPECT_THROW(pat.run(img, start, rp, rs), FD::NotImplemented);
  rp.runOrderMode(FD::eExplicitOrdering);
  EXPECT_EQ(message([&] { pat.run(img, start, {}, rp, rs); }), "Run order list is empty");
  rp.runOrder(std::vector<long>{0, 7});
  EXPECT_THROW(pat.run(img, start, {}, rp, rs), FD::BadIndex);
}

}  // namespace
