// Correlation sub-model training and run parameters and the correlation result.
#include <string>
#include <typeinfo>

#include "platform/core/vcArchive.h"
#include "platform/core/vcText.h"
#include "submodel_params/baseprms_util.h"
#include "vcFlexErrors.h"
#include "vcFlexSubModelParams.h"

namespace {

using Defs = vcFlexSubModelParamsDefs;

const char kUnknownDof[] = "Unknown DOF";
const char kOverlapMsg[] =
    "Illegal zoneOverlap value: must be >= 0.0 for angle DOF; must be >= 1.0 for scale DOFs";

// The engine searches angle and uniform scale only; the other two table entries exist so that
// the table has the same shape as the Geofind standard one.
void checkKey(const vc_DofData& t, long dof) {
  if (dof <= 0 || !t.validDof(static_cast<unsigned long>(dof), true))
    throw vcFlexAlignDefs::BadParams(kUnknownDof);
  if (dof == Defs::eXScale || dof == Defs::eYScale) throw vcFlexAlignDefs::NotImplemented();
}

void checkMask(const vc_DofData& t, unsigned long mask) {
  if (mask & (Defs::eXScale | Defs::eYScale)) throw vcFlexAlignDefs::NotImplemented();
  if (!t.validDof(mask, false)) throw vcFlexAlignDefs::BadParams(kUnknownDof);
}

vc_DofData defaultTable() {
  vc_DofData t(4);
  t.setAll(Defs::eAngle, 0.0, false, -45.0, 45.0, 360.0, vc_DofData::eAdditive);
  t.setAll(Defs::eUniformScale, 1.0, false, 0.8, 1.2, 1.4, vc_DofData::eMultiplicative);
  t.setAll(Defs::eXScale, 1.0, false, 0.8, 1.2, 0.0, vc_DofData::eMultiplicative);
  t.setAll(Defs::eYScale, 1.0, false, 0.8, 1.2, 0.0, vc_DofData::eMultiplicative);
  return t;
}

// A damaged archive must not leave a table that the accessors would index past.
void loadTable(vcArchive& ar, vc_DofData& t) {
  t.archive(ar, 0);
  if (ar.isLoading() && t.numDofs() != 4)
    throw vcArchive::BadData("correlation DOF table must hold 4 DOFs");
}

std::string enabledLines(unsigned long mask) {
  std::string s;
  if (mask & Defs::eAngle) s += kDbgSubIndent + "vcFlexSubModelParamsDefs::eAngle \n";
  if (mask & Defs::eUniformScale) s += kDbgSubIndent + "vcFlexSubModelParamsDefs::eUniformScale\n";
  return s;
}

std::string modeLine(Defs::XYUncertaintyMode m) {
  return kDbgSubIndent + (m == Defs::eRectangular ? "vcFlexSubModelParamsDefs::eRectangular\n"
                                                  : "vcFlexSubModelParamsDefs::eElliptical\n");
}

std::string pair(double a, double b) { return "(" + vfStr(a) + ", " + vfStr(b) + ")"; }

}  // namespace

// ---------------------------------------------------------------------------------------------
// vcFlexSubModelCorTrainParams

vcFlexSubModelCorTrainParams::vcFlexSubModelCorTrainParams()
    : coarseSteps_{5.0, 0.05, 0.05, 0.05},
      fineSteps_{0.5, 0.02, 0.02, 0.02},
      dof_(defaultTable()) {}

vcPtrHandle<vcFlexSubModelTrainParams> vcFlexSubModelCorTrainParams::clone() const {
  return new vcFlexSubModelCorTrainParams(*this);
}

bool vcFlexSubModelCorTrainParams::equal(const vcFlexSubModelTrainParams& other) const {
  if (typeid(other) != typeid(*this)) return false;
  return *this == static_cast<const vcFlexSubModelCorTrainParams&>(other);
}

bool vcFlexSubModelCorTrainParams::operator==(const vcFlexSubModelCorTrainParams& o) const {
  return vcFlexSubModelTrainParams::operator==(o) && coarseSteps_ == o.coarseSteps_ &&
         fineSteps_ == o.fineSteps_ && dof_ == o.dof_ && accuracies_ == o.accuracies_ &&
         coarseGrainLimit_ == o.coarseGrainLimit_;
}

