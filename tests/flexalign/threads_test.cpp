#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "tools/testing/vcFlexSample.h"
#include "tools/testing/vcSampleImages.h"
#include "vcFlexAlignTool.h"

// One trained pattern serves several threads at once: a run changes nothing in the pattern,
// its tools or their engines, so every thread gets, bit for bit, what a serial run gives.
namespace {

using D = vcFlexAlignDefs;

// What a run reports that a shared engine state could disturb: each result's part pose and
// score, and each piece's pose and score.
std::vector<double> summary(const vcFlexAlignResultSet& rs) {
  std::vector<double> v;
  for (const vcFlexAlignResult& r : rs.results()) {
    const vcXform<2> p = r.pose().linearXform({0, 0}).xform();
    v.insert(v.end(), {p.matrix()(0, 0), p.matrix()(0, 1), p.matrix()(1, 0), p.matrix()(1, 1),
                       p.trans().x(), p.trans().y(), r.score()});
    for (const auto& s : r.subModelResults()) {
      const vcVector<2> c = s->pose().mapPoint({0, 0});
      v.insert(v.end(), {c.x(), c.y(), s->score()});
    }
  }
  return v;
}

void expectThreadsMatchSerial(const vcFlexAlignPattern& pattern,
                              const std::vector<vcPelBuffer<unsigned char>>& images,
                              const vcXform<2>& start, const vcFlexAlignRunParams& rp) {
  auto runOnce = [&](std::size_t i, const vcFlexAlignRunParams& params) {
    vcFlexAlignResultSet rs;
    pattern.run(images[i], vc2XformLinear(start), {}, params, rs);
    return summary(rs);
  };
  std::vector<std::vector<double>> serial;
  for (std::size_t i = 0; i < images.size(); ++i) {
    vcFlexAlignResultSet rs;
    pattern.run(images[i], vc2XformLinear(start), {}, rp, rs);
    ASSERT_FALSE(rs.results().empty()) << "image " << i;
    EXPECT_TRUE(rs.results()[0].found()) << "image " << i;
    serial.push_back(summary(rs));
  }
  // Each thread has its own parameter copy and runs the images in its own order.
  std::vector<int> mismatches(2, 0);
  auto work = [&](int t) {
    const vcFlexAlignRunParams mine = rp;
    for (std::size_t k = 0; k < images.size(); ++k) {
      const std::size_t i = t == 0 ? k : images.size() - 1 - k;
      if (runOnce(i, mine) != serial[i]) ++mismatches[t];
    }
  };
  std::thread a(work, 0), b(work, 1);
  a.join();
  b.join();
  EXPECT_EQ(mismatches[0], 0);
  EXPECT_EQ(mismatches[1], 0);
}

TEST(FlexAlignThreads, OnePatternOnTwoThreadsGivesTheSerialResults) {
  // Geofind: the sample part (image, masked, outline and blank pieces).
  {
    const vcFlexSample sample = vfMakeFlexSample();
    vcFlexAlignPattern pattern;
    pattern.train(sample.arrangement, vfFlexSampleTrainParams(sample));
    std::vector<vcPelBuffer<unsigned char>> images;
    for (int i = 0; i < 2; ++i) {
      vcFlexSampleOptions opt;
      opt.partPose = vfFlexSamplePose(sample, 4.0 - 6 * i, 1.0, 6.0 * i, -3.0);
      opt.seed = 7 + i;
      images.push_back(vfRenderFlexSample(sample, opt).image);
    }
    vcFlexSubModelGfndRunParams sub;
    sub.xyUncertainty(6, 6);
    sub.zoneEnable(vcFlexSubModelParamsDefs::eAngle);
    sub.zoneRelStandard(vcFlexSubModelParamsDefs::eAngle, -4, 4);
    vcFlexAlignRunParams rp(sub);
    rp.xyUncertainty(20, 20);
    rp.zoneEnable(D::eAngle);
    rp.zoneRelStandard(D::eAngle, -8, 8);
    expectThreadsMatchSerial(pattern, images, vfFlexSamplePose(sample, 0.0, 1.0), rp);
  }
  // Correlation: three image pieces, moved only.
  {
    const vcXform<2> trainPose(vcMatrix<2>(0.6, 0, 0, 0.6), vcVector<2>(48, 48));
    const std::vector<vcSamplePattern> patterns = {
        vfSampleAsymmetricPattern(), vfSampleSquarePattern(), vfSampleRectanglePattern()};
    const std::vector<vcVector<2>> places = {{0, 0}, {130, 0}, {0, 120}};
    std::vector<vcFlexSubModel> subs;
    std::vector<vcPtrHandle_const<vc2XformBase>> positions;
    vcSampleRender train;
    train.width = train.height = 96;
    for (std::size_t k = 0; k < patterns.size(); ++k) {
      subs.emplace_back(vfRenderSample(patterns[k], trainPose, train), "piece");
      positions.push_back(new vc2XformLinear(vcXform<2>(vcMatrix<2>(), places[k])));
    }
    vcFlexSubModelCorTrainParams tp;
    tp.coarseGrainLimit(2.0);
    vcFlexAlignPattern pattern;
    pattern.train(vcFlexArrangement(subs, positions), vcFlexAlignTrainParams(tp));
    std::vector<vcPelBuffer<unsigned char>> images;
    for (int i = 0; i < 2; ++i) {
      vcPelBuffer<unsigned char> img(400, 320);
      for (long y = 0; y < img.height(); ++y)
        for (long x = 0; x < img.width(); ++x) img.row(y)[x] = 40;
      for (std::size_t k = 0; k < patterns.size(); ++k) {
        const vcVector<2> at = places[k] + vcVector<2>(100 + 3 * i + k, 80 - 2 * i);
        const vcPelBuffer<unsigned char> piece = vfRenderSample(
            patterns[k], vcXform<2>(vcMatrix<2>(), at) * trainPose, vcSampleRender());
        for (long y = 0; y < img.height(); ++y)
          for (long x = 0; x < img.width(); ++x)
            img.row(y)[x] = std::max(img.row(y)[x], piece.get(x, y));
      }
      images.push_back(img);
    }
    vcFlexSubModelCorRunParams sub;
    sub.xyUncertainty(6, 6);
    vcFlexAlignRunParams rp(sub);
    rp.xyUncertainty(12, 12);
    expectThreadsMatchSerial(pattern, images, vcXform<2>(vcMatrix<2>(), {100, 80}), rp);
  }
}

// Threads inside one run (the independent strategy's searches, the polish, a search's
// candidates) change nothing in what the run finds, bit for bit, whatever their number.
TEST(FlexAlignThreads, ARunOnItsOwnThreadsGivesTheOneThreadResults) {
  const vcFlexSample sample = vfMakeFlexSample();
  vcFlexAlignPattern pattern;
  pattern.train(sample.arrangement, vfFlexSampleTrainParams(sample));
  vcFlexSampleOptions opt;
  opt.partPose = vfFlexSamplePose(sample, 7.0, 1.04, 15, -9);
  opt.seed = 11;
  const vcPelBuffer<unsigned char> image = vfRenderFlexSample(sample, opt).image;
  for (D::RunStrategy strategy : {D::eIndependentSubModels, D::eLocallyFixturedSubModels}) {
    vcFlexAlignRunParams rp = vfFlexSampleRunParams(strategy, 0.6);
    std::vector<std::vector<double>> byThreads;
    for (long threads : {1L, 2L, 5L}) {
      rp.threads(threads);
      vcFlexAlignResultSet rs;
      pattern.run(image, vc2XformLinear(vfFlexSamplePose(sample, 0.0, 1.0)), {}, rp, rs);
      ASSERT_FALSE(rs.results().empty()) << "strategy " << strategy << ", threads " << threads;
      byThreads.push_back(summary(rs));
    }
    EXPECT_EQ(byThreads[1], byThreads[0]) << "strategy " << strategy;
    EXPECT_EQ(byThreads[2], byThreads[0]) << "strategy " << strategy;
  }
}

}  // namespace
