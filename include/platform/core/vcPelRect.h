// Integer pixel rectangles: upper-left corner plus width and height. A rectangle with a
// non-positive width or height is null.
#pragma once

#include <algorithm>

#include "platform/core/vcPair.h"

template <class T>
class vcRectangle {
 public:
  constexpr vcRectangle() = default;
  constexpr vcRectangle(T x, T y, T width, T height) : x_(x), y_(y), w_(width), h_(height) {}
  constexpr vcRectangle(vcPair<T> ul, T width, T height)
      : x_(ul.x()), y_(ul.y()), w_(width), h_(height) {}

  constexpr vcPair<T> ul() const { return {x_, y_}; }
  // Exclusive corners: lr is one past the last column and row.
  constexpr vcPair<T> lr() const { return {x_ + w_, y_ + h_}; }
  constexpr vcPair<T> ur() const { return {x_ + w_, y_}; }
  constexpr vcPair<T> ll() const { return {x_, y_ + h_}; }
  constexpr T x() const { return x_; }
  constexpr T y() const { return y_; }
  constexpr T width() const { return w_; }
  constexpr T height() const { return h_; }
  constexpr vcPair<T> size() const { return {w_, h_}; }
  constexpr T area() const { return isNull() ? T{} : w_ * h_; }
  constexpr bool isNull() const { return w_ <= 0 || h_ <= 0; }
  constexpr bool contains(T x, T y) const {
    return x >= x_ && y >= y_ && x < x_ + w_ && y < y_ + h_;
  }
  constexpr bool contains(const vcRectangle& o) const {
    return !o.isNull() && o.x_ >= x_ && o.y_ >= y_ && o.x_ + o.w_ <= x_ + w_ &&
           o.y_ + o.h_ <= y_ + h_;
  }
  // Overlap of the two; when `allowNull` is false a null result is reported by returning a
  // default (null) rectangle all the same, so callers test isNull().
  vcRectangle intersect(const vcRectangle& o, bool allowNull = true) const {
    (void)allowNull;
    const T x0 = std::max(x_, o.x_), y0 = std::max(y_, o.y_);
    const T x1 = std::min(x_ + w_, o.x_ + o.w_), y1 = std::min(y_ + h_, o.y_ + o.h_);
    if (x1 <= x0 || y1 <= y0) return vcRectangle();
    return vcRectangle(x0, y0, x1 - x0, y1 - y0);
  }
  // Clips this rectangle to `bounds` in place.
  void trim(const vcRectangle& bounds) { *this = intersect(bounds); }
  // A copy with the given amounts taken off each side; negative amounts grow it. With
  // `allowNull` false a result that would be null is returned as the default rectangle.
  vcRectangle trim(T left, T top, T right, T bottom, bool allowNull = true) const {
    vcRectangle r(x_ + left, y_ + top, w_ - left - right, h_ - top - bottom);
    if (!allowNull && r.isNull()) return vcRectangle();
    return r;
  }
  constexpr bool operator==(const vcRectangle&) const = default;

 private:
  T x_{}, y_{}, w_{}, h_{};
};

using vcPelRect = vcRectangle<long>;
