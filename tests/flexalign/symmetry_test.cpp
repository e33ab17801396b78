#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "tests/flexalign/three_pieces.h"
#include "tools/io/vcRunDefaults.h"
#include "vcFlexAlignTool.h"

namespace {

using namespace vcTestThree;

// A coin: a disc with a small mark of relief that shows how it lies, and a washer (a ring).
vcSamplePattern coin() {
  vcSamplePattern p;
  p.shapes.push_back(vfSampleCircle({0, 0}, 50, 200));
  p.shapes.push_back(vfSampleCircle({22, 0}, 5, 150));
  return p;
}
vcSamplePattern washer() {
  vcSamplePattern p;
  p.shapes.push_back(vfSampleCircle({0, 0}, 50, 200));
  p.shapes.push_back(vfSampleCircle({0, 0}, 22, 40));
  return p;
}

struct Piece {
  vcSamplePattern pattern;
  vcXform<2> nominal;  // arrangement from sub-model
  double turn = 0.0;   // how the piece lies in the run image, degrees about its centre
};

// A part of the pieces, trained from their nominal drawings, with a run image of it under
// `part` in which each piece lies turned by its own `turn`.
struct Part {
  std::vector<Piece> pieces;
  vcFlexArrangement arrangement;
  vcFlexAlignPattern pattern;
  vcFlexAlignTrainParams train{vcFlexSubModelGfndTrainParams()};

  explicit Part(std::vector<Piece> ps) : pieces(std::move(ps)) {
    std::vector<vcFlexSubModel> subs;
    std::vector<Xf> positions;
    vcSampleRender opt;
    opt.width = opt.height = 96;
    for (const Piece& p : pieces) {
      subs.emplace_back(vfRenderSample(p.pattern, kTrainPose, opt), "piece");
      positions.push_back(new vc2XformLinear(p.nominal));
    }
    arrangement = vcFlexArrangement(subs, positions);
    pattern.train(arrangement, train);
  }
  vcPelBuffer<unsigned char> image(const vcXform<2>& part, std::uint32_t seed) const {
    vcPelBuffer<unsigned char> img = blankImage(seed);
    vcSampleRender opt;
    opt.blurSigma = 0.8;
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 4.0);
    for (const Piece& p : pieces) {
      const vcXform<2> turned = rigid(48, 48, p.turn) * rigid(-48, -48, 0);
      const vcPelBuffer<unsigned char> drawn =
          vfRenderSample(p.pattern, part * p.nominal * turned * kTrainPose, opt);
      for (long y = 0; y < img.height(); ++y)
        for (long x = 0; x < img.width(); ++x)
          img.row(y)[x] = std::max(img.row(y)[x], drawn.get(x, y));
    }
    for (long y = 0; y < img.height(); ++y)
      for (long x = 0; x < img.width(); ++x)
        img.row(y)[x] =
            static_cast<unsigned char>(std::clamp(img.row(y)[x] + noise(rng), 0.0, 255.0));
    return img;
  }
  // Every piece at its default settings; the part searched within 20 px and 10 degrees of the
  // start pose.
  vcFlexAlignRunParams defaults() const {
    vcFlexAlignRunParams rp = vfDefaultRunParams(train, static_cast<long>(pieces.size()));
    rp.xyUncertainty(20.0, 20.0);
    rp.zoneEnable(FD::eAngle);
    rp.zoneRelStandard(FD::eAngle, -10.0, 10.0);
    return rp;
  }
};

double degrees(const vc2XformBase& x) {
  return x.linearXform({0, 0}).matrix().rotation().toDouble() * vcDegPerRad;
}