void vcFlexSubModelCorTrainParams::accuracies(unsigned long a) {
  if (a == (vcFlexSubModelCorDefs::eCoarseAlign | vcFlexSubModelCorDefs::eFineAlign))
    throw vcFlexAlignDefs::NotImplemented();
  if (a != vcFlexSubModelCorDefs::eCoarseAlign && a != vcFlexSubModelCorDefs::eFineAlign)
    throw vcFlexAlignDefs::BadParams();
  mutating_();
  accuracies_ = a;
}

void vcFlexSubModelCorTrainParams::coarseGrainLimit(double g) {
  if (!(g >= 1.0 && g <= 25.5))
    throw vcFlexAlignDefs::BadParams("granularity must be >= 1.0 and <= 25.5");
  mutating_();
  coarseGrainLimit_ = g;
}

unsigned long vcFlexSubModelCorTrainParams::zoneAllowed() const { return dof_.getEnableFlags(); }

void vcFlexSubModelCorTrainParams::zoneAllowed(unsigned long mask) {
  checkMask(dof_, mask);
  mutating_();
  dof_.setEnableFlags(mask);
}

double vcFlexSubModelCorTrainParams::zoneMaxRangeStandard(Defs::StandardDOF dof) const {
  checkKey(dof_, dof);
  return dof_.getMaxOffset(dof);
}

void vcFlexSubModelCorTrainParams::zoneMaxRangeStandard(Defs::StandardDOF dof, double v) {
  checkKey(dof_, dof);
  const bool ok = dof == Defs::eAngle ? v >= 0.0 : (v >= 0.0 && v < 1.0);
  if (!ok) throw vcFlexAlignDefs::BadParams("Illegal max zone range value(s)");
  mutating_();
  dof_.setRangeOffsets(dof, -v, v);
}

double vcFlexSubModelCorTrainParams::coarseStep_(long dof) const {
  checkKey(dof_, dof);
  return coarseSteps_[static_cast<std::size_t>(vc_DofData::dof2Index(dof))];
}

double vcFlexSubModelCorTrainParams::fineStep_(long dof) const {
  checkKey(dof_, dof);
  return fineSteps_[static_cast<std::size_t>(vc_DofData::dof2Index(dof))];
}

void vcFlexSubModelCorTrainParams::stepSizes_(long dof, double coarse, double fine) {
  checkKey(dof_, dof);
  if (!(coarse > 0.0 && fine > 0.0 && fine < coarse))
    throw vcFlexAlignDefs::BadParams("Illegal step size(s): fine must be > 0.0 and < coarse");
  mutating_();
  const auto i = static_cast<std::size_t>(vc_DofData::dof2Index(dof));
  coarseSteps_[i] = coarse;
  fineSteps_[i] = fine;
}

double vcFlexSubModelCorTrainParams::zoneNominal_(long dof) const {
  checkKey(dof_, dof);
  return dof_.getNominal(dof);
}

void vcFlexSubModelCorTrainParams::zoneNominal_(long dof, double n) {
  checkKey(dof_, dof);
  if (dof == Defs::eUniformScale && !(n > 0.0))
    throw vcFlexAlignDefs::BadParams("Illegal range center value: center must be > 0.0");
  mutating_();
  dof_.setNominal(dof, n);
}

// An object built as the private class is its own private part; any other gets a view.
vc_SubModelCorTrainParams& vcFlexSubModelCorTrainParams::privData() {
  if (auto* self = dynamic_cast<vc_SubModelCorTrainParams*>(this)) return *self;
  if (!privView_.view) privView_.view = std::make_unique<vc_SubModelCorTrainParams>();
  privView_.view->owner_.owner = this;
  privView_.view->sync_();
  return *privView_.view;
}

const vc_SubModelCorTrainParams& vcFlexSubModelCorTrainParams::privData() const {
  return const_cast<vcFlexSubModelCorTrainParams&>(*this).privData();
}

vcFlexSubModelCorTrainParams::~vcFlexSubModelCorTrainParams() = default;

