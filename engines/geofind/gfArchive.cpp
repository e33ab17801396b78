// The pattern's archive: its settings and the trained model, so that a loaded pattern runs
// without training again. A model is a few thousand edge points at most (each stage's count is
// capped in training), so its bytes follow the pattern's edges, not its pixel area.
//
// Layout (version 1): the settings (polarity, elasticity, grain selection and limits, blurred
// scales, origin, train-client-from-pattern), a trained flag and, when trained, the model: its
// scalars, the points of each pyramid level, each level's median magnitude, the blurred scales and
// the fine points. A point set is a count and its x, y, nx and ny as raw floats, then its weights
// unless every one is 1 (image training); a set equal to one stored before it (the sharp scale
// repeats the level-0 set, the fine set the sharp scale) is stored as a reference to it. Then the
// model's constraint analysis (vc_GFConstraints' sums and symmetry order), which version 0
// lacks: loading one works it out from the points.
#include <bit>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <string>

#include "engines/geofind/gfModel.h"
#include "platform/core/vcArchive.h"
#include "platform/core/vcShapes.h"

namespace {

// Far above what training produces (it caps each stage at a few thousand points), far below
// what would strain memory.
constexpr std::uint64_t kMaxPoints = 1u << 20;
constexpr int kMaxLevels = 9;  // a coarse grain of 256 pixels
constexpr std::uint64_t kMaxScales = 64;

[[noreturn]] void damaged(const std::string& what) {
  throw vcArchive::BadData("Geofind pattern archive: " + what);
}

// Raw little-endian floats, the archive's own layout for a float, in one block.
void exchangeFloats(vcArchive& ar, std::vector<float>& v) {
  const std::size_t bytes = v.size() * sizeof(float);
  if (ar.isStoring()) {
    if constexpr (std::endian::native == std::endian::little) {
      ar.putBytes(v.data(), bytes);
    } else {
      for (float& f : v) ar || f;
    }
    return;
  }
  if constexpr (std::endian::native == std::endian::little) {
    ar.getBytes(v.data(), bytes);
  } else {
    for (float& f : v) ar || f;
  }
}

bool samePoints(const vc_GFPointSet& a, const vc_GFPointSet& b) {
  return a.x == b.x && a.y == b.y && a.nx == b.nx && a.ny == b.ny && a.w == b.w;
}

// What a run relies on: finite positions within the coordinate bound, unit normals and
// positive finite weights.
void checkPoints(const vc_GFPointSet& s) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (!(std::fabs(s.x[i]) <= kVcMaxCoordinate) || !(std::fabs(s.y[i]) <= kVcMaxCoordinate))
      damaged("a point lies outside the coordinate range");
    const double n2 = double(s.nx[i]) * s.nx[i] + double(s.ny[i]) * s.ny[i];
    if (!(std::fabs(n2 - 1.0) <= 2e-3)) damaged("a point's direction is not a unit vector");
    if (!(s.w[i] > 0.0f && s.w[i] <= 1.0f)) damaged("a point's weight is outside (0, 1]");
  }
}

void exchangePoints(vcArchive& ar, vc_GFPointSet& s) {
  unsigned long n = s.size();
  ar || n;
  if (ar.isLoading()) {
    if (n > kMaxPoints) damaged("a point set holds too many points");
    // A count the remaining bytes cannot hold is where a cut file ends.
    if (n * 4 * sizeof(float) > ar.remaining())
      throw vcArchive::EndOfData("Geofind pattern archive: the data ends inside a point set");
    s = vc_GFPointSet();
    for (std::vector<float>* v : {&s.x, &s.y, &s.nx, &s.ny}) v->resize(n);
  }
  for (std::vector<float>* v : {&s.x, &s.y, &s.nx, &s.ny}) exchangeFloats(ar, *v);
  bool unitWeights = true;
  for (float w : s.w) unitWeights = unitWeights && w == 1.0f;
  ar || unitWeights;
  if (ar.isLoading()) s.w.assign(n, 1.0f);
  if (!unitWeights) exchangeFloats(ar, s.w);
  if (ar.isStoring()) return;
  checkPoints(s);
  s.totalWeight = 0.0;
  for (float w : s.w) s.totalWeight += w;
}

