// Geofind sub-model training and run parameters and the Geofind result.
#include <string>
#include <typeinfo>

#include "engines/geofind/vcGFAlign.h"
#include "platform/core/vcArchive.h"
#include "platform/core/vcText.h"
#include "submodel_params/baseprms_util.h"
#include "submodel_params/gfndprms_pack.h"
#include "vcFlexErrors.h"
#include "vcFlexSubModelParams.h"

namespace {

using Defs = vcFlexSubModelParamsDefs;
using GDefs = vcFlexSubModelGfndDefs;

const char kUnknownDof[] = "Unknown DOF";
const char kNoCustomList[] = "Custom DOF list has not been initialized";

void buildMode(GDefs::DOFMode m, vcGeorapidDOFList& list, vc_DofData& t) {
  if (m == GDefs::eStandard) {
    vfBuildStandardZones(list, t);
  } else if (m == GDefs::eAdvanced) {
    vfBuildAdvancedZones(list, t, 5.0);
  } else {
    list.clear();  // custom: the caller supplies the list
    t = vc_DofData(0);
  }
}

std::string algorithmName(unsigned long a) {
  return a == GDefs::eGeofind ? "vcFlexSubModelGfndDefs::eGeofind"
                              : "vcFlexSubModelGfndDefs::eGeorapid";
}

std::string modeName(GDefs::DOFMode m) {
  switch (m) {
    case GDefs::eStandard:
      return "vcFlexSubModelGfndDefs::eStandard";
    case GDefs::eAdvanced:
      return "vcFlexSubModelGfndDefs::eAdvanced";
    default:
      return "vcFlexSubModelGfndDefs::eCustom";
  }
}

std::string pair(double a, double b) { return "(" + vfStr(a) + ", " + vfStr(b) + ")"; }

}  // namespace

// ---------------------------------------------------------------------------------------------
// vcFlexSubModelGfndTrainParams

vcPtrHandle<vcFlexSubModelTrainParams> vcFlexSubModelGfndTrainParams::clone() const {
  return new vcFlexSubModelGfndTrainParams(*this);
}

bool vcFlexSubModelGfndTrainParams::equal(const vcFlexSubModelTrainParams& other) const {
  if (typeid(other) != typeid(*this)) return false;
  return *this == static_cast<const vcFlexSubModelGfndTrainParams&>(other);
}

bool vcFlexSubModelGfndTrainParams::operator==(const vcFlexSubModelGfndTrainParams& o) const {
  return vcFlexSubModelTrainParams::operator==(o) && ignorePolarity_ == o.ignorePolarity_ &&
         autoSelectGrainLimits_ == o.autoSelectGrainLimits_ && elasticity_ == o.elasticity_ &&
         coarseGrainLimit_ == o.coarseGrainLimit_ && fineGrainLimit_ == o.fineGrainLimit_ &&
         algorithms_ == o.algorithms_ && customizeString_ == o.customizeString_;
}

void vcFlexSubModelGfndTrainParams::ignorePolarity(bool v) {
  mutating_();
  ignorePolarity_ = v;
}

void vcFlexSubModelGfndTrainParams::autoSelectGrainLimits(bool v) {
  mutating_();
  autoSelectGrainLimits_ = v;
}

void vcFlexSubModelGfndTrainParams::elasticity(double e) {
  if (!(e >= 0.0)) throw vcFlexAlignDefs::BadParams("Illegal elasticity value: must be >= 0");
  mutating_();
  elasticity_ = e;
}

void vcFlexSubModelGfndTrainParams::grainLimits(float coarse, float fine) {
  const bool ok =
      coarse >= 1.0f && coarse <= 25.5f && fine >= 1.0f && fine <= 25.5f && fine <= coarse;
  if (!ok)
    throw vcFlexAlignDefs::BadParams(
        "Illegal grainLimits value(s): must be >= 1.0 and <= 25.5, also fine must be <= coarse");
  mutating_();
  coarseGrainLimit_ = coarse;
  fineGrainLimit_ = fine;
}

