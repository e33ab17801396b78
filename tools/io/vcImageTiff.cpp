// TIFF through libtiff, read from memory. Grey, palette and RGB images, in strips or tiles,
// are read a row at a time with their exact samples; everything else libtiff can decode
// (YCbCr, CMYK, Lab, ...) goes through its 8-bit RGBA interface, a band of rows at a time.
// Every buffer is sized from the file's tags and checked against vcImageLimits first.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "tools/io/vcImageCodecs.h"
#include "tools/io/vcImageFile.h"

namespace {

// libtiff's own allocations (directories, strips, tiles) are capped too.
constexpr tmsize_t kMaxLibtiffAlloc = tmsize_t(vcImageLimits::kMaxWorkBytes);

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

std::string colourName(std::uint16_t photometric) {
  switch (photometric) {
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_MINISBLACK:
      return "grey";
    case PHOTOMETRIC_RGB:
      return "RGB";
    case PHOTOMETRIC_PALETTE:
      return "palette";
    case PHOTOMETRIC_SEPARATED:
      return "CMYK";
    case PHOTOMETRIC_YCBCR:
      return "YCbCr";
    case PHOTOMETRIC_CIELAB:
      return "CIE Lab";
    default:
      return "colour kind " + std::to_string(photometric);
  }
}

// A buffer the reader holds besides the image, refused past the limit before it exists.
std::size_t workBytes(const Source& s, std::uint64_t bytes, const char* what) {
  if (bytes > vcImageLimits::kMaxWorkBytes)
    vfImageFail(s.in.name, "TIFF whose " + std::string(what) + " take " + std::to_string(bytes) +
                               " bytes, more than the " +
                               std::to_string(vcImageLimits::kMaxWorkBytes) +
                               " this program decodes with");
  return static_cast<std::size_t>(bytes);
}

// The rows of one plane (every sample of a pixel when they are contiguous), top to bottom:
// from strips a scanline at a time, from tiles a band one tile high at a time.
class Rows {
 public:
  // `perRow`: samples of a pixel in this plane's rows.
  Rows(TIFF* tif, const Source& s, long w, int bits, int perRow, int plane)
      : tif_(tif),
        s_(s),
        plane_(plane),
        lineBytes_((std::uint64_t(w) * std::uint64_t(perRow) * std::uint64_t(bits) + 7) / 8) {
    if (!TIFFIsTiled(tif)) {
      const tmsize_t n = TIFFScanlineSize(tif);
      if (n <= 0 || std::uint64_t(n) < lineBytes_) damaged(s, "bad scanline size");
      line_.resize(workBytes(s, std::uint64_t(n), "rows"));
      return;
    }
    std::uint32_t tw = 0, th = 0;
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tw);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &th);
    const tmsize_t tileBytes = TIFFTileSize(tif), tileRow = TIFFTileRowSize(tif);
    tileWidthBytes_ = std::uint64_t(tw) * std::uint64_t(perRow) * std::uint64_t(bits) / 8;
    if (tw == 0 || th == 0 || tileBytes <= 0 || tileRow <= 0 ||
        std::uint64_t(tileRow) < tileWidthBytes_ ||
        std::uint64_t(tileBytes) < std::uint64_t(tileRow) * th)
      damaged(s, "bad tile size");
    tileWidth_ = tw;
    tileHeight_ = th;
    tileRow_ = std::size_t(tileRow);
    tile_.resize(workBytes(s, std::uint64_t(tileBytes), "tiles"));
    line_.resize(workBytes(s, lineBytes_ * th + std::uint64_t(tileBytes), "tiles") -
                 std::size_t(tileBytes));
  }

  const std::uint8_t* row(long y) {
    if (!tileHeight_) {
      if (TIFFReadScanline(tif_, line_.data(), std::uint32_t(y), std::uint16_t(plane_)) < 0)
        damaged(s_, "cannot read the pixels");
      return line_.data();
    }
    const long top = y / long(tileHeight_) * long(tileHeight_);
    if (top != bandTop_) readBand(top);
    return line_.data() + std::size_t(y - top) * lineBytes_;
  }

 private:
  // The tiles across at rows top .. top + tile height, side by side.
  void readBand(long top) {
    for (std::uint64_t c = 0; c * tileWidthBytes_ < lineBytes_; ++c) {
      if (TIFFReadTile(tif_, tile_.data(), std::uint32_t(c * tileWidth_), std::uint32_t(top), 0,
                       std::uint16_t(plane_)) < 0)
        damaged(s_, "cannot read the pixels");
      const std::uint64_t at = c * tileWidthBytes_;
      const std::size_t n = std::size_t(std::min(tileWidthBytes_, lineBytes_ - at));
      for (std::uint32_t r = 0; r < tileHeight_; ++r)
        std::memcpy(line_.data() + r * lineBytes_ + at, tile_.data() + r * tileRow_, n);
    }
    bandTop_ = top;
  }

  TIFF* tif_;
  const Source& s_;
  int plane_;
  std::uint64_t lineBytes_;
  std::uint64_t tileWidthBytes_ = 0;  // a tile's row, without the padding of the last one
  std::uint32_t tileWidth_ = 0, tileHeight_ = 0;  // tileHeight_ 0: strips
  std::size_t tileRow_ = 0;
  long bandTop_ = -1;
  std::vector<std::uint8_t> line_, tile_;
};

