// Reads typed values off the front of a fuzzer's input; past the end every value is zero, so
// short inputs still make whole calls.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : p_(data), n_(size) {}

  std::uint8_t byte() {
    if (!n_) return 0;
    --n_;
    return *p_++;
  }
  // A double as the input spells it: any bit pattern, NaN and infinities included.
  double rawDouble() {
    double v = 0;
    std::uint8_t b[sizeof v] = {};
    for (auto& x : b) x = byte();
    std::memcpy(&v, b, sizeof v);
    return v;
  }
  // A value in [lo, hi] from one byte: reaches the interesting range quickly.
  double in(double lo, double hi) { return lo + (hi - lo) * byte() / 255.0; }
  // Usually a value in [lo, hi], sometimes any double.
  double mostly(double lo, double hi) { return byte() < 16 ? rawDouble() : in(lo, hi); }
  const std::uint8_t* rest() const { return p_; }
  std::size_t left() const { return n_; }

 private:
  const std::uint8_t* p_;
  std::size_t n_;
};