void vcFlexSubModelGfndTrainParams::algorithms(unsigned long a) {
  if (a < 1 || a > 3) throw vcFlexAlignDefs::BadParams();
  mutating_();
  algorithms_ = a;
}

void vcFlexSubModelGfndTrainParams::customize(const std::string& text) {
  mutating_();
  customizeString_ = text;
}

void vcFlexSubModelGfndTrainParams::customizeFromFile(const std::string& path) {
  std::string text;
  // Every failure of the reader surfaces as the library's exception for its status.
  vfThrowExceptionOnFailure(vcParamAccess::readFileCustomPack(path, text, nullptr));
  customize(text);
}

std::string vcFlexSubModelGfndTrainParams::toDebugString() const {
  std::string s = vcFlexSubModelTrainParams::toDebugString();
  std::string alg;
  for (unsigned long bit : {1ul, 2ul}) {
    if (!(algorithms_ & bit)) continue;
    alg += (alg.empty() ? "" : kDbgSubIndent) + algorithmName(bit) + " \n";
  }
  s += kDbgIndent + "algorithms = " + (alg.empty() ? std::string("\n") : alg);
  s += vfDbgLine("ignorePolarity = ", vfStr(ignorePolarity_));
  s += vfDbgLine("autoSelectGrainLimits = ", vfStr(autoSelectGrainLimits_));
  s += vfDbgLine("coarseGrainLimit = ", vfStr(coarseGrainLimit_));
  s += vfDbgLine("fineGrainLimit = ", vfStr(fineGrainLimit_));
  s += vfDbgLine("customizeString = ", customizeString_);
  return s;
}

void vcFlexSubModelGfndTrainParams::dispatchSerialize(vcArchive& ar) {
  if (ar.haveVisited(this, typeid(vcFlexSubModelGfndTrainParams))) return;
  unsigned char version = 0;
  ar || version;
  serialize_(ar, version);
  ar.setVisited(this, typeid(vcFlexSubModelGfndTrainParams));
}

void vcFlexSubModelGfndTrainParams::serialize_(vcArchive& ar, unsigned char version) {
  vfExchangeLevelVersion(ar, version, "gfndprms", __LINE__);
  vcFlexSubModelTrainParams::dispatchSerialize(ar);
  unsigned long alg = algorithms_;
  bool polarity = ignorePolarity_, autoGrain = autoSelectGrainLimits_;
  double elasticity = elasticity_, coarse = coarseGrainLimit_, fine = fineGrainLimit_;
  std::string custom = customizeString_;
  ar || alg || polarity || elasticity || autoGrain || coarse || fine || custom;
  if (ar.isLoading()) {
    if (alg < 1 || alg > 3) throw vcArchive::BadData("archive holds unknown Geofind algorithms");
    mutating_();
    algorithms_ = alg;
    ignorePolarity_ = polarity;
    elasticity_ = elasticity;
    autoSelectGrainLimits_ = autoGrain;
    coarseGrainLimit_ = coarse;
    fineGrainLimit_ = fine;
    customizeString_ = custom;
  }
}

vcPersistent* vcFlexSubModelGfndTrainParams::make() { return new vcFlexSubModelGfndTrainParams; }

// ---------------------------------------------------------------------------------------------
// vcFlexSubModelGfndRunParams

vcFlexSubModelGfndRunParams::vcFlexSubModelGfndRunParams() { vfBuildStandardZones(dofList_, dof_); }

vcFlexSubModelGfndRunParams::vcFlexSubModelGfndRunParams(const vcFlexSubModelGfndRunParams& o) =
    default;

vcFlexSubModelGfndRunParams& vcFlexSubModelGfndRunParams::operator=(
    const vcFlexSubModelGfndRunParams& o) = default;

vcPtrHandle<vcFlexSubModelRunParams> vcFlexSubModelGfndRunParams::clone() const {
  return new vcFlexSubModelGfndRunParams(*this);
}

bool vcFlexSubModelGfndRunParams::equal(const vcFlexSubModelRunParams& other) const {
  if (typeid(other) != typeid(*this)) return false;
  return *this == static_cast<const vcFlexSubModelGfndRunParams&>(other);
}

