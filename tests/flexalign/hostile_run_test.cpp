// Careless or hostile run input: start poses and ranges that are not numbers or absurdly large
// are refused with a message; parts of thousands of instances run in bounded time and memory,
// and parts beyond the documented bound are refused at training.
#include <gtest/gtest.h>

#include <limits>

#include "support/resources.h"
#include "tests/flexalign/three_pieces.h"
#include "tools/testing/vcLookAlikePart.h"
#include "vcFlexAlignTool.h"

namespace {

using namespace vcTestThree;

std::string refusal(const std::function<void()>& f) {
  try {
    f();
  } catch (const FD::Errors& e) {
    return e.message();
  }
  return "accepted";
}

TEST(HostileRun, StartPosesAndRangesThatAreNotNumbersAreRefused) {
  const Scene s = scene();
  const vcFlexAlignPattern pat = trained(s);
  const vcPelBuffer<unsigned char> img = blankImage(1);
  const vcFlexAlignRunParams rp = runParams(FD::eLocallyFixturedSubModels);
  vcFlexAlignResultSet rs;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  for (double v : {nan, inf}) {
    const vc2XformLinear start(vcXform<2>(vcMatrix<2>(), vcVector<2>(v, 100)));
    EXPECT_EQ(refusal([&] { pat.run(img, start, {}, rp, rs); }), "The start pose is not finite");
  }
  const vc2XformLinear far(vcXform<2>(vcMatrix<2>(), vcVector<2>(1e7, 100)));
  EXPECT_NE(refusal([&] { pat.run(img, far, {}, rp, rs); }).find("more than 1e6"),
            std::string::npos);
  const vc2XformLinear huge(vcXform<2>(vcMatrix<2>(1e308, 0, 0, 1e308), vcVector<2>(0, 0)));
  EXPECT_NE(refusal([&] { pat.run(img, huge, {}, rp, rs); }).find("scale"), std::string::npos);

  vcFlexAlignRunParams p = rp;
  EXPECT_EQ(refusal([&] { p.xyUncertainty(1e308, 1e308); }),
            "Illegal x-translation uncertainty: at most 1e6 client units");
  EXPECT_EQ(refusal([&] { p.zoneRelStandard(FD::eAngle, nan, nan); }),
            "Illegal zone value(s): must be finite numbers");
  EXPECT_EQ(refusal([&] { p.zoneRelStandard(FD::eUniformScale, -0.1, inf); }),
            "Illegal zone value(s): must be finite numbers");
  EXPECT_EQ(refusal([&] { p.zoneRelStandard(FD::eAngle, -400, 10); }),
            "Illegal zone value(s): angles within -360 to 360 degrees");
  p.dofMode(FD::eAdvanced);
  EXPECT_EQ(refusal([&] { p.zoneRelAdvanced(FD::eSkew, nan, 1); }),
            "Illegal zone value(s): must be finite numbers");
  EXPECT_TRUE(p.xUncertainty() == rp.xUncertainty());
}

// One piece placed 2000 times at 50 places one pixel apart (the command's reproducer): the
// run order needs no matrix and the run ends in bounded time and memory. 20000 and 100000
// instances are refused at training with a message.
TEST(HostileRun, ThousandsOfInstancesRunInBoundsAndMoreAreRefused) {
  const vcTest::LookAlikePart part = vcTest::lookAlikePart(2, 1);
  auto many = [&](int n) {
    std::vector<long> indices(static_cast<std::size_t>(n), 0);
    std::vector<vcPtrHandle_const<vc2XformBase>> places;
    for (int i = 0; i < n; ++i) places.push_back(new vc2XformLinear(rigid(73 + i % 50, 236, 0)));
    return vcFlexArrangement({part.arrangement.subModels()[0]}, indices, places);
  };
  vcFlexAlignPattern pat;
  pat.train(many(2000), vcFlexAlignTrainParams(vcFlexSubModelGfndTrainParams()));
  vcPelBuffer<unsigned char> img(640, 480);
  for (long y = 0; y < 480; ++y)
    for (long x = 0; x < 640; ++x) img.set(x, y, (x / 7 + y / 5) % 2 ? 60 : 180);
  vcFlexSubModelGfndRunParams own;
  own.xyUncertainty(6, 6);
  vcFlexAlignRunParams rp(own);
  rp.runStrategy(FD::eLocallyFixturedSubModels);
  rp.xyUncertainty(20, 20);
  vcFlexAlignResultSet rs;
  const vcTest::Cost c = vcTest::costOf([&] { pat.run(img, vc2XformLinear(), {}, rp, rs); });
  EXPECT_LT(c.seconds, 60.0);
  EXPECT_LT(c.peakGrowthMb, 300.0);
  EXPECT_LE(rs.searches(), 2000);
  for (int n : {20000, 100000}) {
    vcFlexAlignPattern big;
    std::string message;
    const vcTest::Cost refused = vcTest::costOf([&] {
      try {
        big.train(many(n), vcFlexAlignTrainParams(vcFlexSubModelGfndTrainParams()));
      } catch (const FD::BadArrangement& e) {
        message = e.message();
      }
    });
    EXPECT_EQ(message, "An arrangement may hold at most 4096 sub-model instances; this one holds " +
                           std::to_string(n) + ".");
    EXPECT_LT(refused.seconds, 5.0);
    EXPECT_LT(refused.peakGrowthMb, 200.0);
    EXPECT_FALSE(big.isTrained());
  }
}

}  // namespace