void readExact(TIFF* tif, const Source& s, vcPelBuffer<unsigned char>& out, int bits, int perPixel,
               bool separate, std::uint16_t photometric) {
  const long w = out.width(), h = out.height();
  const std::uint32_t maxval = bits == 16 ? 65535u : (1u << bits) - 1;
  if (separate && photometric == PHOTOMETRIC_RGB) {
    // Plane after plane (each plane's strips decode in order), kept at 8 bits until the last:
    // two bytes a pixel besides the image.
    std::vector<unsigned char> planes(std::size_t(w) * std::size_t(h) * 2);
    for (int p = 0; p < 3; ++p) {
      Rows rows(tif, s, w, bits, 1, p);
      for (long y = 0; y < h; ++y) {
        const std::uint8_t* line = rows.row(y);
        unsigned char* o =
            p < 2 ? planes.data() +
                        (std::size_t(p) * std::size_t(h) + std::size_t(y)) * std::size_t(w)
                  : nullptr;
        for (long x = 0; x < w; ++x) {
          const std::uint32_t v = sample(line, std::size_t(x), bits);
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
    }
    return;
  }
  const std::size_t step = separate ? 1 : std::size_t(perPixel);
  const std::vector<unsigned char> palette =
      photometric == PHOTOMETRIC_PALETTE ? paletteGrey(tif, s, bits) : std::vector<unsigned char>();
  Rows rows(tif, s, w, bits, int(step), 0);
  for (long y = 0; y < h; ++y) {
    const std::uint8_t* line = rows.row(y);
    unsigned char* o = out.row(y);
    for (long x = 0; x < w; ++x) {
      auto at = [&](std::size_t c) { return sample(line, std::size_t(x) * step + c, bits); };
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

void readRgba(TIFF* tif, const Source& s, vcPelBuffer<unsigned char>& out,
              const std::string& kind) {
  char why[1024] = "";
  if (!TIFFRGBAImageOK(tif, why)) vfImageFail(s.in.name, kind + " is not supported (" + why + ")");
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
  const long w = out.width(), h = out.height();
  // A strip or a tile row a band (bands that cut one read it again), within the work limit.
  const long fit = long(vcImageLimits::kMaxWorkBytes / (4 * std::uint64_t(w)));
  const long band =
      std::min(std::clamp<long>(long(std::min<std::uint32_t>(block, 1024)), 16, 1024), fit);
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
  if (perPixel < 1 || perPixel > vcImageLimits::kMaxSamplesPerPixel)
    vfImageFail(in.name, "TIFF with " + std::to_string(perPixel) +
                             " samples a pixel; this program reads 1 to " +
                             std::to_string(vcImageLimits::kMaxSamplesPerPixel));
  const bool separate = planar == PLANARCONFIG_SEPARATE;
  const bool depth = bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16;
  const bool exactKind =
      ((photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE ||
        photometric == PHOTOMETRIC_PALETTE) &&
       depth) ||
      (photometric == PHOTOMETRIC_RGB && perPixel >= 3 && (bits == 8 || bits == 16));
  // Tiles are placed side by side in whole bytes (tile widths are multiples of 16).
  std::uint32_t tileWidth = 0;
  TIFFGetField(tif.get(), TIFFTAG_TILEWIDTH, &tileWidth);
  const bool placeable = !TIFFIsTiled(tif.get()) ||
                         std::uint64_t(tileWidth) * bits * (separate ? 1 : perPixel) % 8 == 0;
  vcPelBuffer<unsigned char> out{long(w), long(h)};
  if (exactKind && placeable)
    readExact(tif.get(), s, out, bits, perPixel, separate, photometric);
  else
    readRgba(tif.get(), s, out,
             std::string(TIFFIsTiled(tif.get()) ? "tiled " : "") + colourName(photometric) +
                 " TIFF of " + std::to_string(bits) + "-bit samples, " + std::to_string(perPixel) +
                 " a pixel,");
  return out;
}