bool vcFlexSubModelGfndRunParams::operator==(const vcFlexSubModelGfndRunParams& o) const {
  return vcFlexSubModelRunParams::operator==(o) && contrastThreshold_ == o.contrastThreshold_ &&
         xUncertainty_ == o.xUncertainty_ && yUncertainty_ == o.yUncertainty_ &&
         xyOverlap_ == o.xyOverlap_ && scoreUsingClutter_ == o.scoreUsingClutter_ &&
         saveMatchInfo_ == o.saveMatchInfo_ && algorithm_ == o.algorithm_ &&
         xyUncertaintyMode_ == o.xyUncertaintyMode_ && dofList_.equal(o.dofList_, true) &&
         dof_ == o.dof_ && dofMode_ == o.dofMode_;
}

void vcFlexSubModelGfndRunParams::contrastThreshold(double v) {
  if (!(v >= 0.0))
    throw vcFlexAlignDefs::BadParams("Illegal contrastThreshold value: must be >= 0.0");
  mutating_();
  contrastThreshold_ = v;
}

void vcFlexSubModelGfndRunParams::xyUncertainty(double x, double y) {
  if (!(x >= 0.0)) throw vcFlexAlignDefs::BadParams("Illegal x-translation uncertainty");
  if (!(y >= 0.0)) throw vcFlexAlignDefs::BadParams("Illegal y-translation uncertainty");
  mutating_();
  xUncertainty_ = x;
  yUncertainty_ = y;
}

void vcFlexSubModelGfndRunParams::xyOverlap(double v) {
  if (!(v >= 0.0 && v <= 1.0))
    throw vcFlexAlignDefs::BadParams("Illegal xyOverlap value: must be >= 0.0 and <= 1.0");
  mutating_();
  xyOverlap_ = v;
}

void vcFlexSubModelGfndRunParams::scoreUsingClutter(bool v) {
  mutating_();
  scoreUsingClutter_ = v;
}

void vcFlexSubModelGfndRunParams::saveMatchInfo(bool v) {
  mutating_();
  saveMatchInfo_ = v;
}

void vcFlexSubModelGfndRunParams::algorithm(GDefs::Algorithm a) {
  if (a != GDefs::eGeorapid && a != GDefs::eGeofind) throw vcFlexAlignDefs::BadParams();
  mutating_();
  algorithm_ = a;
}

void vcFlexSubModelGfndRunParams::xyUncertaintyMode(Defs::XYUncertaintyMode m) {
  if (m != Defs::eElliptical && m != Defs::eRectangular)
    throw vcFlexAlignDefs::BadParams("Illegal xy-uncertainty mode");
  mutating_();
  xyUncertaintyMode_ = m;
}

void vcFlexSubModelGfndRunParams::dofMode(GDefs::DOFMode m) {
  if (m != GDefs::eStandard && m != GDefs::eAdvanced) throw vcFlexAlignDefs::BadParams();
  setDofMode_(m);
}

void vcFlexSubModelGfndRunParams::setDofMode_(GDefs::DOFMode m) {
  if (m == dofMode_) return;
  vcGeorapidDOFList list;
  vc_DofData table;
  buildMode(m, list, table);
  mutating_();
  dofList_ = std::move(list);
  dof_ = std::move(table);
  dofMode_ = m;
}

void vcFlexSubModelGfndRunParams::checkZone_(GDefs::DOFMode mode, long dof) const {
  if (dofMode_ != mode) throw vcFlexAlignDefs::WrongDOFMode();
  if (dof <= 0 || !dof_.validDof(static_cast<unsigned long>(dof), true))
    throw vcFlexAlignDefs::BadParams(kUnknownDof);
}

void vcFlexSubModelGfndRunParams::relZone_(GDefs::DOFMode mode, long dof, double low, double high) {
  checkZone_(mode, dof);
  // Angles and skew take any offsets; factors must stay positive and ordered.
  if (dof_.getMode(dof) == vc_DofData::eMultiplicative && !(low > -1.0 && low <= high))
    throw vcFlexAlignDefs::BadParams("Illegal relative zone value(s)");
  mutating_();
  dof_.setRangeOffsets(dof, low, high);
}

