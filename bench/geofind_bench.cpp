// Geofind speed against OpenCV peers in the same process, plus accuracy and found rate on
// generated images with known poses. Input: the asymmetric 120 px sample pattern trained from a
// 160 x 160 render; run images 640 x 480, blur 1, noise sigma 5, 6 clutter shapes. A second part
// is drawn by a generator local to this file (supersampled, its own noise), so that the camera
// cases do not depend on the sample renderer the engine was developed against.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "bench/vcBenchCollector.h"
#include "bench/vcBenchScenes.h"
#include "engines/geofind/vcGFAlign.h"
#include "platform/core/vcAngle.h"
#include "tools/testing/vcSampleImages.h"
#include "vcDofData.h"

#ifdef VCFLEX_HAVE_OPENCV
#include <opencv2/imgproc.hpp>
#endif

namespace {

const vcXform<2> kTrainPose(vcMatrix<2>(), vcVector<2>(80, 80));
const auto poseAt = vfBenchPose;
const auto params = vfBenchGeofindParams;

// ------------------------------------------------------------------ camera-like line-art part
// Body with a chamfered corner, a tab and a hole on a dark background (contrasts 80 to 170 grey),
// supersampled 4 x 4 per pixel, blur sigma 0.7, six clutter shapes, Gaussian noise and an
// optional flat block over part of the part's box. Part coordinates: centred, y down.
namespace part {

struct Poly {
  std::vector<vcVector<2>> v;
  double grey;
};

constexpr double kBg = 25;
const Poly kBody{{{-58, -40}, {40, -40}, {58, -22}, {58, 40}, {-58, 40}}, kBg + 170};
const Poly kTab{{{-30, -56}, {5, -56}, {5, -40}, {-30, -40}}, kBg + 120};
const vcVector<2> kHoleCentre(20, 8);
constexpr double kHoleRadius = 14, kHoleGrey = kBg + 170 - 90;
// The part's box in part coordinates and the radius that holds it.
constexpr double kX0 = -58, kX1 = 58, kY0 = -56, kY1 = 40, kRadius = 71;

bool inside(const std::vector<vcVector<2>>& v, double x, double y) {
  bool in = false;
  for (std::size_t i = 0, j = v.size() - 1; i < v.size(); j = i++)
    if ((v[i].y() > y) != (v[j].y() > y) &&
        x < (v[j].x() - v[i].x()) * (y - v[i].y()) / (v[j].y() - v[i].y()) + v[i].x())
      in = !in;
  return in;
}

struct Scene {
  vcXform<2> toPart;                         // image -> part coordinates
  std::vector<Poly> clutter, block;          // image coordinates; block in part coordinates
  std::vector<std::array<double, 4>> discs;  // clutter discs: cx, cy, r, grey
  double value(double x, double y) const {
    const vcVector<2> q = toPart.mapPoint({x, y});
    for (const Poly& b : block)
      if (inside(b.v, q.x(), q.y())) return b.grey;
    if (q.distance(kHoleCentre) < kHoleRadius) return kHoleGrey;
    if (inside(kBody.v, q.x(), q.y())) return kBody.grey;
    if (inside(kTab.v, q.x(), q.y())) return kTab.grey;
    for (const auto& d : discs)
      if (std::hypot(x - d[0], y - d[1]) < d[2]) return d[3];
    for (const Poly& c : clutter)
      if (inside(c.v, x, y)) return c.grey;
    return kBg;
  }
};

struct Options {
  int width = 640, height = 480;
  double noise = 0, occlude = 0;
  int clutter = 6;
  unsigned seed = 1;
};

vcPelBuffer<unsigned char> render(const vcXform<2>& pose, const Options& o) {
  const int W = o.width, H = o.height;
  std::mt19937_64 g(0x9e3779b97f4a7c15ull ^ o.seed);
  std::uniform_real_distribution<double> U(0, 1);
  Scene sc;
  sc.toPart = pose.inverse();
  const double scale = std::sqrt(std::fabs(pose.matrix().det()));
  const vcVector<2> c0 = pose.mapPoint({0, 0});
  std::vector<std::array<double, 4>> boxes;  // x0, y0, x1, y1 of what differs from background
  for (int i = 0; i < o.clutter; ++i) {
    const double r = 10 + 20 * U(g), grey = 50 + 180 * U(g);
    vcVector<2> c;
    for (int t = 0; t < 100; ++t) {
      c = vcVector<2>(r + (W - 2 * r) * U(g), r + (H - 2 * r) * U(g));
      if (c.distance(c0) > kRadius * scale + r * 1.5 + 6) break;
    }
    const int kind = int(3 * U(g));
    if (kind == 0) {
      sc.discs.push_back({c.x(), c.y(), r, grey});
    } else {
      const double a = 2 * vcPi * U(g), k = kind == 1 ? 4 : 3;
      Poly p{{}, grey};
      for (int j = 0; j < k; ++j) {
        const double b = a + j * 2 * vcPi / k;
        p.v.emplace_back(c.x() + r * std::cos(b), c.y() + r * std::sin(b));
      }
      sc.clutter.push_back(p);
    }
    boxes.push_back({c.x() - r, c.y() - r, c.x() + r, c.y() + r});
  }
  if (o.occlude > 0) {
    // A flat block from one side of the part's box over the given fraction of its area.
    const int side = int(4 * U(g)) % 4;
    const double m = 6, fw = o.occlude * (kX1 - kX0), fh = o.occlude * (kY1 - kY0);
    std::vector<vcVector<2>> v;
    if (side == 0)
      v = {{kX0 - m, kY0 - m}, {kX0 + fw, kY0 - m}, {kX0 + fw, kY1 + m}, {kX0 - m, kY1 + m}};
    if (side == 1)
      v = {{kX1 - fw, kY0 - m}, {kX1 + m, kY0 - m}, {kX1 + m, kY1 + m}, {kX1 - fw, kY1 + m}};
    if (side == 2)
      v = {{kX0 - m, kY0 - m}, {kX1 + m, kY0 - m}, {kX1 + m, kY0 + fh}, {kX0 - m, kY0 + fh}};
    if (side == 3)
      v = {{kX0 - m, kY1 - fh}, {kX1 + m, kY1 - fh}, {kX1 + m, kY1 + m}, {kX0 - m, kY1 + m}};
    sc.block.push_back({v, 90 + 60 * U(g)});
  }
  const double reach = (kRadius + 10) * scale;
  boxes.push_back({c0.x() - reach, c0.y() - reach, c0.x() + reach, c0.y() + reach});
  std::vector<double> img(std::size_t(W) * H, kBg), tmp(img.size());
  for (const auto& b : boxes) {
    const int x0 = std::max(0, int(b[0]) - 2), x1 = std::min(W - 1, int(b[2]) + 2);
    const int y0 = std::max(0, int(b[1]) - 2), y1 = std::min(H - 1, int(b[3]) + 2);
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x) {
        double s = 0;
        for (int j = 0; j < 4; ++j)
          for (int i = 0; i < 4; ++i) s += sc.value(x + (i - 1.5) / 4, y + (j - 1.5) / 4);
        img[std::size_t(y) * W + x] = s / 16;
      }
  }
  // Gaussian blur, sigma 0.7, separable with mirrored borders.
  constexpr int kr = 3;
  double k[2 * kr + 1], ks = 0;
  for (int i = -kr; i <= kr; ++i) ks += k[i + kr] = std::exp(-0.5 * i * i / (0.7 * 0.7));
  auto at = [](int i, int n) { return i < 0 ? -i : i >= n ? 2 * n - 2 - i : i; };
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      double s = 0;
      for (int i = -kr; i <= kr; ++i) s += k[i + kr] * img[std::size_t(y) * W + at(x + i, W)];
      tmp[std::size_t(y) * W + x] = s / ks;
    }
  vcPelBuffer<unsigned char> out(W, H);
  std::normal_distribution<double> N(0, 1);
  for (int y = 0; y < H; ++y) {
    unsigned char* r = out.row(y);
    for (int x = 0; x < W; ++x) {
      double s = 0;
      for (int i = -kr; i <= kr; ++i) s += k[i + kr] * tmp[std::size_t(at(y + i, H)) * W + x];
      const double v = s / ks + (o.noise > 0 ? o.noise * N(g) : 0.0);
      r[x] = static_cast<unsigned char>(std::clamp(std::lround(v), 0L, 255L));
    }
  }
  return out;
}

}  // namespace part

