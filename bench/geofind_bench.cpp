// Geofind speed against OpenCV peers in the same process, plus accuracy and found rate on
// generated images with known poses. Input: the asymmetric 120 px sample pattern trained from a
// 160 x 160 render; run images 640 x 480, blur 1, noise sigma 5, 6 clutter shapes.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <string>

#include "engines/geofind/vcGFAlign.h"
#include "tools/common/vcSampleImages.h"

#ifdef VCFLEX_HAVE_OPENCV
#include <opencv2/imgproc.hpp>
#endif

namespace {

constexpr double kDeg = 3.14159265358979323846 / 180.0;
const vcXform<2> kTrainPose(vcMatrix<2>(), vcVector<2>(80, 80));

vcXform<2> poseAt(double x, double y, double deg, double scale) {
  return vcXform<2>(vcMatrix<2>(scale, 1.0, vcRadian(0.0), vcRadian(deg * kDeg)), {x, y});
}

vcGFAlignRunParams params(double a0, double a1, double s0, double s1) {
  vcGFAlignRunParams rp;
  vcGeorapidDOFList list;
  auto* a = new vcGeorapidAngle(nullptr, 1);
  a->range(a0, a1);
  a->overlap(360.0f);
  auto* s = new vcGeorapidScale(a, 1);
  s->range(s0, s1);
  s->overlap(1.4f);
  list.assign(s);
  rp.customizeDOFs(&list);
  return rp;
}

struct Data {
  vcPelBuffer<unsigned char> train;
  vcGFAlignPattern pat;
  vcPelBuffer<unsigned char> img;  // pattern at 37.3 deg, scale 1.04
  vcXform<2> truth = poseAt(331.4, 228.7, 37.3, 1.04);
  Data() {
    vcSampleRender r;
    r.width = r.height = 160;
    train = vfRenderSample(vfSampleAsymmetricPattern(), kTrainPose, r);
    pat.train(train, 2, nullptr, 0);
    vcSampleRender o;
    o.noiseSigma = 5;
    o.clutterShapes = 6;
    img = vfRenderSample(vfSampleAsymmetricPattern(), truth, o);
  }
};

const Data& data() {
  static Data d;
  return d;
}

bool near(const vcGFAlignResultSet& rs, const vcXform<2>& truth) {
  if (rs.numFound() < 1) return false;
  const vcXform<2> e = truth * kTrainPose.inverse();
  return rs[0].pose().mapPoint({80, 80}).distance(e.mapPoint({80, 80})) < 1.0;
}

void runCase(benchmark::State& st, double a0, double a1, double s0, double s1) {
  const Data& d = data();
  const vcGFAlignRunParams rp = params(a0, a1, s0, s1);
  vcGFAlignResultSet rs;
  for (auto _ : st) d.pat.run(d.img, rp, rs, nullptr, 0);
  if (!near(rs, d.truth)) st.SkipWithError("pattern not found");
}

void BM_Geofind360(benchmark::State& st) { runCase(st, -180, 180, 1.04, 1.04); }
void BM_Geofind10(benchmark::State& st) { runCase(st, 27.3, 47.3, 1.04, 1.04); }
void BM_Geofind360Scale(benchmark::State& st) { runCase(st, -180, 180, 0.9, 1.1); }
BENCHMARK(BM_Geofind360)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Geofind10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Geofind360Scale)->Unit(benchmark::kMillisecond);

#ifdef VCFLEX_HAVE_OPENCV
cv::Mat toMat(const vcPelBuffer_const<unsigned char>& b) {
  cv::Mat m(int(b.height()), int(b.width()), CV_8U);
  for (int y = 0; y < m.rows; ++y)
    for (int x = 0; x < m.cols; ++x) m.at<unsigned char>(y, x) = b.row(y)[x];
  return m;
}

// Geofind's coarse grid for this pattern steps about 5 degrees (1 px at the rim of the top
// pyramid level); the peers search at the same step.
constexpr double kPeerAngleStep = 5.0;

// Rotated templates at the peer step over the range, best TM_CCOEFF_NORMED peak.
void matchRotated(benchmark::State& st, double a0, double a1) {
  cv::setNumThreads(1);
  const Data& d = data();
  const cv::Mat img = toMat(d.img), tpl = toMat(d.train);
  std::vector<cv::Mat> rotated;
  for (double a = a0; a <= a1 + 1e-9; a += kPeerAngleStep) {
    cv::Mat r;
    cv::warpAffine(tpl, r, cv::getRotationMatrix2D({79.5f, 79.5f}, -a, 1.04), tpl.size(),
                   cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    rotated.push_back(r);
  }
  cv::Point best;
  for (auto _ : st) {
    double bv = -2;
    cv::Mat res;
    for (const cv::Mat& r : rotated) {
      cv::matchTemplate(img, r, res, cv::TM_CCOEFF_NORMED);
      double mx;
      cv::Point loc;
      cv::minMaxLoc(res, nullptr, &mx, nullptr, &loc);
      if (mx > bv) bv = mx, best = loc;
    }
    benchmark::DoNotOptimize(bv);
  }
  const vcVector<2> c = (d.truth * kTrainPose.inverse()).mapPoint({80, 80});
  if (std::hypot(best.x + 80 - c.x(), best.y + 80 - c.y()) > 3) st.SkipWithError("peer missed");
}
void BM_OpenCVMatchTemplate10(benchmark::State& st) { matchRotated(st, 27.3, 47.3); }
void BM_OpenCVMatchTemplate360(benchmark::State& st) { matchRotated(st, -180, 175); }
BENCHMARK(BM_OpenCVMatchTemplate10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCVMatchTemplate360)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_OpenCVGuil360Scale(benchmark::State& st) {
  cv::setNumThreads(1);
  const Data& d = data();
  const cv::Mat img = toMat(d.img), tpl = toMat(d.train);
  cv::Ptr<cv::GeneralizedHoughGuil> g = cv::createGeneralizedHoughGuil();
  g->setMinAngle(0);
  g->setMaxAngle(360);
  g->setAngleStep(kPeerAngleStep);
  g->setMinScale(0.9);
  g->setMaxScale(1.1);
  g->setScaleStep(0.05);
  g->setCannyLowThresh(30);
  g->setCannyHighThresh(90);
  g->setTemplate(tpl);
  std::vector<cv::Vec4f> pos;
  for (auto _ : st) g->detect(img, pos);
  benchmark::DoNotOptimize(pos.size());
}
BENCHMARK(BM_OpenCVGuil360Scale)->Unit(benchmark::kMillisecond)->Iterations(1);
#endif

class Collector : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> t;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (!r.error_occurred) t[r.benchmark_name()] = r.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
};

