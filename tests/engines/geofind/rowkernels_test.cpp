#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "engines/geofind/gfRowKernels.h"

namespace {

// The kernels chosen for this processor (AVX2 where it has it) give the portable sums, on
// lengths that are not multiples of the vector width and with sums that wrap in 16 bits.
TEST(GeofindRowKernels, ChosenKernelsGiveThePortableResults) {
  const vc_gfrun::RowKernels& fast = vc_gfrun::rowKernels();
  const vc_gfrun::RowKernels& plain = vc_gfrun::portableRowKernels();
  std::mt19937 rng(3);
  std::uniform_int_distribution<int> byte(0, 255), word(0, 65535);
  for (int n : {0, 1, 7, 31, 32, 33, 100, 257, 1000}) {
    std::vector<std::uint8_t> src(std::size_t(n) + 1);
    std::vector<std::uint16_t> a(std::size_t(n) + 1), b;
    for (auto& v : src) v = std::uint8_t(byte(rng));
    for (auto& v : a) v = std::uint16_t(word(rng));
    b = a;
    fast.accumulate(a.data(), src.data(), n);
    plain.accumulate(b.data(), src.data(), n);
    EXPECT_EQ(a, b) << n;
    EXPECT_EQ(a[std::size_t(n)], b[std::size_t(n)]);  // nothing written past n
    const std::uint16_t expect = n > 0 ? *std::max_element(a.begin(), a.begin() + n) : 0;
    EXPECT_EQ(fast.max(a.data(), n), expect) << n;
    EXPECT_EQ(plain.max(a.data(), n), expect) << n;
  }
}

}  // namespace