// Coins and washers lying at any turn among ordinary pieces: at the default settings every
// piece is found where it lies, the part at its own pose, and each round piece reports the
// angle the part gives it, its own being undefined. The coin nearest the part's origin is
// searched first, so its angle would predict every other piece.
TEST(FlexAlignSymmetry, CoinsAndWashersAreFoundAtDefaultsAndDoNotTurnThePart) {
  const Part f({{coin(), rigid(0, 0, 0), 37.0},
                {vfSampleAsymmetricPattern(), rigid(130, 0, 0), 0.0},
                {washer(), rigid(260, 0, 0), -121.0},
                {washer(), rigid(0, 120, 0), 64.0},
                {vfSampleAsymmetricPattern(), rigid(130, 120, 0), 0.0},
                {coin(), rigid(260, 120, 0), 203.0}});
  for (double angle : {0.0, 2.5}) {
    const vcXform<2> part = rigid(150, 130, angle);
    const vcPelBuffer<unsigned char> img = f.image(part, 7);
    vcFlexAlignResultSet rs;
    f.pattern.run(img, vc2XformLinear(rigid(153, 127, 0.0)), {}, f.defaults(), rs);
    ASSERT_EQ(rs.results().size(), 1u) << "part at " << angle;
    const vcFlexAlignResult& r = rs.results()[0];
    EXPECT_TRUE(r.found()) << "part at " << angle;
    EXPECT_EQ(r.subModelResults().size(), f.pieces.size()) << "part at " << angle;
    EXPECT_LT(r.pose().mapPoint({0, 0}).distance(part.mapPoint({0, 0})), 0.2);
    EXPECT_NEAR(degrees(r.pose()), angle, 0.1);
    for (std::size_t i = 0; i < r.subModelResults().size(); ++i) {
      const std::size_t q = static_cast<std::size_t>(r.positionIndices()[i]);
      const vcFlexSubModelResult& p = *r.subModelResults()[i];
      const vcVector<2> want = (part * f.pieces[q].nominal).mapPoint({48, 48});
      EXPECT_LT(p.pose().mapPoint({48, 48}).distance(want), 0.3) << "piece " << q;
      const bool round = f.pieces[q].turn != 0.0;
      EXPECT_EQ(p.angleSymmetry(), round ? 0 : 1) << "piece " << q;
      if (round) {
        EXPECT_NEAR(std::remainder(degrees(p.pose()) - degrees(r.pose()), 360.0), 0.0, 1e-6)
            << "piece " << q;
        EXPECT_EQ(p.angleSigma(), 0.0);
      }
    }
  }
}

// A square pad searched over the whole circle, lying a quarter turn and a little from its place:
// it reports the little turn (its angle is defined modulo 90 degrees) and the part does not
// follow the quarter turn.
TEST(FlexAlignSymmetry, FourFoldPadTurnedAQuarterAndALittleDoesNotTurnThePart) {
  const Part f({{vfSampleSquarePattern(), rigid(0, 0, 0), 92.0},
                {vfSampleAsymmetricPattern(), rigid(130, 0, 0), 0.0},
                {vfSampleAsymmetricPattern(), rigid(0, 120, 0), 0.0},
                {vfSampleAsymmetricPattern(), rigid(130, 120, 0), 0.0}});
  const vcXform<2> part = rigid(200, 150, 1.5);
  vcFlexAlignRunParams rp = f.defaults();
  vcFlexSubModelGfndRunParams pad = dynamic_cast<const vcFlexSubModelGfndRunParams&>(rp.standard());
  pad.zoneRelStandard(vcFlexSubModelParamsDefs::eAngle, -180.0, 180.0);
  rp.custom(0, pad);
  vcFlexAlignResultSet rs;
  f.pattern.run(f.image(part, 3), vc2XformLinear(rigid(203, 147, 0.0)), {}, rp, rs);
  ASSERT_EQ(rs.results().size(), 1u);
  const vcFlexAlignResult& r = rs.results()[0];
  EXPECT_TRUE(r.found());
  ASSERT_EQ(r.subModelResults().size(), 4u);
  EXPECT_NEAR(degrees(r.pose()), 1.5, 0.1);
  for (std::size_t i = 0; i < 4; ++i) {
    const std::size_t q = static_cast<std::size_t>(r.positionIndices()[i]);
    const vcFlexSubModelResult& p = *r.subModelResults()[i];
    const vcVector<2> want = (part * f.pieces[q].nominal).mapPoint({48, 48});
    EXPECT_LT(p.pose().mapPoint({48, 48}).distance(want), 0.3) << "piece " << q;
    if (q != 0) continue;
    EXPECT_EQ(p.angleSymmetry(), 4);
    EXPECT_NEAR(std::remainder(degrees(p.pose()) - 1.5, 360.0), 2.0, 0.3);
  }
}

}  // namespace
