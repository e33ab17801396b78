// Where the run looks: the search window of an instance, the run order, the start pose from
// fixtures.
#include <gtest/gtest.h>

#include "platform/core/vcAngle.h"
#include "tests/flexalign/flexalign_access.h"
#include "tests/flexalign/three_pieces.h"
#include "vcFlexAlignTool.h"

namespace {

using A = vcFlexAlignTestAccess;
using namespace vcTestThree;

// A 40 x 20 image piece placed at (10.3, 5.6) and a blank one.
vcFlexAlignPattern smallPart() {
  vcPelBuffer<unsigned char> img = blankImage(1);
  for (long y = 5; y < 15; ++y)
    for (long x = 8; x < 30; ++x) img.row(y)[x] = 200;
  vcPelBuffer_const<unsigned char> piece = img;
  piece.window(vcPelRect(0, 0, 40, 20));
  const vcFlexArrangement a(
      {vcFlexSubModel(piece, "bar"), vcFlexSubModel("label")}, {0, 1},
      {Xf(new vc2XformLinear(rigid(10.3, 5.6, 0))), Xf(new vc2XformLinear(rigid(100, 0, 0)))});
  vcFlexAlignPattern pat;
  pat.train(a, vcFlexAlignTrainParams(vcFlexSubModelGfndTrainParams()));
  return pat;
}

TEST(FlexAlignWindow, RoundsOutwardTakesDegreesGrowsByModeAndIsEmptyForABlank) {
  const vcFlexAlignPattern pat = smallPart();
  const vc2XformLinear identity;
  vcFlexAlignRunParams rp(vcFlexSubModelGfndRunParams{});
  // The piece, 2 px of margin, widened to whole pixels: (8.3, 3.6) .. (52.3, 27.6).
  EXPECT_EQ(A::window(pat, rp, identity, identity, 0), vcPelRect(8, 3, 45, 25));
  EXPECT_TRUE(A::window(pat, rp, identity, identity, 1).isNull());
  // +-10 degrees about the origin: the far corner (50.3, 5.6) sweeps up to y = 5.6 - 8.2.
  rp.zoneEnable(FD::eAngle);
  rp.zoneRelStandard(FD::eAngle, -10, 10);
  const vcPelRect turned = A::window(pat, rp, identity, identity, 0);
  const double far = std::hypot(50.3, 5.6), at = std::atan2(5.6, 50.3);
  EXPECT_EQ(turned.y(), static_cast<long>(std::floor(far * std::sin(at - 10 * vcPi / 180) - 2)));
  // Uncertainty of 5 x 3 in a client frame turned by 45 degrees: an ellipse's box is narrower
  // than a rectangle's, and either grows the window on both sides.
  rp.zoneEnable(0);
  rp.xyUncertainty(5, 3);
  const vc2XformLinear turn45(rigid(0, 0, 45));
  const vcPelRect ellipse = A::window(pat, rp, turn45, identity, 0);
  rp.xyUncertaintyMode(FD::eRectangular);
  const vcPelRect rect = A::window(pat, rp, turn45, identity, 0);
  EXPECT_GT(ellipse.width(), 45);
  EXPECT_GT(rect.width(), ellipse.width());
  EXPECT_LE(rect.width() - ellipse.width(), 2 * (5 + 3) / std::sqrt(2.0) - 2 * 4.12 + 2);
  // Only one of the two uncertainties set still grows it.
  rp.xyUncertainty(0, 3);
  EXPECT_GT(A::window(pat, rp, identity, identity, 0).height(), 25);
}

// The same part described with each sub-model's origin at its pattern's centre (placements
// compensated) has the same windows and is found the same way.
TEST(FlexAlignWindow, FollowsTheSubModelsOwnOrigin) {
  Scene plain = scene();
  Scene centred = scene();
  const vcXform<2> centre = rigid(48, 48, 0);
  std::vector<vcFlexSubModel> subs;
  std::vector<Xf> positions;
  for (std::size_t k = 0; k < 3; ++k) {
    vcFlexSubModel s = plain.arrangement.subModels()[k];
    s.origin(vc2XformLinear(centre));
    subs.push_back(s);
    positions.push_back(new vc2XformLinear(plain.nominal[k] * centre));
  }
  centred.arrangement = vcFlexArrangement(subs, positions);
  const vcFlexAlignPattern a = trained(plain), b = trained(centred);
  // Tight ranges: a window shifted by the origin's 48 px would miss its piece.
  auto tight = [](FD::RunStrategy strategy) {
    vcFlexAlignRunParams rp = runParams(strategy);
    rp.xyUncertainty(4, 4);
    rp.zoneEnable(0);
    return rp;
  };
  const vcFlexAlignRunParams rp = tight(FD::eLocallyFixturedSubModels);
  const vc2XformLinear start(rigid(202, 148, 0));
  // Both windows hold the piece at the start pose (its pattern box, 0.6 x 128 px about its
  // centre): the origin must not shift one of them by the 48 px it lies from the corner.
  for (long p = 0; p < 3; ++p) {
    const vcVector<2> c =
        start.mapPoint(plain.nominal[static_cast<std::size_t>(p)].mapPoint({48, 48}));
    const vcPelRect box(static_cast<long>(c.x()) - 39, static_cast<long>(c.y()) - 39, 78, 78);
    EXPECT_TRUE(A::window(a, rp, vc2XformLinear(), start, p).contains(box)) << p;
    EXPECT_TRUE(A::window(b, rp, vc2XformLinear(), start, p).contains(box)) << p;
  }
  vcPelBuffer<unsigned char> img = blankImage(4);
  render(plain, rigid(200, 150, 0), std::vector<vcXform<2>>(3, rigid(0, 0, 0)), img);
  for (FD::RunStrategy strategy : {FD::eIndependentSubModels, FD::eLocallyFixturedSubModels}) {
    vcFlexAlignResultSet ra, rb;
    a.run(img, start, {}, tight(strategy), ra);
    b.run(img, start, {}, tight(strategy), rb);
    ASSERT_EQ(ra.results().size(), 1u);
    ASSERT_EQ(rb.results().size(), 1u) << "strategy " << strategy;
    EXPECT_EQ(rb.results()[0].positionIndices().size(), 3u);
    EXPECT_NEAR(ra.results()[0].location().distance(rb.results()[0].location()), 0.0, 0.05);
  }
}

// Fixtures root the order and the instance nearest one of them comes first; blank instances
// come last; without fixtures the order starts at the instance nearest the origin.
TEST(FlexAlignOrder, FixturesFirstBlankLast) {
  const vcFlexAlignPattern small = smallPart();
  EXPECT_EQ(A::order(small, {}), (std::vector<long>{0, 1}));  // the blank one last
  const vcFlexAlignPattern pat = trained(scene());
  // Centres in the origin frame: (48, 48), (178, 48), (48, 168).
  EXPECT_EQ(A::order(pat, {{40, 200}}), (std::vector<long>{2, 0, 1}));
  EXPECT_EQ(A::order(pat, {{40, 200}, {200, 40}}), (std::vector<long>{1, 2, 0}));
  EXPECT_EQ(A::order(pat, {}), (std::vector<long>{0, 2, 1}));
}

// An unknown instance in the run order is ignored under automatic ordering (only the groups
// it names are run) and refused under explicit ordering.
TEST(FlexAlignOrder, AutomaticOrderingKeepsOnlyKnownGroups) {
  const Scene s = scene();
  const vcFlexAlignPattern pat = trained(s);
  vcPelBuffer<unsigned char> img = blankImage(2);
  render(s, rigid(200, 150, 0), std::vector<vcXform<2>>(3, rigid(0, 0, 0)), img);
  vcFlexAlignRunParams rp = runParams(FD::eLocallyFixturedSubModels);
  rp.finalFitMode(FD::eLinearTranslation);
  rp.acceptThreshold(0.2);
  rp.runOrder(std::vector<long>{0, 7});
  vcFlexAlignResultSet rs;
  pat.run(img, vc2XformLinear(rigid(200, 150, 0)), {}, rp, rs);
  ASSERT_EQ(rs.results().size(), 1u);
  EXPECT_EQ(rs.results()[0].positionIndices(), std::vector<long>{0});
  rp.runOrderMode(FD::eExplicitOrdering);
  EXPECT_THROW(pat.run(img, vc2XformLinear(rigid(200, 150, 0)), {}, rp, rs), FD::BadIndex);
}

TEST(FlexAlignStartPose, FromFixturesNeedsAGridOf21Points) {
  const vcFlexAlignPattern pat = trained(scene());
  const vc2XformLinear start(rigid(50, 60, 30));
  try {
    A::fromFixtures(pat, start, {{0, 0}, {1, 1}}, 4, 5);
    ADD_FAILURE() << "no exception";
  } catch (const FD::InternalError& e) {
    EXPECT_EQ(e.message(), "Too few points");
  }
  EXPECT_TRUE(A::fromFixtures(pat, start, {}, 3, 7)->linearXform({0, 0}) == vc2XformLinear());
  EXPECT_TRUE(A::fromFixtures(pat, start, {{1, 1}}, 3, 7)->linearXform({0, 0}) == start);
  // Two or more: a first-order polynomial through the grid, which the start pose maps.
  const vcPtrHandle<vc2XformBase> poly = A::fromFixtures(pat, start, {{0, 0}, {5, 5}}, 5, 5);
  for (const vcVector<2>& p : {vcVector<2>(10, 20), vcVector<2>(150, 100)})
    EXPECT_NEAR(poly->mapPoint(p).distance(start.mapPoint(p)), 0.0, 1e-6);
}

}  // namespace
