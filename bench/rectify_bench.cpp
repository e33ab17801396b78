// Rectification of a found flexible part: the flexible sample part (8 instances, pieces moved
// up to 4 px and turned up to 3 degrees against the layout) found in a 640 x 480 run image,
// rectified into a 640 x 480 region of its arrangement frame around the part. Baseline in the
// same process: the library's plain affine warp of a 640 x 480 output from the same image (one
// affine map, bilinear), the least a resampling of that size costs; with OpenCV also
// cv::warpAffine of the same size.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>

#include "tools/testing/vcFlexSample.h"
#include "vcFlexAlignTool.h"
#include "vcFlexGeometry.h"

#ifdef VCFLEX_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

using D = vcFlexAlignDefs;

// Arrangement units around the part (400 x 300 at (0, 0)): the output covers about the run
// image at the part's scale 1.
const vcPelRect kRegion(-120, -90, 640, 480);

struct Data {
  vcFlexSample sample = vfMakeFlexSample();
  vcFlexSampleImage run;
  vcFlexAlignResult result;
  Data() {
    vcFlexAlignPattern pattern;
    pattern.train(sample.arrangement, vfFlexSampleTrainParams(sample));
    vcFlexSampleOptions opt;
    opt.partPose = vfFlexSamplePose(sample, 7.0, 1.0, 9, -6);
    opt.seed = 3;
    run = vfRenderFlexSample(sample, opt);
    const vcFlexAlignRunParams rp = vfFlexSampleRunParams(D::eLocallyFixturedSubModels, 0.5);
    vcFlexAlignResultSet rs;
    pattern.run(run.image, vc2XformLinear(vfFlexSamplePose(sample, 0, 1)), {}, rp, rs);
    if (rs.results().empty()) {
      std::fprintf(stderr, "rectify_bench: the sample part was not found\n");
      std::exit(1);
    }
    result = rs.results()[0];
  }
};

const Data& data() {
  static Data d;
  return d;
}

void BM_Rectify(benchmark::State& st) {
  const Data& d = data();
  vcFlexRectifyParams p;
  p.region = kRegion;
  p.poseOnly = st.range(0) != 0;
  for (auto _ : st) {
    vcFlexRectified r = d.result.rectify(d.sample.arrangement, d.run.image, p);
    benchmark::DoNotOptimize(r);
  }
}

// The same output through one affine map: the fitted pose at the region's corner.
void BM_AffineWarp(benchmark::State& st) {
  const Data& d = data();
  const vcXform<2> part = (d.result.pose() * *d.sample.arrangement.origin()->inverseBase())
                              ->linearXform({0, 0})
                              .xform();
  const vcXform<2> corner(part.matrix() * vcMatrix<2>(kRegion.width(), 0, 0, kRegion.height()),
                          part.mapPoint({double(kRegion.x()), double(kRegion.y())}));
  const vcAffineSamplingParams sp(vcAffineRectangle(corner), kRegion.width(), kRegion.height(),
                                  vcAffineSamplingParams::eBilinear);
  for (auto _ : st) {
    vcPelBuffer<unsigned char> r = vfAffineTransformImage(d.run.image, sp);
    benchmark::DoNotOptimize(r);
  }
}

#ifdef VCFLEX_HAVE_OPENCV
void BM_OpenCVWarpAffine(benchmark::State& st) {
  const Data& d = data();
  const vcPelBuffer<unsigned char>& img = d.run.image;
  const cv::Mat src(static_cast<int>(img.height()), static_cast<int>(img.width()), CV_8UC1,
                    const_cast<unsigned char*>(img.row(0)), static_cast<size_t>(img.rowStride()));
  const vcXform<2> part = (d.result.pose() * *d.sample.arrangement.origin()->inverseBase())
                              ->linearXform({0, 0})
                              .xform();
  const vcMatrix<2>& m = part.matrix();
  const vcVector<2> t = part.mapPoint({double(kRegion.x()), double(kRegion.y())});
  const cv::Mat map = (cv::Mat_<double>(2, 3) << m(0, 0), m(0, 1), t.x(), m(1, 0), m(1, 1), t.y());
  cv::Mat dst;
  cv::setNumThreads(1);
  for (auto _ : st) {
    cv::warpAffine(src, dst, map,
                   cv::Size(static_cast<int>(kRegion.width()), static_cast<int>(kRegion.height())),
                   cv::INTER_LINEAR | cv::WARP_INVERSE_MAP);
    benchmark::DoNotOptimize(dst.data);
  }
}
BENCHMARK(BM_OpenCVWarpAffine)->Unit(benchmark::kMillisecond);
#endif

BENCHMARK(BM_Rectify)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AffineWarp)->Unit(benchmark::kMillisecond);

// Real and CPU time per case (the median over --benchmark_repetitions, when given): on a
// shared machine the CPU time is the steadier of the two.
class Collector : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> t, cpu;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
      if (r.error_occurred || (r.run_type == Run::RT_Aggregate && !median)) continue;
      if (!median && medians_.count(r.run_name.str())) continue;
      if (median) medians_.insert(r.run_name.str());
      t[r.run_name.str()] = r.GetAdjustedRealTime();
      cpu[r.run_name.str()] = r.GetAdjustedCPUTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }

 private:
  std::set<std::string> medians_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  data();
  Collector rep;
  benchmark::RunSpecifiedBenchmarks(&rep);
  const double flex = rep.t["BM_Rectify/0"], rigid = rep.t["BM_Rectify/1"];
  const double warp = rep.t["BM_AffineWarp"];
  const double flexCpu = rep.cpu["BM_Rectify/0"], warpCpu = rep.cpu["BM_AffineWarp"];
  std::printf(
      "rectify 640 x 480 through the pieces %.3f ms (CPU %.3f), the pose alone %.3f ms; plain "
      "affine warp %.3f ms (CPU %.3f); ratio %.2f (CPU %.2f); goal 3 ms\n",
      flex, flexCpu, rigid, warp, warpCpu, warp > 0 ? flex / warp : 0.0,
      warpCpu > 0 ? flexCpu / warpCpu : 0.0);
  std::printf(
      "RESULT case=rectify_640x480 rectify_ms=%.4f rectify_cpu_ms=%.4f pose_only_ms=%.4f "
      "affine_warp_ms=%.4f ratio=%.3f goal_ms=3\n",
      flex, flexCpu, rigid, warp, warp > 0 ? flex / warp : 0.0);
  if (rep.t.count("BM_OpenCVWarpAffine")) {
    const double cv = rep.t["BM_OpenCVWarpAffine"];
    std::printf(
        "RESULT case=rectify_vs_opencv rectify_ms=%.4f opencv_warp_affine_ms=%.4f ratio=%.3f\n",
        flex, cv, cv > 0 ? flex / cv : 0.0);
  }
  benchmark::Shutdown();
  return 0;
}
