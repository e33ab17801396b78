// FlexAlign run time and accuracy on the flexible sample part (8 instances of 6 sub-models,
// pieces displaced up to 4 px and turned up to 3 degrees against the layout; run images
// 640 x 480, blur 1, noise sigma 5, 6 clutter shapes). Baseline in the same process: the
// sub-model tools run once each at the true pose of their piece, the least any search of the
// pieces must do. The ratio shows what ordering, the result tree and the final fit cost on top.
// One case has correlation pieces on a real photograph (skimage's camera man).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench/vcBenchCollector.h"
#include "bench/vcBenchScenes.h"
#include "platform/core/vcAngle.h"
#include "tools/io/vcPatternFile.h"
#include "tools/testing/vcFlexSample.h"
#include "tools/testing/vcLargePhotoScene.h"
#include "tools/testing/vcPhotoEval.h"
#include "vcFlexAlignTool.h"

namespace {

using D = vcFlexAlignDefs;

const vcFlexBenchScene& data() {
  static const vcFlexBenchScene d;
  return d;
}

vcFlexSubModelGfndRunParams subParams() { return vfFlexSamplePieceParams(0.6); }

vcFlexAlignRunParams runParams(D::RunStrategy strategy) {
  return vfFlexSampleRunParams(strategy, 0.6);
}

void BM_FlexAlignIndependent(benchmark::State& st) {
  const vcFlexBenchScene& d = data();
  const vcFlexAlignRunParams rp = runParams(D::eIndependentSubModels);
  for (auto _ : st) {
    vcFlexAlignResultSet rs;
    d.pattern.run(d.run.image, vc2XformLinear(d.start), {}, rp, rs);
    benchmark::DoNotOptimize(rs);
  }
}

void BM_FlexAlignLocallyFixtured(benchmark::State& st) {
  const vcFlexBenchScene& d = data();
  const vcFlexAlignRunParams rp = runParams(D::eLocallyFixturedSubModels);
  for (auto _ : st) {
    vcFlexAlignResultSet rs;
    d.pattern.run(d.run.image, vc2XformLinear(d.start), {}, rp, rs);
    benchmark::DoNotOptimize(rs);
  }
}

// Every piece's tool once at its true pose in `run` with the piece's own small ranges, sharing
// what Geofind measures of the image as the searches of one run do.
void toolsAtTruth(const vcFlexSampleImage& run, const vcFlexSubModelGfndRunParams& sub) {
  const vcFlexBenchScene& d = data();
  const vcGFImageCache cache(run.image);
  vc_SubModelSearchContext context;
  context.imageCache = &cache;
  for (std::size_t k = 0; k < run.truth.size(); ++k) {
    const long tool = d.pattern.instanceToTool()[k];
    vc_SubModelResultSet rs;
    d.pattern.tools()[static_cast<std::size_t>(tool)].run(run.image, vc2XformLinear(run.truth[k]),
                                                          sub, {}, rs, nullptr, 0, &context);
    benchmark::DoNotOptimize(rs);
  }
}

void BM_ToolsAtTruth(benchmark::State& st) {
  const vcFlexSubModelGfndRunParams sub = subParams();
  for (auto _ : st) toolsAtTruth(data().run, sub);
}

// The naive way: each distinct sub-model searched rigidly over the whole image and the whole
// circle with no prediction (matching the finds to the layout afterwards is not counted, so
// this is a lower bound of that way's cost).
void BM_NaiveRigidFinds(benchmark::State& st) {
  const vcFlexBenchScene& d = data();
  vcFlexSubModelGfndRunParams whole = subParams();
  whole.xyUncertainty(1e6, 1e6);
  whole.zoneRelStandard(vcFlexSubModelParamsDefs::eAngle, -180, 180);
  whole.zoneEnable(vcFlexSubModelParamsDefs::eAngle | vcFlexSubModelParamsDefs::eUniformScale);
  whole.zoneRelStandard(vcFlexSubModelParamsDefs::eUniformScale, -0.1, 0.1);
  for (auto _ : st) {
    for (const vc_SubModelTool& tool : d.pattern.tools()) {
      if (tool.subModel().modelType() == vcFlexModelDefs::eBlank) continue;
      vc_SubModelResultSet rs;
      tool.run(d.run.image, vc2XformLinear(d.start), whole, {}, rs);
      benchmark::DoNotOptimize(rs);
    }
  }
}

// Grid parts of 8 and 32 pieces (same piece kinds), each in its own 640 x 480 image, the start
// pose off by 12 px and 4 degrees: the cost per piece should not grow with the part.
struct Grid {
  vcFlexSample sample;
  vcFlexAlignPattern pattern;
  vcFlexSampleImage run;
  explicit Grid(int cols, int rows) : sample(vfMakeFlexGridSample(cols, rows)) {
    pattern.train(sample.arrangement, vcFlexAlignTrainParams(vcFlexSubModelGfndTrainParams()));
    vcFlexSampleOptions opt;
    opt.partPose = vfFlexSamplePose(sample, 4.0, 1.0, 10, -7);
    run = vfRenderFlexSample(sample, opt);
  }
};

const Grid& grid(int pieces) {
  static const Grid g8(4, 2), g32(8, 4);
  return pieces == 8 ? g8 : g32;
}

void BM_GridLocallyFixtured(benchmark::State& st) {
  const Grid& g = grid(static_cast<int>(st.range(0)));
  vcFlexAlignRunParams rp = runParams(D::eLocallyFixturedSubModels);
  rp.xyUncertainty(20, 20);
  rp.zoneRelStandard(D::eAngle, -6, 6);
  rp.zoneRelStandard(D::eUniformScale, -0.03, 0.03);
  long found = 0;
  for (auto _ : st) {
    vcFlexAlignResultSet rs;
    g.pattern.run(g.run.image, vc2XformLinear(vfFlexSamplePose(g.sample, 0, 1)), {}, rp, rs);
    found = rs.results().empty() ? 0 : static_cast<long>(rs.results()[0].positionIndices().size());
  }
  st.counters["pieces_found"] = static_cast<double>(found);
}

// The same parts with a loose start: 40 px and 10 degrees off, within an uncertainty of 45 px
// and 12 degrees, where each window holds several pieces of the same outline.
void BM_GridLooseStart(benchmark::State& st) {
  const Grid& g = grid(static_cast<int>(st.range(0)));
  vcFlexAlignRunParams rp = runParams(D::eLocallyFixturedSubModels);
  rp.xyUncertainty(45, 45);
  rp.zoneRelStandard(D::eAngle, -12, 12);
  rp.zoneRelStandard(D::eUniformScale, -0.03, 0.03);
  const vcXform<2> start = vfFlexSamplePose(g.sample, -6.0, 1.0, 10 - 40, -7);
  long found = 0, searches = 0;
  for (auto _ : st) {
    vcFlexAlignResultSet rs;
    g.pattern.run(g.run.image, vc2XformLinear(start), {}, rp, rs);
    found = rs.results().empty() ? 0 : static_cast<long>(rs.results()[0].positionIndices().size());
    searches = rs.searches();
  }
  st.counters["pieces_found"] = static_cast<double>(found);
  st.counters["searches"] = static_cast<double>(searches);
}

// A part of 1000 pieces (40 x 25 on the grid, 2440 x 1540 px), locally fixtured from its
// nominal pose: what a run costs per instance when the instance count is large.
struct ManyInstances {
  vcFlexSample sample = vfMakeFlexGridSample(40, 25);
  vcFlexAlignPattern pattern;
  vcFlexSampleImage run;
  ManyInstances() {
    pattern.train(sample.arrangement, vcFlexAlignTrainParams(vcFlexSubModelGfndTrainParams()));
    vcFlexSampleOptions opt;
    opt.width = 2480;
    opt.height = 1580;
    opt.partPose = vfFlexSamplePose(sample, 0.5, 1.0, 920, 550);
    run = vfRenderFlexSample(sample, opt);
  }
};

void BM_ManyInstances(benchmark::State& st) {
  static const ManyInstances m;
  vcFlexAlignRunParams rp = runParams(D::eLocallyFixturedSubModels);
  rp.xyUncertainty(10, 10);
  rp.zoneRelStandard(D::eAngle, -3, 3);
  rp.zoneRelStandard(D::eUniformScale, -0.02, 0.02);
  const vcXform<2> start = vfFlexSamplePose(m.sample, 0, 1, 920, 550);
  long found = 0, searches = 0;
  for (auto _ : st) {
    vcFlexAlignResultSet rs;
    m.pattern.run(m.run.image, vc2XformLinear(start), {}, rp, rs);
    found = rs.results().empty() ? 0 : static_cast<long>(rs.results()[0].positionIndices().size());
    searches = rs.searches();
  }
  st.counters["pieces_found"] = static_cast<double>(found);
  st.counters["searches"] = static_cast<double>(searches);
}

// The sample part 2.5 times larger in a 1600 x 1200 image (a 2-megapixel camera), locally
// fixtured; the part and piece uncertainties grow with it (100 px, each piece 15 px).
struct Large {
  vcFlexSampleImage run;
  vcXform<2> start;
  vcFlexAlignRunParams params;
  Large() {
    const vcFlexBenchScene& d = data();
    vcFlexSampleOptions opt;
    opt.width = 1600;
    opt.height = 1200;
    opt.partPose = vfFlexSamplePose(d.sample, 9.5, 2.5 * 1.05, 480 + 85, 360 - 52);
    opt.seed = 3;
    run = vfRenderFlexSample(d.sample, opt);
    start = vfFlexSamplePose(d.sample, 0.0, 2.5, 480, 360);
    vcFlexSubModelGfndRunParams sub = subParams();
    sub.xyUncertainty(15, 15);
    params = vcFlexAlignRunParams(sub);
    params.runStrategy(D::eLocallyFixturedSubModels);
    params.xyUncertainty(100, 100);
    params.zoneEnable(D::eAngle | D::eUniformScale);
    params.zoneRelStandard(D::eAngle, -15, 15);
    params.zoneRelStandard(D::eUniformScale, -0.1, 0.1);
  }
};

void BM_FlexAlignLarge(benchmark::State& st) {
  static const Large l;
  long found = 0;
  for (auto _ : st) {
    vcFlexAlignResultSet rs;
    data().pattern.run(l.run.image, vc2XformLinear(l.start), {}, l.params, rs);
    found = rs.results().empty() ? 0 : static_cast<long>(rs.results()[0].positionIndices().size());
  }
  st.counters["pieces_found"] = static_cast<double>(found);
}

// One search of each piece at its true pose, the part at the centre of a 640 x 480 (the scene
// above) and of a 4000 x 3000 image: a search near its prediction should cost the same in both.
void BM_ToolsAtTruthInImage(benchmark::State& st) {
  static const vcFlexSampleImage large = [] {
    vcFlexSampleOptions opt;
    opt.width = 4000;
    opt.height = 3000;
    opt.partPose = vfFlexSamplePose(data().sample, 9.5, 1.05, 34 + (4000 - 640) / 2.0,
                                    -21 + (3000 - 480) / 2.0);
    opt.seed = 3;
    return vfRenderFlexSample(data().sample, opt);
  }();
  const vcFlexSampleImage& run = st.range(0) == 640 ? data().run : large;
  const vcFlexSubModelGfndRunParams sub = subParams();
  for (auto _ : st) toolsAtTruth(run, sub);
}

// Correlation pieces on a real photograph: the camera man's part of photo_bench (eight
// pieces of picture, skimage's camera.png) with every piece a correlation piece, locally
// fixtured from the nominal pose; the part moved by (6, -4) px, turned by 2.5 degrees and
// scaled by 1.02, each piece moved by up to 3 px and turned by up to 2 degrees, noise 5. The
// baseline is every piece's tool once at its true pose with the piece's own ranges.
struct CorrelationPhoto {
  vcPhotoTrained part = vfTrainPhotoPartCorrelation("camera");
  vcFlexAlignRunParams params = vfPhotoRunParamsCorrelation();
  vcPhotoScene scene;
  CorrelationPhoto() {
    vcPhotoSceneOptions o;
    o.angleDeg = 2.5, o.scale = 1.02, o.shift = vcVector<2>(6, -4), o.noiseSigma = 5;
    scene = vfRenderPhotoScene(part.part, o);
  }
};

const CorrelationPhoto& correlationPhoto() {
  static const CorrelationPhoto c;
  return c;
}

void BM_CorrelationPhotoPart(benchmark::State& st) {
  if (!vfHavePhotos()) return st.SkipWithError("skimage's sample photographs are missing");
  const CorrelationPhoto& c = correlationPhoto();
  const vcXform<2> start(vcMatrix<2>(), c.part.part.partCentre);
  long found = 0;
  for (auto _ : st) {
    vcFlexAlignResultSet rs;
    c.part.pattern.run(c.scene.image, vc2XformLinear(start), {}, c.params, rs);
    found = rs.results().empty() ? 0 : static_cast<long>(rs.results()[0].positionIndices().size());
  }
  st.counters["pieces_found"] = static_cast<double>(found);
}

void BM_CorrelationPhotoToolsAtTruth(benchmark::State& st) {
  if (!vfHavePhotos()) return st.SkipWithError("skimage's sample photographs are missing");
  const CorrelationPhoto& c = correlationPhoto();
  const vcFlexSubModelRunParams& piece = c.params.standard();
  for (auto _ : st)
    for (std::size_t k = 0; k < c.scene.truth.size(); ++k) {
      const long tool = c.part.pattern.instanceToTool()[k];
      vc_SubModelResultSet rs;
      c.part.pattern.tools()[static_cast<std::size_t>(tool)].run(
          c.scene.image, vc2XformLinear(c.scene.truth[k]), piece, {}, rs);
      benchmark::DoNotOptimize(rs);
    }
}

// One run on st.range(1) threads (wall time): strategy 0 independent, 1 locally fixtured.
void BM_FlexAlignThreads(benchmark::State& st) {
  const vcFlexBenchScene& d = data();
  vcFlexAlignRunParams rp =
      runParams(st.range(0) == 0 ? D::eIndependentSubModels : D::eLocallyFixturedSubModels);
  rp.threads(long(st.range(1)));
  for (auto _ : st) {
    vcFlexAlignResultSet rs;
    d.pattern.run(d.run.image, vc2XformLinear(d.start), {}, rp, rs);
    benchmark::DoNotOptimize(rs);
  }
}

BENCHMARK(BM_FlexAlignIndependent)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FlexAlignThreads)
    ->Args({0, 1})
    ->Args({0, 2})
    ->Args({1, 1})
    ->Args({1, 2})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CorrelationPhotoPart)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CorrelationPhotoToolsAtTruth)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FlexAlignLarge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ToolsAtTruthInImage)->Arg(640)->Arg(4000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ManyInstances)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_GridLocallyFixtured)->Arg(8)->Arg(32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GridLooseStart)->Arg(8)->Arg(32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NaiveRigidFinds)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FlexAlignLocallyFixtured)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ToolsAtTruth)->Unit(benchmark::kMillisecond);

