// FlexAlign run parameters: run settings, zones and the sub-model run parameters.

#include <algorithm>
#include <cmath>
#include <set>

#include "flexalign/flxalign_archive.h"
#include "platform/core/vcText.h"
#include "vcFlexAlignTool.h"
#include "vcFlexLimits.h"

namespace {

using Defs = vcFlexAlignDefs;

const char kUnknownDof[] = "Unknown DOF";

bool isSingleBit(unsigned long d) { return d != 0 && (d & (d - 1)) == 0; }

}  // namespace

vcFlexAlignRunParams::vcFlexAlignRunParams(const vcFlexSubModelRunParams& standard)
    : own_(std::make_unique<Data>(standard)), d_(own_.get()) {
  vfBuildStandardZones(d_->dofList, d_->dof);
}

vcFlexAlignRunParams::vcFlexAlignRunParams(Data* shared) : d_(shared) {}

// Deep: zone table and DOF list are copied and every sub-model parameter set cloned again.
vcFlexAlignRunParams::vcFlexAlignRunParams(const vcFlexAlignRunParams& o)
    : own_(std::make_unique<Data>(*o.d_)), d_(own_.get()) {}

vcFlexAlignRunParams& vcFlexAlignRunParams::operator=(const vcFlexAlignRunParams& o) {
  if (this != &o) assign_(o);
  return *this;
}

vcFlexAlignRunParams::~vcFlexAlignRunParams() = default;

// Copies first, so that a failing copy leaves the settings as they were; a view assigned to
// writes its owner's settings.
void vcFlexAlignRunParams::assign_(const vcFlexAlignRunParams& o) {
  if (d_ == o.d_) return;
  Data copy(*o.d_);
  *d_ = std::move(copy);
}

// ---- sub-model run parameters ----

const vcFlexSubModelRunParams& vcFlexAlignRunParams::standard() const {
  return d_->sets.standard();
}

void vcFlexAlignRunParams::standard(const vcFlexSubModelRunParams& p) { d_->sets.standard(p); }

void vcFlexAlignRunParams::custom(long index, const vcFlexSubModelRunParams& p) {
  d_->sets.custom(index, p);
}

const vcFlexSubModelRunParams& vcFlexAlignRunParams::custom(long index) const {
  return d_->sets.custom(index);
}

const vcFlexSubModelRunParams& vcFlexAlignRunParams::subModelInstanceParams(long index) const {
  return d_->sets.instance(index);
}

void vcFlexAlignRunParams::restoreStandardParams(long index) { d_->sets.restore(index); }

// ---- run settings ----

void vcFlexAlignRunParams::numToFind(long n) {
  if (n <= 0) throw Defs::BadParams("numToFind must be at least 1");
  d_->numToFind = n;
}

void vcFlexAlignRunParams::finalFitMode(Defs::FinalFitMode m) {
  if (m < Defs::eNone || m > Defs::ePolynomialOrder3)
    throw Defs::BadParams("Illegal final fit mode.");
  d_->finalFitMode = m;
}

void vcFlexAlignRunParams::runStrategy(Defs::RunStrategy s) {
  if (s != Defs::eIndependentSubModels && s != Defs::eLocallyFixturedSubModels)
    throw Defs::BadParams("Illegal run strategy");
  d_->runStrategy = s;
}

void vcFlexAlignRunParams::runOrderMode(Defs::RunOrderMode m) {
  if (m != Defs::eExplicitOrdering && m != Defs::eAutomaticOrdering)
    throw Defs::BadParams("Illegal run order mode");
  d_->runOrderMode = m;
}

void vcFlexAlignRunParams::xyUncertaintyMode(Defs::XYUncertaintyMode m) {
  if (m != Defs::eElliptical && m != Defs::eRectangular)
    throw Defs::BadParams("Illegal xy-uncertainty mode");
  d_->xyUncertaintyMode = m;
}