std::string vcFlexSubModelCorTrainParams::toDebugString() const {
  std::string s = vcFlexSubModelTrainParams::toDebugString();
  s += vfDbgLine("accuracies =  ", "");
  if (accuracies_ & vcFlexSubModelCorDefs::eCoarseAlign)
    s += kDbgSubIndent + "vcFlexSubModelCorDefs::eCoarseAlign \n";
  if (accuracies_ & vcFlexSubModelCorDefs::eFineAlign)
    s += kDbgSubIndent + "vcFlexSubModelCorDefs::eFineAlign \n";
  s += vfDbgLine("coarseGrainLimit = ", vfStr(coarseGrainLimit_));
  s += vfDbgLine("zoneAllowed = ", "");
  s += enabledLines(dof_.getEnableFlags());
  s += vfDbgLine("zoneMaxRange = ", "");
  s += kDbgSubIndent + "Angle: " + vfStr(dof_.getMaxOffset(Defs::eAngle)) + "\n";
  s += kDbgSubIndent + "Uniform Scale: " + vfStr(dof_.getMaxOffset(Defs::eUniformScale)) + "\n";
  s += vfDbgLine("zoneNominal = ", "");
  s += kDbgSubIndent + "Angle: " + vfStr(dof_.getNominal(Defs::eAngle)) + "\n";
  s += kDbgSubIndent + "Uniform Scale: " + vfStr(dof_.getNominal(Defs::eUniformScale)) + "\n";
  return s;
}

void vcFlexSubModelCorTrainParams::dispatchSerialize(vcArchive& ar) {
  if (ar.haveVisited(this, typeid(vcFlexSubModelCorTrainParams))) return;
  unsigned char version = 0;
  ar || version;
  serialize_(ar, version);
  ar.setVisited(this, typeid(vcFlexSubModelCorTrainParams));
}

void vcFlexSubModelCorTrainParams::serialize_(vcArchive& ar, unsigned char version) {
  vfExchangeLevelVersion(ar, version, "corprms", __LINE__);
  vcFlexSubModelTrainParams::dispatchSerialize(ar);
  vc_DofData table = dof_;
  double grain = coarseGrainLimit_;
  unsigned long acc = accuracies_;
  std::vector<double> coarse = coarseSteps_, fine = fineSteps_;
  loadTable(ar, table);
  ar || grain || acc;
  vfSerializeDoubles(ar, coarse);
  vfSerializeDoubles(ar, fine);
  if (ar.isLoading()) {
    if (coarse.size() != 4 || fine.size() != 4)
      throw vcArchive::BadData("correlation step lists must hold 4 values");
    mutating_();
    dof_ = table;
    coarseGrainLimit_ = grain;
    accuracies_ = acc;
    coarseSteps_ = coarse;
    fineSteps_ = fine;
  }
}

vcPersistent* vcFlexSubModelCorTrainParams::make() { return new vcFlexSubModelCorTrainParams; }

// ---------------------------------------------------------------------------------------------
// vcFlexSubModelCorRunParams

vcFlexSubModelCorRunParams::vcFlexSubModelCorRunParams() : dof_(defaultTable()) {}

vcFlexSubModelCorRunParams::vcFlexSubModelCorRunParams(const vcFlexSubModelCorRunParams& o) =
    default;

vcFlexSubModelCorRunParams& vcFlexSubModelCorRunParams::operator=(
    const vcFlexSubModelCorRunParams& o) = default;

vcPtrHandle<vcFlexSubModelRunParams> vcFlexSubModelCorRunParams::clone() const {
  return new vcFlexSubModelCorRunParams(*this);
}

bool vcFlexSubModelCorRunParams::equal(const vcFlexSubModelRunParams& other) const {
  if (typeid(other) != typeid(*this)) return false;
  return *this == static_cast<const vcFlexSubModelCorRunParams&>(other);
}

bool vcFlexSubModelCorRunParams::operator==(const vcFlexSubModelCorRunParams& o) const {
  return vcFlexSubModelRunParams::operator==(o) && neighborAccept_ == o.neighborAccept_ &&
         dof_ == o.dof_ && xUncertainty_ == o.xUncertainty_ && yUncertainty_ == o.yUncertainty_ &&
         xyOverlap_ == o.xyOverlap_ && partialMatch_ == o.partialMatch_ &&
         xyUncertaintyMode_ == o.xyUncertaintyMode_;
}

unsigned long vcFlexSubModelCorRunParams::zoneEnable() const { return dof_.getEnableFlags(); }

void vcFlexSubModelCorRunParams::zoneEnable(unsigned long mask) {
  checkMask(dof_, mask);
  mutating_();
  dof_.setEnableFlags(mask);
}