void vcFlexSubModelGfndRunParams::overlap_(GDefs::DOFMode mode, long dof, double v,
                                           const char* msg) {
  checkZone_(mode, dof);
  const double least = dof_.getMode(dof) == vc_DofData::eMultiplicative ? 1.0 : 0.0;
  if (!(v >= least)) throw vcFlexAlignDefs::BadParams(msg);
  mutating_();
  dof_.setOverlap(dof, v);
}

double vcFlexSubModelGfndRunParams::zoneLowRelStandard(Defs::StandardDOF dof) const {
  checkZone_(GDefs::eStandard, dof);
  return dof_.getMinOffset(dof);
}

double vcFlexSubModelGfndRunParams::zoneHighRelStandard(Defs::StandardDOF dof) const {
  checkZone_(GDefs::eStandard, dof);
  return dof_.getMaxOffset(dof);
}

void vcFlexSubModelGfndRunParams::zoneRelStandard(Defs::StandardDOF dof, double low, double high) {
  relZone_(GDefs::eStandard, dof, low, high);
}

double vcFlexSubModelGfndRunParams::zoneOverlapStandard(Defs::StandardDOF dof) const {
  checkZone_(GDefs::eStandard, dof);
  return dof_.getOverlap(dof);
}

void vcFlexSubModelGfndRunParams::zoneOverlapStandard(Defs::StandardDOF dof, double v) {
  overlap_(GDefs::eStandard, dof, v,
           "Illegal zoneOverlap value: must be >= 0.0 for angle DOF; must be >= 1.0 for scale "
           "DOFs");
}

double vcFlexSubModelGfndRunParams::zoneLowRelAdvanced(Defs::AdvancedDOF dof) const {
  checkZone_(GDefs::eAdvanced, dof);
  return dof_.getMinOffset(dof);
}

double vcFlexSubModelGfndRunParams::zoneHighRelAdvanced(Defs::AdvancedDOF dof) const {
  checkZone_(GDefs::eAdvanced, dof);
  return dof_.getMaxOffset(dof);
}

void vcFlexSubModelGfndRunParams::zoneRelAdvanced(Defs::AdvancedDOF dof, double low, double high) {
  relZone_(GDefs::eAdvanced, dof, low, high);
}

double vcFlexSubModelGfndRunParams::zoneOverlapAdvanced(Defs::AdvancedDOF dof) const {
  checkZone_(GDefs::eAdvanced, dof);
  return dof_.getOverlap(dof);
}

void vcFlexSubModelGfndRunParams::zoneOverlapAdvanced(Defs::AdvancedDOF dof, double v) {
  overlap_(GDefs::eAdvanced, dof, v,
           "Illegal zoneOverlap value: must be >= 0.0 for angle and skew DOF; must be >= 1.0 for "
           "scale and aspect DOF");
}

vc_SubModelZones vcFlexSubModelGfndRunParams::searchZones() const {
  vc_SubModelZones z;
  switch (dofMode_) {
    case GDefs::eStandard:
      z.set = vc_SubModelZones::eStandard;
      break;
    case GDefs::eAdvanced:
      z.set = vc_SubModelZones::eAdvanced;
      break;
    default:
      z.set = vc_SubModelZones::eCustom;
      return z;
  }
  z.enabled = dof_.getEnableFlags();
  for (unsigned long i = 0; i < 4 && i < dof_.numDofs(); ++i) {
    z.low[i] = dof_.getMinOffset(1L << i);
    z.high[i] = dof_.getMaxOffset(1L << i);
  }
  return z;
}

void vcFlexSubModelGfndRunParams::searchZone(long dof, double low, double high) {
  if (dofMode_ == GDefs::eAdvanced)
    zoneRelAdvanced(static_cast<Defs::AdvancedDOF>(dof), low, high);
  else
    zoneRelStandard(static_cast<Defs::StandardDOF>(dof), low, high);
}

void vcFlexSubModelGfndRunParams::expandSearchZone(long dof, double low, double high) {
  dof_.expandRelRange(dof, low, high);
}

