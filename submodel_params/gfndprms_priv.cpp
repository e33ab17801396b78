// The private Geofind run parameters: the custom DOF mode, in which the caller supplies the
// engine DOF list and sets absolute ranges per DOF.
#include <typeinfo>

#include "platform/core/vcArchive.h"
#include "submodel_params/baseprms_util.h"
#include "vcFlexErrors.h"
#include "vcFlexSubModelParams.h"

using GDefs = vcFlexSubModelGfndDefs;

vcPtrHandle<vcFlexSubModelRunParams> vc_SubModelGfndRunParams::clone() const {
  return new vc_SubModelGfndRunParams(*this);
}

void vc_SubModelGfndRunParams::dofMode(GDefs::DOFMode m) {
  if (m != GDefs::eStandard && m != GDefs::eAdvanced && m != GDefs::eCustom)
    throw vcFlexAlignDefs::BadParams();
  dst_().setDofMode_(m);
  sync_();
}

void vc_SubModelGfndRunParams::customDofList(const vcGeorapidDOFList& list) {
  dst_().customDofList_(list);
  sync_();
}

double vc_SubModelGfndRunParams::zoneLow(long key) const {
  src_().checkCustom_(key);
  return src_().dof_.getMin(key);
}

double vc_SubModelGfndRunParams::zoneHigh(long key) const {
  src_().checkCustom_(key);
  return src_().dof_.getMax(key);
}

void vc_SubModelGfndRunParams::zone(long key, double low, double high) {
  vcFlexSubModelGfndRunParams& d = dst_();
  d.checkCustom_(key);
  d.mutating_();
  d.dof_.setRange(key, low, high);
  sync_();
}

double vc_SubModelGfndRunParams::zoneOverlapCustom(long key) const {
  src_().checkCustom_(key);
  return src_().dof_.getOverlap(key);
}

void vc_SubModelGfndRunParams::zoneOverlapCustom(long key, double v) {
  vcFlexSubModelGfndRunParams& d = dst_();
  d.checkCustom_(key);
  d.mutating_();
  d.dof_.setOverlap(key, v);
  sync_();
}

void vc_SubModelGfndRunParams::dispatchSerialize(vcArchive& ar) {
  // Marked only after the public level is done, so an equal size cannot hide that level.
  if (ar.haveVisited(this, typeid(vc_SubModelGfndRunParams))) return;
  unsigned char version = 0;
  ar || version;
  serialize_(ar, version);
  ar.setVisited(this, typeid(vc_SubModelGfndRunParams));
}

void vc_SubModelGfndRunParams::serialize_(vcArchive& ar, unsigned char version) {
  vfExchangeLevelVersion(ar, version, "gfndprms_priv", __LINE__);
  vcFlexSubModelGfndRunParams::dispatchSerialize(ar);
}

vcPersistent* vc_SubModelGfndRunParams::make() { return new vc_SubModelGfndRunParams; }