double vcFlexSubModelCorRunParams::zoneLowRelStandard(Defs::StandardDOF dof) const {
  checkKey(dof_, dof);
  return dof_.getMinOffset(dof);
}

double vcFlexSubModelCorRunParams::zoneHighRelStandard(Defs::StandardDOF dof) const {
  checkKey(dof_, dof);
  return dof_.getMaxOffset(dof);
}

void vcFlexSubModelCorRunParams::zoneRelStandard(Defs::StandardDOF dof, double low, double high) {
  checkKey(dof_, dof);
  if (dof == Defs::eUniformScale && !(low > -1.0 && low <= high))
    throw vcFlexAlignDefs::BadParams("Illegal relative zone value(s)");
  mutating_();
  dof_.setRangeOffsets(dof, low, high);
}

double vcFlexSubModelCorRunParams::zoneOverlapStandard(Defs::StandardDOF dof) const {
  checkKey(dof_, dof);
  return dof_.getOverlap(dof);
}

void vcFlexSubModelCorRunParams::zoneOverlapStandard(Defs::StandardDOF dof, double v) {
  checkKey(dof_, dof);
  const bool ok = dof == Defs::eAngle ? v >= 0.0 : v >= 1.0;
  if (!ok) throw vcFlexAlignDefs::BadParams(kOverlapMsg);
  mutating_();
  dof_.setOverlap(dof, v);
}

vc_SubModelZones vcFlexSubModelCorRunParams::searchZones() const {
  vc_SubModelZones z;
  z.set = vc_SubModelZones::eStandard;
  z.enabled = dof_.getEnableFlags() & (Defs::eAngle | Defs::eUniformScale);
  // Angle and uniform scale: bits 1 and 2.
  for (unsigned long i = 0; i < 2 && i < dof_.numDofs(); ++i) {
    z.low[i] = dof_.getMinOffset(1L << i);
    z.high[i] = dof_.getMaxOffset(1L << i);
  }
  return z;
}

void vcFlexSubModelCorRunParams::searchZone(long dof, double low, double high) {
  zoneRelStandard(static_cast<Defs::StandardDOF>(dof), low, high);
}

void vcFlexSubModelCorRunParams::expandSearchZone(long dof, double low, double high) {
  dof_.expandRelRange(dof, low, high);
}

void vcFlexSubModelCorRunParams::xyUncertainty(double x, double y) {
  if (!(x >= 0.0)) throw vcFlexAlignDefs::BadParams("Illegal x-translation uncertainty");
  if (!(y >= 0.0)) throw vcFlexAlignDefs::BadParams("Illegal y-translation uncertainty");
  mutating_();
  xUncertainty_ = x;
  yUncertainty_ = y;
}

void vcFlexSubModelCorRunParams::xyUncertaintyMode(Defs::XYUncertaintyMode m) {
  if (m != Defs::eElliptical && m != Defs::eRectangular)
    throw vcFlexAlignDefs::BadParams("Illegal xy-uncertainty mode");
  mutating_();
  xyUncertaintyMode_ = m;
}

void vcFlexSubModelCorRunParams::xyOverlap(double v) {
  if (!(v >= 0.0)) throw vcFlexAlignDefs::BadParams();
  mutating_();
  xyOverlap_ = v;
}

void vcFlexSubModelCorRunParams::partialMatch(const vcPelRect& r) {
  mutating_();
  partialMatch_ = r;
}

void vcFlexSubModelCorRunParams::neighborAcceptThreshold_(double v) {
  mutating_();
  neighborAccept_ = v;
}

vc_SubModelCorRunParams& vcFlexSubModelCorRunParams::privData() {
  if (auto* self = dynamic_cast<vc_SubModelCorRunParams*>(this)) return *self;
  if (!privView_.view) privView_.view = std::make_unique<vc_SubModelCorRunParams>();
  privView_.view->owner_.owner = this;
  privView_.view->sync_();
  return *privView_.view;
}

const vc_SubModelCorRunParams& vcFlexSubModelCorRunParams::privData() const {
  return const_cast<vcFlexSubModelCorRunParams&>(*this).privData();
}

vcFlexSubModelCorRunParams::~vcFlexSubModelCorRunParams() = default;

