// Reads arbitrary bytes as the JSON part description `flexalign train` takes (every image it
// names is one small rendered scene), trains what it describes and runs the pattern once on
// its training image. Only the library's own exceptions may come out: a JSON-library
// exception or any other escaping the reader is a fault.
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>

#include "platform/core/vcException.h"
#include "tools/cli/vcCliDescription.h"
#include "tools/testing/vcSampleImages.h"

namespace {

const vcPelBuffer<unsigned char>& scene() {
  static const vcPelBuffer<unsigned char> img = [] {
    vcSampleRender r;
    r.width = 64;
    r.height = 48;
    return vfRenderSample(vfSampleAsymmetricPattern(),
                          vcXform<2>(vcMatrix<2>(0.3, 1, vcRadian(0.0), vcRadian(0.0)), {32, 24}),
                          r);
  }();
  return img;
}

// The engines are fuzzed on their own (fuzz_geofind, fuzz_correlation); a large outline or a
// piece placed many times its size makes their searches long under the coverage
// instrumentation (a piece at scale 32 took 100 s, 0.2 s uninstrumented), so only parts of
// moderate size are trained and run here.
bool smallEnough(const vcCliTrainJob& job) {
  for (const vcFlexSubModel& m : job.arrangement.subModels()) {
    if (m.modelType() != vcFlexModelDefs::eSynthetic) continue;
    const vcRect r = m.encloseRect();
    if (!(r.width() <= 128 && r.height() <= 128)) return false;
  }
  for (const auto& p : job.arrangement.positions()) {
    const double s = p->linearXform({0, 0}).xform().matrix().scale();
    if (!(s >= 0.25 && s <= 4)) return false;
  }
  // The independent strategy's tree of combinations grows fast with the pieces: five pieces on
  // this 64 x 48 scene took up to 2.1 s uninstrumented (fuzz/repro/description-independent-*,
  // left to the FlexAlign run to bound); until it is bounded it runs here with three at most.
  if (job.runParams.runStrategy() == vcFlexAlignDefs::eIndependentSubModels &&
      job.instanceNames.size() > 3)
    return false;
  return job.instanceNames.size() <= 16;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const nlohmann::json doc = nlohmann::json::parse(data, data + size, nullptr, false);
  if (doc.is_discarded()) return 0;
  try {
    const vcCliTrainJob job =
        vfParseDescription(doc, "fuzz.json", [](const std::string&) { return scene(); });
    if (!smallEnough(job)) return 0;
    const vcPatternFile p = vfTrainCliPattern(job);
    vcFlexAlignResultSet results;
    p.pattern.run(scene(), vc2XformLinear(p.startPose), {}, p.runParams, results);
  } catch (const vcException&) {
  }
  return 0;
}