void vcFlexAlignRunParams::xyUncertainty(double x, double y) {
  if (!(x >= 0.0)) throw Defs::BadParams("Illegal x-translation uncertainty");
  if (!(y >= 0.0)) throw Defs::BadParams("Illegal y-translation uncertainty");
  if (!(x <= kMaxUncertainty) || !(y <= kMaxUncertainty))
    throw Defs::BadParams(std::string("Illegal ") + (x <= kMaxUncertainty ? "y" : "x") +
                          "-translation uncertainty: at most " + vfBoundStr(kMaxUncertainty) +
                          " client units");
  d_->xUncertainty = x;
  d_->yUncertainty = y;
}

void vcFlexAlignRunParams::xyOverlap(double v) {
  if (!(v >= 0.0 && v <= 1.0)) throw Defs::BadParams("xyOverlap must be between 0 and 1");
  d_->xyOverlap = v;
}

void vcFlexAlignRunParams::acceptThreshold(double t) {
  if (!(t >= 0.0 && t <= 1.0)) throw Defs::BadParams("accepthThreshold must be between 0 and 1");
  d_->acceptThreshold = t;
}

void vcFlexAlignRunParams::maxCandidates(long n) {
  if (n < 1) throw Defs::BadParams("maxCandidates must be at least 1");
  d_->maxCandidates = n;
}

void vcFlexAlignRunParams::candidateScoreMargin(double m) {
  if (!(m >= 0.0 && m <= 1.0))
    throw Defs::BadParams("candidateScoreMargin must be between 0 and 1");
  d_->candidateScoreMargin = m;
}

void vcFlexAlignRunParams::maxCombinations(long n) {
  if (n < 1) throw Defs::BadParams("maxCombinations must be at least 1");
  d_->maxCombinations = n;
}

void vcFlexAlignRunParams::maxMisses(long n) {
  if (n < 0) throw Defs::BadParams("maxMisses must be at least 0");
  d_->maxMisses = n;
}

void vcFlexAlignRunParams::timeout(double seconds) {
  if (!(seconds >= 0.0 && std::isfinite(seconds)))
    throw Defs::BadParams("timeout must be a finite number of seconds, at least 0");
  d_->timeout = seconds;
}

void vcFlexAlignRunParams::threads(long n) {
  if (n < 0 || n > kMaxThreads)
    throw Defs::BadParams("threads must be 0 (the hardware's count) to " +
                          std::to_string(kMaxThreads));
  d_->threads = n;
}

void vcFlexAlignRunParams::runOrder(const std::vector<long>& order) {
  std::vector<std::vector<long>> groups;
  groups.reserve(order.size());
  for (long p : order) groups.push_back({p});
  runOrder(groups);
}

void vcFlexAlignRunParams::runOrder(const std::vector<std::vector<long>>& order) {
  std::set<long> seen;
  for (const auto& group : order)
    for (long p : group)
      if (!seen.insert(p).second)
        throw Defs::BadParams("One or more repeated sub-model instance indices specified.");
  d_->runOrder = order;
}

// ---- zones ----

void vcFlexAlignRunParams::dofMode(Defs::DOFMode m) {
  if (m != Defs::eStandard && m != Defs::eAdvanced)
    throw Defs::BadParams("Illegal DOF mode: standard or advanced (custom on the private class)");
  setDofMode_(m);
}

void vcFlexAlignRunParams::setDofMode_(Defs::DOFMode m) {
  if (m == d_->dofMode) return;
  vcGeorapidDOFList list;
  vc_DofData table;
  if (m == Defs::eStandard) vfBuildStandardZones(list, table);
  if (m == Defs::eAdvanced) vfBuildAdvancedZones(list, table, 10.0);
  d_->dofList = std::move(list);
  d_->dof = std::move(table);
  d_->dofMode = m;
}

void vcFlexAlignRunParams::zoneEnable(unsigned long dofs) {
  if (!d_->dof.validDof(dofs, false)) throw Defs::BadParams(kUnknownDof);
  d_->dof.setEnableFlags(dofs);
}

