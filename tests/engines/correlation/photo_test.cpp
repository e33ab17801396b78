// Correlation pieces on real photographs (skimage's sample images): parts whose every piece is
// a correlation piece, found by FlexAlign runs with default piece settings under the camera
// degradations whose goal is every piece found, and pieces moved against the layout (a sample
// of what photo_bench measures in full).
#include <gtest/gtest.h>

#include <memory>

#include "tools/testing/vcPhotoEval.h"

namespace {

// Two scenes per photograph for each condition with a goal: no piece reported more than 1.5 px
// off, at most one piece in fifty missed, the RMS goal held. The sanitizer build leaves it out:
// it trains seven parts and runs two hundred pieces a condition.
TEST(CorrelationPhoto, PartsOfPhotographsAreFoundUnderCameraDegradations) {
  if (!vfHavePhotos()) GTEST_SKIP() << "skimage's sample photographs (python3-skimage) are missing";
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "too slow under the sanitizers";
#endif
  std::vector<std::unique_ptr<vcPhotoTrained>> parts;
  std::vector<const vcPhotoTrained*> p;
  for (const std::string& name : vfCorrelationPhotoNames()) {
    parts.push_back(std::make_unique<vcPhotoTrained>(vfTrainPhotoPartCorrelation(name)));
    p.push_back(parts.back().get());
  }
  const vcFlexAlignRunParams rp = vfPhotoRunParamsCorrelation();
  for (const vcPhotoCondition& c : vfCorrelationPhotoConditions()) {
    if (c.goalFound < 1.0) continue;
    const vcPhotoStats s = vfRunPhotoCondition(p, c, 2, 7, &rp);
    const std::string what = c.name + ": found " + std::to_string(s.found) + " of " +
                             std::to_string(s.pieces) + ", RMS " + std::to_string(s.rmsPx) +
                             ", worst " + std::to_string(s.worstPx);
    EXPECT_GE(s.foundRate(), 0.98) << what;
    EXPECT_EQ(s.wrong, 0) << what;
    EXPECT_LE(s.rmsPx, c.goalRmsPx) << what;
  }
}

}  // namespace
