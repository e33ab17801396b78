#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "tools/common/vcSampleImages.h"
#include "vcFlexAlignTool.h"

namespace {

using FD = vcFlexAlignDefs;
using Xf = vcPtrHandle_const<vc2XformBase>;
constexpr double kPi = 3.14159265358979323846;

// Sub-model client coordinates are training-image pixels; the pattern's centre is at (48, 48).
const vcXform<2> kTrainPose(vcMatrix<2>(0.6, 0, 0, 0.6), vcVector<2>(48, 48));

vcXform<2> rigid(double x, double y, double deg) {
  const double a = deg * kPi / 180.0;
  return vcXform<2>(vcMatrix<2>(std::cos(a), -std::sin(a), std::sin(a), std::cos(a)),
                    vcVector<2>(x, y));
}

struct Scene {
  std::vector<vcSamplePattern> patterns;
  std::vector<vcXform<2>> nominal;  // arrangement from sub-model, per instance
  vcFlexArrangement arrangement;
};

// Three distinct pieces laid out in an L.
Scene scene() {
  Scene s;
  s.patterns = {vfSampleAsymmetricPattern(), vfSampleSquarePattern(), vfSampleRectanglePattern()};
  s.nominal = {rigid(0, 0, 0), rigid(130, 0, 0), rigid(0, 120, 0)};
  std::vector<vcFlexSubModel> subs;
  std::vector<Xf> positions;
  vcSampleRender train;
  train.width = train.height = 96;
  for (std::size_t k = 0; k < s.patterns.size(); ++k) {
    subs.emplace_back(vfRenderSample(s.patterns[k], kTrainPose, train), "piece");
    positions.push_back(new vc2XformLinear(s.nominal[k]));
  }
  s.arrangement = vcFlexArrangement(subs, positions);
  return s;
}

// The part under `part` (arrangement to image), piece k further moved by moves[k] in
// arrangement coordinates; `hide` skips a piece. Returns the true client poses of the pieces.
std::vector<vcXform<2>> render(const Scene& s, const vcXform<2>& part,
                               const std::vector<vcXform<2>>& moves,
                               vcPelBuffer<unsigned char>& img, int hide = -1) {
  std::vector<vcXform<2>> truth;
  vcSampleRender opt;
  opt.blurSigma = 0.8;
  for (std::size_t k = 0; k < s.patterns.size(); ++k) {
    truth.push_back(part * moves[k] * s.nominal[k]);
    if (static_cast<int>(k) == hide) continue;
    const vcPelBuffer<unsigned char> piece =
        vfRenderSample(s.patterns[k], truth[k] * kTrainPose, opt);
    for (long y = 0; y < img.height(); ++y)
      for (long x = 0; x < img.width(); ++x)
        img.row(y)[x] = std::max(img.row(y)[x], piece.get(x, y));
  }
  return truth;
}

vcPelBuffer<unsigned char> blankImage(std::uint32_t seed) {
  vcPelBuffer<unsigned char> img(640, 480);
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0.0, 3.0);
  for (long y = 0; y < img.height(); ++y)
    for (long x = 0; x < img.width(); ++x)
      img.row(y)[x] = static_cast<unsigned char>(std::clamp(40.0 + noise(rng), 0.0, 255.0));
  return img;
}

vcFlexAlignRunParams runParams(FD::RunStrategy strategy) {
  vcFlexSubModelGfndRunParams sub;
  sub.zoneEnable(vcFlexSubModelParamsDefs::eAngle);
  sub.zoneRelStandard(vcFlexSubModelParamsDefs::eAngle, -4.0, 4.0);
  sub.xyUncertainty(5.0, 5.0);
  vcFlexAlignRunParams rp(sub);
  rp.runStrategy(strategy);
  rp.xyUncertainty(25.0, 25.0);
  rp.zoneEnable(FD::eAngle);
  rp.zoneRelStandard(FD::eAngle, -10.0, 10.0);
  return rp;
}

vcFlexAlignPattern trained(const Scene& s) {
  vcFlexAlignPattern pat;
  pat.train(s.arrangement, vcFlexAlignTrainParams(vcFlexSubModelGfndTrainParams()));
  return pat;
}

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
