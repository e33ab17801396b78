// FlexAlign run parameters: run settings, zones and the sub-model run parameters.

#include <algorithm>
#include <cmath>
#include <set>

#include "flexalign/flxalign_archive.h"
#include "platform/core/vcText.h"
#include "vcFlexAlignTool.h"

namespace {

using Defs = vcFlexAlignDefs;

const char kUnknownDof[] = "Unknown DOF";

bool isSingleBit(unsigned long d) { return d != 0 && (d & (d - 1)) == 0; }

}  // namespace

vcFlexAlignRunParams::vcFlexAlignRunParams(const vcFlexSubModelRunParams& standard)
    : sets_(standard) {
  vfBuildStandardZones(dofList_, dof_);
}

vcFlexAlignRunParams::vcFlexAlignRunParams(const vcFlexAlignRunParams& o) : sets_(o.sets_) {
  assign_(o);
}

vcFlexAlignRunParams& vcFlexAlignRunParams::operator=(const vcFlexAlignRunParams& o) {
  if (this != &o) assign_(o);
  return *this;
}

vcFlexAlignRunParams::~vcFlexAlignRunParams() = default;

// Deep: zone table and DOF list are copied and every sub-model parameter set cloned again.
void vcFlexAlignRunParams::assign_(const vcFlexAlignRunParams& o) {
  vc_InstanceParamSets<vcFlexSubModelRunParams> sets = o.sets_;
  vcGeorapidDOFList list(o.dofList_);
  vc_DofData table(o.dof_);
  sets_ = std::move(sets);
  dofList_ = std::move(list);
  dof_ = std::move(table);
  dofMode_ = o.dofMode_;
  numToFind_ = o.numToFind_;
  xUncertainty_ = o.xUncertainty_;
  yUncertainty_ = o.yUncertainty_;
  xyOverlap_ = o.xyOverlap_;
  acceptThreshold_ = o.acceptThreshold_;
  finalFitMode_ = o.finalFitMode_;
  runStrategy_ = o.runStrategy_;
  runOrderMode_ = o.runOrderMode_;
  xyUncertaintyMode_ = o.xyUncertaintyMode_;
  runOrder_ = o.runOrder_;
  maxCandidates_ = o.maxCandidates_;
  candidateScoreMargin_ = o.candidateScoreMargin_;
  maxCombinations_ = o.maxCombinations_;
  maxMisses_ = o.maxMisses_;
  timeout_ = o.timeout_;
}

// ---- sub-model run parameters ----

const vcFlexSubModelRunParams& vcFlexAlignRunParams::standard() const { return sets_.standard(); }

void vcFlexAlignRunParams::standard(const vcFlexSubModelRunParams& p) { sets_.standard(p); }

void vcFlexAlignRunParams::custom(long index, const vcFlexSubModelRunParams& p) {
  sets_.custom(index, p);
}

const vcFlexSubModelRunParams& vcFlexAlignRunParams::custom(long index) const {
  return sets_.custom(index);
}

const vcFlexSubModelRunParams& vcFlexAlignRunParams::subModelInstanceParams(long index) const {
  return sets_.instance(index);
}

void vcFlexAlignRunParams::restoreStandardParams(long index) { sets_.restore(index); }

// ---- run settings ----

void vcFlexAlignRunParams::numToFind(long n) {
  if (n <= 0) throw Defs::BadParams();
  numToFind_ = n;
}

void vcFlexAlignRunParams::finalFitMode(Defs::FinalFitMode m) {
  if (m < Defs::eNone || m > Defs::ePolynomialOrder3)
    throw Defs::BadParams("Illegal final fit mode.");
  finalFitMode_ = m;
}

void vcFlexAlignRunParams::runStrategy(Defs::RunStrategy s) {
  if (s != Defs::eIndependentSubModels && s != Defs::eLocallyFixturedSubModels)
    throw Defs::BadParams();
  runStrategy_ = s;
}

