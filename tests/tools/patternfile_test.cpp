// The one pattern file of the command and the Python module: what is saved loads back whole,
// a bare pattern archive (older Python files) loads with the default run settings, and every
// damaged or foreign file is refused with its name and the problem.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "platform/core/vcArchive.h"
#include "platform/core/vcException.h"
#include "tools/io/vcFileBytes.h"
#include "tools/io/vcPatternFile.h"
#include "tools/io/vcPose.h"
#include "tools/io/vcRunDefaults.h"
#include "tools/testing/vcFlexSample.h"

namespace {

namespace fs = std::filesystem;

const vcFlexAlignPattern& trainedSample() {
  static const vcFlexAlignPattern p = [] {
    const vcFlexSample s = vfMakeFlexSample();
    vcFlexAlignPattern pattern;
    pattern.train(s.arrangement, vfFlexSampleTrainParams(s));
    return pattern;
  }();
  return p;
}

std::string refusal(const std::vector<std::uint8_t>& bytes) {
  try {
    vfPatternFileFromBytes(bytes, "part.fxp");
  } catch (const vcBadParams& e) {
    return e.what();
  }
  return "(loaded)";
}

TEST(PatternFile, WhatIsSavedLoadsBackWhole) {
  vcPatternFile p = vfPatternFileOf(trainedSample());
  p.runParams.numToFind(3);
  p.startPose = vfPoseFrom(320, 240, 12.5, 1.1);
  p.instanceNames[2] = "renamed";
  const std::string path =
      (fs::temp_directory_path() / ("vcpf_" + std::to_string(getpid()))).string();
  vfSavePatternFile(path, p);
  const vcPatternFile back = vfLoadPatternFile(path);
  EXPECT_TRUE(back.pattern == p.pattern);
  EXPECT_EQ(back.runParams.toDebugString(), p.runParams.toDebugString());
  EXPECT_TRUE(back.startPose == p.startPose);
  EXPECT_EQ(back.instanceNames, p.instanceNames);
  fs::remove(path);
}

TEST(PatternFile, ABarePatternArchiveLoadsWithTheDefaultRunSettings) {
  vcArchive ar;
  vcFlexAlignPattern copy = trainedSample();
  ar || copy;
  const vcPatternFile p = vfPatternFileFromBytes(ar.bytes(), "old.fxp");
  EXPECT_TRUE(p.pattern == trainedSample());
  EXPECT_EQ(p.runParams.runStrategy(), vcFlexAlignDefs::eLocallyFixturedSubModels);
  const auto& piece =
      dynamic_cast<const vcFlexSubModelGfndRunParams&>(p.runParams.subModelInstanceParams(0));
  EXPECT_EQ(piece.zoneHighRelStandard(vcFlexSubModelParamsDefs::eAngle), kVcDefaultPieceAngle);
  EXPECT_TRUE(p.startPose == trainedSample().arrangement().origin()->linearXform({0, 0}).xform());
  ASSERT_EQ(p.instanceNames.size(), 8u);
  EXPECT_EQ(p.instanceNames[3], "key 1");  // the key is placed three times
  EXPECT_EQ(p.instanceNames[0], "body");
}

TEST(PatternFile, DamagedAndForeignFilesAreRefusedWithTheirNameAndProblem) {
  const std::vector<std::uint8_t> good = vfPatternFileBytes(vfPatternFileOf(trainedSample()));
  EXPECT_EQ(refusal({}), "part.fxp: the file is empty");
  const std::vector<std::uint8_t> text = {'{', '"', 'a', '"', '}'};
  EXPECT_EQ(refusal(text), "part.fxp: not a flexalign pattern file");
  EXPECT_EQ(refusal({good.begin(), good.begin() + long(good.size() / 2)}),
            "part.fxp: the pattern file is truncated");
  // One instance name fewer than the pattern has instances.
  vcPatternFile shortNames = vfPatternFileOf(trainedSample());
  shortNames.instanceNames.pop_back();
  EXPECT_NE(refusal(vfPatternFileBytes(shortNames)).find("7 names for 8 instances"),
            std::string::npos);
  vcPatternFile farStart = vfPatternFileOf(trainedSample());
  farStart.startPose = vfPoseFrom(1e7, 0, 0, 1);
  EXPECT_NE(refusal(vfPatternFileBytes(farStart)).find("start pose: the position 1e+07"),
            std::string::npos);
  EXPECT_THROW(vfPatternFileBytes(vcPatternFile()), vcBadParams);  // untrained
  // A bare archive whose arrangement origin scales by 1e-152: refused, not loaded to be
  // refused when saved again (found by fuzz_patternfile).
  const std::string repro = VCFLEX_REPRO_DIR "/patternfile-bare-origin-scale-1e-152.fxp";
  EXPECT_NE(refusal(vfReadFileBytes(repro, 1 << 20)).find("start pose: the scale"),
            std::string::npos);
  // What is not a regular file is refused before a byte is read.
  const std::string dir = fs::temp_directory_path().string();
  for (const auto& [path, problem] :
       {std::pair{dir, ": is a folder, not a file"}, {"/dev/zero", ": not a regular file"}}) {
    try {
      vfLoadPatternFile(path);
      ADD_FAILURE() << path;
    } catch (const vcBadParams& e) {
      EXPECT_EQ(std::string(e.what()).rfind(path + problem, 0), 0u) << e.what();
    }
  }
}

// A version 1 file, written before pattern files held the trained models (the flexible sample
// with its third key on the correlation engine, trained for +-8 degrees): its tools train from
// what it holds, it equals the part trained now and runs exactly as that does; saved again, it
// loads the same way.
TEST(PatternFile, AVersionOneFileLoadsAndRunsAsThePartTrainedNow) {
  const vcPatternFile old = vfLoadPatternFile(VCFLEX_SOURCE_DIR "/tests/data/flex_sample_v1.fxp");
  const vcFlexSample s = vfMakeFlexSample();
  vcFlexAlignTrainParams train = vfFlexSampleTrainParams(s);
  vcFlexSubModelCorTrainParams key3;
  key3.zoneAllowed(vcFlexSubModelParamsDefs::eAngle);
  key3.zoneMaxRangeStandard(vcFlexSubModelParamsDefs::eAngle, 8);
  train.custom(5, key3);
  vcFlexAlignPattern now;
  now.train(s.arrangement, train);
  EXPECT_TRUE(old.pattern == now);
  const vcPatternFile again = vfPatternFileFromBytes(vfPatternFileBytes(old), "again.fxp");
  EXPECT_TRUE(again.pattern == now);

  vcFlexAlignRunParams run = vfFlexSampleRunParams(vcFlexAlignDefs::eLocallyFixturedSubModels, 0.6);
  vcPtrHandle<vcFlexSubModelRunParams> key = old.runParams.subModelInstanceParams(5).clone();
  dynamic_cast<vcFlexSubModelCorRunParams&>(*key).xyUncertainty(6, 6);
  run.custom(5, *key);
  vcFlexSampleOptions opt;
  opt.partPose = vfFlexSamplePose(s, 1, 1.0, 10, -6);
  opt.seed = 7;
  const vcPelBuffer<unsigned char> image = vfRenderFlexSample(s, opt).image;
  const vcXform<2> start = vfFlexSamplePose(s, 0, 1);
  vcFlexAlignResultSet expected;
  now.run(image, vc2XformLinear(start), {}, run, expected);
  ASSERT_EQ(expected.results().size(), 1u);
  ASSERT_TRUE(expected.results()[0].found());
  // Every piece, the correlation key among them.
  ASSERT_EQ(expected.results()[0].positionIndices().size(), 8u);
  for (const vcFlexAlignPattern* p : {&old.pattern, &again.pattern}) {
    vcFlexAlignResultSet got;
    p->run(image, vc2XformLinear(start), {}, run, got);
    ASSERT_EQ(got.results().size(), 1u);
    const vcFlexAlignResult &g = got.results()[0], &e = expected.results()[0];
    EXPECT_EQ(g.score(), e.score());
    ASSERT_EQ(g.positionIndices(), e.positionIndices());
    for (std::size_t j = 0; j < e.positionIndices().size(); ++j) {
      EXPECT_TRUE(g.subModelResults()[j]->pose().linearXform({0, 0}) ==
                  e.subModelResults()[j]->pose().linearXform({0, 0}))
          << "piece " << e.positionIndices()[j];
      EXPECT_EQ(g.subModelResults()[j]->score(), e.subModelResults()[j]->score());
    }
  }
}

}  // namespace
