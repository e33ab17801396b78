#include "tools/common/vcImageFile.h"

#include <cstring>
#include <filesystem>

#include "platform/core/vcException.h"
#include "tools/common/vcFileBytes.h"
#include "tools/common/vcImageCodecs.h"

namespace {

bool startsWith(const std::uint8_t* data, std::size_t size, const char* magic, std::size_t n) {
  return size >= n && std::memcmp(data, magic, n) == 0;
}

}  // namespace

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
  if (ext == ".png")
    vfWritePng(path, img);
  else
    vfWritePgm(path, img);
}

vcDiagImageEncoder vfPngDiagEncoder() {
  return {"image/png",
          [](const vcPelBuffer_const<unsigned char>& img) { return vfEncodePng(img); }};
}
