// Reads arbitrary bytes as a PGM file. Only the library's own exceptions may come out.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/core/vcException.h"
#include "platform/core/vcPelBuffer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = "/tmp/vcflex-fuzz-" + std::to_string(getpid()) + ".pgm";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  try {
    const vcPelBuffer<unsigned char> img = vfReadPgm(path);
    if (img.width() * img.height() > static_cast<long>(size)) __builtin_trap();
  } catch (const vcException&) {
  }
  return 0;
}
