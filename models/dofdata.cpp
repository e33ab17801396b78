#include <cmath>

#include "platform/core/vcArchive.h"
#include "vcDofData.h"
#include "vcGeorapidDOF.h"

vc_DofData::vc_DofData(unsigned long numDofs) : dofs_(numDofs), numDofs_(numDofs) {}

long vc_DofData::dof2Index(long dof) {
  const unsigned long bits = static_cast<unsigned long>(dof) & 0xFFFFFFFFul;
  long index = 0;
  for (unsigned long b = bits >> 1; b != 0; b >>= 1) ++index;
  return index;
}

bool vc_DofData::validDof(unsigned long dofs, bool single) const {
  if (numDofs_ < 8 * sizeof(unsigned long) && (dofs >> numDofs_) != 0) return false;
  if (single) return (dofs & (dofs - 1)) == 0;
  return true;
}

double vc_DofData::getMin(long dof) const {
  const DInf& d = e(dof);
  switch (d.mode) {
    case eAdditive:
      return d.nominal + d.minOffset;
    case eMultiplicative:
      return d.nominal * (1.0 + d.minOffset);
  }
  return d.nominal;
}

double vc_DofData::getMax(long dof) const {
  const DInf& d = e(dof);
  switch (d.mode) {
    case eAdditive:
      return d.nominal + d.maxOffset;
    case eMultiplicative:
      return d.nominal * (1.0 + d.maxOffset);
  }
  return d.nominal;
}

double vc_DofData::getRangeCenter(long dof) const {
  const DInf& d = e(dof);
  switch (d.mode) {
    case eAdditive:
      return d.nominal + 0.5 * (d.minOffset + d.maxOffset);
    case eMultiplicative:
      return d.nominal * std::sqrt((1.0 + d.minOffset) * (1.0 + d.maxOffset));
  }
  return 0.0;
}

double vc_DofData::getRangeCenterOffset(long dof) const {
  const DInf& d = e(dof);
  switch (d.mode) {
    case eAdditive:
      return 0.5 * (d.minOffset + d.maxOffset);
    case eMultiplicative:
      return std::sqrt((1.0 + d.minOffset) * (1.0 + d.maxOffset)) - 1.0;
  }
  return 0.0;
}

void vc_DofData::setRangeOffsets(long dof, double minOffset, double maxOffset) {
  DInf& d = e(dof);
  d.minOffset = minOffset;
  d.maxOffset = maxOffset;
}

namespace {

// Offsets that give the absolute ends min and max around `nominal` under `mode`; false for a
// mode that has no such conversion.
bool offsetsFor(vc_DofData::Mode mode, double nominal, double min, double max, double& lo,
                double& hi) {
  switch (mode) {
    case vc_DofData::eAdditive:
      lo = min - nominal;
      hi = max - nominal;
      return true;
    case vc_DofData::eMultiplicative:
      lo = min / nominal - 1.0;
      hi = max / nominal - 1.0;
      return true;
  }
  return false;
}

}  // namespace

void vc_DofData::setRange(long dof, double min, double max) {
  DInf& d = e(dof);
  double lo = 0.0, hi = 0.0;
  if (offsetsFor(d.mode, d.nominal, min, max, lo, hi)) {
    d.minOffset = lo;
    d.maxOffset = hi;
  }
}

void vc_DofData::setAll(long dof, double nominal, bool enabled, double min, double max,
                        double overlap, Mode mode) {
  DInf& d = e(dof);
  d.nominal = nominal;
  d.enabled = enabled;
  double lo = 0.0, hi = 0.0;
  if (offsetsFor(mode, nominal, min, max, lo, hi)) {
    d.minOffset = lo;
    d.maxOffset = hi;
  }
  d.overlap = overlap;
  d.mode = mode;
}

void vc_DofData::setAllOffset(long dof, double nominal, bool enabled, double minOffset,
                              double maxOffset, double overlap, Mode mode) {
  DInf& d = e(dof);
  d.nominal = nominal;
  d.enabled = enabled;
  d.minOffset = minOffset;
  d.maxOffset = maxOffset;
  d.overlap = overlap;
  d.mode = mode;
}

void vc_DofData::expandRelRange(long dof, double low, double high) {
  DInf& d = e(dof);
  switch (d.mode) {
    case eAdditive:
      d.minOffset += low;
      d.maxOffset += high;
      break;
    case eMultiplicative:
      // (1 + o)(1 + a) - 1, written so that small offsets keep their precision.
      d.minOffset = d.minOffset + low + d.minOffset * low;
      d.maxOffset = d.maxOffset + high + d.maxOffset * high;
      break;
  }
}

unsigned long vc_DofData::getEnableFlags() const {
  unsigned long flags = 0;
  for (unsigned long k = 0; k < numDofs_ && k < 8 * sizeof(unsigned long); ++k)
    if (dofs_[k].enabled) flags |= 1ul << k;
  return flags;
}