unsigned long vcFlexSubModelGfndRunParams::zoneEnable() const {
  if (dofMode_ == GDefs::eCustom && dofList_.empty())
    throw vcFlexAlignDefs::BadParams(kNoCustomList);
  return dof_.getEnableFlags();
}

void vcFlexSubModelGfndRunParams::zoneEnable(unsigned long mask) {
  if (dofMode_ == GDefs::eCustom && dofList_.empty())
    throw vcFlexAlignDefs::BadParams(kNoCustomList);
  if (!dof_.validDof(mask, false)) throw vcFlexAlignDefs::BadParams(kUnknownDof);
  mutating_();
  dof_.setEnableFlags(mask);
}

void vcFlexSubModelGfndRunParams::checkCustom_(long key) const {
  if (dofMode_ != GDefs::eCustom) throw vcFlexAlignDefs::WrongDOFMode();
  if (dofList_.empty()) throw vcFlexAlignDefs::BadParams(kNoCustomList);
  if (key <= 0 || !dof_.validDof(static_cast<unsigned long>(key), true))
    throw vcFlexAlignDefs::BadParams(kUnknownDof);
}

void vcFlexSubModelGfndRunParams::customDofList_(const vcGeorapidDOFList& list) {
  if (dofMode_ != GDefs::eCustom) throw vcFlexAlignDefs::WrongDOFMode();
  const std::size_t n = list.size();
  // Keys are single bits of a signed 32-bit value.
  if (n > 31) throw vcFlexAlignDefs::BadParams("Custom DOF list holds too many DOFs");
  vcGeorapidDOFList copy(list);
  vc_DofData table(n);
  for (std::size_t k = 0; k < n; ++k)
    table.setAll(1L << k, 0.0, false, 0.0, 0.0, 1.0, vc_DofData::eAdditive);
  mutating_();
  dofList_ = std::move(copy);
  dof_ = std::move(table);
}

// An object built as the private class is its own private part; any other gets a view.
vc_SubModelGfndRunParams& vcFlexSubModelGfndRunParams::privData() {
  if (auto* self = dynamic_cast<vc_SubModelGfndRunParams*>(this)) return *self;
  if (!privView_.view) privView_.view = std::make_unique<vc_SubModelGfndRunParams>();
  privView_.view->owner_.owner = this;
  privView_.view->sync_();
  return *privView_.view;
}

const vc_SubModelGfndRunParams& vcFlexSubModelGfndRunParams::privData() const {
  return const_cast<vcFlexSubModelGfndRunParams&>(*this).privData();
}

vcFlexSubModelGfndRunParams::~vcFlexSubModelGfndRunParams() = default;

std::string vcFlexSubModelGfndRunParams::toDebugString() const {
  std::string s = vcFlexSubModelRunParams::toDebugString();
  s += vfDbgLine("algorithm = ", algorithmName(algorithm_));
  s += vfDbgLine("contrastThreshold = ", vfStr(contrastThreshold_));
  s += vfDbgLine("scoreUsingClutter = ", vfStr(scoreUsingClutter_));
  s += vfDbgLine("dofMode = ", "");
  s += kDbgSubIndent + modeName(dofMode_) + "\n";
  s += vfDbgLine("zoneEnable = ", "");
  s += kDbgSubIndent + vfStr(dof_.getEnableFlags()) + "\n";
  static const char* const kStandard[] = {"Angle", "Uniform Scale", "X-Scale", "Y-Scale"};
  static const char* const kAdvanced[] = {"Rotation", "Scale", "Skew", "Aspect"};
  const unsigned long n = dof_.numDofs();
  for (unsigned long k = 0; k < n; ++k) {
    const long key = 1L << k;
    if (dofMode_ == GDefs::eCustom) {
      s += kDbgSubIndent + "DOF #" + vfStr(k + 1) +
           " range (absolute): " + pair(dof_.getMin(key), dof_.getMax(key)) +
           " overlap: " + vfStr(dof_.getOverlap(key)) + "\n";
    } else {
      const char* name = (dofMode_ == GDefs::eStandard ? kStandard : kAdvanced)[k % 4];
      s += kDbgSubIndent + name +
           " (relative): " + pair(dof_.getMinOffset(key), dof_.getMaxOffset(key)) + "\n";
    }
  }
  s += vfDbgLine("zoneOverlap = ", "");
  if (dofMode_ != GDefs::eCustom) {
    for (unsigned long k = 0; k < n; ++k) {
      const char* name = (dofMode_ == GDefs::eStandard ? kStandard : kAdvanced)[k % 4];
      s += kDbgSubIndent + name + ": " + vfStr(dof_.getOverlap(1L << k)) + "\n";
    }
  }
  s += vfDbgLine("xyUncertaintyMode = ", "");
  s += kDbgSubIndent + (xyUncertaintyMode_ == Defs::eRectangular
                            ? "vcFlexSubModelParamsDefs::eRectangular\n"
                            : "vcFlexSubModelParamsDefs::eElliptical\n");
  s += vfDbgLine("xUncertainty = ", vfStr(xUncertainty_));
  s += vfDbgLine("yUncertainty = ", vfStr(yUncertainty_));
  s += vfDbgLine("xyOverlap = ", vfStr(xyOverlap_));
  s += vfDbgLine("saveMatchInfo = ", vfStr(saveMatchInfo_));
  return s;
}

