// FlexAlign run parameters: run settings, zones and the sub-model run parameters.

#include <algorithm>
#include <set>

#include "flexalign/flxalign_archive.h"
#include "platform/core/vcText.h"
#include "vcFlexAlignTool.h"

namespace {

using Defs = vcFlexAlignDefs;
using Handle = vcPtrHandle_const<vcFlexSubModelRunParams>;

const char kUnknownDof[] = "Unknown DOF";

Handle cloneOf(const vcFlexSubModelRunParams& p) { return Handle(p.clone()); }

// The chains are built innermost first, so the list's first DOF pairs with the table's highest
// entry.
void buildStandard(vcGeorapidDOFList& list, vc_DofData& t) {
  list.assign(new vcGeorapidYScale(
      new vcGeorapidXScale(new vcGeorapidScale(new vcGeorapidAngle(nullptr, 1), 1), 1), 1));
  t = vc_DofData(4);
  t.setAll(Defs::eAngle, 0.0, false, -45.0, 45.0, 360.0, vc_DofData::eAdditive);
  t.setAll(Defs::eUniformScale, 1.0, false, 0.8, 1.2, 1.4, vc_DofData::eMultiplicative);
  t.setAll(Defs::eXScale, 1.0, false, 0.8, 1.2, 1.4, vc_DofData::eMultiplicative);
  t.setAll(Defs::eYScale, 1.0, false, 0.8, 1.2, 1.4, vc_DofData::eMultiplicative);
  t.setup(list);
}

void buildAdvanced(vcGeorapidDOFList& list, vc_DofData& t) {
  list.assign(new vcGeorapidAspectLinear(
      new vcGeorapidSkew(new vcGeorapidScaleLinear(new vcGeorapidAngle(nullptr, 1), 1), 1), 1));
  t = vc_DofData(4);
  t.setAll(Defs::eRotation, 0.0, false, -45.0, 45.0, 360.0, vc_DofData::eAdditive);
  t.setAll(Defs::eScale, 1.0, false, 0.8, 1.2, 1.4, vc_DofData::eMultiplicative);
  t.setAll(Defs::eSkew, 0.0, false, -10.0, 10.0, 30.0, vc_DofData::eAdditive);
  t.setAll(Defs::eAspect, 1.0, false, 0.8, 1.2, 1.4, vc_DofData::eMultiplicative);
  t.setup(list);
}

bool isSingleBit(unsigned long d) { return d != 0 && (d & (d - 1)) == 0; }

}  // namespace

vcFlexAlignRunParams::vcFlexAlignRunParams(const vcFlexSubModelRunParams& standard)
    : standard_(cloneOf(standard)) {
  buildStandard(dofList_, dof_);
}

vcFlexAlignRunParams::vcFlexAlignRunParams(const vcFlexAlignRunParams& o) { assign_(o); }

vcFlexAlignRunParams& vcFlexAlignRunParams::operator=(const vcFlexAlignRunParams& o) {
  if (this != &o) assign_(o);
  return *this;
}

vcFlexAlignRunParams::~vcFlexAlignRunParams() = default;

// Deep: zone table and DOF list are copied and every sub-model parameter set cloned again.
void vcFlexAlignRunParams::assign_(const vcFlexAlignRunParams& o) {
  Handle standard = cloneOf(o.standard());
  std::vector<Handle> custom;
  custom.reserve(o.custom_.size());
  for (const Handle& h : o.custom_) custom.push_back(cloneOf(*h));
  vcGeorapidDOFList list(o.dofList_);
  vc_DofData table(o.dof_);
  standard_ = standard;
  custom_ = std::move(custom);
  customIndices_ = o.customIndices_;
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
}

// ---- sub-model run parameters ----

const vcFlexSubModelRunParams& vcFlexAlignRunParams::standard() const { return *standard_; }

void vcFlexAlignRunParams::standard(const vcFlexSubModelRunParams& p) { standard_ = cloneOf(p); }

