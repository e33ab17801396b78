#include "tools/common/vcPngIo.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include "platform/core/vcException.h"

#if VCFLEX_HAVE_PNG
#include <png.h>
#endif

namespace {

[[noreturn]] void fail(const std::string& path, const std::string& problem) {
  throw vcBadParams(path + ": " + problem);
}

// The window's rows packed back to back, as libpng's simplified API wants them.
std::vector<unsigned char> packed(const vcPelBuffer_const<unsigned char>& img) {
  std::vector<unsigned char> px(std::size_t(img.width()) * std::size_t(img.height()));
  for (long y = 0; y < img.height(); ++y)
    std::memcpy(px.data() + std::size_t(y) * img.width(), img.row(y), std::size_t(img.width()));
  return px;
}

void checkWritable(const std::string& what, const vcPelBuffer_const<unsigned char>& img) {
  if (!img.isBound() || img.width() <= 0 || img.height() <= 0)
    fail(what, "cannot write an empty image");
}

}  // namespace

#if VCFLEX_HAVE_PNG

bool vfHavePng() { return true; }

vcPelBuffer<unsigned char> vfReadPng(const std::string& path) {
  // The simplified API keeps libpng's longjmp error handling inside libpng and reports through
  // image.message, so nothing of ours is skipped by a jump.
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) fail(path, "cannot open the file");
    std::fclose(f);
    fail(path, std::string("not a readable PNG (") + image.message + ")");
  }
  // Bound the allocation before making it: a hostile header can claim any size.
  if (image.width == 0 || image.height == 0 || image.width > 65536 || image.height > 65536 ||
      std::size_t(image.width) * image.height > (std::size_t(1) << 28)) {
    png_image_free(&image);
    fail(path, "PNG size " + std::to_string(image.width) + " x " + std::to_string(image.height) +
                   " is out of range");
  }
  image.format = PNG_FORMAT_GRAY;
  vcPelBuffer<unsigned char> out(long(image.width), long(image.height));
  std::vector<unsigned char> px(PNG_IMAGE_SIZE(image));
  // Transparent pixels are composed over black, the background of an unlit scene.
  png_color background{0, 0, 0};
  if (!png_image_finish_read(&image, &background, px.data(), 0, nullptr)) {
    std::string msg = image.message;
    png_image_free(&image);
    fail(path, "damaged or truncated PNG (" + msg + ")");
  }
  for (long y = 0; y < out.height(); ++y)
    std::memcpy(out.row(y), px.data() + std::size_t(y) * out.width(), std::size_t(out.width()));
  return out;
}

std::string vfEncodePng(const vcPelBuffer_const<unsigned char>& img) {
  checkWritable("PNG", img);
  const std::vector<unsigned char> px = packed(img);
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = png_uint_32(img.width());
  image.height = png_uint_32(img.height());
  image.format = PNG_FORMAT_GRAY;
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&image, nullptr, &size, 0, px.data(), 0, nullptr))
    fail("PNG", std::string("cannot encode (") + image.message + ")");
  std::string bytes(size, '\0');
  if (!png_image_write_to_memory(&image, bytes.data(), &size, 0, px.data(), 0, nullptr))
    fail("PNG", std::string("cannot encode (") + image.message + ")");
  bytes.resize(size);
  return bytes;
}

void vfWritePng(const std::string& path, const vcPelBuffer_const<unsigned char>& img) {
  checkWritable(path, img);
  const std::string bytes = vfEncodePng(img);
  std::ofstream f(path, std::ios::binary);
  if (!f) fail(path, "cannot create the file");
  f.write(bytes.data(), std::streamsize(bytes.size()));
  if (!f.flush()) fail(path, "cannot write the file");
}

void vfWritePngRgb(const std::string& path, const std::vector<unsigned char>& rgb, long width,
                   long height) {
  if (width <= 0 || height <= 0 || rgb.size() != std::size_t(width) * std::size_t(height) * 3)
    fail(path, "colour pixels do not match the image size");
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = png_uint_32(width);
  image.height = png_uint_32(height);
  image.format = PNG_FORMAT_RGB;
  if (!png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr))
    fail(path, std::string("cannot write the PNG (") + image.message + ")");
}

#else

bool vfHavePng() { return false; }

void vfWritePngRgb(const std::string& path, const std::vector<unsigned char>&, long, long) {
  fail(path, "PNG support is not built in (libpng was not found)");
}

vcPelBuffer<unsigned char> vfReadPng(const std::string& path) {
  fail(path, "PNG support is not built in (libpng was not found); use PGM");
}
std::string vfEncodePng(const vcPelBuffer_const<unsigned char>&) {
  fail("PNG", "PNG support is not built in (libpng was not found)");
}
void vfWritePng(const std::string& path, const vcPelBuffer_const<unsigned char>&) {
  fail(path, "PNG support is not built in (libpng was not found); use PGM");
}

#endif

vcPelBuffer<unsigned char> vfReadImage(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) fail(path, "cannot open the file");
  char magic[8] = {};
  f.read(magic, sizeof magic);
  const std::streamsize got = f.gcount();
  if (got >= 8 && std::memcmp(magic, "\x89PNG\r\n\x1a\n", 8) == 0) return vfReadPng(path);
  if (got >= 2 && magic[0] == 'P' && magic[1] == '5') return vfReadPgm(path);
  fail(path, got == 0 ? "the file is empty" : "not a PNG or binary PGM image");
}

void vfWriteImage(const std::string& path, const vcPelBuffer_const<unsigned char>& img) {
  const bool png = path.size() >= 4 && (path.compare(path.size() - 4, 4, ".png") == 0 ||
                                        path.compare(path.size() - 4, 4, ".PNG") == 0);
  if (png)
    vfWritePng(path, img);
  else
    vfWritePgm(path, img);
}

vcDiagImageEncoder vfPngDiagEncoder() {
  if (!vfHavePng()) return {};
  return {"image/png", [](const vcPelBuffer_const<unsigned char>& img) { return vfEncodePng(img); }};
}
