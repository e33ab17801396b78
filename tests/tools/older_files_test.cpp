// Files written by earlier versions keep loading: the example part's pattern file and its result
// set on the example's first image, written when archives named classes by g++'s mangled type
// names (tests/data/example_*). The pattern finds the part where the recorded result has it,
// and what is written now loads back the same.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "platform/core/vcArchive.h"
#include "tools/io/vcImageFile.h"
#include "tools/io/vcPatternFile.h"

namespace {

const std::string kData = VCFLEX_SOURCE_DIR "/tests/data/";

vcFlexAlignResultSet loadResults(std::vector<std::uint8_t> bytes) {
  vcArchive ar(std::move(bytes));
  vcFlexAlignResultSet set;
  ar || set;
  EXPECT_EQ(ar.remaining(), 0u);
  return set;
}

std::vector<std::uint8_t> bytesOf(vcFlexAlignResultSet set) {
  vcArchive ar;
  ar || set;
  return ar.bytes();
}

bool holds(const std::vector<std::uint8_t>& bytes, const std::string& text) {
  return std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) != bytes.end();
}

// The part pose agrees to far below what a reader of the result would notice; the pieces found
// are the same ones.
void expectSamePart(const vcFlexAlignResult& got, const vcFlexAlignResult& want) {
  EXPECT_TRUE(got.found());
  EXPECT_NEAR(got.score(), want.score(), 1e-3);
  EXPECT_EQ(got.positionIndices(), want.positionIndices());
  const vc2XformLinear g = got.pose().linearXform({0, 0}), w = want.pose().linearXform({0, 0});
  EXPECT_LT((g.mapPoint({0, 0}) - w.mapPoint({0, 0})).len(), 0.02);
  EXPECT_LT((g.mapPoint({100, 0}) - w.mapPoint({100, 0})).len(), 0.02);
  EXPECT_LT((g.mapPoint({0, 100}) - w.mapPoint({0, 100})).len(), 0.02);
}

TEST(OlderFiles, TheExamplePatternFindsThePartWhereItsRecordedResultHasIt) {
  const vcPatternFile file = vfLoadPatternFile(kData + "example_part_v2.fxp");
  const vcFlexAlignResultSet recorded = loadResults(
      vcArchive::openFile(kData + "example_image-1_results.bin", vcArchive::eLoading).bytes());
  ASSERT_EQ(recorded.results().size(), 1u);
  const vcFlexAlignResult& want = recorded.results()[0];
  ASSERT_TRUE(want.found());
  ASSERT_EQ(want.positionIndices().size(), file.pattern.arrangement().positions().size());

  vcFlexAlignResultSet now;
  file.pattern.run(vfReadImage(kData + "example_image-1.png"), vc2XformLinear(file.startPose), {},
                   file.runParams, now);
  ASSERT_EQ(now.results().size(), 1u);
  expectSamePart(now.results()[0], want);

  // Written again: fixed class names only, and it loads to the same pattern and results.
  const std::vector<std::uint8_t> pattern = vfPatternFileBytes(file);
  EXPECT_FALSE(holds(pattern, "27vcFlexSubModelGfndRunParams"));
  EXPECT_TRUE(holds(pattern, "vcFlexSubModelGfndRunParams"));
  const vcPatternFile again = vfPatternFileFromBytes(pattern, "again.fxp");
  EXPECT_TRUE(again.pattern == file.pattern);
  EXPECT_EQ(vfPatternFileBytes(again), pattern);

  const std::vector<std::uint8_t> results = bytesOf(recorded);
  EXPECT_FALSE(holds(results, "14vc2XformLinear"));
  const vcFlexAlignResultSet reread = loadResults(results);
  ASSERT_EQ(reread.results().size(), 1u);
  expectSamePart(reread.results()[0], want);
  EXPECT_EQ(reread.results()[0].score(), want.score());
  EXPECT_EQ(bytesOf(reread), results);
}

}  // namespace
