// TIFF through libtiff, read from memory. Grey, palette and RGB images in strips are read
// scanline by scanline with their exact samples; everything else libtiff can decode (tiles,
// YCbCr, CMYK, Lab, ...) goes through its 8-bit RGBA interface, a band of rows at a time.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "tools/common/vcImageCodecs.h"

namespace {

// libtiff's own allocations (directories, strips) are capped too.
constexpr tmsize_t kMaxLibtiffAlloc = tmsize_t(256) << 20;

struct Source {
  const vcImageBytes& in;
  toff_t at = 0;
  char message[512] = "";
};

Source& sourceOf(thandle_t h) { return *static_cast<Source*>(h); }

tmsize_t readProc(thandle_t h, void* to, tmsize_t n) {
  Source& s = sourceOf(h);
  if (n < 0 || s.at > s.in.size) return 0;
  const tmsize_t got = std::min<tmsize_t>(n, tmsize_t(s.in.size - s.at));
  std::memcpy(to, s.in.data + s.at, std::size_t(got));
  s.at += toff_t(got);
  return got;
}
tmsize_t writeProc(thandle_t, void*, tmsize_t) { return 0; }
toff_t seekProc(thandle_t h, toff_t off, int whence) {
  Source& s = sourceOf(h);
  const toff_t base = whence == SEEK_CUR ? s.at : whence == SEEK_END ? toff_t(s.in.size) : 0;
  s.at = base + off;
  return s.at;
}
int closeProc(thandle_t) { return 0; }
toff_t sizeProc(thandle_t h) { return toff_t(sourceOf(h).in.size); }
int mapProc(thandle_t h, void** base, toff_t* size) {
  *base = const_cast<std::uint8_t*>(sourceOf(h).in.data);
  *size = toff_t(sourceOf(h).in.size);
  return 1;
}
void unmapProc(thandle_t, void*, toff_t) {}

int onError(TIFF*, void* user, const char*, const char* fmt, va_list ap) {
  Source& s = *static_cast<Source*>(user);
  if (!s.message[0]) std::vsnprintf(s.message, sizeof s.message, fmt, ap);
  return 1;
}
int onWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct Closer {
  void operator()(TIFF* t) const { TIFFClose(t); }
};

[[noreturn]] void damaged(const Source& s, const char* what) {
  vfImageFail(s.in.name, std::string("damaged or unreadable TIFF (") +
                             (s.message[0] ? s.message : what) + ")");
}

// Sample i of a row of `bits`-bit samples, most significant bits first (libtiff has already
// put 16-bit samples in the machine's byte order).
std::uint32_t sample(const std::uint8_t* row, std::size_t i, int bits) {
  if (bits == 8) return row[i];
  if (bits == 16) {
    std::uint16_t v;
    std::memcpy(&v, row + 2 * i, 2);
    return v;
  }
  const std::size_t bit = i * std::size_t(bits);
  return (row[bit / 8] >> (8 - bits - int(bit % 8))) & ((1u << bits) - 1);
}

// Grey of every palette entry; old writers store 8-bit colours in the 16-bit map.
std::vector<unsigned char> paletteGrey(TIFF* tif, const Source& s, int bits) {
  std::uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
  if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b)) damaged(s, "palette image without colours");
  const std::size_t n = std::size_t(1) << bits;
  std::uint32_t top = 0;
  for (std::size_t i = 0; i < n; ++i)
    top = std::max({top, std::uint32_t(r[i]), std::uint32_t(g[i]), std::uint32_t(b[i])});
  const std::uint32_t maxval = top < 256 ? 255 : 65535;
  std::vector<unsigned char> grey(n);
  for (std::size_t i = 0; i < n; ++i) grey[i] = vfGreyOf(r[i], g[i], b[i], maxval);
  return grey;
}

void readScanlines(TIFF* tif, const Source& s, vcPelBuffer<unsigned char>& out, int bits,
                   int perPixel, bool separate, std::uint16_t photometric) {
  const long w = out.width(), h = out.height();
  const tmsize_t lineBytes = TIFFScanlineSize(tif);
  const std::uint64_t needed =
      (std::uint64_t(w) * std::uint64_t(separate ? 1 : perPixel) * std::uint64_t(bits) + 7) / 8;
  if (lineBytes <= 0 || std::uint64_t(lineBytes) < needed) damaged(s, "bad scanline size");
  std::vector<std::uint8_t> line(static_cast<std::size_t>(lineBytes));
  auto read = [&](long y, int plane) {
    if (TIFFReadScanline(tif, line.data(), std::uint32_t(y), std::uint16_t(plane)) < 0)
      damaged(s, "cannot read the pixels");
  };
  const std::uint32_t maxval = (1u << bits) - 1;
  if (separate && photometric == PHOTOMETRIC_RGB) {
    // Plane after plane (each plane's strips decode in order), kept at 8 bits until the last.
    std::vector<unsigned char> planes(std::size_t(w) * std::size_t(h) * 2);
    for (int p = 0; p < 3; ++p)
      for (long y = 0; y < h; ++y) {
        read(y, p);
        unsigned char* o =
            p < 2 ? planes.data() +
                        (std::size_t(p) * std::size_t(h) + std::size_t(y)) * std::size_t(w)
                  : nullptr;
        for (long x = 0; x < w; ++x) {
          const std::uint32_t v = sample(line.data(), std::size_t(x), bits);
          if (o) {
            o[x] = vfTo8Bit(v, maxval);
            continue;
          }
          const std::size_t i = std::size_t(y) * std::size_t(w) + std::size_t(x);
          out.set(x, y,
                  vfGreyOf(planes[i], planes[std::size_t(w) * std::size_t(h) + i],
                           vfTo8Bit(v, maxval), 255));
        }
      }
    return;
  }
  const std::size_t step = separate ? 1 : std::size_t(perPixel);
  const std::vector<unsigned char> palette =
      photometric == PHOTOMETRIC_PALETTE ? paletteGrey(tif, s, bits) : std::vector<unsigned char>();
  for (long y = 0; y < h; ++y) {
    read(y, 0);
    unsigned char* o = out.row(y);
    for (long x = 0; x < w; ++x) {
      auto at = [&](std::size_t c) { return sample(line.data(), std::size_t(x) * step + c, bits); };
      switch (photometric) {
        case PHOTOMETRIC_RGB:
          o[x] = vfGreyOf(at(0), at(1), at(2), maxval);
          break;
        case PHOTOMETRIC_PALETTE:
          o[x] = palette[at(0)];
          break;
        case PHOTOMETRIC_MINISWHITE:
          o[x] = vfTo8Bit(maxval - at(0), maxval);
          break;
        default:
          o[x] = vfTo8Bit(at(0), maxval);
      }
    }
  }
}