// Random part poses (angle within 10 degrees, scale 0.95 .. 1.05, up to 40 px off the start
// pose):
// how often the part is found and how far each found piece lies from its truth.
void accuracy(int n, D::RunStrategy strategy, const char* name) {
  const vcFlexBenchScene& d = data();
  std::mt19937 g(17);
  std::uniform_real_distribution<double> U(-1, 1);
  const vcFlexAlignRunParams rp = runParams(strategy);
  int found = 0, pieces = 0, expected = 0;
  double se = 0, sa = 0, worst = 0;
  for (int i = 0; i < n; ++i) {
    vcFlexSampleOptions opt;
    opt.partPose = vfFlexSamplePose(d.sample, 10 * U(g), 1.0 + 0.05 * U(g), 28 * U(g), 28 * U(g));
    opt.seed = 100 + i;
    const vcFlexSampleImage img = vfRenderFlexSample(d.sample, opt);
    vcFlexAlignResultSet rs;
    d.pattern.run(img.image, vc2XformLinear(d.start), {}, rp, rs);
    expected += 7;
    if (rs.results().empty() || !rs.results()[0].found()) continue;
    ++found;
    const vcFlexAlignResult& r = rs.results()[0];
    for (std::size_t j = 0; j < r.positionIndices().size(); ++j) {
      const std::size_t k = static_cast<std::size_t>(r.positionIndices()[j]);
      if (d.sample.instanceShapes[k].empty()) continue;
      const vc2XformBase& pose = r.subModelResults()[j]->pose();
      const double dp = pose.mapPoint({0, 0}).distance(img.truth[k].mapPoint({0, 0}));
      const double da = (pose.linearXform({0, 0}).matrix().rotation().toDouble() -
                         img.truth[k].matrix().rotation().toDouble()) *
                        vcDegPerRad;
      ++pieces;
      se += dp * dp, sa += da * da, worst = std::max(worst, dp);
    }
  }
  const double p = pieces ? pieces : 1;
  std::printf(
      "accuracy %s: part found %d/%d, pieces %d/%d, piece centre RMS %.4f px (worst %.3f), "
      "angle RMS %.4f deg\n",
      name, found, n, pieces, expected, std::sqrt(se / p), worst, std::sqrt(sa / p));
  std::printf(
      "RESULT accuracy strategy=%s found=%d n=%d pieces=%d of=%d centre_rms_px=%.4f "
      "worst_px=%.4f angle_rms_deg=%.4f\n",
      name, found, n, pieces, expected, std::sqrt(se / p), worst, std::sqrt(sa / p));
}

