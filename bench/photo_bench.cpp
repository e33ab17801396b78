// The engines on real photographs: flexible parts cut from Debian's skimage sample photographs
// (coins, the camera man, a printed page, a coffee cup, a motorcycle; 37 pieces), found by
// FlexAlign runs with default settings but each piece's angle range, under blur, noise, gain,
// reversed polarity and a textured patch over each piece (tools/testing/vcPhotoEval.h). Then the
// same with correlation pieces, on those scenes and two more of print and pictures
// (handwriting, an astronaut's portrait; 49 pieces), with pieces moved by up to 5 px as well.
// The Geofind cases end with two dark and soft exposures and the whole scene enlarged 3 and 6
// times (soft edges, with sensor noise), whose errors are also printed divided by the
// enlargement.
// Timing: a run that finds the camera part against a run of the same pattern on a photograph
// without it, in the same process (a failing search should cost no more than twice a found one).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include "bench/vcBenchCollector.h"
#include "tools/testing/vcPhotoEval.h"

namespace {

struct Data {
  std::vector<std::unique_ptr<vcPhotoTrained>> normal, polarityFree, correlation;
  vcPhotoScene found;
  vcPelBuffer<unsigned char> absent;
  Data() {
    for (const std::string& p : vfPhotoNames()) {
      normal.push_back(std::make_unique<vcPhotoTrained>(vfTrainPhotoPart(p, false)));
      polarityFree.push_back(std::make_unique<vcPhotoTrained>(vfTrainPhotoPart(p, true)));
    }
    for (const std::string& p : vfCorrelationPhotoNames())
      correlation.push_back(std::make_unique<vcPhotoTrained>(vfTrainPhotoPartCorrelation(p)));
    vcPhotoSceneOptions o;
    o.angleDeg = 2.5, o.scale = 1.02, o.shift = vcVector<2>(6, -4), o.noiseSigma = 5;
    found = vfRenderPhotoScene(normal[1]->part, o);
    absent = vfReadPhoto("coffee");
  }
  const vcPhotoTrained& camera() const { return *normal[1]; }
};

const Data& data() {
  static Data d;
  return d;
}

void run(benchmark::State& st, const vcPelBuffer_const<unsigned char>& image) {
  const vcPhotoTrained& t = data().camera();
  const vcFlexAlignRunParams rp = vfPhotoRunParams();
  const vcXform<2> start(vcMatrix<2>(), t.part.partCentre);
  long pieces = 0;
  for (auto _ : st) {
    vcFlexAlignResultSet rs;
    t.pattern.run(image, vc2XformLinear(start), {}, rp, rs);
    pieces = rs.results().empty() ? 0 : long(rs.results()[0].positionIndices().size());
  }
  st.counters["pieces_found"] = double(pieces);
}

void BM_PhotoFound(benchmark::State& st) { run(st, data().found.image); }
void BM_PhotoAbsent(benchmark::State& st) { run(st, data().absent); }
BENCHMARK(BM_PhotoFound)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PhotoAbsent)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (!vfHavePhotos()) {
    std::printf("photo_bench: the skimage sample photographs are missing (python3-skimage)\n");
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  const Data& d = data();
  vcBenchCollector rep;
  benchmark::RunSpecifiedBenchmarks(&rep);
  const double f = rep.t["BM_PhotoFound"], a = rep.t["BM_PhotoAbsent"];
  std::printf("found run %.3f ms, absent run %.3f ms, absent / found %.2f (goal <= 2)\n", f, a,
              f > 0 ? a / f : 0.0);
  std::printf("RESULT case=absent_vs_found found_ms=%.4f absent_ms=%.4f ratio=%.3f goal=2\n", f, a,
              f > 0 ? a / f : 0.0);

  const char* sc = std::getenv("PHOTO_BENCH_SCENES");
  const char* only = std::getenv("PHOTO_BENCH_CASE");
  const int scenes = sc ? std::max(1, std::atoi(sc)) : 6;
  // PHOTO_BENCH_ENGINE=geofind or correlation runs that engine's cases alone.
  const char* engine = std::getenv("PHOTO_BENCH_ENGINE");
  const bool geofind = !engine || std::string(engine) == "geofind";
  const bool correlation = !engine || std::string(engine) == "correlation";
  for (const vcPhotoCondition& c : vfPhotoConditions()) {
    if (!geofind || (only && c.name.find(only) == std::string::npos)) continue;
    std::vector<const vcPhotoTrained*> parts;
    // An enlarged scene trains its own parts on the enlarged photographs; at 6x they hold 9
    // megapixels each, so it runs at most two scenes per photograph.
    std::vector<std::unique_ptr<vcPhotoTrained>> enlarged;
    if (c.enlarge != 1.0)
      for (const std::string& p : vfPhotoNames()) {
        enlarged.push_back(
            std::make_unique<vcPhotoTrained>(vfTrainEnlargedPhotoPart(p, c.enlarge)));
        parts.push_back(enlarged.back().get());
      }
    else
      for (const auto& p : c.ignorePolarity ? d.polarityFree : d.normal) parts.push_back(p.get());
    const vcPhotoStats s =
        vfRunPhotoCondition(parts, c, c.enlarge > 3.0 ? std::min(scenes, 2) : scenes);
    const bool goal = c.goalFound > 0 || c.goalRmsPx > 0;
    // Errors of an enlarged scene are also given in the photograph's own pixels.
    const double k = c.enlarge;
    std::printf(
        "photo %-14s found %3d/%3d (%5.1f%%), wrong %d, RMS %.4f px (worst %.3f), angle RMS "
        "%.4f deg; runs %.1f ms found all (%d), %.1f ms missing some (%d); left out: %d outside "
        "the image, %d saturated",
        c.name.c_str(), s.found, s.pieces, 100.0 * s.foundRate(), s.wrong, s.rmsPx, s.worstPx,
        s.angleRmsDeg, s.msAll, s.runsAll, s.msShort, s.runsShort, s.outside, s.saturated);
    if (k != 1.0) std::printf("; RMS / %g = %.4f px", k, s.rmsPx / k);
    std::printf("%s\n", !goal ? "" : s.goalMet(c) ? " (goal met)" : " (goal NOT met)");
    std::printf(
        "RESULT photo case=%s found=%d pieces=%d wrong=%d rms_px=%.4f worst_px=%.4f "
        "angle_rms_deg=%.4f ms_all=%.2f runs_all=%d ms_short=%.2f runs_short=%d outside=%d "
        "saturated=%d enlarge=%g rms_over_enlarge=%.4f goal_found=%.2f goal_rms_px=%.2f "
        "goal_met=%d\n",
        c.name.c_str(), s.found, s.pieces, s.wrong, s.rmsPx, s.worstPx, s.angleRmsDeg, s.msAll,
        s.runsAll, s.msShort, s.runsShort, s.outside, s.saturated, k, s.rmsPx / k, c.goalFound,
        c.goalRmsPx, goal ? int(s.goalMet(c)) : -1);
  }
  // The same scenes with every piece a correlation piece, two more scenes of print and
  // pictures, and the engine's own goals.
  const vcFlexAlignRunParams corRun = vfPhotoRunParamsCorrelation();
  std::vector<const vcPhotoTrained*> corParts;
  for (const auto& p : d.correlation) corParts.push_back(p.get());
  for (const vcPhotoCondition& c : vfCorrelationPhotoConditions()) {
    if (!correlation || (only && c.name.find(only) == std::string::npos)) continue;
    const vcPhotoStats s = vfRunPhotoCondition(corParts, c, scenes, 1, &corRun);
    const bool goal = c.goalFound > 0 || c.goalRmsPx > 0;
    std::printf(
        "photo correlation %-14s found %3d/%3d (%5.1f%%), wrong %d, RMS %.4f px (worst %.3f), "
        "angle RMS %.4f deg; runs %.1f ms found all (%d), %.1f ms missing some (%d)%s\n",
        c.name.c_str(), s.found, s.pieces, 100.0 * s.foundRate(), s.wrong, s.rmsPx, s.worstPx,
        s.angleRmsDeg, s.msAll, s.runsAll, s.msShort, s.runsShort,
        !goal          ? ""
        : s.goalMet(c) ? " (goal met)"
                       : " (goal NOT met)");
    std::printf(
        "RESULT photo_correlation case=%s found=%d pieces=%d wrong=%d rms_px=%.4f worst_px=%.4f "
        "angle_rms_deg=%.4f ms_all=%.2f runs_all=%d ms_short=%.2f runs_short=%d outside=%d "
        "saturated=%d goal_found=%.2f goal_rms_px=%.2f goal_worst_px=%.2f goal_met=%d\n",
        c.name.c_str(), s.found, s.pieces, s.wrong, s.rmsPx, s.worstPx, s.angleRmsDeg, s.msAll,
        s.runsAll, s.msShort, s.runsShort, s.outside, s.saturated, c.goalFound, c.goalRmsPx,
        c.goalWorstPx, goal ? int(s.goalMet(c)) : -1);
  }
  benchmark::Shutdown();
  return 0;
}