void vcFlexSubModelGfndRunParams::dispatchSerialize(vcArchive& ar) {
  if (ar.haveVisited(this, typeid(vcFlexSubModelGfndRunParams))) return;
  unsigned char version = 0;
  ar || version;
  serialize_(ar, version);
  ar.setVisited(this, typeid(vcFlexSubModelGfndRunParams));
}

void vcFlexSubModelGfndRunParams::serialize_(vcArchive& ar, unsigned char version) {
  vfExchangeLevelVersion(ar, version, "gfndprms", __LINE__);
  vcFlexSubModelRunParams::dispatchSerialize(ar);
  vc_DofData table = dof_;
  vcGeorapidDOFList loadedList;
  unsigned long mode = dofMode_, xyMode = xyUncertaintyMode_, alg = algorithm_;
  double contrast = contrastThreshold_, xu = xUncertainty_, yu = yUncertainty_, xyo = xyOverlap_;
  bool clutter = scoreUsingClutter_, matchInfo = saveMatchInfo_;
  table.archive(ar, 0);
  // The DOF list travels as the engine's persistent pointer chain.
  vfSerializeDOFList(ar, this, ar.isLoading() ? loadedList : dofList_);
  ar || mode || contrast || xu || yu || xyMode || xyo || clutter || alg || matchInfo;
  if (!ar.isLoading()) return;
  if (mode < GDefs::eStandard || mode > GDefs::eCustom)
    throw vcArchive::BadData("archive holds an unknown DOF mode");
  if (xyMode != Defs::eElliptical && xyMode != Defs::eRectangular)
    throw vcArchive::BadData("archive holds an unknown xy-uncertainty mode");
  if (alg != GDefs::eGeorapid && alg != GDefs::eGeofind)
    throw vcArchive::BadData("archive holds an unknown Geofind algorithm");
  // The accessors index the table by DOF bit and the table configures the list: both must
  // describe the same DOFs.
  const std::size_t expected = mode == GDefs::eCustom ? loadedList.size() : 4;
  if (table.numDofs() != expected || loadedList.size() != expected)
    throw vcArchive::BadData("archive holds a DOF table that does not match its DOF list");
  mutating_();
  dof_ = std::move(table);
  dofList_ = std::move(loadedList);
  dofMode_ = static_cast<GDefs::DOFMode>(mode);
  contrastThreshold_ = contrast;
  xUncertainty_ = xu;
  yUncertainty_ = yu;
  xyUncertaintyMode_ = static_cast<Defs::XYUncertaintyMode>(xyMode);
  xyOverlap_ = xyo;
  scoreUsingClutter_ = clutter;
  algorithm_ = static_cast<GDefs::Algorithm>(alg);
  saveMatchInfo_ = matchInfo;
}

vcPersistent* vcFlexSubModelGfndRunParams::make() { return new vcFlexSubModelGfndRunParams; }

