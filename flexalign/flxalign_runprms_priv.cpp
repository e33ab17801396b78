// The custom DOF mode of the FlexAlign run parameters.

#include <cmath>

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
  if (m != Defs::eStandard && m != Defs::eAdvanced && m != Defs::eCustom)
    throw Defs::BadParams("Illegal DOF mode");
  Data& d = *d_;
  if (m == Defs::eCustom) {
    if (d.dofMode != Defs::eCustom) {
      d.dofList.clear();
      d.dof = vc_DofData(0);
      d.dofMode = Defs::eCustom;
    }
  } else {
    setDofMode_(m);
  }
}

void vc_FlexAlignRunParams::customDofList(const vcGeorapidDOFList& list) {
  Data& d = *d_;
  if (d.dofMode != Defs::eCustom) throw Defs::WrongDOFMode();
  vcGeorapidDOFList copy(list);
  vc_DofData table;
  customTable(copy, table);
  table.setup(copy);
  d.dofList = std::move(copy);
  d.dof = std::move(table);
}

void vc_FlexAlignRunParams::constructCustomDOFList(const vcGeorapidDOFList& list) {
  d_->dofList = list;
}

void vc_FlexAlignRunParams::initializeCustomDOFRanges() {
  Data& d = *d_;
  if (d.dofList.empty()) throw Defs::InternalError("The custom DOF list is empty");
  vc_DofData table;
  customTable(d.dofList, table);
  d.dof = std::move(table);
}

void vc_FlexAlignRunParams::checkCustom_(unsigned long dof) const {
  const Data& s = *d_;
  if (s.dofMode != Defs::eCustom) throw Defs::WrongDOFMode();
  if (s.dof.numDofs() == 0) throw Defs::BadParams("Custom DOF list has not been initialized");
  if (dof == 0 || (dof & (dof - 1)) != 0 || !s.dof.validDof(dof, true))
    throw Defs::BadParams("Unknown DOF");
}

double vc_FlexAlignRunParams::zoneLowRelCustom(unsigned long dof) const {
  checkCustom_(dof);
  return d_->dof.getMin(static_cast<long>(dof));
}

double vc_FlexAlignRunParams::zoneHighRelCustom(unsigned long dof) const {
  checkCustom_(dof);
  return d_->dof.getMax(static_cast<long>(dof));
}

void vc_FlexAlignRunParams::zoneRelCustom(unsigned long dof, double low, double high) {
  checkCustom_(dof);
  if (!std::isfinite(low) || !std::isfinite(high))
    throw Defs::BadParams("Illegal zone value(s): must be finite numbers");
  d_->dof.setRange(static_cast<long>(dof), low, high);
}

double vc_FlexAlignRunParams::zoneOverlapCustom(unsigned long) const {
  throw Defs::NotImplemented();
}

void vc_FlexAlignRunParams::zoneOverlapCustom(unsigned long, double) {
  throw Defs::NotImplemented();
}
