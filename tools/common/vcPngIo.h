// Image files for the tools: PNG through libpng, binary PGM through the library, chosen by the
// file's first bytes. PNG stays out of the library core, which depends on the standard library
// only. Every failure throws vcBadParams with one line naming the file and the problem.
#pragma once

#include <string>
#include <vector>

#include "platform/core/vcPelBuffer.h"
#include "platform/diag/vcDiag.h"

// False when the tools were built without libpng; the PNG functions then throw.
bool vfHavePng();

// Any PNG (grey, grey + alpha, colour, palette, 16-bit) as 8-bit grey; colour is converted
// with the usual luminance weights, alpha is dropped.
vcPelBuffer<unsigned char> vfReadPng(const std::string& path);
void vfWritePng(const std::string& path, const vcPelBuffer_const<unsigned char>& img);
// An 8-bit colour PNG of width x height pixels, rows of r, g, b bytes back to back.
void vfWritePngRgb(const std::string& path, const std::vector<unsigned char>& rgb, long width,
                   long height);
// The bytes of an 8-bit grey PNG of the window.
std::string vfEncodePng(const vcPelBuffer_const<unsigned char>& img);

// PNG or binary PGM, whichever the file holds.
vcPelBuffer<unsigned char> vfReadImage(const std::string& path);
// PNG when the path ends in ".png", else PGM.
void vfWriteImage(const std::string& path, const vcPelBuffer_const<unsigned char>& img);

// What a diagnostic report embeds its images with: PNG, or the report's own BMP when the
// tools were built without libpng.
vcDiagImageEncoder vfPngDiagEncoder();
