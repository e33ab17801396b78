// What a piece of test code costs: wall-clock seconds and the growth of the process's peak
// resident memory, for the checks that a hostile input stays within bounds.
#pragma once

#include <sys/resource.h>

#include <chrono>
#include <functional>

namespace vcTest {

struct Cost {
  double seconds = 0.0;
  double peakGrowthMb = 0.0;  // how far `f` raised the process's peak resident memory
};

inline double peakResidentMb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

inline Cost costOf(const std::function<void()>& f) {
  const double before = peakResidentMb();
  const auto t0 = std::chrono::steady_clock::now();
  f();
  Cost c;
  c.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  c.peakGrowthMb = peakResidentMb() - before;
  return c;
}

}  // namespace vcTest
