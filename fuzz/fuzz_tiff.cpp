// Decodes arbitrary bytes as a TIFF file (the tools' image reader).
#include "fuzz/fuzz_image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzz_image::decode(vfDecodeTiff, data, size);
}