namespace {

// A zone's ends must be numbers, an angle's within a turn either way.
void checkZoneValues(bool angleLike, double low, double high) {
  if (!std::isfinite(low) || !std::isfinite(high))
    throw vcFlexAlignDefs::BadParams("Illegal zone value(s): must be finite numbers");
  constexpr double turn = vcFlexLimits::kMaxAngle;
  if (angleLike && (std::fabs(low) > turn || std::fabs(high) > turn))
    throw vcFlexAlignDefs::BadParams("Illegal zone value(s): angles within " + vfStr(-turn) +
                                     " to " + vfStr(turn) + " degrees");
}

}  // namespace

void vcFlexAlignRunParams::checkZone_(Defs::DOFMode mode, unsigned long dof) const {
  if (!isSingleBit(dof) || !d_->dof.validDof(dof, true)) throw Defs::BadParams(kUnknownDof);
  if (d_->dofMode != mode) throw Defs::WrongDOFMode();
}

double vcFlexAlignRunParams::zoneLowRelStandard(Defs::StandardDOF dof) const {
  checkZone_(Defs::eStandard, dof);
  return d_->dof.getMinOffset(dof);
}

double vcFlexAlignRunParams::zoneHighRelStandard(Defs::StandardDOF dof) const {
  checkZone_(Defs::eStandard, dof);
  return d_->dof.getMaxOffset(dof);
}

void vcFlexAlignRunParams::zoneRelStandard(Defs::StandardDOF dof, double low, double high) {
  checkZone_(Defs::eStandard, dof);
  checkZoneValues(dof == Defs::eAngle, low, high);
  if (dof != Defs::eAngle && !(low > -1.0 && low <= high))
    throw Defs::BadParams("Illegal zone value(s): low must be <= high");
  d_->dof.setRangeOffsets(dof, low, high);
}

double vcFlexAlignRunParams::zoneOverlapStandard(Defs::StandardDOF dof) const {
  if (d_->dofMode != Defs::eStandard) throw Defs::WrongDOFMode();
  checkZone_(Defs::eStandard, dof);
  return d_->dof.getOverlap(dof);
}

void vcFlexAlignRunParams::zoneOverlapStandard(Defs::StandardDOF dof, double v) {
  if (d_->dofMode != Defs::eStandard) throw Defs::WrongDOFMode();
  checkZone_(Defs::eStandard, dof);
  if (!(v >= (dof == Defs::eAngle ? 0.0 : 1.0)))
    throw Defs::BadParams(
        "Illegal zoneOverlap value: must be >= 0.0 for angle DOF; must be >= 1.0 for scale DOFs");
  d_->dof.setOverlap(dof, v);
}

double vcFlexAlignRunParams::zoneLowRelAdvanced(Defs::AdvancedDOF dof) const {
  checkZone_(Defs::eAdvanced, dof);
  return d_->dof.getMinOffset(dof);
}

double vcFlexAlignRunParams::zoneHighRelAdvanced(Defs::AdvancedDOF dof) const {
  checkZone_(Defs::eAdvanced, dof);
  return d_->dof.getMaxOffset(dof);
}

void vcFlexAlignRunParams::zoneRelAdvanced(Defs::AdvancedDOF dof, double low, double high) {
  checkZone_(Defs::eAdvanced, dof);
  const bool angleLike = dof == Defs::eRotation || dof == Defs::eSkew;
  checkZoneValues(angleLike, low, high);
  if (!angleLike && !(low > -1.0 && low <= high))
    throw Defs::BadParams("Illegal zone value(s): low must be <= high");
  d_->dof.setRangeOffsets(dof, low, high);
}

double vcFlexAlignRunParams::zoneOverlapAdvanced(Defs::AdvancedDOF dof) const {
  if (d_->dofMode != Defs::eAdvanced) throw Defs::WrongDOFMode();
  checkZone_(Defs::eAdvanced, dof);
  return d_->dof.getOverlap(dof);
}