// A part at a 12-megapixel camera's resolution (vcLargePhotoScene.h: eight pieces cut from a
// photograph scaled to 4000 x 3000): trained, saved as a pattern file, loaded and run, each a
// case of its own. Built on first use; left out without the photographs.
struct Large4000 {
  vcLargePhotoScene scene = vfMakeLargePhotoScene();
  vcFlexAlignPattern trained;
  vcPatternFile file;
  std::vector<std::uint8_t> bytes;
  Large4000() {
    trained.train(scene.part.arrangement, scene.trainParams);
    file = vfPatternFileOf(trained);
    file.runParams = scene.runParams;
    bytes = vfPatternFileBytes(file);
  }
};

const Large4000& large4000() {
  static const Large4000 l;
  return l;
}

const Large4000* large4000(benchmark::State& st) {
  if (vfHavePhotos()) return &large4000();
  st.SkipWithError("the skimage sample photographs are missing (python3-skimage)");
  return nullptr;
}

void BM_Large4000Train(benchmark::State& st) {
  const Large4000* l = large4000(st);
  if (!l) return;
  for (auto _ : st) {
    vcFlexAlignPattern p;
    p.train(l->scene.part.arrangement, l->scene.trainParams);
    benchmark::DoNotOptimize(p);
  }
}

