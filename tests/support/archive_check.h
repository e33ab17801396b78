// Archive helpers for tests: store/load through bytes, and a generator of damaged copies of
// an archive (every truncation, scattered byte damage, pure noise) for robustness tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include "platform/core/vcArchive.h"

namespace vcTest {

using Bytes = std::vector<std::uint8_t>;

template <class T>
Bytes storeBytes(T& obj) {
  vcArchive out;
  out || obj;
  return out.bytes();
}

// Loads into `obj` and returns how many bytes were left unread (0 for a clean round trip).
template <class T>
std::size_t loadBytes(const Bytes& bytes, T& obj) {
  vcArchive in(bytes);
  in || obj;
  return in.remaining();
}

// Calls `visit` with every proper prefix of `good` (all of them up to 4096 bytes, then an
// even spread of 4096 lengths), then with `trials` copies carrying 1 to 4 damaged bytes
// (random values or 0xff, which makes counts absurd), then with `trials / 2` strings of
// random bytes. The generator is seeded, so a failure reproduces.
inline void forEachDamagedCopy(const Bytes& good, int trials, unsigned seed,
                               const std::function<void(const Bytes&)>& visit) {
  const std::size_t n = good.size();
  const std::size_t step = n > 4096 ? n / 4096 : 1;
  for (std::size_t len = 0; len < n; len += step)
    visit(Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(len)));
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int t = 0; t < trials && n > 0; ++t) {
    Bytes b = good;
    for (int h = 0; h <= t % 4; ++h) {
      const std::size_t at = std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
      b[at] = (t % 2) ? 0xff : static_cast<std::uint8_t>(byte(rng));
    }
    visit(b);
  }
  for (int t = 0; t < trials / 2; ++t) {
    Bytes b(static_cast<std::size_t>(byte(rng)) * 4);
    for (auto& x : b) x = static_cast<std::uint8_t>(byte(rng));
    visit(b);
  }
}

// Loads every damaged copy of `good` (forEachDamagedCopy) with `load`, which loads into a
// fresh target and returns the bytes it left unread. A copy must either be refused with a
// vcException, after which `unchanged()` must hold for the target, or be read to its last
// byte; a truncated copy must be refused. So a damaged archive that loads silently, leaving
// bytes or reading a prefix as if whole, fails the test. Returns how many copies were refused.
inline int expectDamageRefused(const Bytes& good, int trials, unsigned seed,
                               const std::function<std::size_t(const Bytes&)>& load,
                               const std::function<bool()>& unchanged) {
  int refused = 0;
  forEachDamagedCopy(good, trials, seed, [&](const Bytes& b) {
    const bool truncated = b.size() < good.size() && std::equal(b.begin(), b.end(), good.begin());
    try {
      const std::size_t left = load(b);
      EXPECT_FALSE(truncated) << "a " << b.size() << "-byte prefix of " << good.size()
                              << " bytes loaded";
      EXPECT_EQ(left, 0u) << "a damaged copy loaded with bytes left unread";
    } catch (const vcException&) {
      ++refused;
      EXPECT_TRUE(unchanged()) << "a refused copy changed the target";
    }
  });
  EXPECT_GT(refused, 0);
  return refused;
}

// Frees an object loaded through serializePointer: a shared (reference-counted) one is held
// by its reading archive and freed with it, any other belongs to the caller.
inline void releaseLoaded(vcPersistent* p) {
  if (!dynamic_cast<vcRepBase*>(p)) delete p;
}

}  // namespace vcTest
