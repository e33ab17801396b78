#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/core/vcArchive.h"
#include "vcFlexSubModelParams.h"
#include "vcSubModelTool.h"

namespace {

// The saved inputs carry one leading byte that picked the target class when they were found;
// the archive itself starts after it.
std::vector<std::uint8_t> reproArchive(const std::string& name) {
  std::ifstream in(std::string(VCFLEX_REPRO_DIR) + "/" + name, std::ios::binary);
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  EXPECT_GT(bytes.size(), 1u) << name;
  if (!bytes.empty()) bytes.erase(bytes.begin());
  return bytes;
}

// A back-reference to an object read as another class: refused as damaged data, the objects
// already read stay alive for their owners (the sanitizers catch a use after free), and the
// target keeps what it held.
TEST(HostileArchive, BackReferenceToAnotherClassLeavesResultSetAsItWas) {
  vc_SubModelResultSet set;
  vcPtrHandle<vc2XformBase> start(new vc2XformLinear(vcMatrix<2>(2, 1, 0, 0), {3, 4}));
  set.startPose(start);
  set.addResult(new vcFlexSubModelCorResult);
  vcArchive in(reproArchive("archive-resultset-back-reference-to-other-class.bin"));
  EXPECT_THROW(in || set, vcArchive::BadData);
  EXPECT_EQ(&set.startPose(), start.ptr());
  EXPECT_EQ(set.numFound(), 1);
}

TEST(HostileArchive, BackReferenceToAnotherClassLeavesToolUntrained) {
  vc_SubModelTool tool;
  vcArchive in(reproArchive("archive-submodel-tool-back-reference-to-other-class.bin"));
  EXPECT_THROW(in || tool, vcArchive::BadData);
  EXPECT_FALSE(tool.isTrained());
  EXPECT_TRUE(tool == vc_SubModelTool());
}

}  // namespace