void readRgba(TIFF* tif, const Source& s, vcPelBuffer<unsigned char>& out) {
  char why[1024] = "";
  if (!TIFFRGBAImageOK(tif, why))
    vfImageFail(s.in.name, std::string("TIFF of a kind this program cannot read (") + why + ")");
  TIFFRGBAImage img;
  if (!TIFFRGBAImageBegin(&img, tif, 0, why)) damaged(s, why);
  std::unique_ptr<TIFFRGBAImage, void (*)(TIFFRGBAImage*)> end(&img, TIFFRGBAImageEnd);
  // Rows as stored, like the scanline reader.
  std::uint16_t orientation = ORIENTATION_TOPLEFT;
  TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
  img.req_orientation = orientation;
  std::uint32_t block = 0;
  if (TIFFIsTiled(tif))
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &block);
  else
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &block);
  const long band = std::clamp<long>(long(std::min<std::uint32_t>(block, 1024)), 16, 1024);
  const long w = out.width(), h = out.height();
  std::vector<std::uint32_t> raster(std::size_t(w) * std::size_t(std::min(band, h)));
  for (long y = 0; y < h; y += band) {
    const long rows = std::min(band, h - y);
    img.row_offset = int(y);
    img.col_offset = 0;
    if (!TIFFRGBAImageGet(&img, raster.data(), std::uint32_t(w), std::uint32_t(rows)))
      damaged(s, "cannot read the pixels");
    for (long j = 0; j < rows; ++j)
      for (long x = 0; x < w; ++x) {
        const std::uint32_t px = raster[std::size_t(j) * std::size_t(w) + std::size_t(x)];
        out.set(x, y + j, vfGreyOf(TIFFGetR(px), TIFFGetG(px), TIFFGetB(px), 255));
      }
  }
}

}  // namespace

vcPelBuffer<unsigned char> vfDecodeTiff(const vcImageBytes& in) {
  Source s{in};
  std::unique_ptr<TIFFOpenOptions, void (*)(TIFFOpenOptions*)> opts(TIFFOpenOptionsAlloc(),
                                                                    TIFFOpenOptionsFree);
  TIFFOpenOptionsSetMaxSingleMemAlloc(opts.get(), kMaxLibtiffAlloc);
  TIFFOpenOptionsSetErrorHandlerExtR(opts.get(), onError, &s);
  TIFFOpenOptionsSetWarningHandlerExtR(opts.get(), onWarning, nullptr);
  std::unique_ptr<TIFF, Closer> tif(TIFFClientOpenExt(in.name.c_str(), "r", &s, readProc, writeProc,
                                                      seekProc, closeProc, sizeProc, mapProc,
                                                      unmapProc, opts.get()));
  if (!tif) damaged(s, "cannot open");
  std::uint32_t w = 0, h = 0;
  if (!TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &w) ||
      !TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &h))
    damaged(s, "no image size");
  vfCheckImageSize(in, w, h, "TIFF");
  std::uint16_t bits = 1, perPixel = 1, planar = PLANARCONFIG_CONTIG, format = SAMPLEFORMAT_UINT;
  std::uint16_t photometric = PHOTOMETRIC_MINISBLACK;
  TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &perPixel);
  TIFFGetFieldDefaulted(tif.get(), TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLEFORMAT, &format);
  TIFFGetField(tif.get(), TIFFTAG_PHOTOMETRIC, &photometric);
  if (format != SAMPLEFORMAT_UINT && format != SAMPLEFORMAT_VOID)
    vfImageFail(in.name, "TIFF with signed or floating-point samples is not supported");
  const bool smallDepth = bits == 1 || bits == 2 || bits == 4 || bits == 8;
  const bool exact =
      !TIFFIsTiled(tif.get()) && perPixel >= 1 &&
      (((photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE) &&
        (smallDepth || bits == 16)) ||
       (photometric == PHOTOMETRIC_PALETTE && smallDepth) ||
       (photometric == PHOTOMETRIC_RGB && perPixel >= 3 && (bits == 8 || bits == 16)));
  vcPelBuffer<unsigned char> out{long(w), long(h)};
  if (exact)
    readScanlines(tif.get(), s, out, bits, perPixel, planar == PLANARCONFIG_SEPARATE, photometric);
  else
    readRgba(tif.get(), s, out);
  return out;
}
