#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/fuzz_geofind_case.h"

// Inputs of the Geofind fuzz target that once crashed it or ran past its time limit, replayed
// through the target's own case: each must end, with a result or a library exception, quickly.
namespace {

TEST(GeofindFuzzRepro, EveryReproducerEndsQuickly) {
  int replayed = 0;
  for (const auto& entry : std::filesystem::directory_iterator(VCFLEX_REPRO_DIR)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("geofind-", 0) != 0) continue;
    std::ifstream f(entry.path(), std::ios::binary);
    const std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(f)), {});
    ASSERT_FALSE(data.empty()) << name;
    FuzzInput in(data.data(), data.size());
    const auto t0 = std::chrono::steady_clock::now();
    try {
      fuzz_geofind::trainAndRun(in);
    } catch (const vcException&) {
    }
    // Generous for sanitizer builds: these runs take milliseconds; the slow ones took seconds
    // under the fuzz build's instrumentation.
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 1.0)
        << name;
    ++replayed;
  }
  EXPECT_GE(replayed, 4);
}

}  // namespace
