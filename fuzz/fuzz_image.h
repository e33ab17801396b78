// One image decoder of the tools on arbitrary bytes: only the library's own exceptions may
// come out, and what decodes never exceeds the documented size limits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/core/vcException.h"
#include "tools/io/vcImageCodecs.h"
#include "tools/io/vcImageFile.h"

namespace fuzz_image {

inline int decode(vcPelBuffer<unsigned char> (*decoder)(const vcImageBytes&),
                  const std::uint8_t* data, std::size_t size) {
  static const std::string name = "fuzz";
  try {
    const vcPelBuffer<unsigned char> img = decoder(vcImageBytes{data, size, name});
    const std::uint64_t pixels = std::uint64_t(img.width()) * std::uint64_t(img.height());
    if (pixels == 0 || pixels > vcImageLimits::kMaxPixels ||
        pixels > vcImageLimits::kMaxPixelsPerByte * size)
      __builtin_trap();
  } catch (const vcException&) {
  }
  return 0;
}

}  // namespace fuzz_image
