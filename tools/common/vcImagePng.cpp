// PNG through libpng: reading with the full API (row by row, so only the grey image and one
// row are held; the simplified API applies gamma to 16-bit files), writing with the simplified
// one.
#include <png.h>

#include <csetjmp>
#include <cstring>
#include <fstream>
#include <memory>
#include <vector>

#include "tools/common/vcImageCodecs.h"
#include "tools/common/vcImageFile.h"

namespace {

// Everything a read holds lives here, on the heap, so that libpng's longjmp back into
// vfDecodePng skips no C++ object and finds every buffer as it was left.
struct PngRead {
  const vcImageBytes& in;
  std::size_t at = 0;
  png_structp png = nullptr;
  png_infop info = nullptr;
  char message[256] = "";
  vcPelBuffer<unsigned char> out;
  std::vector<png_byte> pixels;  // one row, or the whole image when interlaced
  std::vector<png_bytep> rows;

  explicit PngRead(const vcImageBytes& bytes) : in(bytes) {}
  ~PngRead() { png_destroy_read_struct(&png, &info, nullptr); }
};

void readBytes(png_structp png, png_bytep to, png_size_t n) {
  PngRead& r = *static_cast<PngRead*>(png_get_io_ptr(png));
  if (n > r.in.size - r.at) png_error(png, "the file ends early");
  std::memcpy(to, r.in.data + r.at, n);
  r.at += n;
}

void onError(png_structp png, png_const_charp text) {
  PngRead& r = *static_cast<PngRead*>(png_get_error_ptr(png));
  std::snprintf(r.message, sizeof r.message, "%s", text);
  std::longjmp(png_jmpbuf(png), 1);
}

void onWarning(png_structp, png_const_charp) {}

// Grey of one row of 1 (grey) or 3 (colour) channels of 8 or 16 bits (big-endian).
void greyRow(const png_byte* p, long width, int channels, int depth, unsigned char* out) {
  const int step = depth == 16 ? 2 : 1;
  auto sample = [&](long i) -> std::uint32_t {
    return step == 2 ? std::uint32_t(p[2 * i] << 8 | p[2 * i + 1]) : p[i];
  };
  const std::uint32_t maxval = depth == 16 ? 65535 : 255;
  for (long x = 0; x < width; ++x)
    out[x] = channels == 1 ? vfTo8Bit(sample(x), maxval)
                           : vfGreyOf(sample(3 * x), sample(3 * x + 1), sample(3 * x + 2), maxval);
}

// Runs between setjmp and a possible longjmp: only the heap-held state, no C++ objects of its
// own that a jump would skip.
void readPixels(PngRead& r) {
  png_structp png = r.png;
  png_infop info = r.info;
  png_set_read_fn(png, &r, readBytes);
  png_set_chunk_malloc_max(png, 8u << 20);
  png_read_info(png, info);
  png_uint_32 w = 0, h = 0;
  int depth = 0, colour = 0, interlace = 0;
  png_get_IHDR(png, info, &w, &h, &depth, &colour, &interlace, nullptr, nullptr);
  vfCheckImageSize(r.in, w, h, "PNG");
  // The file's numbers as they are: palettes and small depths expanded, alpha dropped, no gamma.
  if (colour == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colour == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (colour & PNG_COLOR_MASK_ALPHA) png_set_strip_alpha(png);
  const int passes = interlace == PNG_INTERLACE_NONE ? 1 : png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const int channels = png_get_channels(png, info);
  const int outDepth = png_get_bit_depth(png, info);
  const std::size_t rowBytes = png_get_rowbytes(png, info);
  if ((channels != 1 && channels != 3) || (outDepth != 8 && outDepth != 16))
    png_error(png, "unexpected pixel layout");
  r.out = vcPelBuffer<unsigned char>(long(w), long(h));
  if (passes == 1 && channels == 1 && outDepth == 8) {
    // 8-bit grey is what it reads to: rows go straight into the image.
    for (png_uint_32 y = 0; y < h; ++y) png_read_row(png, r.out.row(long(y)), nullptr);
    return;
  }
  if (passes == 1) {
    r.pixels.resize(rowBytes);
    for (png_uint_32 y = 0; y < h; ++y) {
      png_read_row(png, r.pixels.data(), nullptr);
      greyRow(r.pixels.data(), long(w), channels, outDepth, r.out.row(long(y)));
    }
    return;
  }
  r.pixels.resize(rowBytes * h);
  r.rows.resize(h);
  for (png_uint_32 y = 0; y < h; ++y) r.rows[y] = r.pixels.data() + rowBytes * y;
  png_read_image(png, r.rows.data());
  for (png_uint_32 y = 0; y < h; ++y)
    greyRow(r.rows[y], long(w), channels, outDepth, r.out.row(long(y)));
}

[[noreturn]] void fail(const std::string& what, const std::string& problem) {
  vfImageFail(what, problem);
}

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

vcPelBuffer<unsigned char> vfDecodePng(const vcImageBytes& in) {
  auto r = std::make_unique<PngRead>(in);
  r->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, r.get(), onError, onWarning);
  if (r->png) r->info = png_create_info_struct(r->png);
  if (!r->info) fail(in.name, "out of memory reading the PNG");
  if (setjmp(png_jmpbuf(r->png)))
    fail(in.name, std::string("damaged or truncated PNG (") + r->message + ")");
  readPixels(*r);
  return std::move(r->out);
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