void BM_Large4000Save(benchmark::State& st) {
  const Large4000* l = large4000(st);
  if (!l) return;
  std::size_t bytes = 0;
  for (auto _ : st) bytes = vfPatternFileBytes(l->file).size();
  st.counters["file_bytes"] = double(bytes);
}

void BM_Large4000Load(benchmark::State& st) {
  const Large4000* l = large4000(st);
  if (!l) return;
  for (auto _ : st) {
    vcPatternFile p = vfPatternFileFromBytes(l->bytes, "large.fxp");
    benchmark::DoNotOptimize(p);
  }
}

// The loaded pattern's run; counts the pieces found within 1 px of their truth.
void BM_Large4000Run(benchmark::State& st) {
  const Large4000* l = large4000(st);
  if (!l) return;
  static const vcPatternFile loaded = vfPatternFileFromBytes(l->bytes, "large.fxp");
  const vcLargePhotoScene& s = l->scene;
  long found = 0;
  for (auto _ : st) {
    vcFlexAlignResultSet rs;
    loaded.pattern.run(s.run.image, vc2XformLinear(s.start), {}, s.runParams, rs);
    found = 0;
    if (rs.results().empty()) continue;
    const vcFlexAlignResult& r = rs.results()[0];
    for (std::size_t j = 0; j < r.positionIndices().size(); ++j) {
      const vcXform<2>& truth = s.run.truth[std::size_t(r.positionIndices()[j])];
      found +=
          r.subModelResults()[j]->pose().mapPoint({0, 0}).distance(truth.mapPoint({0, 0})) < 1.0;
    }
  }
  st.counters["pieces_found"] = double(found);
}