std::string vcFlexSubModelCorRunParams::toDebugString() const {
  std::string s = vcFlexSubModelRunParams::toDebugString();
  s += vfDbgLine("zoneEnable = ", "");
  s += enabledLines(dof_.getEnableFlags());
  s += vfDbgLine("zones = ", "");
  s += kDbgSubIndent + "Angle (relative to start pose): " +
       pair(dof_.getMinOffset(Defs::eAngle), dof_.getMaxOffset(Defs::eAngle)) + "\n";
  s += kDbgSubIndent + "Uniform Scale (relative to start pose): " +
       pair(dof_.getMinOffset(Defs::eUniformScale), dof_.getMaxOffset(Defs::eUniformScale)) + "\n";
  s += vfDbgLine("zoneOverlap = ", "");
  s += kDbgSubIndent + "Angle: " + vfStr(dof_.getOverlap(Defs::eAngle)) + "\n";
  s += kDbgSubIndent + "Uniform Scale: " + vfStr(dof_.getOverlap(Defs::eUniformScale)) + "\n";
  s += vfDbgLine("xyUncertaintyMode = ", "");
  s += modeLine(xyUncertaintyMode_);
  s += vfDbgLine("xUncertainty = ", vfStr(xUncertainty_));
  s += vfDbgLine("yUncertainty = ", vfStr(yUncertainty_));
  s += vfDbgLine("xyOverlap = ", vfStr(xyOverlap_));
  s += vfDbgLine("partialMatch = (", vfStr(partialMatch_.x()) + ", " + vfStr(partialMatch_.y()) +
                                         ", " + vfStr(partialMatch_.width()) + ", " +
                                         vfStr(partialMatch_.height()) + ")");
  return s;
}

void vcFlexSubModelCorRunParams::dispatchSerialize(vcArchive& ar) {
  if (ar.haveVisited(this, typeid(vcFlexSubModelCorRunParams))) return;
  unsigned char version = 0;
  ar || version;
  serialize_(ar, version);
  ar.setVisited(this, typeid(vcFlexSubModelCorRunParams));
}

void vcFlexSubModelCorRunParams::serialize_(vcArchive& ar, unsigned char version) {
  vfExchangeLevelVersion(ar, version, "corprms", __LINE__);
  vcFlexSubModelRunParams::dispatchSerialize(ar);
  vc_DofData table = dof_;
  double xu = xUncertainty_, yu = yUncertainty_, xyo = xyOverlap_, neighbor = neighborAccept_;
  vcPelRect partial = partialMatch_;
  unsigned long mode = static_cast<unsigned long>(xyUncertaintyMode_);
  loadTable(ar, table);
  ar || xu || yu || xyo || partial || neighbor || mode;
  if (ar.isLoading()) {
    if (mode != Defs::eElliptical && mode != Defs::eRectangular)
      throw vcArchive::BadData("archive holds an unknown xy-uncertainty mode");
    mutating_();
    dof_ = table;
    xUncertainty_ = xu;
    yUncertainty_ = yu;
    xyOverlap_ = xyo;
    partialMatch_ = partial;
    neighborAccept_ = neighbor;
    xyUncertaintyMode_ = static_cast<Defs::XYUncertaintyMode>(mode);
  }
}

vcPersistent* vcFlexSubModelCorRunParams::make() { return new vcFlexSubModelCorRunParams; }

// ---------------------------------------------------------------------------------------------
// vcFlexSubModelCorResult (the overlap and uncertainty decisions are in corprms_match.cpp)

vcPtrHandle<vcFlexSubModelResult> vcFlexSubModelCorResult::clone() const {
  return new vcFlexSubModelCorResult(*this);
}

void vcFlexSubModelCorResult::dispatchSerialize(vcArchive& ar) {
  if (ar.haveVisited(this, typeid(vcFlexSubModelCorResult))) return;
  unsigned char version = 0;
  ar || version;
  serialize_(ar, version);
  ar.setVisited(this, typeid(vcFlexSubModelCorResult));
}

void vcFlexSubModelCorResult::serialize_(vcArchive& ar, unsigned char version) {
  vfExchangeLevelVersion(ar, version, "corprms", __LINE__);
  vcFlexSubModelResult::dispatchSerialize(ar);
}

vcPersistent* vcFlexSubModelCorResult::make() { return new vcFlexSubModelCorResult; }