// Random angle in [-180, 180), scale 0.9 .. 1.1, sub-pixel position; errors of the found pose.
void accuracy(int n, double occlude) {
  const Data& d = data();
  std::mt19937 g(11);
  std::uniform_real_distribution<double> U(0, 1);
  double se = 0, sa = 0, ss = 0;
  int found = 0;
  for (int i = 0; i < n; ++i) {
    const vcXform<2> truth =
        poseAt(200 + 240 * U(g), 160 + 160 * U(g), -180 + 360 * U(g), 0.9 + 0.2 * U(g));
    vcSampleRender o;
    o.noiseSigma = 5;
    o.clutterShapes = 6;
    o.occludeFraction = occlude;
    o.seed = 1000 + i;
    vcGFAlignResultSet rs;
    d.pat.run(vfRenderSample(vfSampleAsymmetricPattern(), truth, o), params(-180, 180, 0.9, 1.1),
              rs, nullptr, 0);
    if (!near(rs, truth)) continue;
    const vcXform<2> e = truth * kTrainPose.inverse();
    const double dp = rs[0].pose().mapPoint({80, 80}).distance(e.mapPoint({80, 80}));
    const double da =
        vfNormalizeAngle(rs[0].pose().matrix().rotation() - e.matrix().rotation()).toDouble() /
        kDeg;
    const double ds = rs[0].pose().matrix().scale() / e.matrix().scale() - 1;
    if (std::fabs(da) > 1.0) continue;
    ++found;
    se += dp * dp, sa += da * da, ss += ds * ds;
  }
  const double f = found ? found : 1;
  std::printf(
      "accuracy occluded %.0f%%: found %d/%d (%.1f%%), translation RMS %.4f px, angle RMS %.4f "
      "deg, scale RMS %.4f %%\n",
      occlude * 100, found, n, 100.0 * found / n, std::sqrt(se / f), std::sqrt(sa / f),
      100 * std::sqrt(ss / f));
  std::printf(
      "RESULT accuracy occlusion=%.2f found=%d n=%d trans_rms_px=%.4f angle_rms_deg=%.4f "
      "scale_rms_pct=%.4f\n",
      occlude, found, n, std::sqrt(se / f), std::sqrt(sa / f), 100 * std::sqrt(ss / f));
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  data();
  Collector rep;
  benchmark::RunSpecifiedBenchmarks(&rep);
  auto get = [&](const char* k) {
    // Names of fixed-iteration cases carry an "/iterations:N" suffix.
    for (const auto& [name, ms] : rep.t)
      if (name == k || name.rfind(std::string(k) + "/", 0) == 0) return ms;
    return 0.0;
  };
  std::printf("\n%-28s %12s %14s\n", "case", "Geofind ms", "peer / ratio");
  const double g360 = get("BM_Geofind360"), g10 = get("BM_Geofind10");
  const double g360s = get("BM_Geofind360Scale");
  const double mt10 = get("BM_OpenCVMatchTemplate10"), mt360 = get("BM_OpenCVMatchTemplate360");
  const double guil = get("BM_OpenCVGuil360Scale");
  auto line = [](const char* name, double ours, const char* peer, double theirs, double goal) {
    char g[32] = "no goal";
    if (goal > 0) std::snprintf(g, sizeof g, "goal %.0f ms", goal);
    std::printf("%-28s %12.3f  %s %.3f ms, ratio ours/peer %.4f (%s)\n", name, ours, peer, theirs,
                theirs > 0 ? ours / theirs : 0.0, g);
    std::printf("RESULT case=%s geofind_ms=%.4f peer=%s peer_ms=%.4f ratio=%.5f goal_ms=%.0f\n",
                name, ours, peer, theirs, theirs > 0 ? ours / theirs : 0.0, goal);
  };
  line("360deg", g360, "matchTemplate5deg", mt360, 10);
  line("+-10deg", g10, "matchTemplate5deg", mt10, 2);
  line("360deg_scale0.9-1.1", g360s, "GeneralizedHoughGuil5deg", guil, 0);
  accuracy(200, 0.0);
  accuracy(200, 0.25);
  benchmark::Shutdown();
  return 0;
}