// A set that may repeat one stored before it: tag 0 is a set of its own, tag k the k-th of
// `earlier`.
void exchangeSet(vcArchive& ar, vc_GFPointSet& s,
                 std::initializer_list<const vc_GFPointSet*> earlier) {
  unsigned char tag = 0;
  if (ar.isStoring()) {
    unsigned char k = 0;
    for (const vc_GFPointSet* e : earlier) {
      ++k;
      if (samePoints(s, *e)) {
        tag = k;
        break;
      }
    }
  }
  ar || tag;
  if (tag == 0) {
    exchangePoints(ar, s);
    return;
  }
  if (tag > earlier.size()) damaged("a point set refers to a missing one");
  if (ar.isLoading()) s = *earlier.begin()[tag - 1];
}

void exchangeModel(vcArchive& ar, vc_GFModel& m) {
  int coarseLevel = m.coarseLevel;
  int algorithm = static_cast<int>(m.algorithm);
  ar || coarseLevel || m.fineGrain || m.coarseGrain || algorithm || m.ignorePolarity ||
      m.elasticity || m.region || m.clientFromImage;
  if (ar.isLoading()) {
    if (coarseLevel < 0 || coarseLevel >= kMaxLevels) damaged("bad coarse level");
    if (algorithm != 1 && algorithm != 2) damaged("bad train algorithm");
    if (!(m.fineGrain >= 1.0f && m.fineGrain <= 25.5f) ||
        !(m.coarseGrain >= 1.0f && m.coarseGrain <= float(1 << (kMaxLevels - 1))))
      damaged("bad grains");
    if (!(m.elasticity >= 0.0 && m.elasticity <= 1e6)) damaged("bad elasticity");
    if (m.region.width() <= 0 || m.region.height() <= 0) damaged("bad training region");
    if (!vfIsSaneXform(m.clientFromImage) || m.clientFromImage.matrix().isSingular())
      damaged("bad training client transform");
    m.coarseLevel = coarseLevel;
    m.algorithm = algorithm;
    m.levels.assign(std::size_t(coarseLevel) + 1, vc_GFPointSet());
  }
  for (vc_GFPointSet& s : m.levels) exchangeSet(ar, s, {});
  if (ar.isLoading()) {
    // Training keeps at least this many points on the search's top level; fewer cannot seed a
    // search.
    if (m.levels.back().size() < 8) damaged("the coarse level has too few points");
  }

  const std::uint64_t numMags = ar.exchangeCount(m.levelMedianMag.size(), sizeof(double));
  if (ar.isLoading()) {
    if (numMags != m.levels.size()) damaged("level magnitudes do not match the levels");
    m.levelMedianMag.assign(numMags, 0.0);
  }
  for (double& v : m.levelMedianMag) {
    ar || v;
    if (ar.isLoading() && !(v >= 0.0 && v <= 1e6)) damaged("bad level magnitude");
  }

  const std::uint64_t numScales = ar.exchangeCount(m.scales.size(), 3 * sizeof(double) + 1);
  if (ar.isLoading()) {
    if (numScales == 0 || numScales > kMaxScales) damaged("bad number of scales");
    m.scales.assign(numScales, vc_GFScale());
  }
  double lastSigma = -1.0;
  for (vc_GFScale& sc : m.scales) {
    ar || sc.sigma || sc.medianMag || sc.width2;
    // Only the sharp scale may repeat a set: a loaded model then holds at most three copies of
    // one stored set, whatever a damaged archive says.
    if (&sc == &m.scales.front())
      exchangeSet(ar, sc.points, {&m.levels.front()});
    else
      exchangeSet(ar, sc.points, {});
    if (ar.isStoring()) continue;
    if (!(sc.sigma > lastSigma && sc.sigma <= 1e3)) damaged("scales out of order");
    if (!(sc.medianMag >= 0.0 && sc.medianMag <= 1e6) || !(sc.width2 >= 0.0 && sc.width2 <= 1e6))
      damaged("bad scale measures");
    if (sc.points.size() == 0) damaged("a scale has no points");
    lastSigma = sc.sigma;
  }
  exchangeSet(ar, m.fine, {&m.levels.front(), &m.scales.front().points});
}

