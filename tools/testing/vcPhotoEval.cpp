#include "tools/testing/vcPhotoEval.h"

#include <chrono>
#include <cmath>
#include <random>

#include "platform/core/vcAngle.h"

namespace {

vcPhotoCondition cond(const std::string& name, double found, double rms) {
  vcPhotoCondition c;
  c.name = name;
  c.goalFound = found;
  c.goalRmsPx = rms;
  return c;
}

}  // namespace

std::vector<vcPhotoCondition> vfPhotoConditions() {
  std::vector<vcPhotoCondition> v;
  v.push_back(cond("clean", 1.0, 0.05));
  for (double s : {1.0, 2.0, 3.0}) {
    vcPhotoCondition c =
        cond("blur" + std::to_string(int(s)), s <= 2 ? 1.0 : 0.95, s == 2 ? 0.1 : 0.0);
    c.degrade.blurSigma = s;
    v.push_back(c);
  }
  for (double s : {5.0, 10.0, 15.0, 20.0}) {
    vcPhotoCondition c = cond("noise" + std::to_string(int(s)), s <= 15 ? 1.0 : 0.0,
                              s == 5    ? 0.05
                              : s == 15 ? 0.1
                                        : 0.0);
    c.degrade.noiseSigma = s;
    v.push_back(c);
  }
  for (const char* g : {"0.3", "0.4", "0.6", "1.5"}) {
    const double gain = std::stod(g);
    vcPhotoCondition c = cond(std::string("gain") + g, gain >= 0.4 ? 1.0 : 0.0, 0.0);
    c.degrade.gain = gain;
    v.push_back(c);
  }
  vcPhotoCondition inv = cond("inverted", 1.0, 0.0);
  inv.degrade.invert = true;
  inv.ignorePolarity = true;
  v.push_back(inv);
  vcPhotoCondition patch = cond("patch25", 0.95, 0.0);
  patch.degrade.patchFraction = 0.25;
  v.push_back(patch);
  // A dark, soft exposure: no goal of its own, printed to show how the two add up.
  vcPhotoCondition dark = cond("blur1_gain0.4", 0.0, 0.0);
  dark.degrade.blurSigma = 1.0;
  dark.degrade.gain = 0.4;
  v.push_back(dark);
  vcPhotoCondition darkSoft = cond("blur2_gain0.4", 1.0, 0.0);
  darkSoft.degrade.blurSigma = 2.0;
  darkSoft.degrade.gain = 0.4;
  v.push_back(darkSoft);
  vcPhotoCondition worst = cond("blur2_noise15_gain0.5", 0.0, 0.0);
  worst.degrade.blurSigma = 2.0;
  worst.degrade.noiseSigma = 15.0;
  worst.degrade.gain = 0.5;
  v.push_back(worst);
  // Soft edges: the scene enlarged, under the sensor noise of a camera of that resolution;
  // every piece within a tenth of a pixel of the photograph's resolution, i.e. the enlargement
  // times 0.1 px.
  for (double k : {3.0, 6.0}) {
    vcPhotoCondition big = cond("enlarged" + std::to_string(int(k)), 1.0, 0.1 * k);
    big.enlarge = k;
    big.degrade.noiseSigma = 5.0;
    v.push_back(big);
  }
  return v;
}

std::vector<vcPhotoCondition> vfCorrelationPhotoConditions() {
  std::vector<vcPhotoCondition> v;
  auto add = [&](const std::string& name, bool goal, double rms) {
    vcPhotoCondition c = cond(name, goal ? 1.0 : 0.0, goal ? rms : 0.0);
    c.goalWorstPx = goal ? 1.0 : 0.0;
    v.push_back(c);
    return &v.back().degrade;
  };
  add("clean", true, 0.1);
  for (int s : {1, 2, 3}) add("blur" + std::to_string(s), s <= 2, 0.2)->blurSigma = s;
  for (int s : {5, 10, 15, 20}) add("noise" + std::to_string(s), s <= 15, 0.2)->noiseSigma = s;
  for (const char* g : {"0.3", "0.4", "0.5", "0.6", "1.4", "1.5"}) {
    const double gain = std::stod(g);
    add(std::string("gain") + g, gain >= 0.5 && gain <= 1.4, 0.2)->gain = gain;
  }
  add("inverted", false, 0)->invert = true;
  add("patch25", false, 0)->patchFraction = 0.25;
  vcPhotoSceneOptions* dark = add("blur1_gain0.4", false, 0);
  dark->blurSigma = 1.0;
  dark->gain = 0.4;
  vcPhotoSceneOptions* moved = add("moved", true, 0.1);
  moved->maxShift = 5.0;
  moved->maxTurnDeg = 3.0;
  return v;
}

vcPhotoTrained vfTrainPhotoPart(const std::string& photo, bool ignorePolarity) {
  vcPhotoTrained t;
  t.part = vfMakePhotoPart(photo);
  t.ignorePolarity = ignorePolarity;
  vcFlexSubModelGfndTrainParams tp;
  tp.ignorePolarity(ignorePolarity);
  t.pattern.train(t.part.arrangement, vcFlexAlignTrainParams(tp));
  return t;
}

vcPhotoTrained vfTrainEnlargedPhotoPart(const std::string& photo, double enlarge) {
  const vcPelBuffer<unsigned char> original = vfReadPhoto(photo);
  vcPhotoTrained t;
  t.part = vfMakeScaledPhotoPart(photo, enlarge, long(std::floor(enlarge * original.width())),
                                 long(std::floor(enlarge * original.height())));
  t.pattern.train(t.part.arrangement, vcFlexAlignTrainParams(vcFlexSubModelGfndTrainParams()));
  return t;
}