void vcFlexAlignRunParams::runOrderMode(Defs::RunOrderMode m) {
  if (m != Defs::eExplicitOrdering && m != Defs::eAutomaticOrdering) throw Defs::BadParams();
  runOrderMode_ = m;
}

void vcFlexAlignRunParams::xyUncertaintyMode(Defs::XYUncertaintyMode m) {
  if (m != Defs::eElliptical && m != Defs::eRectangular)
    throw Defs::BadParams("Illegal xy-uncertainty mode");
  xyUncertaintyMode_ = m;
}

void vcFlexAlignRunParams::xyUncertainty(double x, double y) {
  if (!(x >= 0.0)) throw Defs::BadParams("Illegal x-translation uncertainty");
  if (!(y >= 0.0)) throw Defs::BadParams("Illegal y-translation uncertainty");
  xUncertainty_ = x;
  yUncertainty_ = y;
}

void vcFlexAlignRunParams::xyOverlap(double v) {
  if (!(v >= 0.0 && v <= 1.0)) throw Defs::BadParams("xyOverlap must be between 0 and 1");
  xyOverlap_ = v;
}

void vcFlexAlignRunParams::acceptThreshold(double t) {
  if (!(t >= 0.0 && t <= 1.0)) throw Defs::BadParams("accepthThreshold must be between 0 and 1");
  acceptThreshold_ = t;
}

void vcFlexAlignRunParams::maxCandidates(long n) {
  if (n < 1) throw Defs::BadParams("maxCandidates must be at least 1");
  maxCandidates_ = n;
}

void vcFlexAlignRunParams::candidateScoreMargin(double m) {
  if (!(m >= 0.0 && m <= 1.0))
    throw Defs::BadParams("candidateScoreMargin must be between 0 and 1");
  candidateScoreMargin_ = m;
}

void vcFlexAlignRunParams::maxCombinations(long n) {
  if (n < 1) throw Defs::BadParams("maxCombinations must be at least 1");
  maxCombinations_ = n;
}

void vcFlexAlignRunParams::maxMisses(long n) {
  if (n < 0) throw Defs::BadParams("maxMisses must be at least 0");
  maxMisses_ = n;
}

void vcFlexAlignRunParams::timeout(double seconds) {
  if (!(seconds >= 0.0 && std::isfinite(seconds)))
    throw Defs::BadParams("timeout must be a finite number of seconds, at least 0");
  timeout_ = seconds;
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
  runOrder_ = order;
}

// ---- zones ----

void vcFlexAlignRunParams::dofMode(Defs::DOFMode m) {
  if (m != Defs::eStandard && m != Defs::eAdvanced) throw Defs::BadParams();
  setDofMode_(m);
}

void vcFlexAlignRunParams::setDofMode_(Defs::DOFMode m) {
  if (m == dofMode_) return;
  vcGeorapidDOFList list;
  vc_DofData table;
  if (m == Defs::eStandard) vfBuildStandardZones(list, table);
  if (m == Defs::eAdvanced) vfBuildAdvancedZones(list, table, 10.0);
  dofList_ = std::move(list);
  dof_ = std::move(table);
  dofMode_ = m;
}

void vcFlexAlignRunParams::zoneEnable(unsigned long dofs) {
  if (!dof_.validDof(dofs, false)) throw Defs::BadParams(kUnknownDof);
  dof_.setEnableFlags(dofs);
}

void vcFlexAlignRunParams::checkZone_(Defs::DOFMode mode, unsigned long dof) const {
  if (!isSingleBit(dof) || !dof_.validDof(dof, true)) throw Defs::BadParams(kUnknownDof);
  if (dofMode_ != mode) throw Defs::WrongDOFMode();
}

double vcFlexAlignRunParams::zoneLowRelStandard(Defs::StandardDOF dof) const {
  checkZone_(Defs::eStandard, dof);
  return dof_.getMinOffset(dof);
}

double vcFlexAlignRunParams::zoneHighRelStandard(Defs::StandardDOF dof) const {
  checkZone_(Defs::eStandard, dof);
  return dof_.getMaxOffset(dof);
}