const vcGeofindBenchScene& data() {
  static const vcGeofindBenchScene d = vfGeofindSampleScene();
  return d;
}

const vcGeofindBenchScene& longPart() {
  static const vcGeofindBenchScene d = vfLongPartScene();
  return d;
}

void runCase(benchmark::State& st, const vcGeofindBenchScene& d, double a0, double a1, double s0,
             double s1) {
  const vcGFAlignRunParams rp = params(a0, a1, s0, s1);
  vcGFAlignResultSet rs;
  for (auto _ : st) d.pattern.run(d.image, rp, rs, nullptr, 0);
  if (!vfBenchFound(d, rs)) st.SkipWithError("pattern not found");
}

void BM_Geofind360(benchmark::State& st) { runCase(st, data(), -180, 180, 1.04, 1.04); }
void BM_Geofind10(benchmark::State& st) { runCase(st, data(), 27.3, 47.3, 1.04, 1.04); }
void BM_Geofind360Scale(benchmark::State& st) { runCase(st, data(), -180, 180, 0.9, 1.1); }
// The long part: what a scale range costs against a fixed scale on a pattern far longer than
// wide, where the rim (and so the number of angle and scale steps) is large for its edges.
void BM_LongPart360(benchmark::State& st) { runCase(st, longPart(), -180, 180, 1.03, 1.03); }
void BM_LongPart360Scale(benchmark::State& st) { runCase(st, longPart(), -180, 180, 0.9, 1.1); }
BENCHMARK(BM_Geofind360)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Geofind10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LongPart360)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LongPart360Scale)->Unit(benchmark::kMillisecond);
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
  const vcGeofindBenchScene& d = data();
  const cv::Mat img = toMat(d.image), tpl = toMat(d.train);
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
  const vcGeofindBenchScene& d = data();
  const cv::Mat img = toMat(d.image), tpl = toMat(d.train);
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

