// The Geofind fuzz target: one case per input (fuzz_geofind_case.h). Only the library's own
// exceptions may come out, and every reported pose must be finite.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_geofind_case.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  try {
    fuzz_geofind::trainAndRun(in);
  } catch (const vcException&) {
  }
  return 0;
}
