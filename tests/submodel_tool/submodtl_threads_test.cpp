#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "tool_scenes.h"
#include "vcSubModelTool.h"

// One trained tool serves several threads at once: its run changes nothing in it or in its
// engine, so every thread gets, bit for bit, what a serial run gives.
namespace {

using tool_scenes::render;
using tool_scenes::rigid;
using Std = vcFlexSubModelParamsDefs;

struct Found {
  vcXform<2> pose;
  double score;
  bool operator==(const Found&) const = default;
};

std::vector<Found> runOnce(const vc_SubModelTool& tool, const vcPelBuffer<unsigned char>& scene,
                           const vcXform<2>& start, const vcFlexSubModelRunParams& rp) {
  vc_SubModelResultSet rs;
  tool.run(scene, vc2XformLinear(start), rp, {}, rs);
  std::vector<Found> out;
  for (const auto& r : rs.results())
    out.push_back({r->pose().linearXform({0, 0}).xform(), r->score()});
  return out;
}

void expectThreadsMatchSerial(const vc_SubModelTool& tool, const vcFlexSubModelRunParams& rp,
                              const vcXform<2>& origin) {
  std::vector<vcPelBuffer<unsigned char>> scenes;
  std::vector<vcXform<2>> starts;
  for (int i = 0; i < 3; ++i) {
    scenes.push_back(render(240, 200, rigid(0.0, 58.0 + 2 * i, 50.0 - i)));
    starts.push_back(rigid(0.0, 57.0, 50.0) * origin);
  }
  std::vector<std::vector<Found>> serial;
  for (std::size_t i = 0; i < scenes.size(); ++i) {
    serial.push_back(runOnce(tool, scenes[i], starts[i], rp));
    ASSERT_EQ(serial.back().size(), 1u);
  }
  // Two threads, each over every scene a few times, in opposite orders so that different
  // scenes run at the same moment. Each thread has its own parameter copy.
  std::vector<int> mismatches(2, 0);
  auto work = [&](int t) {
    const vcPtrHandle<vcFlexSubModelRunParams> mine = rp.clone();
    for (int round = 0; round < 3; ++round)
      for (std::size_t k = 0; k < scenes.size(); ++k) {
        const std::size_t i = t == 0 ? k : scenes.size() - 1 - k;
        if (runOnce(tool, scenes[i], starts[i], *mine) != serial[i]) ++mismatches[t];
      }
  };
  std::thread a(work, 0), b(work, 1);
  a.join();
  b.join();
  EXPECT_EQ(mismatches[0], 0);
  EXPECT_EQ(mismatches[1], 0);
}

TEST(SubModelToolThreads, OneToolOnTwoThreadsGivesTheSerialResults) {
  // A sub-model origin other than the identity: the frame the engine reports poses in.
  const vcXform<2> origin = rigid(20.0, 7.0, -5.0);
  vcFlexSubModel sm(render(100, 80, vcXform<2>()), "p");
  sm.origin(vc2XformLinear(origin));
  {
    vcFlexSubModelGfndTrainParams tp;
    tp.autoSelectGrainLimits(false);
    tp.grainLimits(4.0f, 1.0f);
    vc_SubModelTool tool;
    tool.train(sm, tp);
    vcFlexSubModelGfndRunParams rp;
    rp.xyUncertainty(8, 8);
    rp.zoneEnable(Std::eAngle);
    rp.zoneRelStandard(Std::eAngle, -5.0, 5.0);
    expectThreadsMatchSerial(tool, rp, origin);
  }
  {
    vcFlexSubModelCorTrainParams tp;
    tp.coarseGrainLimit(2.0);
    vc_SubModelTool tool;
    tool.train(sm, tp);
    vcFlexSubModelCorRunParams rp;
    rp.xyUncertainty(10, 10);
    expectThreadsMatchSerial(tool, rp, origin);
  }
}

}  // namespace
