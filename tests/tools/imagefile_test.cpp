// The one image reader as a user meets it: files written by each format's own library (or,
// for BMP and PGM, by hand from the format's layout) read back as the documented grey values,
// and damaged or hostile files refused with one line naming the file.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/resource.h>
#include <tiffio.h>
#include <unistd.h>
#include <zlib.h>

// clang-format off
#include <cstddef>
#include <cstdio>
#include <jpeglib.h>
// clang-format on

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/core/vcException.h"
#include "support/resources.h"
#include "support/text_files.h"
#include "tools/io/vcImageFile.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::string;

std::string tempPath(const std::string& name) {
  return (fs::temp_directory_path() / ("vcimage_" + std::to_string(::getpid()) + "_" + name))
      .string();
}

void writeBytes(const std::string& path, const Bytes& b) {
  std::ofstream(path, std::ios::binary).write(b.data(), std::streamsize(b.size()));
}

std::string messageOf(const std::string& path) {
  try {
    vfReadImage(path);
  } catch (const vcBadParams& e) {
    return e.what();
  }
  return "(no error)";
}

std::vector<int> greys(const std::string& path) {
  const vcPelBuffer<unsigned char> img = vfReadImage(path);
  std::vector<int> v;
  for (long y = 0; y < img.height(); ++y)
    for (long x = 0; x < img.width(); ++x) v.push_back(img.get(x, y));
  return v;
}

// --- writers through each format's own library

void writePng(const std::string& path, png_uint_32 format, long w, long h, const void* px) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = png_uint_32(w);
  image.height = png_uint_32(h);
  image.format = format;
  ASSERT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, px, 0, nullptr)) << image.message;
}

// An Adam7-interlaced PNG of 8- or 16-bit grey or RGB samples (the simplified API writes no
// interlaced files).
Bytes interlacedPng(long w, long h, int depth, int colour, const std::vector<std::uint16_t>& v) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  Bytes out;
  png_set_write_fn(
      png, &out,
      [](png_structp p, png_bytep d, png_size_t n) {
        static_cast<Bytes*>(png_get_io_ptr(p))->append(reinterpret_cast<char*>(d), n);
      },
      nullptr);
  png_set_IHDR(png, info, png_uint_32(w), png_uint_32(h), depth, colour, PNG_INTERLACE_ADAM7,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  const long perRow = w * (colour == PNG_COLOR_TYPE_RGB ? 3 : 1), bytes = depth / 8;
  std::vector<png_byte> px(std::size_t(perRow * h * bytes));
  for (std::size_t i = 0; i < v.size(); ++i)
    for (long b = 0; b < bytes; ++b) px[i * bytes + b] = png_byte(v[i] >> (8 * (bytes - 1 - b)));
  std::vector<png_bytep> rows;
  for (long y = 0; y < h; ++y) rows.push_back(px.data() + y * perRow * bytes);
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

struct TiffSpec {
  long w = 4, h = 1;
  int perPixel = 1, bits = 8, photometric = PHOTOMETRIC_MINISBLACK;
  bool separate = false, tiled = false;
};

// Samples in pixel order (plane order for separate planes), each `bits` wide.
template <class T>
void writeTiff(const std::string& path, const TiffSpec& s, const std::vector<T>& samples) {
  TIFF* t = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(t, nullptr);
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, std::uint32_t(s.w));
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, std::uint32_t(s.h));
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, std::uint16_t(s.perPixel));
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, std::uint16_t(s.bits));
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, std::uint16_t(s.photometric));
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, s.separate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
  if (s.tiled) {
    TIFFSetField(t, TIFFTAG_TILEWIDTH, 16u);
    TIFFSetField(t, TIFFTAG_TILELENGTH, 16u);
    std::vector<T> tile(16 * 16 * std::size_t(s.perPixel), 0);
    for (long y = 0; y < s.h; ++y)
      for (long x = 0; x < s.w * s.perPixel; ++x)
        tile[std::size_t(y * 16 * s.perPixel + x)] = samples[std::size_t(y * s.w * s.perPixel + x)];
    TIFFWriteTile(t, tile.data(), 0, 0, 0, 0);
  } else {
    const int planes = s.separate ? s.perPixel : 1;
    const long rowSamples = s.w * (s.separate ? 1 : s.perPixel);
    // Samples under 8 bits come packed, a row a whole number of bytes.
    const long perRow = s.bits >= 8 ? rowSamples : (rowSamples * s.bits + 7) / 8;
    for (int p = 0; p < planes; ++p)
      for (long y = 0; y < s.h; ++y) {
        std::vector<T> row(samples.begin() + (p * s.h + y) * perRow,
                           samples.begin() + (p * s.h + y + 1) * perRow);
        TIFFWriteScanline(t, row.data(), std::uint32_t(y), std::uint16_t(p));
      }
  }
  TIFFClose(t);
}