void vcFlexAlignRunParams::zoneOverlapAdvanced(Defs::AdvancedDOF dof, double v) {
  if (d_->dofMode != Defs::eAdvanced) throw Defs::WrongDOFMode();
  checkZone_(Defs::eAdvanced, dof);
  const bool angleLike = dof == Defs::eRotation || dof == Defs::eSkew;
  if (!(v >= (angleLike ? 0.0 : 1.0)))
    throw Defs::BadParams(
        "Illegal zoneOverlap value: must be >= 0.0 for angle and skew DOF; must be >= 1.0 for "
        "scale and aspect DOF");
  d_->dof.setOverlap(dof, v);
}

bool vcFlexAlignRunParams::operator==(const vcFlexAlignRunParams& o) const {
  if (!(d_->dof == o.d_->dof) || d_->numToFind != o.d_->numToFind ||
      d_->finalFitMode != o.d_->finalFitMode || d_->dofMode != o.d_->dofMode ||
      d_->runStrategy != o.d_->runStrategy || d_->runOrderMode != o.d_->runOrderMode ||
      d_->runOrder != o.d_->runOrder || d_->xUncertainty != o.d_->xUncertainty ||
      d_->yUncertainty != o.d_->yUncertainty || d_->xyUncertaintyMode != o.d_->xyUncertaintyMode ||
      d_->xyOverlap != o.d_->xyOverlap || d_->acceptThreshold != o.d_->acceptThreshold ||
      !d_->dofList.equal(o.d_->dofList, true) || d_->maxCandidates != o.d_->maxCandidates ||
      d_->candidateScoreMargin != o.d_->candidateScoreMargin ||
      d_->maxCombinations != o.d_->maxCombinations || d_->maxMisses != o.d_->maxMisses ||
      d_->timeout != o.d_->timeout)
    return false;
  return d_->sets == o.d_->sets;
}

vc_FlexAlignRunParams& vcFlexAlignRunParams::privData() {
  if (auto* self = dynamic_cast<vc_FlexAlignRunParams*>(this)) return *self;
  if (!view_) view_.reset(new vc_FlexAlignRunParams(vc_FlexAlignRunParams::ViewTag{}, d_));
  return *view_;
}

const vc_FlexAlignRunParams& vcFlexAlignRunParams::privData() const {
  return const_cast<vcFlexAlignRunParams&>(*this).privData();
}

// ---- archive ----

