// Table of degrees of freedom (angle, scales, aspect, skew...) keyed by single-bit DOF values.
//
// Entry k describes the DOF whose key is 1 << k. Each entry holds a nominal value, a low and a
// high offset from it, an overlap value, an enable flag and a mode that says how the offsets
// combine with the nominal. The table keeps search zones and tolerances for the parameter and
// result classes and configures engine DOF lists. Keys are not range-checked by the accessors;
// callers check them with validDof() first.
#pragma once

#include <vector>

class vcArchive;
class vcGeorapidDOFList;

class vc_DofData {
 public:
  // Archived as a signed 32-bit integer; any loaded value is representable.
  enum Mode : int {
    eAdditive = 1,        // ends are nominal + offset
    eMultiplicative = 2,  // ends are nominal * (1 + offset)
  };

  struct DInf {
    double nominal = 0.0;
    double minOffset = 0.0;
    double maxOffset = 0.0;
    double overlap = 0.0;
    bool enabled = false;
    Mode mode = eAdditive;
  };

  explicit vc_DofData(unsigned long numDofs = 0);

  // Index of the key's highest set bit (0 for key 0).
  static long dof2Index(long dof);

  unsigned long numDofs() const { return numDofs_; }
  // False when the set has a bit at position numDofs() or above; with `single`, also false when
  // more than one bit is set. 0 is valid.
  bool validDof(unsigned long dofs, bool single) const;

  double getNominal(long dof) const { return e(dof).nominal; }
  double getMinOffset(long dof) const { return e(dof).minOffset; }
  double getMaxOffset(long dof) const { return e(dof).maxOffset; }
  double getOverlap(long dof) const { return e(dof).overlap; }
  bool isEnabled(long dof) const { return e(dof).enabled; }
  Mode getMode(long dof) const { return e(dof).mode; }
  // Ends of the range by the entry's mode (the nominal for an unknown mode).
  double getMin(long dof) const;
  double getMax(long dof) const;
  // Arithmetic centre (additive) or geometric centre (multiplicative) of the range.
  double getRangeCenter(long dof) const;
  double getRangeCenterOffset(long dof) const;

  void setNominal(long dof, double v) { e(dof).nominal = v; }
  void setOverlap(long dof, double v) { e(dof).overlap = v; }
  void setRangeOffsets(long dof, double minOffset, double maxOffset);
  // Stores the offsets that give these absolute ends under the current mode and nominal.
  void setRange(long dof, double min, double max);
  // Nominal and enable flag, then the ends converted by `mode`, then overlap and mode.
  void setAll(long dof, double nominal, bool enabled, double min, double max, double overlap,
              Mode mode);
  void setAllOffset(long dof, double nominal, bool enabled, double minOffset, double maxOffset,
                    double overlap, Mode mode);
  // Widens the range by relative amounts (added offsets, or multiplied factors).
  void expandRelRange(long dof, double low, double high);

  // Bit k set when entry k is enabled.
  unsigned long getEnableFlags() const;
  // Entry k becomes enabled exactly when bit k is set; bits beyond the table are ignored.
  void setEnableFlags(unsigned long flags);

  // Sets the range and overlap of the list's DOFs from the table: the first DOF of the list
  // takes the highest entry, the next one the entry below, down to entry 0. A disabled entry
  // pins its DOF to the nominal. An empty list is left alone.
  void setup(vcGeorapidDOFList& list) const;

  bool operator==(const vc_DofData& o) const;
  bool operator!=(const vc_DofData& o) const { return !(*this == o); }

  // Stores or loads the table; callers pass version 0.
  void archive(vcArchive& ar, int version);

 private:
  DInf& e(long dof) { return dofs_[static_cast<std::size_t>(dof2Index(dof))]; }
  const DInf& e(long dof) const { return dofs_[static_cast<std::size_t>(dof2Index(dof))]; }

  std::vector<DInf> dofs_;
  unsigned long numDofs_ = 0;
};

// The zone DOF lists and tables of the standard and advanced sets, every DOF disabled. The
// chains are built innermost first, so a list's first DOF pairs with the table's highest entry.
// Standard: angle -45..45 (overlap 360), uniform, x and y scale 0.8..1.2 (1.4). Advanced:
// rotation and scale as the standard angle and scale, skew -skewRange..skewRange (overlap 30),
// aspect 0.8..1.2 (1.4).
void vfBuildStandardZones(vcGeorapidDOFList& list, vc_DofData& table);
void vfBuildAdvancedZones(vcGeorapidDOFList& list, vc_DofData& table, double skewRange);

// The list a plain Geofind search over turns and sizes takes: an angle (degrees, overlap 360)
// wrapped by a uniform scale (factors, overlap 1.4), with the given ranges.
vcGeorapidDOFList vfAngleScaleDofList(double angleLow, double angleHigh, double scaleLow,
                                      double scaleHigh);