void vcFlexAlignRunParams::zoneRelStandard(Defs::StandardDOF dof, double low, double high) {
  checkZone_(Defs::eStandard, dof);
  if (dof != Defs::eAngle && !(low > -1.0 && low <= high))
    throw Defs::BadParams("Illegal zone value(s): low must be <= high");
  dof_.setRangeOffsets(dof, low, high);
}

double vcFlexAlignRunParams::zoneOverlapStandard(Defs::StandardDOF dof) const {
  if (dofMode_ != Defs::eStandard) throw Defs::WrongDOFMode();
  checkZone_(Defs::eStandard, dof);
  return dof_.getOverlap(dof);
}

void vcFlexAlignRunParams::zoneOverlapStandard(Defs::StandardDOF dof, double v) {
  if (dofMode_ != Defs::eStandard) throw Defs::WrongDOFMode();
  checkZone_(Defs::eStandard, dof);
  if (!(v >= (dof == Defs::eAngle ? 0.0 : 1.0)))
    throw Defs::BadParams(
        "Illegal zoneOverlap value: must be >= 0.0 for angle DOF; must be >= 1.0 for scale DOFs");
  dof_.setOverlap(dof, v);
}

double vcFlexAlignRunParams::zoneLowRelAdvanced(Defs::AdvancedDOF dof) const {
  checkZone_(Defs::eAdvanced, dof);
  return dof_.getMinOffset(dof);
}

double vcFlexAlignRunParams::zoneHighRelAdvanced(Defs::AdvancedDOF dof) const {
  checkZone_(Defs::eAdvanced, dof);
  return dof_.getMaxOffset(dof);
}

void vcFlexAlignRunParams::zoneRelAdvanced(Defs::AdvancedDOF dof, double low, double high) {
  checkZone_(Defs::eAdvanced, dof);
  const bool angleLike = dof == Defs::eRotation || dof == Defs::eSkew;
  if (!angleLike && !(low > -1.0 && low <= high))
    throw Defs::BadParams("Illegal zone value(s): low must be <= high");
  dof_.setRangeOffsets(dof, low, high);
}

double vcFlexAlignRunParams::zoneOverlapAdvanced(Defs::AdvancedDOF dof) const {
  if (dofMode_ != Defs::eAdvanced) throw Defs::WrongDOFMode();
  checkZone_(Defs::eAdvanced, dof);
  return dof_.getOverlap(dof);
}

void vcFlexAlignRunParams::zoneOverlapAdvanced(Defs::AdvancedDOF dof, double v) {
  if (dofMode_ != Defs::eAdvanced) throw Defs::WrongDOFMode();
  checkZone_(Defs::eAdvanced, dof);
  const bool angleLike = dof == Defs::eRotation || dof == Defs::eSkew;
  if (!(v >= (angleLike ? 0.0 : 1.0)))
    throw Defs::BadParams(
        "Illegal zoneOverlap value: must be >= 0.0 for angle and skew DOF; must be >= 1.0 for "
        "scale and aspect DOF");
  dof_.setOverlap(dof, v);
}

bool vcFlexAlignRunParams::operator==(const vcFlexAlignRunParams& o) const {
  if (!(dof_ == o.dof_) || numToFind_ != o.numToFind_ || finalFitMode_ != o.finalFitMode_ ||
      dofMode_ != o.dofMode_ || runStrategy_ != o.runStrategy_ ||
      runOrderMode_ != o.runOrderMode_ || runOrder_ != o.runOrder_ ||
      xUncertainty_ != o.xUncertainty_ || yUncertainty_ != o.yUncertainty_ ||
      xyUncertaintyMode_ != o.xyUncertaintyMode_ || xyOverlap_ != o.xyOverlap_ ||
      acceptThreshold_ != o.acceptThreshold_ || !dofList_.equal(o.dofList_, true) ||
      maxCandidates_ != o.maxCandidates_ || candidateScoreMargin_ != o.candidateScoreMargin_ ||
      maxCombinations_ != o.maxCombinations_ || maxMisses_ != o.maxMisses_ ||
      timeout_ != o.timeout_)
    return false;
  return sets_ == o.sets_;
}

