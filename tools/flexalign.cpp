// Command-line demo on built-in sample data. First the flexible sample part (8 pieces of 6
// sub-models) in noisy, cluttered 640 x 480 images, moved, turned and scaled, each piece
// displaced a little against the layout, one image with a hidden piece and one with two copies:
// the FlexAlign tool finds the part and every piece, printed against the true poses. Then the
// stages it stands on: the Geofind engine over the whole circle, and a sub-model with each
// engine near an expected pose.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>

#include "engines/geofind/vcGFAlign.h"
#include "tools/common/vcFlexSample.h"
#include "tools/common/vcSampleImages.h"
#include "vcFlexAlign.h"

namespace {

constexpr double kDeg = 3.14159265358979323846 / 180.0;
constexpr int kTrainSize = 160;
// The pattern drawn centred in the training image: training pixels = pattern + (80, 80).
const vcXform<2> kTrainPose(vcMatrix<2>(), vcVector<2>(80, 80));

vcXform<2> poseAt(double x, double y, double deg, double scale) {
  return vcXform<2>(vcMatrix<2>(scale, 1.0, vcRadian(0.0), vcRadian(deg * kDeg)), {x, y});
}

// Largest distance between the training image's corners mapped by the two poses.
double cornerError(const vcXform<2>& a, const vcXform<2>& b) {
  double e = 0;
  for (const vcVector<2>& c : {vcVector<2>(0, 0), vcVector<2>(kTrainSize, 0),
                               vcVector<2>(kTrainSize, kTrainSize), vcVector<2>(0, kTrainSize)})
    e = std::max(e, a.mapPoint(c).distance(b.mapPoint(c)));
  return e;
}

void printPose(const char* label, const vcXform<2>& p) {
  const vcVector<2> c = p.mapPoint({80, 80});
  std::printf("  %-8s centre (%8.3f, %8.3f)  angle %8.3f deg  scale %.4f\n", label, c.x(), c.y(),
              p.matrix().rotation().toDouble() / kDeg, p.matrix().scale());
}

double msSince(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

vcPelBuffer<unsigned char> scene(const vcXform<2>& patternPose, double occlude, unsigned seed) {
  vcSampleRender o;
  o.noiseSigma = 5;
  o.clutterShapes = 6;
  o.occludeFraction = occlude;
  o.seed = seed;
  return vfRenderSample(vfSampleAsymmetricPattern(), patternPose, o);
}

// The best result of a sub-model run as a plain transform (client from sub-model).
bool bestSubModelPose(const vc_SubModelResultSet& rs, vcXform<2>& pose, double& score) {
  score = -1;
  for (const auto& r : rs.results())
    if (r->score() > score) {
      score = r->score();
      pose = r->pose().linearXform({0, 0}).xform();
    }
  return score >= 0;
}

int geofindFullSearch(const vcPelBuffer<unsigned char>& train) {
  std::printf("Geofind, whole circle and scale 0.9 .. 1.1, 25%% of the part covered:\n");
  vcGFAlignPattern pat;
  pat.train(train, 2, nullptr, 0);
  vcGFAlignRunParams rp;
  vcGeorapidDOFList list;
  auto* angle = new vcGeorapidAngle(nullptr, 1);
  angle->range(-180, 180);
  angle->overlap(360.0f);
  auto* scale = new vcGeorapidScale(angle, 1);
  scale->range(0.9, 1.1);
  scale->overlap(1.4f);
  list.assign(scale);
  rp.customizeDOFs(&list);
  const vcXform<2> truth = poseAt(331.4, 228.7, 137.3, 1.06) * kTrainPose.inverse();
  const auto img = scene(truth * kTrainPose, 0.25, 7);
  vcGFAlignResultSet rs;
  const auto t0 = std::chrono::steady_clock::now();
  pat.run(img, rp, rs, nullptr, 0);
  const double ms = msSince(t0);
  printPose("true", truth);
  if (rs.numFound() < 1) {
    std::printf("  not found (%.2f ms)\n", ms);
    return 1;
  }
  printPose("found", rs[0].pose());
  std::printf("  score %.3f, coverage %.3f, clutter %.3f, %s; corner error %.3f px; %.2f ms\n",
              rs[0].score(), rs[0].coverage(), rs[0].clutter(),
              rs[0].accepted() ? "accepted" : "below the accept threshold",
              cornerError(rs[0].pose(), truth), ms);
  return cornerError(rs[0].pose(), truth) < 1.0 ? 0 : 1;
}

int subModelFind(const char* title, const vcPelBuffer<unsigned char>& train,
                 const vcFlexSubModelTrainParams& tp, const vcFlexSubModelRunParams& rp,
                 const vcXform<2>& truth, const vcXform<2>& start) {
  std::printf("%s:\n", title);
  vc_SubModelTool tool;
  tool.train(vcFlexSubModel(train, "sample part"), tp);
  const auto img = scene(truth * kTrainPose, 0.0, 11);
  vc_SubModelResultSet rs;
  const auto t0 = std::chrono::steady_clock::now();
  tool.run(img, vc2XformLinear(start), rp, {}, rs);
  const double ms = msSince(t0);
  printPose("start", start);
  printPose("true", truth);
  vcXform<2> found;
  double score;
  if (!bestSubModelPose(rs, found, score)) {
    std::printf("  not found (%.2f ms)\n", ms);
    return 1;
  }
  printPose("found", found);
  std::printf("  score %.3f; corner error %.3f px; train %.1f ms, run %.2f ms\n", score,
              cornerError(found, truth), tool.trainTime() * 1e3, ms);
  return cornerError(found, truth) < 1.0 ? 0 : 1;
}

// One image of the flexible part: the result table and each piece against its truth. Returns
// the number of pieces farther than 0.5 px from their truth or missing unexpectedly.
int flexImage(const vcFlexSample& sample, const vcFlexAlignPattern& pattern, const char* title,
              const vcFlexSampleOptions& opt, const vcFlexAlignRunParams& rp, int hidden) {
  const vcFlexSampleImage img = vfRenderFlexSample(sample, opt);
  vcFlexAlignResultSet rs;
  pattern.run(img.image, vc2XformLinear(vfFlexSamplePose(sample, 0, 1)), {}, rp, rs);
  std::printf("%s: %zu result(s), run %.2f ms\n", title, rs.results().size(), rs.time() * 1e3);
  int misses = 0;
  for (std::size_t i = 0; i < rs.results().size(); ++i) {
    const vcFlexAlignResult& r = rs.results()[i];
    const vcXform<2> pose = r.pose().linearXform({0, 0}).xform();
    const bool second = opt.secondCopy && r.location().distance(opt.secondPose.mapPoint({0, 0})) <
                                              r.location().distance(opt.partPose.mapPoint({0, 0}));
    const std::vector<vcXform<2>>& truth = second ? img.secondTruth : img.truth;
    std::printf("  result %zu: score %.3f, %s; part at (%.2f, %.2f), angle %.3f deg, scale %.4f\n",
                i, r.score(), r.found() ? "found" : "not found", r.location().x(), r.location().y(),
                pose.matrix().rotation().toDouble() / kDeg, pose.matrix().scale());
    for (const std::string& info : r.infoStrings()) std::printf("    %s\n", info.c_str());
    std::printf("    %-10s %8s %8s %8s %6s %10s %9s %9s\n", "piece", "x", "y", "angle", "score",
                "off layout", "turned", "vs truth");
    for (std::size_t k = 0; k < sample.instanceNames.size(); ++k) {
      vcPtrHandle<vcFlexSubModelResult> sub;
      r.getSubModelResult(static_cast<long>(k), sub);
      const bool blank = sample.instanceShapes[k].empty();
      if (!sub) {
        std::printf("    %-10s not found\n", sample.instanceNames[k].c_str());
        if (static_cast<int>(k) != hidden && !blank) ++misses;
        continue;
      }
      const vcXform<2> found = sub->pose().linearXform({0, 0}).xform();
      // Deviation from the nominal layout: where the fitted part pose puts the piece against
      // where it was found, in arrangement units.
      const vcXform<2> nominal = sample.arrangement.positions()[k]->linearXform({0, 0}).xform();
      const vcXform<2> placed = sub->arrangementFromSubModel().linearXform({0, 0}).xform();
      const double off = placed.trans().distance(nominal.trans());
      const double turned =
          (placed.matrix().rotation().toDouble() - nominal.matrix().rotation().toDouble()) / kDeg;
      const double err = found.trans().distance(truth[k].trans());
      std::printf("    %-10s %8.2f %8.2f %8.3f %6.3f %8.2f px %7.2f deg %6.3f px%s\n",
                  sample.instanceNames[k].c_str(), found.trans().x(), found.trans().y(),
                  found.matrix().rotation().toDouble() / kDeg, sub->score(), off, turned,
                  blank ? 0.0 : err, blank ? " (place holder)" : "");
      if (!blank && err > 0.5) ++misses;
    }
  }
  if (rs.results().empty()) ++misses;
  return misses;
}

int flexibleSample() {
  const vcFlexSample sample = vfMakeFlexSample();
  std::printf(
      "FlexAlign on the flexible sample part (%zu pieces of %zu sub-models), pieces "
      "displaced up to 4 px and turned up to 3 deg against the layout:\n",
      sample.instanceNames.size(), sample.arrangement.subModels().size());
  vcFlexAlignPattern pattern;
  const auto t0 = std::chrono::steady_clock::now();
  pattern.train(sample.arrangement, vfFlexSampleTrainParams(sample));
  std::printf("  trained %zu sub-model tools in %.1f ms\n\n", pattern.tools().size(), msSince(t0));
  vcFlexSubModelGfndRunParams sub;
  sub.acceptThreshold(0.6);
  sub.xyUncertainty(6, 6);
  sub.zoneEnable(vcFlexSubModelParamsDefs::eAngle);
  sub.zoneRelStandard(vcFlexSubModelParamsDefs::eAngle, -4, 4);
  vcFlexAlignRunParams rp(sub);
  rp.runStrategy(vcFlexAlignDefs::eLocallyFixturedSubModels);
  rp.xyUncertainty(40, 40);
  rp.zoneEnable(vcFlexAlignDefs::eAngle | vcFlexAlignDefs::eUniformScale);
  rp.zoneRelStandard(vcFlexAlignDefs::eAngle, -15, 15);
  rp.zoneRelStandard(vcFlexAlignDefs::eUniformScale, -0.1, 0.1);
  int misses = 0;
  vcFlexSampleOptions opt;
  opt.partPose = vfFlexSamplePose(sample, 9.0, 1.05, 25, -18);
  opt.seed = 21;
  misses +=
      flexImage(sample, pattern, "Image 1, the part turned 9 deg, scaled 1.05, moved", opt, rp, -1);
  opt.partPose = vfFlexSamplePose(sample, -7.0, 0.95, -20, 15);
  opt.occludePiece = 4;
  opt.seed = 22;
  std::printf("\n");
  misses += flexImage(sample, pattern, "Image 2, the second key hidden under a block", opt, rp, 4);
  opt.occludePiece = -1;
  opt.partPose = vfFlexSamplePose(sample, 3.0, 0.6, -150, -90);
  opt.secondCopy = true;
  opt.secondPose = vfFlexSamplePose(sample, -4.0, 0.62, 140, 95);
  opt.seed = 23;
  vcFlexAlignRunParams two = rp;
  two.xyUncertainty(320, 240);
  two.zoneRelStandard(vcFlexAlignDefs::eUniformScale, -0.45, -0.3);
  two.numToFind(2);
  std::printf("\n");
  misses += flexImage(sample, pattern, "Image 3, two copies at scale 0.6", opt, two, -1);
  std::printf("\n");
  return misses;
}

}  // namespace

int main() {
  std::printf("flexalign %s: sample part 128 x 128, scenes 640 x 480, noise sigma 5, clutter\n\n",
              vfFlexAlignVersion());
  try {
    int failures = flexibleSample();
    vcSampleRender r;
    r.width = r.height = kTrainSize;
    const auto train = vfRenderSample(vfSampleAsymmetricPattern(), kTrainPose, r);
    failures += geofindFullSearch(train);

    vcFlexSubModelGfndTrainParams gt;
    gt.algorithms(vcFlexSubModelGfndDefs::eGeorapid | vcFlexSubModelGfndDefs::eGeofind);
    vcFlexSubModelGfndRunParams gr;
    gr.algorithm(vcFlexSubModelGfndDefs::eGeofind);
    gr.xyUncertainty(12, 12);
    gr.zoneEnable(vcFlexSubModelParamsDefs::eAngle);
    gr.zoneRelStandard(vcFlexSubModelParamsDefs::eAngle, -5.0, 5.0);
    const vcXform<2> truthG = poseAt(301.7, 251.2, 22.4, 1.0) * kTrainPose.inverse();
    const vcXform<2> startG = poseAt(297.5, 255.0, 20.0, 1.0) * kTrainPose.inverse();
    std::printf("\n");
    failures += subModelFind("Sub-model with Geofind, 12 px and 5 degrees from the expected pose",
                             train, gt, gr, truthG, startG);

    vcFlexSubModelCorTrainParams ct;
    ct.coarseGrainLimit(2.0);
    vcFlexSubModelCorRunParams cr;
    cr.xyUncertainty(12, 12);
    const vcXform<2> truthC = poseAt(288.3, 219.6, 0.0, 1.0) * kTrainPose.inverse();
    const vcXform<2> startC = poseAt(281.0, 224.0, 0.0, 1.0) * kTrainPose.inverse();
    std::printf("\n");
    failures += subModelFind("Sub-model with correlation, 12 px from the expected position", train,
                             ct, cr, truthC, startC);
    std::printf("\n%s\n", failures
                              ? "Some finds missed."
                              : "All pieces within 0.5 px of their truth, all finds within 1 px.");
    return failures ? 1 : 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "flexalign: %s\n", e.what());
    return 2;
  }
}
