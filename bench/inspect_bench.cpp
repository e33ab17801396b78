// Inspection of a found flexible part: the flexible sample part (8 instances, pieces moved up to
// 4 px and turned up to 3 degrees, noise sigma 5, blur 1) in a 640 x 480 image, compared with a
// golden model of ten good images. Timed: the run that finds the part (the baseline, in the same
// process) and the inspection beyond it (rectify, compare, group the defects), on a good part
// and on one with a scratch and a blob; the goal is 3 ms beyond the run.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "bench/vcBenchCollector.h"
#include "tools/testing/vcFlexSample.h"
#include "vcFlexInspect.h"

namespace {

using D = vcFlexAlignDefs;

struct Data {
  vcFlexSample sample = vfMakeFlexSample();
  vcFlexAlignPattern pattern;
  vcFlexAlignRunParams rp = vfFlexSampleRunParams(D::eLocallyFixturedSubModels, 0.5);
  vc2XformLinear start;
  vcFlexGoldenModel model;
  vcPelBuffer<unsigned char> good, bad;
  vcFlexAlignResultSet goodFound, badFound;

  vcFlexSampleImage render(std::uint32_t seed) const {
    vcFlexSampleOptions opt;
    opt.partPose = vfFlexSamplePose(sample, -9.0 + 3.0 * (seed % 7), 1.0, double(seed % 11) - 5,
                                    double(seed % 5) * 2 - 4);
    opt.seed = seed;
    return vfRenderFlexSample(sample, opt);
  }
  vcFlexAlignResultSet find(const vcPelBuffer_const<unsigned char>& img) const {
    vcFlexAlignResultSet rs;
    pattern.run(img, start, {}, rp, rs);
    if (rs.results().empty() || !rs.results()[0].found()) {
      std::fprintf(stderr, "inspect_bench: the sample part was not found\n");
      std::exit(1);
    }
    return rs;
  }

  Data() {
    pattern.train(sample.arrangement, vfFlexSampleTrainParams(sample));
    start = vc2XformLinear(vfFlexSamplePose(sample, 0, 1));
    std::vector<vcFlexAlignResult> results;
    std::vector<vcPelBuffer_const<unsigned char>> images;
    for (std::uint32_t seed = 101; seed <= 110; ++seed) {
      images.push_back(render(seed).image);
      results.push_back(find(images.back()).results()[0]);
    }
    model = vcFlexGoldenModel::train(sample.arrangement, results, images);
    good = render(201).image;
    vcFlexSampleImage b = render(202);
    const vcXform<2> toImage =
        b.truth[0] * sample.arrangement.positions()[0]->inverseBase()->linearXform({0, 0}).xform();
    for (int t = 0; t <= 60; ++t) {  // a scratch across the body
      const vcVector<2> q = toImage.mapPoint(vcVector<2>(60 + 0.75 * t, 120 + 1.0 * t));
      for (long dy = -1; dy <= 1; ++dy)
        for (long dx = -1; dx <= 1; ++dx)
          b.image.set(std::lround(q.x()) + dx, std::lround(q.y()) + dy, 90);
    }
    for (long y = 60; y < 70; ++y)  // a blob on the body's top bar
      for (long x = 170; x < 180; ++x) {
        const vcVector<2> q = toImage.mapPoint(vcVector<2>(double(x), double(y)));
        const long px = std::lround(q.x()), py = std::lround(q.y());
        b.image.set(px, py, static_cast<unsigned char>(std::min(255, b.image.get(px, py) + 20)));
      }
    bad = b.image;
    goodFound = find(good);
    badFound = find(bad);
    const vcFlexInspection g = model.inspect(sample.arrangement, goodFound, good);
    const vcFlexInspection f = model.inspect(sample.arrangement, badFound, bad);
    if (g.verdict != vcFlexInspection::ePass || f.verdict != vcFlexInspection::eFail ||
        f.defects.size() != 2) {
      std::fprintf(stderr, "inspect_bench: wrong answer (good %d, bad %d with %zu defects)\n",
                   int(g.verdict), int(f.verdict), f.defects.size());
      std::exit(1);
    }
  }
};

const Data& data() {
  static Data d;
  return d;
}

void BM_Run(benchmark::State& st) {
  const Data& d = data();
  for (auto _ : st) {
    vcFlexAlignResultSet rs;
    d.pattern.run(d.good, d.start, {}, d.rp, rs);
    benchmark::DoNotOptimize(rs);
  }
}

// Arg 0: the good part; 1: the scratched one.
void BM_Inspect(benchmark::State& st) {
  const Data& d = data();
  const bool bad = st.range(0) != 0;
  for (auto _ : st) {
    vcFlexInspection r =
        d.model.inspect(d.sample.arrangement, bad ? d.badFound : d.goodFound, bad ? d.bad : d.good);
    benchmark::DoNotOptimize(r);
  }
}

BENCHMARK(BM_Run)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Inspect)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  data();
  vcBenchCollector rep;
  benchmark::RunSpecifiedBenchmarks(&rep);
  // The median over --benchmark_repetitions when given.
  auto get = [](std::map<std::string, double>& m, const std::string& name) {
    return m.count(name + "_median") ? m[name + "_median"] : m[name];
  };
  const double run = get(rep.t, "BM_Run"), good = get(rep.t, "BM_Inspect/0");
  const double bad = get(rep.t, "BM_Inspect/1"), goodCpu = get(rep.cpu, "BM_Inspect/0");
  std::printf(
      "inspection of a 640 x 480 image beyond the run: good part %.3f ms (CPU %.3f), scratched "
      "part %.3f ms; the run %.3f ms; ratio to the run %.3f / %.3f; goal 3 ms\n",
      good, goodCpu, bad, run, run > 0 ? good / run : 0.0, run > 0 ? bad / run : 0.0);
  std::printf(
      "RESULT case=inspect_640x480 inspect_ms=%.4f inspect_defects_ms=%.4f run_ms=%.4f "
      "ratio=%.3f goal_ms=3\n",
      good, bad, run, run > 0 ? good / run : 0.0);
  return 0;
}