BENCHMARK(BM_Large4000Train)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Large4000Save)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Large4000Load)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Large4000Run)->Unit(benchmark::kMillisecond);

// Wall time, and CPU time (the steadier on a shared machine), of each step.
void reportLarge4000(vcBenchCollector& rep) {
  if (!vfHavePhotos()) return;
  const char* steps[] = {"Train", "Save", "Load", "Run"};
  double t[4], cpu[4];
  for (int i = 0; i < 4; ++i) {
    t[i] = rep.t[std::string("BM_Large4000") + steps[i]];
    cpu[i] = rep.cpu[std::string("BM_Large4000") + steps[i]];
  }
  const double kb = double(large4000().bytes.size()) / 1000.0;
  std::printf(
      "4000 x 3000, eight pieces of a photograph: train %.1f ms (CPU %.1f; goal <= 1000), "
      "pattern file %.0f kB (goal <= 1000), save %.1f ms (CPU %.1f), load %.1f ms (CPU %.1f; "
      "goal <= 50), run %.1f ms (CPU %.1f; goal <= 100)\n",
      t[0], cpu[0], kb, t[1], cpu[1], t[2], cpu[2], t[3], cpu[3]);
  std::printf(
      "RESULT case=large4000x3000 train_ms=%.2f train_cpu_ms=%.2f file_kb=%.1f save_ms=%.2f "
      "load_ms=%.2f load_cpu_ms=%.2f run_ms=%.2f run_cpu_ms=%.2f goal_train_ms=1000 "
      "goal_file_kb=1000 goal_load_ms=50 goal_run_ms=100\n",
      t[0], cpu[0], kb, t[1], t[2], cpu[2], t[3], cpu[3]);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  data();
  vcBenchCollector rep;
  benchmark::RunSpecifiedBenchmarks(&rep);
  const double base = rep.t["BM_ToolsAtTruth"], naive = rep.t["BM_NaiveRigidFinds"];
  for (const char* k : {"BM_FlexAlignIndependent", "BM_FlexAlignLocallyFixtured"}) {
    const double ms = rep.t[k];
    std::printf(
        "%-30s %8.3f ms; tools at truth %.3f ms (ratio %.2f); naive rigid finds %.3f ms "
        "(naive / ours %.2f)\n",
        k, ms, base, base > 0 ? ms / base : 0.0, naive, ms > 0 ? naive / ms : 0.0);
    std::printf(
        "RESULT case=%s flexalign_ms=%.4f baseline_ms=%.4f ratio=%.3f naive_ms=%.4f "
        "naive_over_ours=%.3f goal_ms=10 goal_naive_over_ours=5\n",
        k, ms, base, base > 0 ? ms / base : 0.0, naive, ms > 0 ? naive / ms : 0.0);
  }
  // What a second thread buys one run, in wall time (a busy machine lowers it).
  for (const char* k : {"0", "1"}) {
    const std::string name = std::string("BM_FlexAlignThreads/") + k;
    const double one = rep.t[name + "/1/real_time"], two = rep.t[name + "/2/real_time"];
    const char* strategy = k[0] == '0' ? "independent" : "locally_fixtured";
    std::printf("%s on 1 thread %.3f ms, on 2 threads %.3f ms: speed-up %.2f\n", strategy, one,
                two, two > 0 ? one / two : 0.0);
    std::printf("RESULT case=threads strategy=%s ms1=%.4f ms2=%.4f speedup=%.3f\n", strategy, one,
                two, two > 0 ? one / two : 0.0);
  }
  // Per-piece cost of 32 pieces against 8, in wall-clock and in CPU time (the steadier of the
  // two on a shared machine).
  for (const char* c : {"BM_GridLocallyFixtured", "BM_GridLooseStart"}) {
    const std::string k8 = std::string(c) + "/8", k32 = std::string(c) + "/32";
    const double g8 = rep.t[k8], g32 = rep.t[k32], c8 = rep.cpu[k8], c32 = rep.cpu[k32];
    const double ratio = g8 > 0 ? (g32 / 32) / (g8 / 8) : 0.0;
    const double cpuRatio = c8 > 0 ? (c32 / 32) / (c8 / 8) : 0.0;
    std::printf(
        "%s: 8 pieces %.3f ms (%.3f ms/piece), 32 pieces %.3f ms (%.3f ms/piece), per-piece "
        "ratio %.2f, in CPU time %.2f (goal <= 1.5)\n",
        c, g8, g8 / 8, g32, g32 / 32, ratio, cpuRatio);
    std::printf(
        "RESULT case=%s_8_vs_32 ms8=%.4f ms32=%.4f per_piece_ratio=%.3f cpu_per_piece_ratio=%.3f "
        "goal=1.5\n",
        c, g8, g32, ratio, cpuRatio);
  }
  const double large = rep.t["BM_FlexAlignLarge"];
  std::printf("1600 x 1200, part 2.5 times larger, locally fixtured: %.3f ms (goal <= 10)\n",
              large);
  std::printf("RESULT case=large1600x1200 ms=%.4f goal_ms=10\n", large);
  {
    const double s = rep.cpu["BM_ToolsAtTruthInImage/640"],
                 l = rep.cpu["BM_ToolsAtTruthInImage/4000"];
    std::printf(
        "tools at truth in 640 x 480 %.3f ms, in 4000 x 3000 %.3f ms (CPU), ratio %.2f (goal ~1)\n",
        s, l, s > 0 ? l / s : 0.0);
    std::printf("RESULT case=tools_at_truth_4000_vs_640 ms640=%.4f ms4000=%.4f ratio=%.3f goal=1\n",
                s, l, s > 0 ? l / s : 0.0);
  }
  const double many = rep.t["BM_ManyInstances/iterations:3"];
  std::printf("1000 instances, locally fixtured: %.1f ms per run (%.3f ms per instance)\n", many,
              many / 1000);
  std::printf("RESULT case=instances1000 ms=%.2f ms_per_instance=%.4f\n", many, many / 1000);
  reportLarge4000(rep);
  accuracy(40, D::eIndependentSubModels, "independent");
  accuracy(40, D::eLocallyFixturedSubModels, "locally_fixtured");
  if (vfHavePhotos()) {
    // The camera man's correlation part over 20 scenes of photo_bench's kind, noise 5.
    const double ms = rep.t["BM_CorrelationPhotoPart"];
    const double truth = rep.t["BM_CorrelationPhotoToolsAtTruth"];
    vcPhotoCondition noisy;
    noisy.name = "noise5";
    noisy.degrade.noiseSigma = 5;
    const CorrelationPhoto& c = correlationPhoto();
    const vcPhotoStats s = vfRunPhotoCondition({&c.part}, noisy, 20, 3, &c.params);
    std::printf(
        "correlation pieces on a photograph (camera, 8 pieces): run %.3f ms, tools at truth %.3f "
        "ms (ratio %.2f); 20 scenes: found %d/%d, wrong %d, RMS %.4f px (worst %.3f)\n",
        ms, truth, truth > 0 ? ms / truth : 0.0, s.found, s.pieces, s.wrong, s.rmsPx, s.worstPx);
    std::printf(
        "RESULT case=correlation_photo flexalign_ms=%.4f baseline_ms=%.4f ratio=%.3f found=%d "
        "pieces=%d wrong=%d rms_px=%.4f worst_px=%.4f\n",
        ms, truth, truth > 0 ? ms / truth : 0.0, s.found, s.pieces, s.wrong, s.rmsPx, s.worstPx);
  } else {
    std::printf(
        "correlation_photo: the skimage sample photographs are missing (python3-skimage)\n");
  }
  benchmark::Shutdown();
  return 0;
}
