// A dimension with a tolerance band: a nominal value and how far below and above it the real
// value may lie. A value of -1 means "not given"; the default tolerance gives nothing.
#pragma once

class vcArchive;

class vcDimTol {
 public:
  enum Type : unsigned char {
    eNone = 0,      // no tolerance: the band is not used
    eAbsolute = 1,  // below/above are in the units of the nominal value
    eRelative = 2,  // below/above are fractions of the nominal value
  };

  vcDimTol() = default;
  vcDimTol(double nominal, double below, double above, Type type = eAbsolute)
      : nominal_(nominal), below_(below), above_(above), type_(type) {}

  double nominal() const { return nominal_; }
  double below() const { return below_; }
  double above() const { return above_; }
  Type type() const { return type_; }
  // A band exists when the type asks for one and both sides are given (not negative).
  bool hasTolerance() const { return type_ != eNone && below_ >= 0 && above_ >= 0; }
  // The smallest and largest acceptable values; the nominal value when there is no band.
  double low() const;
  double high() const;
  // Scales a length dimension (a transform scaled the geometry by `s` > 0); relative bands and
  // values that are not given stay as they are.
  vcDimTol scaled(double s) const;

  bool operator==(const vcDimTol&) const = default;

 private:
  double nominal_ = -1.0;
  double below_ = -1.0;
  double above_ = -1.0;
  Type type_ = eNone;
};

// Fields in order: nominal, below, above (doubles), type (one byte). Loading an unknown type
// raises vcArchive::BadData and leaves the value unchanged.
vcArchive& operator||(vcArchive& ar, vcDimTol& t);
