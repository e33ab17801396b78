// PNG through libpng: reading with the full API (row by row, so only the grey image and one
// row are held, interlaced files too: each pass is read as the small image it is and its
// pixels put in place; the simplified API applies gamma to 16-bit files), writing with the
// simplified one.
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "tools/io/vcFileBytes.h"
#include "tools/io/vcImageCodecs.h"
#include "tools/io/vcImageFile.h"

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
  std::vector<png_byte> pixels;  // one row

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

// Grey of one row of 1 (grey) or 3 (colour) channels of 8 or 16 bits (big-endian), pixel x
// going to out[x * spacing].
void greyRow(const png_byte* p, long width, int channels, int depth, unsigned char* out,
             long spacing) {
  auto sample = [&](long i) -> std::uint32_t {
    return depth == 16 ? std::uint32_t(p[2 * i] << 8 | p[2 * i + 1]) : p[i];
  };
  const std::uint32_t maxval = depth == 16 ? 65535 : 255;
  for (long x = 0; x < width; ++x)
    out[x * spacing] = channels == 1
                           ? vfTo8Bit(sample(x), maxval)
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
  png_read_update_info(png, info);
  const int channels = png_get_channels(png, info);
  const int outDepth = png_get_bit_depth(png, info);
  const std::size_t rowBytes = png_get_rowbytes(png, info);
  if ((channels != 1 && channels != 3) || (outDepth != 8 && outDepth != 16))
    png_error(png, "unexpected pixel layout");
  r.pixels.resize(rowBytes);
  const bool interlaced = interlace != PNG_INTERLACE_NONE;
  if (!interlaced && channels == 1 && outDepth == 8) {
    // 8-bit grey is what it reads to: after the first row (which must decode before the
    // image is made) rows go straight into the image.
    png_read_row(png, r.pixels.data(), nullptr);
    r.out = vcPelBuffer<unsigned char>(long(w), long(h));
    std::memcpy(r.out.row(0), r.pixels.data(), std::size_t(w));
    for (png_uint_32 y = 1; y < h; ++y) png_read_row(png, r.out.row(long(y)), nullptr);
    return;
  }
  // Without libpng's interlace handling (which holds the whole image at up to 6 bytes a
  // pixel) an interlaced file comes as seven reduced images, passes libpng skips when empty.
  for (int pass = 0; pass < (interlaced ? 7 : 1); ++pass) {
    const png_uint_32 cols = interlaced ? PNG_PASS_COLS(w, pass) : w;
    const png_uint_32 rows = interlaced ? PNG_PASS_ROWS(h, pass) : h;
    if (cols == 0 || rows == 0) continue;
    const long x0 = interlaced ? long(PNG_PASS_START_COL(pass)) : 0;
    const long y0 = interlaced ? long(PNG_PASS_START_ROW(pass)) : 0;
    const long dx = interlaced ? 1L << PNG_PASS_COL_SHIFT(pass) : 1;
    const long dy = interlaced ? 1L << PNG_PASS_ROW_SHIFT(pass) : 1;
    for (png_uint_32 j = 0; j < rows; ++j) {
      png_read_row(png, r.pixels.data(), nullptr);
      // Made once a row has decoded: a file that declares a large image but holds no data
      // is refused without it.
      if (!r.out.isBound()) r.out = vcPelBuffer<unsigned char>(long(w), long(h));
      greyRow(r.pixels.data(), long(cols), channels, outDepth, r.out.row(y0 + long(j) * dy) + x0,
              dx);
    }
  }
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

// Each chunk's length against the bytes the file still holds, before libpng sees it: libpng
// allocates a text chunk's whole declared length before reading it, so a few kilobytes that
// declare a 587 MB chunk would have it hold 587 MB.
void checkChunkLengths(const vcImageBytes& in) {
  constexpr std::size_t kSignature = 8, kHeader = 8, kCrc = 4;
  if (in.size < kSignature) return;  // libpng says what is wrong with the signature
  for (std::size_t at = kSignature; in.size - at >= kHeader;) {
    const std::uint8_t* p = in.data + at;
    const bool named = std::all_of(p + 4, p + 8, [](std::uint8_t c) {
      return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    });
    const std::uint64_t length = std::uint64_t(p[0]) << 24 | std::uint64_t(p[1]) << 16 |
                                 std::uint64_t(p[2]) << 8 | std::uint64_t(p[3]);
    const std::size_t left = in.size - at - kHeader;
    if (length + kCrc > left)
      fail(in.name, "damaged or truncated PNG (" +
                        (named ? "its " + std::string(p + 4, p + 8) + " chunk" : "a chunk") +
                        " declares " + std::to_string(length) + " bytes, more than the " +
                        std::to_string(left < kCrc ? 0 : left - kCrc) + " left in the file)");
    if (std::memcmp(p + 4, "IEND", 4) == 0) return;
    at += kHeader + std::size_t(length) + kCrc;
  }
}

}  // namespace

vcPelBuffer<unsigned char> vfDecodePng(const vcImageBytes& in) {
  checkChunkLengths(in);
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
  vfWriteFileBytes(path, vfEncodePng(img));
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
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&image, nullptr, &size, 0, rgb.data(), 0, nullptr))
    fail(path, std::string("cannot encode the PNG (") + image.message + ")");
  std::string bytes(size, '\0');
  if (!png_image_write_to_memory(&image, bytes.data(), &size, 0, rgb.data(), 0, nullptr))
    fail(path, std::string("cannot encode the PNG (") + image.message + ")");
  bytes.resize(size);
  vfWriteFileBytes(path, bytes);
}