Bytes jpegGrey(long w, long h, const std::vector<unsigned char>& px, int components = 1) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = JDIMENSION(w);
  c.image_height = JDIMENSION(h);
  c.input_components = components;
  c.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 100, TRUE);
  jpeg_start_compress(&c, TRUE);
  for (long y = 0; y < h; ++y) {
    JSAMPROW row = const_cast<unsigned char*>(px.data() + y * w * components);
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  Bytes b(reinterpret_cast<char*>(out), size);
  std::free(out);
  return b;
}

// --- BMP from its layout: file header, 40-byte info header, palette, bottom-up rows

void le(Bytes& b, std::uint32_t v, int n) {
  for (int i = 0; i < n; ++i) b += char((v >> (8 * i)) & 255);
}

Bytes bmp(long w, long h, int bits, const std::vector<std::uint32_t>& palette, const Bytes& rows,
          std::uint32_t compression = 0) {
  Bytes b = "BM";
  const std::uint32_t dataAt = 54 + 4 * std::uint32_t(palette.size());
  le(b, dataAt + std::uint32_t(rows.size()), 4), le(b, 0, 4), le(b, dataAt, 4);
  le(b, 40, 4), le(b, std::uint32_t(w), 4), le(b, std::uint32_t(h), 4), le(b, 1, 2);
  le(b, std::uint32_t(bits), 2), le(b, compression, 4), le(b, std::uint32_t(rows.size()), 4);
  le(b, 2835, 4), le(b, 2835, 4), le(b, std::uint32_t(palette.size()), 4), le(b, 0, 4);
  for (std::uint32_t c : palette) le(b, c, 4);  // 0x00RRGGBB, stored B, G, R, 0
  return b + rows;
}

// Red, green, blue and a mixed colour: sRGB decoded to linear light (0.2126, 0.7152, 0.0722
// and 0.02709 + 0.21813 + 0.04170 = 0.28692 for the mix) and encoded back: 127, 220, 76, 146.
const unsigned char kRgb[] = {255, 0, 0, 0, 255, 0, 0, 0, 255, 100, 150, 200};
const std::vector<int> kLuma = {127, 220, 76, 146};