// The line-art part trained from a clean 160 x 160 render of its own generator.
const vcGFAlignPattern& partPattern() {
  static const vcGFAlignPattern p = [] {
    part::Options o;
    o.width = o.height = 160;
    o.clutter = 0;
    vcGFAlignPattern q;
    q.train(part::render(kTrainPose, o), 2, nullptr, 0);
    return q;
  }();
  return p;
}

// Random angle in [-180, 180), scale 0.9 .. 1.1, sub-pixel position; errors of the found pose.
// A find counts when the centre is within 1 px and the angle within 1 degree. `render` draws
// image i at the given truth. GEOFIND_BENCH_IMAGES overrides the number of images;
// GEOFIND_BENCH_CASE runs only the cases whose name holds it; GEOFIND_BENCH_VERBOSE prints
// every miss.
void accuracy(const char* name, const vcGFAlignPattern& pat, int n, double goalFound,
              const std::function<vcPelBuffer<unsigned char>(const vcXform<2>&, int)>& render) {
  if (const char* e = std::getenv("GEOFIND_BENCH_IMAGES")) n = std::max(1, std::atoi(e));
  if (const char* c = std::getenv("GEOFIND_BENCH_CASE"); c && !std::strstr(name, c)) return;
  const bool verbose = std::getenv("GEOFIND_BENCH_VERBOSE") != nullptr;
  std::mt19937 g(11);
  std::uniform_real_distribution<double> U(0, 1);
  double se = 0, sa = 0, ss = 0;
  int found = 0;
  for (int i = 0; i < n; ++i) {
    const vcXform<2> truth =
        poseAt(200 + 240 * U(g), 160 + 160 * U(g), -180 + 360 * U(g), 0.9 + 0.2 * U(g));
    vcGFAlignResultSet rs;
    const vcXform<2> e = truth * kTrainPose.inverse();
    pat.run(render(truth, i), params(-180, 180, 0.9, 1.1), rs, nullptr, 0);
    double dp = 1e9, da = 1e9, ds = 0;
    if (rs.numFound() > 0) {
      dp = rs[0].pose().mapPoint({80, 80}).distance(e.mapPoint({80, 80}));
      da = vfNormalizeAngle(rs[0].pose().matrix().rotation() - e.matrix().rotation()).toDouble() *
           vcDegPerRad;
      ds = rs[0].pose().matrix().scale() / e.matrix().scale() - 1;
    }
    if (rs.numFound() < 1 || !rs[0].accepted() || dp >= 1.0 || std::fabs(da) > 1.0) {
      if (verbose) {
        std::printf("  miss %s #%d: truth scale %.4f;", name, i, e.matrix().scale());
        if (rs.numFound() > 0)
          std::printf(" found d=%.2f px da=%.2f deg scale %.4f score %.3f cov %.3f clutter %.3f %s",
                      dp, da, rs[0].pose().matrix().scale(), rs[0].score(), rs[0].coverage(),
                      rs[0].clutter(), rs[0].accepted() ? "accepted" : "not accepted");
        std::printf("\n");
      }
      continue;
    }
    ++found;
    se += dp * dp, sa += da * da, ss += ds * ds;
  }
  const double f = found ? found : 1;
  const double rt = std::sqrt(se / f), ra = std::sqrt(sa / f), rsc = 100 * std::sqrt(ss / f);
  const bool met = found >= goalFound * n && rt <= 0.05 && ra <= 0.05 && rsc <= 0.05;
  std::printf(
      "accuracy %-22s found %d/%d (%.1f%%), translation RMS %.4f px, angle RMS %.4f deg, scale "
      "RMS %.4f %% (goal >= %.0f%% found, RMS <= 0.05: %s)\n",
      name, found, n, 100.0 * found / n, rt, ra, rsc, 100 * goalFound, met ? "met" : "NOT met");
  std::printf(
      "RESULT accuracy case=%s found=%d n=%d trans_rms_px=%.4f angle_rms_deg=%.4f "
      "scale_rms_pct=%.4f goal_met=%d\n",
      name, found, n, rt, ra, rsc, met ? 1 : 0);
}