vc_FlexAlignRunParams& vcFlexAlignRunParams::privData() {
  if (auto* self = dynamic_cast<vc_FlexAlignRunParams*>(this)) return *self;
  if (!privView_.view) privView_.view = std::make_unique<vc_FlexAlignRunParams>();
  privView_.view->owner_.owner = this;
  privView_.view->sync_();
  return *privView_.view;
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
  vc_DofData table = p.dof_;
  vcGeorapidDOFList list;
  table.archive(ar, 0);
  vfSerializeDOFList(ar, nullptr, ar.isLoading() ? list : p.dofList_);
  double xu = p.xUncertainty_, yu = p.yUncertainty_, xyo = p.xyOverlap_, at = p.acceptThreshold_;
  int xyMode = p.xyUncertaintyMode_, fit = p.finalFitMode_, mode = p.dofMode_,
      strategy = p.runStrategy_, orderMode = p.runOrderMode_;
  int numToFind = static_cast<int>(p.numToFind_);
  ar || xu || yu || xyMode || xyo || numToFind || fit || at || mode || strategy || orderMode;
  // Loads into a copy, so a damaged archive leaves the parameters as they were.
  vc_InstanceParamSets<vcFlexSubModelRunParams> sets = p.sets_;
  sets.exchange(ar);
  std::vector<std::vector<long>> order = p.runOrder_;
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
  int candidates = static_cast<int>(p.maxCandidates_),
      combinations = static_cast<int>(p.maxCombinations_), misses = static_cast<int>(p.maxMisses_);
  double margin = p.candidateScoreMargin_, timeout = p.timeout_;
  if (version >= 2) ar || candidates || margin || combinations || misses || timeout;
  if (ar.isStoring()) return ar;
  // Older archives carry no bounds: the defaults hold.
  if (version < 2) {
    const vcFlexAlignRunParams defaults;
    candidates = static_cast<int>(defaults.maxCandidates_);
    margin = defaults.candidateScoreMargin_;
    combinations = static_cast<int>(defaults.maxCombinations_);
    misses = static_cast<int>(defaults.maxMisses_);
    timeout = defaults.timeout_;
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
  if (!(xu >= 0.0) || !(yu >= 0.0) || !(xyo >= 0.0 && xyo <= 1.0) || !(at >= 0.0 && at <= 1.0) ||
      numToFind <= 0)
    throw vcArchive::BadData("flxalign run parameters: a setting outside its range");
  const std::size_t expected = mode == Defs::eStandard || mode == Defs::eAdvanced ? 4 : list.size();
  if (table.numDofs() != expected || list.size() != expected)
    throw vcArchive::BadData("flxalign run parameters: DOF table does not match its DOF list");
  p.dof_ = std::move(table);
  p.dofList_ = std::move(list);
  p.xUncertainty_ = xu;
  p.yUncertainty_ = yu;
  p.xyUncertaintyMode_ = static_cast<Defs::XYUncertaintyMode>(xyMode);
  p.xyOverlap_ = xyo;
  p.numToFind_ = numToFind;
  p.finalFitMode_ = static_cast<Defs::FinalFitMode>(fit);
  p.acceptThreshold_ = at;
  p.dofMode_ = static_cast<Defs::DOFMode>(mode);
  p.runStrategy_ = static_cast<Defs::RunStrategy>(strategy);
  p.runOrderMode_ = static_cast<Defs::RunOrderMode>(orderMode);
  p.sets_ = std::move(sets);
  p.runOrder_ = std::move(order);
  p.maxCandidates_ = candidates;
  p.candidateScoreMargin_ = margin;
  p.maxCombinations_ = combinations;
  p.maxMisses_ = misses;
  p.timeout_ = timeout;
  return ar;
}