long vcFlexAlignRunParams::findCustom_(long index) const {
  for (std::size_t i = 0; i < customIndices_.size(); ++i)
    if (customIndices_[i] == index) return static_cast<long>(i);
  return -1;
}

void vcFlexAlignRunParams::custom(long index, const vcFlexSubModelRunParams& p) {
  if (index < 0) throw Defs::BadIndex();
  Handle h = cloneOf(p);
  const long at = findCustom_(index);
  if (at >= 0) {
    custom_[static_cast<std::size_t>(at)] = h;
  } else {
    custom_.push_back(h);
    customIndices_.push_back(index);
  }
}

const vcFlexSubModelRunParams& vcFlexAlignRunParams::custom(long index) const {
  const long at = index < 0 ? -1 : findCustom_(index);
  if (at < 0) throw Defs::BadIndex();
  return *custom_[static_cast<std::size_t>(at)];
}

const vcFlexSubModelRunParams& vcFlexAlignRunParams::subModelInstanceParams(long index) const {
  if (standard_.isNull()) throw Defs::InternalError();
  if (index < 0) throw Defs::BadIndex();
  const long at = findCustom_(index);
  return at >= 0 ? *custom_[static_cast<std::size_t>(at)] : *standard_;
}

void vcFlexAlignRunParams::restoreStandardParams(long index) {
  if (index < 0) throw Defs::BadIndex();
  const long at = findCustom_(index);
  if (at < 0) return;
  custom_.erase(custom_.begin() + at);
  customIndices_.erase(customIndices_.begin() + at);
}

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
  if (m == Defs::eStandard) buildStandard(list, table);
  if (m == Defs::eAdvanced) buildAdvanced(list, table);
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
  const vcFlexSubModelRunParams& a = *standard_;
  const vcFlexSubModelRunParams& b = *o.standard_;
  if (!(dof_ == o.dof_) || numToFind_ != o.numToFind_ || finalFitMode_ != o.finalFitMode_ ||
      dofMode_ != o.dofMode_ || runStrategy_ != o.runStrategy_ ||
      runOrderMode_ != o.runOrderMode_ || runOrder_ != o.runOrder_ ||
      xUncertainty_ != o.xUncertainty_ || yUncertainty_ != o.yUncertainty_ ||
      xyUncertaintyMode_ != o.xyUncertaintyMode_ || xyOverlap_ != o.xyOverlap_ ||
      customIndices_ != o.customIndices_ || acceptThreshold_ != o.acceptThreshold_ ||
      custom_.size() != o.custom_.size() || !dofList_.equal(o.dofList_, true) || !a.equal(b))
    return false;
  for (std::size_t i = 0; i < custom_.size(); ++i)
    if (!custom_[i]->equal(*o.custom_[i])) return false;
  return true;
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
  unsigned char version = 1;
  ar || version;
  if (version > 1) throw vcArchive::UnknownVersion(kSource, __LINE__);
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
  Handle standard = p.standard_;
  {
    auto* raw = const_cast<vcFlexSubModelRunParams*>(standard.ptr());
    serializePointer(ar, nullptr, raw);
    if (ar.isLoading()) standard = Handle(raw);
  }
  std::vector<long> indices = p.customIndices_;
  std::vector<Handle> custom = p.custom_;
  exchangeLongs(ar, indices, __LINE__);
  exchangeHandles(ar, custom, __LINE__);
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
  if (ar.isStoring()) return ar;
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
  if (standard.isNull() || indices.size() != custom.size())
    throw vcArchive::BadData("flxalign run parameters: missing or unmatched sub-model sets");
  for (const Handle& h : custom)
    if (h.isNull()) throw vcArchive::BadData("flxalign run parameters: empty custom set");
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
  p.standard_ = standard;
  p.customIndices_ = std::move(indices);
  p.custom_ = std::move(custom);
  p.runOrder_ = std::move(order);
  return ar;
}
