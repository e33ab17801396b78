#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "platform/core/vcAngle.h"
#include "tests/flexalign/three_pieces.h"
#include "vcFlexAlignTool.h"

namespace {

using namespace vcTestThree;

vcSamplePattern bar(double halfLength) {
  vcSamplePattern p;
  p.shapes.push_back(vfSamplePolygon(
      {{-halfLength, -6}, {halfLength, -6}, {halfLength, 6}, {-halfLength, 6}}, 200));
  p.halfSize = std::max(p.halfSize, halfLength + 4);  // the extent clips what is drawn
  return p;
}

// The three pieces and a fourth one at (130, 120): `fourth` trained, `drawn` in the run image.
struct FourPieces {
  Scene s = scene();
  vcSamplePattern drawn;
  FourPieces(const vcSamplePattern& fourth, const vcSamplePattern& drawnAs) : drawn(drawnAs) {
    std::vector<vcFlexSubModel> subs = s.arrangement.subModels();
    std::vector<Xf> positions = s.arrangement.positions();
    vcSampleRender train;
    train.width = train.height = 96;
    subs.emplace_back(vfRenderSample(fourth, kTrainPose, train), "fourth");
    positions.push_back(new vc2XformLinear(rigid(130, 120, 0)));
    s.nominal.push_back(rigid(130, 120, 0));
    s.arrangement = vcFlexArrangement(subs, positions);
  }
  // The part under `part`, every piece where the arrangement puts it.
  vcPelBuffer<unsigned char> image(const vcXform<2>& part) const {
    vcPelBuffer<unsigned char> img = blankImage(11);
    render(s, part, std::vector<vcXform<2>>(3, rigid(0, 0, 0)), img);
    vcSampleRender opt;
    opt.blurSigma = 0.8;
    const vcPelBuffer<unsigned char> p =
        vfRenderSample(drawn, part * s.nominal[3] * kTrainPose, opt);
    for (long y = 0; y < img.height(); ++y)
      for (long x = 0; x < img.width(); ++x) img.row(y)[x] = std::max(img.row(y)[x], p.get(x, y));
    return img;
  }
};

const vcFlexSubModelResult* pieceAt(const vcFlexAlignResult& r, long position) {
  for (std::size_t i = 0; i < r.positionIndices().size(); ++i)
    if (r.positionIndices()[i] == position) return r.subModelResults()[i].ptr();
  return nullptr;
}

// A bar whose ends lie far outside its search (a long connector edge) cannot say where along
// itself it is: it is held to the other pieces' prediction, or refused, never reported slid.
// Its ellipse is long along it; a square's is small every way.
TEST(FlexAlignHold, BarIsHeldAlongItsLengthAndReportsItsUncertainty) {
  const FourPieces f(bar(60), bar(220));
  const vcFlexAlignPattern pat = trained(f.s);
  const vcXform<2> part = rigid(180, 110, 3.0);
  const vcPelBuffer<unsigned char> img = f.image(part);
  const vc2XformLinear start(rigid(186, 106, 0.0));
  const vcVector<2> truth = (part * f.s.nominal[3]).mapPoint({48, 48});
  for (FD::RunStrategy strategy : {FD::eIndependentSubModels, FD::eLocallyFixturedSubModels}) {
    vcFlexAlignResultSet rs;
    pat.run(img, start, {}, runParams(strategy), rs);
    ASSERT_EQ(rs.results().size(), 1u) << "strategy " << strategy;
    const vcFlexAlignResult& r = rs.results()[0];
    EXPECT_TRUE(r.found());
    const vcFlexSubModelResult* b = pieceAt(r, 3);
    if (b) {
      EXPECT_LT((b->pose().mapPoint({48, 48}) - truth).len(), 1.0) << "strategy " << strategy;
      EXPECT_TRUE(b->positionWeak());
      const auto e = b->positionEllipse();
      EXPECT_GT(e.major, 3.0 * e.minor);
      EXPECT_LT(std::fabs(std::fabs(e.angle) - 3.0), 10.0);  // along the bar, turned with the part
    } else {
      EXPECT_EQ(r.instanceStatus()[3].kind, vcFlexAlignStatus::eBeyondUncertainty);
    }
    const vcFlexSubModelResult* sq = pieceAt(r, 1);
    ASSERT_NE(sq, nullptr);
    EXPECT_FALSE(sq->positionWeak());
    EXPECT_GT(sq->positionEllipse().major, 0.0);
    EXPECT_LT(sq->positionEllipse().major, 0.1);
    EXPECT_GT(sq->angleSigma(), 0.0);
    EXPECT_LT(sq->angleSigma(), 0.2);
  }
}

// A disc has no angle of its own: whatever angle its search reports, the part is found at its
// own angle, every piece at its place.
TEST(FlexAlignHold, DiscDoesNotTurnThePart) {
  const FourPieces f(vfSampleCirclePattern(), vfSampleCirclePattern());
  const vcFlexAlignPattern pat = trained(f.s);
  const vcXform<2> part = rigid(180, 110, -4.0);
  const vcPelBuffer<unsigned char> img = f.image(part);
  vcFlexAlignResultSet rs;
  pat.run(img, vc2XformLinear(rigid(184, 114, 0.0)), {}, runParams(FD::eLocallyFixturedSubModels),
          rs);
  ASSERT_EQ(rs.results().size(), 1u);
  const vcFlexAlignResult& r = rs.results()[0];
  EXPECT_TRUE(r.found());
  EXPECT_EQ(r.subModelResults().size(), 4u);
  const double turned = r.pose().linearXform({0, 0}).matrix().rotation().toDouble() * 180 / vcPi;
  EXPECT_NEAR(turned, -4.0, 0.3);
  for (long q = 0; q < 4; ++q) {
    const vcFlexSubModelResult* p = pieceAt(r, q);
    ASSERT_NE(p, nullptr) << "piece " << q;
    const vcVector<2> want = (part * f.s.nominal[static_cast<std::size_t>(q)]).mapPoint({48, 48});
    EXPECT_LT((p->pose().mapPoint({48, 48}) - want).len(), 0.5) << "piece " << q;
  }
}

// The new reason reads as a reason and survives the archive.
TEST(FlexAlignHold, BeyondUncertaintyStatusText) {
  vcFlexAlignStatus st(vcFlexAlignStatus::eBeyondUncertainty);
  st.score = 0.9;
  st.amount = 12.5;
  st.threshold = 5.3;
  EXPECT_EQ(st.text(),
            "found (0.900) 12.500 from where the other pieces put it, beyond its "
            "uncertainty 5.300");
}

}  // namespace