namespace {

constexpr double kPieceAngle = 4, kPartAngle = 6, kPartScale = 0.05;

template <class Piece>
vcFlexAlignRunParams photoRunParams() {
  Piece piece;
  piece.zoneEnable(vcFlexSubModelParamsDefs::eAngle);
  piece.zoneRelStandard(vcFlexSubModelParamsDefs::eAngle, -kPieceAngle, kPieceAngle);
  vcFlexAlignRunParams rp(piece);
  rp.runStrategy(vcFlexAlignDefs::eLocallyFixturedSubModels);
  rp.xyUncertainty(20, 20);
  rp.zoneEnable(vcFlexAlignDefs::eAngle | vcFlexAlignDefs::eUniformScale);
  rp.zoneRelStandard(vcFlexAlignDefs::eAngle, -kPartAngle, kPartAngle);
  rp.zoneRelStandard(vcFlexAlignDefs::eUniformScale, -kPartScale, kPartScale);
  return rp;
}

}  // namespace

vcFlexAlignRunParams vfPhotoRunParams() { return photoRunParams<vcFlexSubModelGfndRunParams>(); }

// FlexAlign lets a Geofind piece searched around a predicted pose look for its size within
// 2 % of it (what a prediction from a few neighbours carries); correlation pieces are given
// that range here, the rest at their defaults.
constexpr double kCarriedScale = 0.02;

vcFlexAlignRunParams vfPhotoRunParamsCorrelation() {
  vcFlexAlignRunParams rp = photoRunParams<vcFlexSubModelCorRunParams>();
  vcFlexSubModelCorRunParams piece = dynamic_cast<const vcFlexSubModelCorRunParams&>(rp.standard());
  piece.zoneEnable(vcFlexSubModelParamsDefs::eAngle | vcFlexSubModelParamsDefs::eUniformScale);
  piece.zoneRelStandard(vcFlexSubModelParamsDefs::eUniformScale, -kCarriedScale, kCarriedScale);
  rp.standard(piece);
  return rp;
}

vcPhotoTrained vfTrainPhotoPartCorrelation(const std::string& photo) {
  vcPhotoTrained t;
  t.part = vfMakePhotoPart(photo);
  vcFlexSubModelCorTrainParams tp;
  tp.zoneAllowed(vcFlexSubModelParamsDefs::eAngle | vcFlexSubModelParamsDefs::eUniformScale);
  tp.zoneMaxRangeStandard(vcFlexSubModelParamsDefs::eAngle, kPieceAngle + kPartAngle);
  tp.zoneMaxRangeStandard(vcFlexSubModelParamsDefs::eUniformScale, kPartScale + kCarriedScale);
  t.pattern.train(t.part.arrangement, vcFlexAlignTrainParams(tp));
  return t;
}

vcPhotoStats vfRunPhotoCondition(const std::vector<const vcPhotoTrained*>& parts,
                                 const vcPhotoCondition& c, int scenes, unsigned seed,
                                 const vcFlexAlignRunParams* runParams) {
  using Clock = std::chrono::steady_clock;
  vcPhotoStats st;
  const vcFlexAlignRunParams rp = runParams ? *runParams : vfPhotoRunParams();
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> U(-1.0, 1.0);
  double se = 0, sa = 0;
  for (const vcPhotoTrained* t : parts) {
    for (int i = 0; i < scenes; ++i) {
      vcPhotoSceneOptions o = c.degrade;
      o.angleDeg = 4 * U(rng);
      o.scale = 1.0 + 0.03 * U(rng);
      o.shift = vcVector<2>(10 * U(rng), 10 * U(rng));
      o.seed = seed * 1000u + unsigned(i) * 7u + unsigned(t->part.names.size());
      const vcPhotoScene scene = vfRenderPhotoScene(t->part, o);
      const vcXform<2> start(vcMatrix<2>(), t->part.partCentre);
      vcFlexAlignResultSet rs;
      const auto t0 = Clock::now();
      t->pattern.run(scene.image, vc2XformLinear(start), {}, rp, rs);
      const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
      std::size_t n = 0, here = 0;
      std::vector<bool> counted(scene.truth.size());
      for (std::size_t k = 0; k < scene.truth.size(); ++k) {
        if (!scene.inside[k])
          ++st.outside;
        else if (scene.edgesClipped[k] > 0.5)
          ++st.saturated;
        else
          counted[k] = true, ++n;
      }
      st.pieces += int(n);
      if (!rs.results().empty()) {
        const vcFlexAlignResult& r = rs.results()[0];
        for (std::size_t k = 0; k < scene.truth.size(); ++k) {
          if (!counted[k]) continue;
          vcPtrHandle<vcFlexSubModelResult> sr;
          r.getSubModelResult(long(k), sr);
          if (!sr) continue;
          const double d = sr->pose().mapPoint({0, 0}).distance(scene.truth[k].mapPoint({0, 0}));
          if (d > 1.5) {
            ++st.wrong;
            continue;
          }
          const double da = (sr->pose().linearXform({0, 0}).matrix().rotation().toDouble() -
                             scene.truth[k].matrix().rotation().toDouble()) *
                            180.0 / vcPi;
          ++st.found, ++here;
          se += d * d, sa += da * da;
          st.worstPx = std::max(st.worstPx, d);
        }
      }
      if (here == n)
        ++st.runsAll, st.msAll += ms;
      else
        ++st.runsShort, st.msShort += ms;
    }
  }
  if (st.found) st.rmsPx = std::sqrt(se / st.found), st.angleRmsDeg = std::sqrt(sa / st.found);
  if (st.runsAll) st.msAll /= st.runsAll;
  if (st.runsShort) st.msShort /= st.runsShort;
  return st;
}
