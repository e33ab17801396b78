// Image files for the tools, one entry point for every common format (the library core reads
// and writes PGM only, depending on the standard library alone).
//
// vfReadImage picks the format from the file's first bytes: PNG (libpng), JPEG (libjpeg-turbo),
// TIFF (libtiff), BMP (a bounded reader of our own) and binary PGM / PPM. Every image comes
// back as 8-bit grey, from the numbers the file holds (no gamma or colour-profile tags applied):
// - 8-bit grey samples as they are; other depths scaled linearly to 0..255, rounded
//   (a 16-bit v becomes round(v * 255 / 65535); 1-, 2- and 4-bit samples likewise);
// - colour is taken as sRGB: its luminance Y = 0.2126 R + 0.7152 G + 0.0722 B in linear
//   light, encoded back to sRGB and rounded (each sample first scaled to 8 bits; a grey colour
//   keeps its value); palettes through their colours; an alpha channel is ignored;
// - the first image of a multi-image TIFF; JPEG and TIFF orientation tags are not applied.
// The size an image declares, and what decoding it would hold besides the image, are checked
// against vcImageLimits before anything is allocated.
// Every failure throws vcBadParams with one line naming the file and the problem.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/core/vcPelBuffer.h"
#include "platform/diag/vcDiag.h"

struct vcImageLimits {
  static constexpr std::uint64_t kMaxSide = 65536;         // pixels, width and height each
  static constexpr std::uint64_t kMaxPixels = 1ull << 28;  // 256 Mpixel
  // Declared pixels per byte of the file: past what any format's best compression reaches on
  // an image worth searching (deflate of a 1-bit image: about 8000), so a file of a few bytes
  // cannot ask for gigabytes.
  static constexpr std::uint64_t kMaxPixelsPerByte = 16384;
  static constexpr std::uint64_t kMaxFileBytes = 2ull << 30;  // 2 GiB
  // What a decoder may hold besides the grey image (a row, a band of tiles, a JPEG's
  // coefficients, each of libtiff's allocations): checked before it is allocated, since a
  // file of a few bytes can declare rows of gigabytes (65535 samples a pixel).
  static constexpr std::uint64_t kMaxWorkBytes = 64ull << 20;  // 64 MiB
  // Except a progressive JPEG, which holds every coefficient of the image (2 bytes a sample)
  // until its last scan: as much as kMaxWorkBytes or this many bytes a byte of the file (a
  // 24 Mpixel photograph of 2 MB takes 72 MB).
  static constexpr std::uint64_t kMaxJpegWorkPerByte = 256;
  static constexpr std::uint64_t kMaxSamplesPerPixel = 16;  // TIFF: colour, alpha, extras
};

vcPelBuffer<unsigned char> vfReadImage(const std::string& path);
// The same from bytes in memory; `name` stands for the file in messages.
vcPelBuffer<unsigned char> vfDecodeImage(const std::uint8_t* data, std::size_t size,
                                         const std::string& name);

// PNG when the path ends in ".png" (any case), else PGM.
void vfWriteImage(const std::string& path, const vcPelBuffer_const<unsigned char>& img);
void vfWritePng(const std::string& path, const vcPelBuffer_const<unsigned char>& img);
// An 8-bit colour PNG of width x height pixels, rows of r, g, b bytes back to back.
void vfWritePngRgb(const std::string& path, const std::vector<unsigned char>& rgb, long width,
                   long height);
// The bytes of an 8-bit grey PNG of the window.
std::string vfEncodePng(const vcPelBuffer_const<unsigned char>& img);
// What a diagnostic report embeds its images with.
vcDiagImageEncoder vfPngDiagEncoder();
