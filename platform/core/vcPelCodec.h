// Lossless coding of 8-bit pixels for archives: each pixel is predicted from its left, upper and
// upper-left neighbours (the median edge detector of LOCO-I / JPEG-LS), and the prediction
// error is Golomb-Rice coded with a parameter that adapts to the mean error of the pixels seen
// in the same context of local activity (Weinberger, Seroussi and Sapiro, "The LOCO-I lossless
// image compression algorithm", IEEE TIP 2000, without its run mode and bias correction).
// A camera image codes at about its noise's entropy (3 to 5 bits per pixel); smooth or flat
// content at 1 to 2. Every pixel takes at least one bit, so a code of n bytes never decodes to
// more than 8 n pixels, which bounds what a damaged archive can ask to allocate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/core/vcPelBuffer.h"

// The code of the window's pixels, row by row.
std::vector<std::uint8_t> vfEncodePels(const vcPelBuffer_const<unsigned char>& img);

// Decodes `size` bytes into the window of `img` (its size says how many pixels the code holds).
// Throws vcArchive::BadData when the code is damaged: it ends early or holds an impossible
// value. Trailing bytes beyond the last pixel's code are refused too.
void vfDecodePels(const std::uint8_t* code, std::size_t size,
                  const vcPelBuffer<unsigned char>& img);

// The most pixels `size` bytes of code can hold.
inline std::uint64_t vfMaxCodedPels(std::size_t size) { return 8ull * size; }
