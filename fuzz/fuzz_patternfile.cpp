// Reads arbitrary bytes as a pattern file (the command's and the Python module's format, or a
// bare pattern archive). Only the library's own exceptions may come out, and what loads must
// store and load again to the same file. (The bytes are compared, not the patterns: a damaged
// file can hold NaN values, and a pattern holding one is unequal even to itself.)
#include <cstddef>
#include <cstdint>

#include "platform/core/vcException.h"
#include "tools/io/vcPatternFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vcPatternFile p;
  try {
    p = vfPatternFileFromBytes(std::vector<std::uint8_t>(data, data + size), "fuzz.fxp");
  } catch (const vcException&) {
    return 0;
  }
  try {
    const std::vector<std::uint8_t> bytes = vfPatternFileBytes(p);
    const vcPatternFile back = vfPatternFileFromBytes(bytes, "again.fxp");
    if (vfPatternFileBytes(back) != bytes) __builtin_trap();
  } catch (const vcException&) {
    __builtin_trap();
  }
  return 0;
}
