#include "engines/geofind/gfRowKernels.h"

#include <algorithm>

namespace vc_gfrun {
namespace {

// The loop bodies are written once and compiled twice: `target` only changes the
// instructions the compiler may use, not the integer results.
#define VC_GF_ROW_KERNELS(suffix, attributes)                                      \
  attributes void accumulate##suffix(std::uint16_t* __restrict acc,                \
                                     const std::uint8_t* __restrict src, int n) {  \
    for (int x = 0; x < n; ++x) acc[x] = std::uint16_t(acc[x] + src[x]);           \
  }                                                                                \
  attributes std::uint16_t max##suffix(const std::uint16_t* __restrict a, int n) { \
    std::uint16_t m = 0;                                                           \
    for (int x = 0; x < n; ++x) m = std::max(m, a[x]);                             \
    return m;                                                                      \
  }

// GCC gets its -O3 vectorizer for these loops in a -O2 build. Under clang (the fuzz build)
// they are left out of the coverage instrumentation: they have no branches to tell a fuzzer
// anything, and a counter call per element made them most of a fuzz run's time.
#if defined(__clang__)
#define VC_GF_KERNEL __attribute__((no_sanitize("coverage")))
#else
#define VC_GF_KERNEL __attribute__((optimize("O3")))
#endif
VC_GF_ROW_KERNELS(Portable, VC_GF_KERNEL)
#if defined(__x86_64__) || defined(__i386__)
VC_GF_ROW_KERNELS(Avx2, VC_GF_KERNEL __attribute__((target("avx2"))))
#endif
#undef VC_GF_KERNEL
#undef VC_GF_ROW_KERNELS

RowKernels choose() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) return {accumulateAvx2, maxAvx2};
#endif
  return {accumulatePortable, maxPortable};
}

}  // namespace

const RowKernels& rowKernels() {
  static const RowKernels kernels = choose();
  return kernels;
}

const RowKernels& portableRowKernels() {
  static const RowKernels kernels{accumulatePortable, maxPortable};
  return kernels;
}

}  // namespace vc_gfrun