// The constraint analysis (version 1 on); a model of version 0 has it worked out again.
void exchangeConstraints(vcArchive& ar, vc_GFConstraints& c) {
  ar || c.centre || c.sxx || c.sxy || c.syy || c.leverage || c.spread || c.symmetry;
  if (ar.isStoring()) return;
  if (!(std::fabs(c.centre.x()) <= kVcMaxCoordinate) ||
      !(std::fabs(c.centre.y()) <= kVcMaxCoordinate))
    damaged("the edge centre lies outside the coordinate range");
  // S is positive semi-definite; L and the spread are sums of squares, L within the spread.
  const double bound = 1e30;
  if (!(c.sxx >= 0 && c.sxx <= bound) || !(c.syy >= 0 && c.syy <= bound) ||
      !(c.sxy * c.sxy <= c.sxx * c.syy * (1 + 1e-9) + 1e-12) ||
      !(c.spread >= 0 && c.spread <= bound) || !(c.leverage >= 0 && c.leverage <= c.spread * 1.001))
    damaged("bad constraint analysis");
  if (c.symmetry < 0 || c.symmetry > 12) damaged("bad symmetry order");
}

}  // namespace

vcArchive& operator||(vcArchive& ar, vcGFAlignPattern& p) {
  const unsigned char version = vfExchangeVersion(ar, 1, 1, "vcGFAlignPattern");
  // Loads into a fresh pattern through the checking setters, so damaged data leaves `p` as
  // it was.
  vcGFAlignPattern loaded;
  vcGFAlignPattern& t = ar.isLoading() ? loaded : p;
  bool ignorePolarity = t.ignorePolarity_, autoSelect = t.autoSelectGrainLimits_;
  bool blurredScales = t.trainBlurredScales_;
  double elasticity = t.elasticity_;
  float fine = t.fineGrain_, coarse = t.coarseGrain_;
  vcVector<2> origin = t.origin_;
  vcXform<2> trainClientFromPattern = t.trainClientFromPattern_;
  bool trained = t.model_ != nullptr;
  ar || ignorePolarity || elasticity || autoSelect || fine || coarse || blurredScales || origin ||
      trainClientFromPattern || trained;
  if (ar.isStoring()) {
    // Storing only reads the model; the exchange is one routine for both directions.
    if (trained) {
      vc_GFModel& m = const_cast<vc_GFModel&>(*t.model_);
      exchangeModel(ar, m);
      exchangeConstraints(ar, m.constraints);
    }
    return ar;
  }
  std::shared_ptr<vc_GFModel> model;
  if (trained) {
    model = std::make_shared<vc_GFModel>();
    exchangeModel(ar, *model);
    if (version >= 1)
      exchangeConstraints(ar, model->constraints);
    else
      model->constraints = vf_GFConstraints(*model);
  }
  try {
    loaded.ignorePolarity(ignorePolarity);
    loaded.elasticity(elasticity);
    loaded.autoSelectGrainLimits(autoSelect);
    loaded.trainBlurredScales(blurredScales);
    loaded.grainLimits(fine, coarse);
    loaded.origin(origin);
    loaded.trainClientFromPattern(trainClientFromPattern);
  } catch (const vcGFAlignDefs::Errors& e) {
    damaged(e.message(false));
  }
  loaded.model_ = model;
  p = loaded;
  return ar;
}
