// Angles as distinct types so radians and degrees cannot be mixed by accident.
#pragma once

#include <cmath>

// The one pi and degree factor of the library, its tools and tests: no file keeps its own.
constexpr double vcPi = 3.14159265358979323846;
// Degrees to radians and back, for plain doubles (the factors the parameters are defined by):
// degrees * vcRadPerDeg are radians, radians * vcDegPerRad are degrees.
constexpr double vcRadPerDeg = 0.017453292519943295;
constexpr double vcDegPerRad = 57.29577951308232;
static_assert(vcRadPerDeg == vcPi / 180.0 && vcDegPerRad == 180.0 / vcPi);

class vcDegree;

class vcRadian {
 public:
  constexpr vcRadian() = default;
  constexpr explicit vcRadian(double v) : v_(v) {}
  vcRadian(const vcDegree& d);  // NOLINT: implicit by design, like the unit it converts
  constexpr double toDouble() const { return v_; }
  constexpr vcRadian operator-() const { return vcRadian(-v_); }
  constexpr vcRadian operator+(vcRadian o) const { return vcRadian(v_ + o.v_); }
  constexpr vcRadian operator-(vcRadian o) const { return vcRadian(v_ - o.v_); }
  constexpr vcRadian operator*(double s) const { return vcRadian(v_ * s); }
  constexpr vcRadian operator/(double s) const { return vcRadian(v_ / s); }
  vcRadian& operator+=(vcRadian o) {
    v_ += o.v_;
    return *this;
  }
  vcRadian& operator-=(vcRadian o) {
    v_ -= o.v_;
    return *this;
  }
  constexpr bool operator==(const vcRadian&) const = default;
  constexpr auto operator<=>(const vcRadian&) const = default;

 private:
  double v_ = 0.0;
};

class vcDegree {
 public:
  constexpr vcDegree() = default;
  constexpr explicit vcDegree(double v) : v_(v) {}
  vcDegree(const vcRadian& r) : v_(r.toDouble() * 180.0 / vcPi) {}  // NOLINT
  constexpr double toDouble() const { return v_; }
  constexpr bool operator==(const vcDegree&) const = default;
  constexpr auto operator<=>(const vcDegree&) const = default;

 private:
  double v_ = 0.0;
};

inline vcRadian::vcRadian(const vcDegree& d) : v_(d.toDouble() * vcPi / 180.0) {}

inline double sin(vcRadian a) { return std::sin(a.toDouble()); }
inline double cos(vcRadian a) { return std::cos(a.toDouble()); }
inline double tan(vcRadian a) { return std::tan(a.toDouble()); }

// Wraps an angle into [-pi, pi).
inline vcRadian vfNormalizeAngle(vcRadian a) {
  double v = std::fmod(a.toDouble() + vcPi, 2.0 * vcPi);
  if (v < 0) v += 2.0 * vcPi;
  return vcRadian(v - vcPi);
}