TEST(ImageFile, SixteenBitAndSmallDepthsScaleLinearly) {
  // 16-bit grey 10, 128, 255 and 0 (v * 257), as PNG, TIFF and PGM.
  const std::vector<std::uint16_t> wide = {2570, 32896, 65535, 0};
  const std::vector<int> want = {10, 128, 255, 0};
  const std::string png = tempPath("16.png"), tif = tempPath("16.tif"), pgm = tempPath("16.pgm");
  writePng(png, PNG_FORMAT_LINEAR_Y, 4, 1, wide.data());
  EXPECT_EQ(greys(png), want);  // the gamma-converting reader gave 58 for 10
  writeTiff(tif, TiffSpec{.bits = 16}, wide);
  EXPECT_EQ(greys(tif), want);
  // One formula in strips and tiles alike: 255 is 0.99 of a level, so 1.
  const std::vector<std::uint16_t> low = {255, 32896, 65535, 127};
  writeTiff(tif, TiffSpec{.bits = 16}, low);
  EXPECT_EQ(greys(tif), (std::vector<int>{1, 128, 255, 0}));
  writeTiff(tif, TiffSpec{.bits = 16, .tiled = true}, low);
  EXPECT_EQ(greys(tif), (std::vector<int>{1, 128, 255, 0})) << "tiled";
  const std::string repro = VCFLEX_REPRO_DIR "/tiff-grey16-";
  EXPECT_EQ(greys(repro + "strips-96x32.tif"), greys(repro + "tiled-96x32.tif"));
  Bytes p = "P5\n# a comment\n4 1\n65535\n";
  for (std::uint16_t v : wide) p += char(v >> 8), p += char(v & 255);
  writeBytes(pgm, p);
  EXPECT_EQ(greys(pgm), want);
  writeBytes(pgm, Bytes("P5 4 1 1023\n") + Bytes("\0\0\2\0\3\377\0\50", 8));
  EXPECT_EQ(greys(pgm), (std::vector<int>{0, 128, 255, 10}));
  // 1-bit: a min-is-white TIFF and a two-colour BMP palette.
  writeTiff(tif, TiffSpec{.w = 8, .bits = 1, .photometric = PHOTOMETRIC_MINISWHITE},
            std::vector<unsigned char>{0xa5});
  EXPECT_EQ(greys(tif), (std::vector<int>{0, 255, 0, 255, 255, 0, 255, 0}));
  writeBytes(pgm, bmp(8, 1, 1, {0x000000, 0xffffff}, Bytes("\xa5\0\0\0", 4)));
  EXPECT_EQ(greys(pgm), (std::vector<int>{255, 0, 255, 0, 0, 255, 0, 255}));
  // A 16-bit colour PNG goes through the same luma.
  std::vector<std::uint16_t> rgb16;
  for (unsigned char c : kRgb) rgb16.push_back(std::uint16_t(c * 257));
  writePng(png, PNG_FORMAT_LINEAR_RGB, 4, 1, rgb16.data());
  EXPECT_EQ(greys(png), kLuma);
  // Interlaced files: each pass's pixels in their places, 8 and 16 bits, grey and colour.
  std::vector<std::uint16_t> ramp;
  std::vector<int> rampGrey;
  for (int i = 0; i < 37 * 21; ++i) ramp.push_back(std::uint16_t(i * 7 % 256 * 257));
  for (std::uint16_t v : ramp) rampGrey.push_back(v / 257);
  writeBytes(png, interlacedPng(37, 21, 16, PNG_COLOR_TYPE_GRAY, ramp));
  EXPECT_EQ(greys(png), rampGrey);
  std::vector<std::uint16_t> ramp8, rampRgb;
  for (std::uint16_t v : ramp) ramp8.push_back(v / 257), rampRgb.insert(rampRgb.end(), 3, v);
  writeBytes(png, interlacedPng(37, 21, 8, PNG_COLOR_TYPE_GRAY, ramp8));
  EXPECT_EQ(greys(png), rampGrey);
  writeBytes(png, interlacedPng(37, 21, 16, PNG_COLOR_TYPE_RGB, rampRgb));
  EXPECT_EQ(greys(png), rampGrey) << "grey colours";
  writeBytes(png, interlacedPng(1, 1, 8, PNG_COLOR_TYPE_GRAY, {77}));
  EXPECT_EQ(greys(png), std::vector<int>{77}) << "passes 2 to 7 empty";
  for (const std::string& f : {png, tif, pgm}) fs::remove(f);
}

