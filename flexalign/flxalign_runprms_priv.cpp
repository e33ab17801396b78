// The custom DOF mode of the FlexAlign run parameters.

#include "vcFlexAlignTool.h"

namespace {

using Defs = vcFlexAlignDefs;

void customTable(const vcGeorapidDOFList& list, vc_DofData& t) {
  const std::size_t n = list.size();
  // Keys are single bits of a signed 32-bit value.
  if (n > 31) throw Defs::BadParams("Custom DOF list holds too many DOFs");
  vc_DofData table(n);
  for (std::size_t k = 0; k < n; ++k)
    table.setAll(1L << k, 0.0, false, 0.0, 0.0, 1.0, vc_DofData::eAdditive);
  t = std::move(table);
}

}  // namespace

void vc_FlexAlignRunParams::dofMode(Defs::DOFMode m) {
  if (m != Defs::eStandard && m != Defs::eAdvanced && m != Defs::eCustom) throw Defs::BadParams();
  vcFlexAlignRunParams& d = dst_();
  if (m == Defs::eCustom) {
    if (d.dofMode_ != Defs::eCustom) {
      d.dofList_.clear();
      d.dof_ = vc_DofData(0);
      d.dofMode_ = Defs::eCustom;
    }
  } else {
    d.setDofMode_(m);
  }
  sync_();
}

void vc_FlexAlignRunParams::customDofList(const vcGeorapidDOFList& list) {
  vcFlexAlignRunParams& d = dst_();
  if (d.dofMode_ != Defs::eCustom) throw Defs::WrongDOFMode();
  vcGeorapidDOFList copy(list);
  vc_DofData table;
  customTable(copy, table);
  table.setup(copy);
  d.dofList_ = std::move(copy);
  d.dof_ = std::move(table);
  sync_();
}

void vc_FlexAlignRunParams::constructCustomDOFList(const vcGeorapidDOFList& list) {
  dst_().dofList_ = list;
  sync_();
}

void vc_FlexAlignRunParams::initializeCustomDOFRanges() {
  vcFlexAlignRunParams& d = dst_();
  if (d.dofList_.empty()) throw Defs::InternalError();
  vc_DofData table;
  customTable(d.dofList_, table);
  d.dof_ = std::move(table);
  sync_();
}

void vc_FlexAlignRunParams::checkCustom_(unsigned long dof) const {
  const vcFlexAlignRunParams& s = src_();
  if (s.dofMode_ != Defs::eCustom) throw Defs::WrongDOFMode();
  if (s.dof_.numDofs() == 0) throw Defs::BadParams("Custom DOF list has not been initialized");
  if (dof == 0 || (dof & (dof - 1)) != 0 || !s.dof_.validDof(dof, true))
    throw Defs::BadParams("Unknown DOF");
}

double vc_FlexAlignRunParams::zoneLowRelCustom(unsigned long dof) const {
  checkCustom_(dof);
  return src_().dof_.getMin(static_cast<long>(dof));
}

double vc_FlexAlignRunParams::zoneHighRelCustom(unsigned long dof) const {
  checkCustom_(dof);
  return src_().dof_.getMax(static_cast<long>(dof));
}

void vc_FlexAlignRunParams::zoneRelCustom(unsigned long dof, double low, double high) {
  checkCustom_(dof);
  dst_().dof_.setRange(static_cast<long>(dof), low, high);
  sync_();
}

double vc_FlexAlignRunParams::zoneOverlapCustom(unsigned long) const {
  throw Defs::NotImplemented();
}

void vc_FlexAlignRunParams::zoneOverlapCustom(unsigned long, double) {
  throw Defs::NotImplemented();
}
