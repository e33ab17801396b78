// Fixed-size double vectors; only the 2-D case is used.
#pragma once

#include <cmath>
#include <ostream>

#include "platform/core/vcAngle.h"

template <int N>
class vcVector;

template <>
class vcVector<2> {
 public:
  constexpr vcVector() = default;
  constexpr vcVector(double x, double y) : x_(x), y_(y) {}

  constexpr double x() const { return x_; }
  constexpr double y() const { return y_; }
  void x(double v) { x_ = v; }
  void y(double v) { y_ = v; }
  double& operator[](int i) { return i == 0 ? x_ : y_; }
  double operator[](int i) const { return i == 0 ? x_ : y_; }

  constexpr vcVector operator+(const vcVector& o) const { return {x_ + o.x_, y_ + o.y_}; }
  constexpr vcVector operator-(const vcVector& o) const { return {x_ - o.x_, y_ - o.y_}; }
  constexpr vcVector operator-() const { return {-x_, -y_}; }
  constexpr vcVector operator*(double s) const { return {x_ * s, y_ * s}; }
  constexpr vcVector operator/(double s) const { return {x_ / s, y_ / s}; }
  vcVector& operator+=(const vcVector& o) {
    x_ += o.x_;
    y_ += o.y_;
    return *this;
  }
  vcVector& operator-=(const vcVector& o) {
    x_ -= o.x_;
    y_ -= o.y_;
    return *this;
  }
  vcVector& operator*=(double s) {
    x_ *= s;
    y_ *= s;
    return *this;
  }
  constexpr bool operator==(const vcVector&) const = default;

  constexpr double dot(const vcVector& o) const { return x_ * o.x_ + y_ * o.y_; }
  constexpr double cross(const vcVector& o) const { return x_ * o.y_ - y_ * o.x_; }
  double len() const { return std::hypot(x_, y_); }
  double distance(const vcVector& o) const { return (*this - o).len(); }
  // Unit vector in the same direction; the zero vector stays zero.
  vcVector unit() const {
    const double l = len();
    return l > 0 ? vcVector(x_ / l, y_ / l) : vcVector();
  }
  vcRadian angle() const { return vcRadian(std::atan2(y_, x_)); }

 private:
  double x_ = 0.0;
  double y_ = 0.0;
};

inline vcVector<2> operator*(double s, const vcVector<2>& v) { return v * s; }

inline std::ostream& operator<<(std::ostream& os, const vcVector<2>& v) {
  return os << "(" << v.x() << ", " << v.y() << ")";
}
