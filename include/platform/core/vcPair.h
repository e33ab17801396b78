// Small value pairs and ranges.
#pragma once

template <class T>
class vcPair {
 public:
  constexpr vcPair() = default;
  constexpr vcPair(T x, T y) : x_(x), y_(y) {}
  constexpr T x() const { return x_; }
  constexpr T y() const { return y_; }
  void x(T v) { x_ = v; }
  void y(T v) { y_ = v; }
  constexpr bool operator==(const vcPair&) const = default;

 private:
  T x_{};
  T y_{};
};

// A closed interval [start, end]; start > end is an empty range.
class vcRange {
 public:
  constexpr vcRange() = default;
  constexpr vcRange(double start, double end) : start_(start), end_(end) {}
  constexpr double start() const { return start_; }
  constexpr double end() const { return end_; }
  constexpr double length() const { return end_ - start_; }
  constexpr double center() const { return 0.5 * (start_ + end_); }
  constexpr bool contains(double v) const { return v >= start_ && v <= end_; }
  constexpr bool operator==(const vcRange&) const = default;

 private:
  double start_ = 0.0;
  double end_ = 0.0;
};