TEST(ImageFile, ColourBecomesItsSrgbLuminanceInEveryFormat) {
  const std::string f = tempPath("colour");
  writePng(f, PNG_FORMAT_RGB, 4, 1, kRgb);
  EXPECT_EQ(greys(f), kLuma) << "PNG";
  unsigned char rgba[16];
  for (int i = 0; i < 4; ++i) std::memcpy(rgba + 4 * i, kRgb + 3 * i, 3), rgba[4 * i + 3] = 0;
  writePng(f, PNG_FORMAT_RGBA, 4, 1, rgba);
  EXPECT_EQ(greys(f), kLuma) << "PNG, alpha ignored";
  const unsigned char greyColours[] = {0, 0, 0, 37, 37, 37, 200, 200, 200, 255, 255, 255};
  writePng(f, PNG_FORMAT_RGB, 4, 1, greyColours);
  EXPECT_EQ(greys(f), (std::vector<int>{0, 37, 200, 255})) << "grey colours keep their value";
  const std::vector<unsigned char> samples(kRgb, kRgb + 12);
  writeTiff(f, TiffSpec{.perPixel = 3, .photometric = PHOTOMETRIC_RGB}, samples);
  EXPECT_EQ(greys(f), kLuma) << "TIFF";
  writeTiff(f, TiffSpec{.perPixel = 3, .photometric = PHOTOMETRIC_RGB, .tiled = true}, samples);
  EXPECT_EQ(greys(f), kLuma) << "tiled TIFF";
  std::vector<unsigned char> planes;
  for (int c = 0; c < 3; ++c)
    for (int i = 0; i < 4; ++i) planes.push_back(kRgb[3 * i + c]);
  writeTiff(f, TiffSpec{.perPixel = 3, .photometric = PHOTOMETRIC_RGB, .separate = true}, planes);
  EXPECT_EQ(greys(f), kLuma) << "TIFF in planes";
  {
    // A palette of 2^16 colours, the first four kRgb's (libtiff's RGBA reader refuses it).
    std::vector<std::uint16_t> map[3];
    for (int c = 0; c < 3; ++c) {
      map[c].assign(65536, 0);
      for (int i = 0; i < 4; ++i) map[c][std::size_t(i)] = std::uint16_t(kRgb[3 * i + c] * 257);
    }
    TIFF* t = TIFFOpen(f.c_str(), "w");
    ASSERT_NE(t, nullptr);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 4u);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, 1u);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, std::uint16_t(16));
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, std::uint16_t(PHOTOMETRIC_PALETTE));
    TIFFSetField(t, TIFFTAG_COLORMAP, map[0].data(), map[1].data(), map[2].data());
    std::uint16_t index[] = {0, 1, 2, 3};
    TIFFWriteScanline(t, index, 0, 0);
    TIFFClose(t);
    EXPECT_EQ(greys(f), kLuma) << "16-bit palette TIFF";
  }
  Bytes bgr, bgrx;
  for (int i = 0; i < 4; ++i) {
    bgr += {char(kRgb[3 * i + 2]), char(kRgb[3 * i + 1]), char(kRgb[3 * i])};
    bgrx += {char(kRgb[3 * i + 2]), char(kRgb[3 * i + 1]), char(kRgb[3 * i]), '\0'};
  }
  writeBytes(f, bmp(4, 1, 24, {}, bgr));
  EXPECT_EQ(greys(f), kLuma) << "24-bit BMP";
  writeBytes(f, bmp(4, 1, 32, {}, bgrx));
  EXPECT_EQ(greys(f), kLuma) << "32-bit BMP";
  writeBytes(f, bmp(4, 1, 8, {0xff0000, 0x00ff00, 0x0000ff, 0x6496c8}, Bytes("\0\1\2\3", 4)));
  EXPECT_EQ(greys(f), kLuma) << "8-bit BMP";
  // Two rows bottom-up, and the same as RLE8 runs: 2 x index 1, then index 3, end of line...
  writeBytes(f, bmp(3, 2, 8, {0, 0xff0000, 0, 0x6496c8}, Bytes("\3\3\3\0\1\1\3\0", 8)));
  EXPECT_EQ(greys(f), (std::vector<int>{127, 127, 146, 146, 146, 146}));
  writeBytes(f, bmp(3, 2, 8, {0, 0xff0000, 0, 0x6496c8}, Bytes("\3\3\0\0\2\1\1\3\0\1", 10), 1));
  EXPECT_EQ(greys(f), (std::vector<int>{127, 127, 146, 146, 146, 146})) << "RLE8";
  writeBytes(f, Bytes("P6 4 1 255\n") + Bytes(reinterpret_cast<const char*>(kRgb), 12));
  EXPECT_EQ(greys(f), kLuma) << "PPM";
  // JPEG is lossy; a grey one at quality 100 comes back within one level.
  std::vector<unsigned char> ramp(64 * 16);
  for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = (unsigned char)(i % 64 * 4);
  writeBytes(f, jpegGrey(64, 16, ramp));
  const std::vector<int> back = greys(f);
  ASSERT_EQ(back.size(), ramp.size());
  for (std::size_t i = 0; i < ramp.size(); ++i) ASSERT_NEAR(back[i], ramp[i], 1) << i;
  std::vector<unsigned char> red;
  for (int i = 0; i < 16 * 16; ++i) red.insert(red.end(), {255, 0, 0});
  writeBytes(f, jpegGrey(16, 16, red, 3));
  for (int v : greys(f)) ASSERT_NEAR(v, 127, 3) << "colour JPEG";
  fs::remove(f);
}

long peakKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

TEST(ImageFile, DeclaredSizesPastTheFileOrTheLimitsAreRefusedBeforeAllocating) {
  const std::string f = tempPath("huge");
  // A small real file of each format with its size fields rewritten to 10000 x 10000.
  Bytes png = vfEncodePng(vcPelBuffer<unsigned char>(16, 16));
  png.replace(16, 8, Bytes("\0\0\x27\x10\0\0\x27\x10", 8));
  const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(png.data() + 12), 17);
  for (int i = 0; i < 4; ++i) png[29 + i] = char((crc >> (24 - 8 * i)) & 255);
  Bytes jpeg = jpegGrey(16, 16, std::vector<unsigned char>(256, 7));
  const auto sof = jpeg.find("\xff\xc0");
  ASSERT_NE(sof, Bytes::npos);
  jpeg.replace(sof + 5, 4, Bytes("\x27\x10\x27\x10", 4));
  writeTiff(f, TiffSpec{.w = 16, .h = 16}, std::vector<unsigned char>(256, 7));
  Bytes tiff = vcTest::readFile(f);
  for (const char* tag : {"\0\1\3\0\1\0\0\0", "\1\1\3\0\1\0\0\0"}) {  // width, length: SHORT
    const auto at = tiff.find(Bytes(tag, 8));
    ASSERT_NE(at, Bytes::npos);
    tiff.replace(at + 8, 2, Bytes("\x10\x27", 2));
  }
  const Bytes bmpHuge = bmp(10000, 10000, 8, {}, Bytes(64, '\0'));
  const Bytes pgm = "P5 10000 10000 255\n" + Bytes(64, '\0');
  const long before = peakKb();
  const auto t0 = std::chrono::steady_clock::now();
  for (const Bytes& b : {png, jpeg, tiff, bmpHuge, pgm}) {
    writeBytes(f, b);
    const std::string m = messageOf(f);
    EXPECT_EQ(m.rfind(f + ": ", 0), 0u) << m;
    EXPECT_NE(m.find("declares 10000 x 10000 pixels, more than its"), std::string::npos) << m;
  }
  writeBytes(f, "P5 65537 2 255\n" + Bytes(64, '\0'));
  EXPECT_NE(messageOf(f).find("PGM of 65537 x 2 pixels, more than the 65536 a side"),
            std::string::npos);
  const std::string repro = VCFLEX_REPRO_DIR "/png-74-bytes-declares-65536x4096.png";
  EXPECT_NE(messageOf(repro).find("declares 65536 x 4096 pixels, more than its 74 bytes"),
            std::string::npos);
  EXPECT_LT(peakKb() - before, 32 << 10) << "kB";
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
  // What is not a file is refused before it is read: /dev/zero would never end.
  EXPECT_NE(messageOf("/dev/zero").find("/dev/zero: not a regular file"), std::string::npos);
  EXPECT_NE(messageOf(fs::temp_directory_path().string()).find(": is a folder"), std::string::npos);
  fs::remove(f);
}

