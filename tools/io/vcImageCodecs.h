// The decoders behind vfDecodeImage, one file per format, and what they share: the size check
// made before anything is allocated and the one grey formula.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/core/vcPelBuffer.h"

struct vcImageBytes {
  const std::uint8_t* data;
  std::size_t size;
  const std::string& name;  // the file, for messages
};

vcPelBuffer<unsigned char> vfDecodePng(const vcImageBytes& in);
vcPelBuffer<unsigned char> vfDecodeJpeg(const vcImageBytes& in);
vcPelBuffer<unsigned char> vfDecodeTiff(const vcImageBytes& in);
vcPelBuffer<unsigned char> vfDecodeBmp(const vcImageBytes& in);
// Binary PGM (P5) and PPM (P6), maxval 1 to 65535.
vcPelBuffer<unsigned char> vfDecodePnm(const vcImageBytes& in);

[[noreturn]] void vfImageFail(const std::string& name, const std::string& problem);
// Refuses (vcBadParams) a declared size that is empty or past vcImageLimits.
void vfCheckImageSize(const vcImageBytes& in, std::uint64_t width, std::uint64_t height,
                      const char* format);

// A sample of 0..maxval scaled linearly to 0..255, rounded.
inline unsigned char vfTo8Bit(std::uint32_t v, std::uint32_t maxval) {
  return static_cast<unsigned char>((std::uint64_t(v) * 255u + maxval / 2) / maxval);
}
// The grey of a colour with samples of 0..maxval: each scaled to 8 bits, taken as sRGB, its
// luminance Y = 0.2126 R + 0.7152 G + 0.0722 B in linear light, encoded back to sRGB and
// rounded. A grey colour keeps its value.
unsigned char vfGreyOf(std::uint32_t r, std::uint32_t g, std::uint32_t b, std::uint32_t maxval);