void vc_DofData::setEnableFlags(unsigned long flags) {
  for (unsigned long k = 0; k < numDofs_; ++k)
    dofs_[k].enabled = k < 8 * sizeof(unsigned long) && ((flags >> k) & 1ul) != 0;
}

void vc_DofData::setup(vcGeorapidDOFList& list) const {
  if (list.empty()) return;
  // The list runs outermost first, which is the highest key first.
  vxGeorapidDOF* dof = list.head();
  for (unsigned long k = numDofs_; k-- > 0 && dof != nullptr; dof = dof->next()) {
    const DInf& d = dofs_[k];
    if (d.enabled) {
      switch (d.mode) {
        case eAdditive:
          dof->range(d.nominal + d.minOffset, d.nominal + d.maxOffset);
          break;
        case eMultiplicative:
          dof->range(d.nominal * (1.0 + d.minOffset), d.nominal * (1.0 + d.maxOffset));
          break;
      }
    } else {
      dof->range(d.nominal, d.nominal);
    }
    dof->overlap(static_cast<float>(d.overlap));
  }
}

bool vc_DofData::operator==(const vc_DofData& o) const {
  if (numDofs_ != o.numDofs_) return false;
  for (unsigned long k = 0; k < numDofs_; ++k) {
    const DInf& a = dofs_[k];
    const DInf& b = o.dofs_[k];
    if (a.nominal != b.nominal || a.enabled != b.enabled || a.minOffset != b.minOffset ||
        a.maxOffset != b.maxOffset || a.overlap != b.overlap || a.mode != b.mode)
      return false;
  }
  return true;
}

void vc_DofData::archive(vcArchive& ar, int version) {
  long v = version;
  ar || v;
  if (v != 0) throw vcArchive::UnknownVersion("dofdata", 297);
  // Each entry takes 4 doubles, a bool and an int: 37 bytes at least.
  const std::uint64_t n = ar.exchangeCount(numDofs_, 37);
  // Loaded entries are built aside so that damaged data leaves the table as it was.
  std::vector<DInf> loaded;
  std::vector<DInf>& entries = ar.isLoading() ? loaded : dofs_;
  if (ar.isLoading()) loaded.assign(static_cast<std::size_t>(n), DInf());
  for (DInf& d : entries) {
    if (version != 0) throw vcArchive::UnknownVersion("dofdata", 278);
    int mode = d.mode;
    ar || d.overlap || d.nominal || d.enabled || d.minOffset || d.maxOffset || mode;
    d.mode = static_cast<Mode>(mode);
  }
  if (ar.isLoading()) {
    dofs_.swap(loaded);
    numDofs_ = static_cast<unsigned long>(n);
  }
}

void vfBuildStandardZones(vcGeorapidDOFList& list, vc_DofData& t) {
  list.assign(new vcGeorapidYScale(
      new vcGeorapidXScale(new vcGeorapidScale(new vcGeorapidAngle(nullptr, 1), 1), 1), 1));
  t = vc_DofData(4);
  t.setAll(1, 0.0, false, -45.0, 45.0, 360.0, vc_DofData::eAdditive);
  t.setAll(2, 1.0, false, 0.8, 1.2, 1.4, vc_DofData::eMultiplicative);
  t.setAll(4, 1.0, false, 0.8, 1.2, 1.4, vc_DofData::eMultiplicative);
  t.setAll(8, 1.0, false, 0.8, 1.2, 1.4, vc_DofData::eMultiplicative);
  t.setup(list);
}

vcGeorapidDOFList vfAngleScaleDofList(double angleLow, double angleHigh, double scaleLow,
                                      double scaleHigh) {
  auto* angle = new vcGeorapidAngle(nullptr, 1);
  angle->range(angleLow, angleHigh);
  angle->overlap(360.0f);
  auto* scale = new vcGeorapidScale(angle, 1);
  scale->range(scaleLow, scaleHigh);
  scale->overlap(1.4f);
  vcGeorapidDOFList list;
  list.assign(scale);
  return list;
}

void vfBuildAdvancedZones(vcGeorapidDOFList& list, vc_DofData& t, double skewRange) {
  list.assign(new vcGeorapidAspectLinear(
      new vcGeorapidSkew(new vcGeorapidScaleLinear(new vcGeorapidAngle(nullptr, 1), 1), 1), 1));
  t = vc_DofData(4);
  t.setAll(1, 0.0, false, -45.0, 45.0, 360.0, vc_DofData::eAdditive);
  t.setAll(2, 1.0, false, 0.8, 1.2, 1.4, vc_DofData::eMultiplicative);
  t.setAll(4, 0.0, false, -skewRange, skewRange, 30.0, vc_DofData::eAdditive);
  t.setAll(8, 1.0, false, 0.8, 1.2, 1.4, vc_DofData::eMultiplicative);
  t.setup(list);
}