vcPelBuffer<unsigned char> sampleImage(const vcXform<2>& truth, int i, double occlude) {
  vcSampleRender o;
  o.noiseSigma = 5;
  o.clutterShapes = 6;
  o.occludeFraction = occlude;
  o.seed = 1000 + i;
  return vfRenderSample(vfSampleAsymmetricPattern(), truth, o);
}

vcPelBuffer<unsigned char> partImage(const vcXform<2>& truth, int i, double noise, double occlude) {
  part::Options o;
  o.noise = noise;
  o.occlude = occlude;
  o.seed = 5000 + unsigned(i);
  return part::render(truth, o);
}

void accuracyTable() {
  using namespace std::placeholders;
  const vcGFAlignPattern& s = data().pattern;
  const vcGFAlignPattern& p = partPattern();
  accuracy("sample", s, 200, 0.99, std::bind(sampleImage, _1, _2, 0.0));
  accuracy("sample_occluded25%", s, 200, 0.95, std::bind(sampleImage, _1, _2, 0.25));
  accuracy("part_noise5", p, 200, 0.99, std::bind(partImage, _1, _2, 5.0, 0.0));
  accuracy("part_noise12", p, 200, 0.99, std::bind(partImage, _1, _2, 12.0, 0.0));
  accuracy("part_noise20", p, 200, 0.99, std::bind(partImage, _1, _2, 20.0, 0.0));
  accuracy("part_noise5_occluded25%", p, 200, 0.95, std::bind(partImage, _1, _2, 5.0, 0.25));
  accuracy("part_noise5_occluded40%", p, 200, 0.95, std::bind(partImage, _1, _2, 5.0, 0.40));
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  data();
  vcBenchCollector rep;
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
  line("360deg", g360, "matchTemplate5deg", mt360, 3);
  line("+-10deg", g10, "matchTemplate5deg", mt10, 1);
  line("360deg_scale0.9-1.1", g360s, "GeneralizedHoughGuil5deg", guil, 8);
  // A scale range against a fixed scale, on the sample and on the long part (goal 2.5).
  const double l360 = get("BM_LongPart360"), l360s = get("BM_LongPart360Scale");
  std::printf("%-28s %12.3f  fixed scale %.3f ms, scale range / fixed %.3f (goal 2.5)\n",
              "long_360deg_scale0.9-1.1", l360s, l360, l360 > 0 ? l360s / l360 : 0.0);
  for (const auto& [name, fixed, ranged] :
       {std::tuple{"sample", g360, g360s}, std::tuple{"long", l360, l360s}})
    std::printf("RESULT case=scale_cost_%s fixed_ms=%.4f scale_ms=%.4f ratio=%.4f goal=2.5\n",
                name, fixed, ranged, fixed > 0 ? ranged / fixed : 0.0);
  accuracyTable();
  benchmark::Shutdown();
  return 0;
}