vcArchive& operator||(vcArchive& ar, vcFlexAlignRunParams& p) {
  using namespace vc_flxalign;
  unsigned char version = 2;
  ar || version;
  if (version > 2) throw vcArchive::UnknownVersion(kSource, __LINE__);
  // Loads into locals, so a damaged archive leaves the parameters as they were.
  vc_DofData table = p.d_->dof;
  vcGeorapidDOFList list;
  table.archive(ar, 0);
  vfSerializeDOFList(ar, nullptr, ar.isLoading() ? list : p.d_->dofList);
  double xu = p.d_->xUncertainty, yu = p.d_->yUncertainty, xyo = p.d_->xyOverlap,
         at = p.d_->acceptThreshold;
  int xyMode = p.d_->xyUncertaintyMode, fit = p.d_->finalFitMode, mode = p.d_->dofMode,
      strategy = p.d_->runStrategy, orderMode = p.d_->runOrderMode;
  int numToFind = static_cast<int>(p.d_->numToFind);
  ar || xu || yu || xyMode || xyo || numToFind || fit || at || mode || strategy || orderMode;
  // Loads into a copy, so a damaged archive leaves the parameters as they were.
  vc_InstanceParamSets<vcFlexSubModelRunParams> sets = p.d_->sets;
  sets.exchange(ar);
  std::vector<std::vector<long>> order = p.d_->runOrder;
  if (version == 0) {
    std::vector<long> flat;
    exchangeLongs(ar, flat, __LINE__);
    order.clear();
    for (long q : flat) order.push_back({q});
  } else {
    exchangeListVersion(ar, __LINE__);
    const std::size_t n = exchangeCount32(ar, order.size(), 5);
    if (ar.isLoading()) order.assign(n, {});
    for (auto& group : order) exchangeLongs(ar, group, __LINE__);
  }
  int candidates = static_cast<int>(p.d_->maxCandidates),
      combinations = static_cast<int>(p.d_->maxCombinations),
      misses = static_cast<int>(p.d_->maxMisses);
  double margin = p.d_->candidateScoreMargin, timeout = p.d_->timeout;
  if (version >= 2) ar || candidates || margin || combinations || misses || timeout;
  if (ar.isStoring()) return ar;
  // Older archives carry no bounds: the defaults hold.
  if (version < 2) {
    const vcFlexAlignRunParams defaults;
    candidates = static_cast<int>(defaults.d_->maxCandidates);
    margin = defaults.d_->candidateScoreMargin;
    combinations = static_cast<int>(defaults.d_->maxCombinations);
    misses = static_cast<int>(defaults.d_->maxMisses);
    timeout = defaults.d_->timeout;
  }
  if (candidates < 1 || !(margin >= 0.0 && margin <= 1.0) || combinations < 1 || misses < 0 ||
      !(timeout >= 0.0 && std::isfinite(timeout)))
    throw vcArchive::BadData("flxalign run parameters: a search bound outside its range");
  // An enumeration must not hold a value outside its own (that is undefined behaviour); the
  // table must describe the list's DOFs, and every handle must hold parameters, or the
  // accessors would index past them.
  if (xyMode < Defs::eElliptical || xyMode > Defs::eRectangular || fit < Defs::eNone ||
      fit > Defs::ePolynomialOrder3 || mode < Defs::eStandard || mode > Defs::eCustom ||
      strategy < Defs::eIndependentSubModels || strategy > Defs::eLocallyFixturedSubModels ||
      orderMode < Defs::eExplicitOrdering || orderMode > Defs::eAutomaticOrdering)
    throw vcArchive::BadData("flxalign run parameters: unknown enumeration value");
  if (!(xu >= 0.0 && xu <= vcFlexAlignRunParams::kMaxUncertainty) ||
      !(yu >= 0.0 && yu <= vcFlexAlignRunParams::kMaxUncertainty) || !(xyo >= 0.0 && xyo <= 1.0) ||
      !(at >= 0.0 && at <= 1.0) || numToFind <= 0)
    throw vcArchive::BadData("flxalign run parameters: a setting outside its range");
  for (unsigned long k = 0; k < table.numDofs(); ++k) {
    const long bit = 1L << k;
    if (!std::isfinite(table.getMinOffset(bit)) || !std::isfinite(table.getMaxOffset(bit)))
      throw vcArchive::BadData("flxalign run parameters: a zone that is not a number");
  }
  const std::size_t expected = mode == Defs::eStandard || mode == Defs::eAdvanced ? 4 : list.size();
  if (table.numDofs() != expected || list.size() != expected)
    throw vcArchive::BadData("flxalign run parameters: DOF table does not match its DOF list");
  p.d_->dof = std::move(table);
  p.d_->dofList = std::move(list);
  p.d_->xUncertainty = xu;
  p.d_->yUncertainty = yu;
  p.d_->xyUncertaintyMode = static_cast<Defs::XYUncertaintyMode>(xyMode);
  p.d_->xyOverlap = xyo;
  p.d_->numToFind = numToFind;
  p.d_->finalFitMode = static_cast<Defs::FinalFitMode>(fit);
  p.d_->acceptThreshold = at;
  p.d_->dofMode = static_cast<Defs::DOFMode>(mode);
  p.d_->runStrategy = static_cast<Defs::RunStrategy>(strategy);
  p.d_->runOrderMode = static_cast<Defs::RunOrderMode>(orderMode);
  p.d_->sets = std::move(sets);
  p.d_->runOrder = std::move(order);
  p.d_->maxCandidates = candidates;
  p.d_->candidateScoreMargin = margin;
  p.d_->maxCombinations = combinations;
  p.d_->maxMisses = misses;
  p.d_->timeout = timeout;
  return ar;
}