// ---------------------------------------------------------------------------------------------
// vcFlexSubModelGfndResult (the overlap and uncertainty decisions are in gfndprms_match.cpp)

vcFlexSubModelGfndResult::vcFlexSubModelGfndResult(const vcFlexSubModelGfndResult& o)
    : vcPersistent(o),
      vcFlexSubModelResult(o),
      contrast_(o.contrast_),
      fitError_(o.fitError_),
      coverage_(o.coverage_),
      clutter_(o.clutter_),
      matchInfo_(o.matchInfo_ ? new vcGFAlignResult(*o.matchInfo_) : nullptr),
      dofValues_(o.dofValues_) {}

vcFlexSubModelGfndResult& vcFlexSubModelGfndResult::operator=(const vcFlexSubModelGfndResult& o) {
  if (this == &o) return *this;
  vcGFAlignResult* info = o.matchInfo_ ? new vcGFAlignResult(*o.matchInfo_) : nullptr;
  try {
    vcFlexSubModelResult::operator=(o);
  } catch (...) {
    delete info;
    throw;
  }
  contrast_ = o.contrast_;
  fitError_ = o.fitError_;
  coverage_ = o.coverage_;
  clutter_ = o.clutter_;
  delete matchInfo_;
  matchInfo_ = info;
  dofValues_ = o.dofValues_;
  return *this;
}

vcFlexSubModelGfndResult::~vcFlexSubModelGfndResult() { delete matchInfo_; }

vcPtrHandle<vcFlexSubModelResult> vcFlexSubModelGfndResult::clone() const {
  return new vcFlexSubModelGfndResult(*this);
}

void vcFlexSubModelGfndResult::measures(double contrast, double fitError, double coverage,
                                        double clutter) {
  mutating_();
  contrast_ = contrast;
  fitError_ = fitError;
  coverage_ = coverage;
  clutter_ = clutter;
}

void vcFlexSubModelGfndResult::dofValues(const std::vector<double>& v) {
  mutating_();
  dofValues_ = v;
}

void vcFlexSubModelGfndResult::matchInfo(const vcGFAlignResult* r) {
  vcGFAlignResult* copy = r ? new vcGFAlignResult(*r) : nullptr;
  mutating_();
  delete matchInfo_;
  matchInfo_ = copy;
}

std::string vcFlexSubModelGfndResult::toDebugString() const {
  std::string s = vcFlexSubModelResult::toDebugString();
  s += vfDbgLine("contrast = ", vfDbl(contrast_, 3));
  s += vfDbgLine("fitError = ", vfDbl(fitError_, 3));
  s += vfDbgLine("coverage = ", vfDbl(coverage_, 3));
  s += vfDbgLine("clutter = ", vfDbl(clutter_, 3));
  return s;
}

void vcFlexSubModelGfndResult::dispatchSerialize(vcArchive& ar) {
  if (ar.haveVisited(this, typeid(vcFlexSubModelGfndResult))) return;
  unsigned char version = 0;
  ar || version;
  serialize_(ar, version);
  ar.setVisited(this, typeid(vcFlexSubModelGfndResult));
}

// The engine's match information is a run-time aid and is not archived.
void vcFlexSubModelGfndResult::serialize_(vcArchive& ar, unsigned char version) {
  vfExchangeLevelVersion(ar, version, "gfndprms", __LINE__);
  vcFlexSubModelResult::dispatchSerialize(ar);
  double contrast = contrast_, fitError = fitError_, coverage = coverage_, clutter = clutter_;
  std::vector<double> values = dofValues_;
  ar || contrast || fitError || coverage || clutter;
  vfSerializeDoubles(ar, values);
  if (ar.isLoading()) {
    mutating_();
    contrast_ = contrast;
    fitError_ = fitError;
    coverage_ = coverage;
    clutter_ = clutter;
    dofValues_ = std::move(values);
  }
}

vcPersistent* vcFlexSubModelGfndResult::make() { return new vcFlexSubModelGfndResult; }

void vcFlexSubModelGfndResult::drawMatch(vcGraphicList& list) const {
  if (matchInfo_) matchInfo_->draw(list);
}
