// Instruction-count cases for scripts/perfcheck. `perfcases CASE` builds the case's scene (not
// counted), runs the measured call once between callgrind's start and stop of instrumentation,
// and prints whether its answer was right; `perfcases` alone lists the cases. Under
// `valgrind --tool=callgrind --instr-atstart=no` only the measured call is counted, so the
// count does not move with the machine's load; run natively it simply runs the case.
#include <valgrind/callgrind.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "bench/vcBenchScenes.h"
#include "tools/io/vcPatternFile.h"
#include "tools/testing/vcLargePhotoScene.h"

namespace {

using D = vcFlexAlignDefs;

struct Case {
  const char* name;
  const char* what;
  // Builds the scene and returns the measured call, which returns whether it answered right.
  std::function<std::function<bool()>()> setUp;
};

std::function<bool()> flexRun(D::RunStrategy strategy) {
  auto scene = std::make_shared<vcFlexBenchScene>();
  // One thread: the count is the work a run does, whatever the machine's threads.
  vcFlexAlignRunParams rp = vfFlexSampleRunParams(strategy, 0.6);
  rp.threads(1);
  return [scene, rp] {
    vcFlexAlignResultSet rs;
    scene->pattern.run(scene->run.image, vc2XformLinear(scene->start), {}, rp, rs);
    return !rs.results().empty() && rs.results()[0].found() &&
           rs.results()[0].positionIndices().size() == scene->run.truth.size();
  };
}

std::function<bool()> toolsAtTruth() {
  auto scene = std::make_shared<vcFlexBenchScene>();
  const vcFlexSubModelGfndRunParams sub = vfFlexSamplePieceParams(0.6);
  return [scene, sub] {
    // The searches of one run share what Geofind measures of the image.
    const vcGFImageCache cache(scene->run.image);
    vc_SubModelSearchContext context;
    context.imageCache = &cache;
    std::size_t found = 0, pieces = 0;
    for (std::size_t k = 0; k < scene->run.truth.size(); ++k) {
      const vc_SubModelTool& tool =
          scene->pattern.tools()[static_cast<std::size_t>(scene->pattern.instanceToTool()[k])];
      if (tool.subModel().modelType() == vcFlexModelDefs::eBlank) continue;
      ++pieces;
      vc_SubModelResultSet rs;
      tool.run(scene->run.image, vc2XformLinear(scene->run.truth[k]), sub, {}, rs, nullptr, 0,
               &context);
      found += rs.results().empty() ? 0 : 1;
    }
    return found == pieces;
  };
}

std::function<bool()> geofind(vcGeofindBenchScene (*make)(), double s0, double s1) {
  auto scene = std::make_shared<vcGeofindBenchScene>(make());
  const vcGFAlignRunParams rp = vfBenchGeofindParams(-180, 180, s0, s1);
  return [scene, rp] {
    vcGFAlignResultSet rs;
    scene->pattern.run(scene->image, rp, rs, nullptr, 0);
    return vfBenchFound(*scene, rs);
  };
}

// The 4000 x 3000 part of a photograph (vcLargePhotoScene.h): its training, the loading of its
// pattern file, and the loaded pattern's run on one thread. Null without the photographs.
enum class LargeStep { train, load, run };
std::function<bool()> large(LargeStep step) {
  if (!vfHavePhotos()) return nullptr;
  auto scene = std::make_shared<vcLargePhotoScene>(vfMakeLargePhotoScene());
  if (step == LargeStep::train)
    return [scene] {
      vcFlexAlignPattern p;
      p.train(scene->part.arrangement, scene->trainParams);
      return p.isTrained();
    };
  vcFlexAlignPattern trained;
  trained.train(scene->part.arrangement, scene->trainParams);
  auto bytes = std::make_shared<std::vector<std::uint8_t>>(
      vfPatternFileBytes(vfPatternFileOf(trained)));
  if (step == LargeStep::load)
    return [bytes] { return vfPatternFileFromBytes(*bytes, "large.fxp").pattern.isTrained(); };
  auto loaded = std::make_shared<vcPatternFile>(vfPatternFileFromBytes(*bytes, "large.fxp"));
  vcFlexAlignRunParams rp = scene->runParams;
  rp.threads(1);
  return [scene, loaded, rp] {
    vcFlexAlignResultSet rs;
    loaded->pattern.run(scene->run.image, vc2XformLinear(scene->start), {}, rp, rs);
    if (rs.results().empty() || !rs.results()[0].found()) return false;
    const vcFlexAlignResult& r = rs.results()[0];
    // Every piece within a pixel of its truth.
    for (std::size_t j = 0; j < r.positionIndices().size(); ++j) {
      const vcXform<2>& truth = scene->run.truth[std::size_t(r.positionIndices()[j])];
      if (r.subModelResults()[j]->pose().mapPoint({0, 0}).distance(truth.mapPoint({0, 0})) >= 1)
        return false;
    }
    return r.positionIndices().size() == scene->run.truth.size();
  };
}

const std::vector<Case>& cases() {
  static const std::vector<Case> all = {
      {"flex_fixtured", "flexible sample, locally fixtured run",
       [] { return flexRun(D::eLocallyFixturedSubModels); }},
      {"flex_independent", "flexible sample, independent run",
       [] { return flexRun(D::eIndependentSubModels); }},
      {"flex_truth", "flexible sample, each piece searched once at its true pose", toolsAtTruth},
      {"geofind_360", "Geofind sample pattern, full circle",
       [] { return geofind(vfGeofindSampleScene, 1.04, 1.04); }},
      {"geofind_360_scale", "Geofind sample pattern, full circle, scale 0.9-1.1",
       [] { return geofind(vfGeofindSampleScene, 0.9, 1.1); }},
      {"long_360", "long part (380 x 86) in 800 x 800, full circle",
       [] { return geofind(vfLongPartScene, 1.03, 1.03); }},
      {"long_360_scale", "long part (380 x 86) in 800 x 800, full circle, scale 0.9-1.1",
       [] { return geofind(vfLongPartScene, 0.9, 1.1); }},
      {"large_train", "4000 x 3000 part of a photograph (8 pieces), training",
       [] { return large(LargeStep::train); }},
      {"large_load", "4000 x 3000 part of a photograph, loading its pattern file",
       [] { return large(LargeStep::load); }},
      {"large_run", "4000 x 3000 part of a photograph, a run of the loaded pattern",
       [] { return large(LargeStep::run); }},
  };
  return all;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    for (const Case& c : cases()) std::printf("%-20s %s\n", c.name, c.what);
    return argc == 1 ? 0 : 2;
  }
  for (const Case& c : cases()) {
    if (std::strcmp(c.name, argv[1]) != 0) continue;
    const std::function<bool()> measured = c.setUp();
    if (!measured) {
      // What the case needs is not on this machine (the photographs): perfcheck skips it.
      std::printf("%s skipped\n", c.name);
      return 77;
    }
    CALLGRIND_START_INSTRUMENTATION;
    const bool right = measured();
    CALLGRIND_STOP_INSTRUMENTATION;
    std::printf("%s %s\n", c.name, right ? "right" : "WRONG");
    return right ? 0 : 1;
  }
  std::fprintf(stderr, "perfcases: no case named %s\n", argv[1]);
  return 2;
}
