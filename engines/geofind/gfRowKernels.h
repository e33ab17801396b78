// The two inner loops of the coarse search, over whole accumulator rows: adding one shifted
// response plane, and a row's maximum. Both vectorize; on processors with AVX2 a copy compiled
// for it is used. The copy is chosen once, at the first call, through a function pointer: an
// ifunc (target_clones) resolver would run while the program is being loaded, before a
// sanitizer's runtime is ready, and crash it.
#pragma once

#include <cstdint>

namespace vc_gfrun {

struct RowKernels {
  // acc[x] += src[x] for x < n (16-bit sums, wrapping as unsigned arithmetic does).
  void (*accumulate)(std::uint16_t* acc, const std::uint8_t* src, int n);
  // The largest of a[0 .. n), 0 for n <= 0.
  std::uint16_t (*max)(const std::uint16_t* a, int n);
};

// The kernels for this processor; the same sums as the portable ones.
const RowKernels& rowKernels();
// The portable kernels, whatever the processor.
const RowKernels& portableRowKernels();

}  // namespace vc_gfrun
