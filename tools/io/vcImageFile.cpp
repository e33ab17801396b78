#include "tools/io/vcImageFile.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "platform/core/vcException.h"
#include "tools/io/vcFileBytes.h"
#include "tools/io/vcImageCodecs.h"

namespace {

bool startsWith(const std::uint8_t* data, std::size_t size, const char* magic, std::size_t n) {
  return size >= n && std::memcmp(data, magic, n) == 0;
}

}  // namespace

unsigned char vfGreyOf(std::uint32_t r, std::uint32_t g, std::uint32_t b, std::uint32_t maxval) {
  // sRGB codes to linear light, and the linear light at which each code's rounding interval
  // ends: a code is the number of interval ends below the luminance.
  struct Tables {
    double linear[256], upper[255];
    Tables() {
      auto decode = [](double c) {
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
      };
      for (int k = 0; k < 256; ++k) linear[k] = decode(k / 255.0);
      for (int k = 0; k < 255; ++k) upper[k] = decode((k + 0.5) / 255.0);
    }
  };
  static const Tables t;
  const unsigned char r8 = vfTo8Bit(r, maxval), g8 = vfTo8Bit(g, maxval), b8 = vfTo8Bit(b, maxval);
  if (r8 == g8 && g8 == b8) return r8;
  const double y = 0.2126 * t.linear[r8] + 0.7152 * t.linear[g8] + 0.0722 * t.linear[b8];
  return static_cast<unsigned char>(std::upper_bound(t.upper, t.upper + 255, y) - t.upper);
}

void vfImageFail(const std::string& name, const std::string& problem) {
  throw vcBadParams(name + ": " + problem);
}

void vfCheckImageSize(const vcImageBytes& in, std::uint64_t width, std::uint64_t height,
                      const char* format) {
  const std::string size = std::to_string(width) + " x " + std::to_string(height);
  if (width == 0 || height == 0) vfImageFail(in.name, std::string(format) + " of size " + size);
  if (width > vcImageLimits::kMaxSide || height > vcImageLimits::kMaxSide ||
      width * height > vcImageLimits::kMaxPixels)
    vfImageFail(in.name, std::string(format) + " of " + size +
                             " pixels, more than the 65536 a side and 2^28 in all this program "
                             "reads");
  if (width * height > vcImageLimits::kMaxPixelsPerByte * in.size)
    vfImageFail(in.name, std::string(format) + " declares " + size + " pixels, more than its " +
                             std::to_string(in.size) + " bytes can hold");
}

vcPelBuffer<unsigned char> vfDecodeImage(const std::uint8_t* data, std::size_t size,
                                         const std::string& name) {
  const vcImageBytes in{data, size, name};
  if (size == 0) vfImageFail(name, "the file is empty");
  if (startsWith(data, size, "\x89PNG\r\n\x1a\n", 8)) return vfDecodePng(in);
  if (startsWith(data, size, "\xff\xd8\xff", 3)) return vfDecodeJpeg(in);
  if (startsWith(data, size, "II*\0", 4) || startsWith(data, size, "MM\0*", 4) ||
      startsWith(data, size, "II+\0", 4) || startsWith(data, size, "MM\0+", 4))
    return vfDecodeTiff(in);
  if (startsWith(data, size, "BM", 2)) return vfDecodeBmp(in);
  if (startsWith(data, size, "P5", 2) || startsWith(data, size, "P6", 2)) return vfDecodePnm(in);
  vfImageFail(name, "not a PNG, JPEG, TIFF, BMP or binary PGM image");
}

vcPelBuffer<unsigned char> vfReadImage(const std::string& path) {
  const std::vector<std::uint8_t> bytes = vfReadFileBytes(path, vcImageLimits::kMaxFileBytes);
  return vfDecodeImage(bytes.data(), bytes.size(), path);
}

void vfWriteImage(const std::string& path, const vcPelBuffer_const<unsigned char>& img) {
  std::string ext = std::filesystem::path(path).extension().string();
  for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
  if (ext == ".png") return vfWritePng(path, img);
  if (!img.isBound() || img.width() <= 0 || img.height() <= 0)
    throw vcBadParams(path + ": cannot write an empty image");
  // Binary PGM, written as every output is (vfWriteFileBytes).
  std::string pgm =
      "P5\n" + std::to_string(img.width()) + " " + std::to_string(img.height()) + "\n255\n";
  for (long y = 0; y < img.height(); ++y)
    pgm.append(reinterpret_cast<const char*>(img.row(y)), std::size_t(img.width()));
  vfWriteFileBytes(path, pgm);
}

vcDiagImageEncoder vfPngDiagEncoder() {
  return {"image/png",
          [](const vcPelBuffer_const<unsigned char>& img) { return vfEncodePng(img); }};
}