// Files of a few kilobytes whose decoding would hold gigabytes besides the image: each is
// refused before the buffer exists.
TEST(ImageFile, WhatDecodingWouldHoldIsBoundedBeforeAllocating) {
  const std::string dir = VCFLEX_REPRO_DIR "/";
  const std::pair<const char*, const char*> files[] = {
      // 65535 samples a pixel of 65536 pixels: an 8.6 GB row.
      {"tiff-rgb16-spp65535-65536x1.tif", "TIFF with 65535 samples a pixel; this program reads"},
      {"tiff-grey16-spp4000-16384x1.tif", "TIFF with 4000 samples a pixel"},
      // Interlaced 16-bit colour, read whole by libpng's own interlace handling: 1.6 GB.
      {"png-interlaced-rgb16-16384sq-17KB.png", "damaged or truncated PNG (Not enough image data)"},
      // A text chunk libpng would allocate whole before reading it: 587 MB.
      {"png-5KB-text-chunk-declares-587MB.png",
       "damaged or truncated PNG (its tEXt chunk declares 587219064 bytes, more than the 5656"},
      // A progressive file's coefficients: 512 MB.
      {"jpeg-progressive-17KB-declares-16384sq.jpg",
       "refused JPEG (a progressive image of 16384 x 16384 pixels takes more than the 67108864"}};
  for (const auto& [name, text] : files) {
    std::string m;
    const vcTest::Cost c = vcTest::costOf([&] { m = messageOf(dir + name); });
    EXPECT_NE(m.find(text), std::string::npos) << m;
    EXPECT_LT(c.peakGrowthMb, 32) << name;
    EXPECT_LT(c.seconds, 2) << name;
  }
}

TEST(ImageFile, DamagedFilesNameTheFileAndTheProblem) {
  const std::string missing = tempPath("missing.png");
  EXPECT_NE(messageOf(missing).find(missing + ": cannot open"), std::string::npos);
  const std::string f = tempPath("damaged");
  writeBytes(f, "hello, this is not an image");
  EXPECT_NE(messageOf(f).find("not a PNG, JPEG, TIFF, BMP or binary PGM image"), std::string::npos);
  writeBytes(f, "");
  EXPECT_NE(messageOf(f).find(f + ": the file is empty"), std::string::npos);
  // Every format cut inside its header and inside its pixels: a clear refusal, never a
  // partial image.
  vcPelBuffer<unsigned char> ramp(40, 30);
  for (long y = 0; y < 30; ++y)
    for (long x = 0; x < 40; ++x) ramp.set(x, y, (unsigned char)((x * 7 + y * 13) & 255));
  std::vector<unsigned char> px(ramp.row(0), ramp.row(0) + 40 * 30);
  writeTiff(f, TiffSpec{.w = 40, .h = 30}, px);
  const Bytes tiff = vcTest::readFile(f);
  const Bytes whole[] = {vfEncodePng(ramp), jpegGrey(40, 30, px), tiff,
                         bmp(40, 30, 8, {}, Bytes(40 * 30, '\1')),
                         "P5 40 30 255\n" + Bytes(40 * 30, '\1')};
  for (const Bytes& b : whole) {
    for (std::size_t n : {std::size_t(9), std::size_t(40), b.size() / 2}) {
      writeBytes(f, b.substr(0, n));
      const std::string m = messageOf(f);
      EXPECT_EQ(m.rfind(f + ": ", 0), 0u) << n << " " << m;
      EXPECT_EQ(std::count(m.begin(), m.end(), '\n'), 0) << m;
    }
  }
  fs::remove(f);
}

TEST(ImageFile, WritesPngAndPgmThatReadBackExactly) {
  vcPelBuffer<unsigned char> img(37, 21);
  for (long y = 0; y < 21; ++y)
    for (long x = 0; x < 37; ++x) img.set(x, y, (unsigned char)((x * 7 + y * 13) & 255));
  for (const char* name : {"grey.png", "grey.PNG", "grey.pgm"}) {
    const std::string p = tempPath(name);
    vfWriteImage(p, img);
    EXPECT_TRUE(vfPelEqual(vfReadImage(p), img)) << name;
    fs::remove(p);
  }
  // A window is written as just its pixels, whatever the row stride of its root image.
  vcPelBuffer<unsigned char> win = img;
  ASSERT_TRUE(win.window(vcPelRect(5, 3, 10, 8)));
  const std::string p = tempPath("window.png");
  vfWritePng(p, win);
  const auto back = vfReadImage(p);
  ASSERT_EQ(back.width(), 10);
  ASSERT_EQ(back.height(), 8);
  for (long y = 0; y < 8; ++y)
    for (long x = 0; x < 10; ++x) ASSERT_EQ(back.get(x, y), img.get(x + 5, y + 3));
  EXPECT_THROW(vfEncodePng(vcPelBuffer_const<unsigned char>()), vcBadParams);
  fs::remove(p);
}

}  // namespace
