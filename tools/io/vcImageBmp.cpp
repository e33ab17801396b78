// BMP, read by a small reader of our own: the Debian libraries that read BMP come with a
// toolkit (gdk-pixbuf, ImageMagick) or as a vendored single header with a history of decoder
// faults (stb_image), and uncompressed BMP is a header and rows of pixels. Read here: the core
// (12-byte), info (40-byte) and later (52 to 124-byte) headers; 1-, 2-, 4- and 8-bit palettes,
// 16- and 32-bit pixels with or without colour masks, 24-bit BGR; RLE8 and RLE4. Every offset
// and count is checked against the bytes the file holds before it is used.
#include <algorithm>
#include <cstring>
#include <vector>

#include "tools/io/vcImageCodecs.h"

namespace {

struct Reader {
  const vcImageBytes& in;

  [[noreturn]] void fail(const std::string& problem) const {
    vfImageFail(in.name, "damaged or unsupported BMP (" + problem + ")");
  }
  std::uint32_t u32(std::size_t at) const {
    if (at > in.size || in.size - at < 4) fail("the file ends inside the header");
    const std::uint8_t* p = in.data + at;
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
  }
  std::uint32_t u16(std::size_t at) const {
    if (at > in.size || in.size - at < 2) fail("the file ends inside the header");
    return std::uint32_t(in.data[at]) | std::uint32_t(in.data[at + 1]) << 8;
  }
};

// One colour channel of a masked pixel, scaled to 0..255.
struct Channel {
  std::uint32_t mask = 0;
  int shift = 0;
  std::uint32_t maxval = 0;

  explicit Channel(std::uint32_t m = 0) : mask(m) {
    if (!m) return;
    while (!((m >> shift) & 1u)) ++shift;
    maxval = m >> shift;
  }
  std::uint32_t of(std::uint32_t px) const {
    return maxval ? vfTo8Bit((px & mask) >> shift, maxval) : 0;
  }
};

// Grey of palette entry i (entries past the palette are black).
struct Palette {
  std::vector<unsigned char> grey;
  unsigned char operator[](std::uint32_t i) const { return i < grey.size() ? grey[i] : 0; }
};

// RLE8 / RLE4 runs into the image, bottom row first; pixels no run reaches stay 0, moves and
// runs past the edges are clipped.
void decodeRle(const Reader& r, std::size_t at, int bits, const Palette& pal, bool bottomUp,
               vcPelBuffer<unsigned char>& out) {
  const long w = out.width(), h = out.height();
  long x = 0, y = 0;
  auto put = [&](std::uint32_t index) {
    if (x < w && y < h) out.set(x, bottomUp ? h - 1 - y : y, pal[index]);
    ++x;
  };
  const std::size_t n = r.in.size;
  const std::uint8_t* d = r.in.data;
  while (at + 1 < n && y < h) {
    const std::uint32_t count = d[at], value = d[at + 1];
    at += 2;
    if (count > 0) {
      for (std::uint32_t i = 0; i < count && x < w; ++i)
        put(bits == 8 ? value : (i & 1 ? value & 15 : value >> 4));
      continue;
    }
    if (value == 0) {  // end of line
      x = 0, ++y;
    } else if (value == 1) {  // end of bitmap
      return;
    } else if (value == 2) {  // move right and up
      if (at + 1 >= n) r.fail("the file ends inside a move");
      x += d[at], y += d[at + 1];
      at += 2;
    } else {  // `value` pixels as they are, padded to two bytes
      const std::size_t bytes = bits == 8 ? value : (value + 1) / 2;
      if (bytes > n - at) r.fail("the file ends inside a run");
      for (std::uint32_t i = 0; i < value; ++i) {
        const std::uint8_t b = d[at + (bits == 8 ? i : i / 2)];
        put(bits == 8 ? b : (i & 1 ? b & 15 : b >> 4));
      }
      at += bytes + (bytes & 1);
    }
  }
}

}  // namespace

vcPelBuffer<unsigned char> vfDecodeBmp(const vcImageBytes& in) {
  const Reader r{in};
  const std::uint32_t dataAt = r.u32(10), header = r.u32(14);
  const bool core = header == 12;
  if (!core && (header < 40 || header > 124))
    r.fail("header of " + std::to_string(header) + " bytes");
  const std::int64_t w = core ? std::int64_t(r.u16(18)) : std::int32_t(r.u32(18));
  const std::int64_t hRaw = core ? std::int64_t(r.u16(20)) : std::int32_t(r.u32(22));
  const std::uint32_t planes = r.u16(core ? 22 : 26), bits = r.u16(core ? 24 : 28);
  const std::uint32_t compression = core ? 0 : r.u32(30);
  if (planes != 1) r.fail(std::to_string(planes) + " planes");
  if (w <= 0 || hRaw == 0 || hRaw == INT32_MIN)
    r.fail("size " + std::to_string(w) + " x " + std::to_string(hRaw));
  const bool bottomUp = hRaw > 0;
  const std::int64_t h = bottomUp ? hRaw : -hRaw;
  vfCheckImageSize(in, std::uint64_t(w), std::uint64_t(h), "BMP");
  if (compression == 4 || compression == 5) r.fail("JPEG or PNG data inside a BMP");
  const bool rle = compression == 1 || compression == 2;
  const bool masked = compression == 3 || compression == 6;
  if (compression > 3 && compression != 6) r.fail("compression " + std::to_string(compression));
  if ((compression == 1 && bits != 8) || (compression == 2 && bits != 4) ||
      (masked && bits != 16 && bits != 32))
    r.fail(std::to_string(bits) + "-bit pixels with compression " + std::to_string(compression));
  if (header == 64 && compression != 0) r.fail("OS/2 compression");
  if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
    r.fail(std::to_string(bits) + "-bit pixels");

  // Colour masks: in the header from 52 bytes on, else just after a 40-byte one.
  Channel red(0x7c00), green(0x03e0), blue(0x001f);
  if (bits == 32) red = Channel(0xff0000), green = Channel(0xff00), blue = Channel(0xff);
  std::size_t paletteAt = 14 + header;
  if (masked) {
    const std::size_t masksAt = header >= 52 ? 54 : paletteAt;
    red = Channel(r.u32(masksAt)), green = Channel(r.u32(masksAt + 4));
    blue = Channel(r.u32(masksAt + 8));
    if (header < 52) paletteAt += compression == 6 ? 16 : 12;
  }
  Palette pal;
  if (bits <= 8) {
    const std::uint32_t used = core ? 0 : r.u32(46);
    const std::uint32_t entries = std::min<std::uint32_t>(used ? used : 1u << bits, 1u << bits);
    const std::size_t entryBytes = core ? 3 : 4;
    if (paletteAt > in.size || (in.size - paletteAt) / entryBytes < entries)
      r.fail("the file ends inside the palette");
    for (std::uint32_t i = 0; i < entries; ++i) {
      const std::uint8_t* p = in.data + paletteAt + i * entryBytes;
      pal.grey.push_back(vfGreyOf(p[2], p[1], p[0], 255));
    }
  }
  if (dataAt >= in.size) r.fail("no pixel data");
  if (rle) {
    vcPelBuffer<unsigned char> out{long(w), long(h)};
    for (long y = 0; y < h; ++y) std::memset(out.row(y), 0, std::size_t(w));
    decodeRle(r, dataAt, int(bits), pal, bottomUp, out);
    return out;
  }
  const std::uint64_t rowBytes = (std::uint64_t(w) * bits + 7) / 8;
  const std::uint64_t stride = (std::uint64_t(w) * bits + 31) / 32 * 4;
  const std::uint64_t held = in.size - dataAt;
  if (held < rowBytes || (held - rowBytes) / stride < std::uint64_t(h - 1))
    r.fail("the file ends inside the pixels");
  vcPelBuffer<unsigned char> out{long(w), long(h)};
  for (long y = 0; y < h; ++y) {
    const std::uint8_t* p = in.data + dataAt + stride * std::uint64_t(bottomUp ? h - 1 - y : y);
    unsigned char* o = out.row(y);
    for (long x = 0; x < w; ++x) {
      switch (bits) {
        case 24:
          o[x] = vfGreyOf(p[3 * x + 2], p[3 * x + 1], p[3 * x], 255);
          break;
        case 16:
        case 32: {
          std::uint32_t px = bits == 16
                                 ? std::uint32_t(p[2 * x] | p[2 * x + 1] << 8)
                                 : std::uint32_t(p[4 * x]) | std::uint32_t(p[4 * x + 1]) << 8 |
                                       std::uint32_t(p[4 * x + 2]) << 16 |
                                       std::uint32_t(p[4 * x + 3]) << 24;
          o[x] = vfGreyOf(red.of(px), green.of(px), blue.of(px), 255);
          break;
        }
        default: {
          const std::uint64_t bit = std::uint64_t(x) * bits;
          o[x] = pal[(p[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1)];
        }
      }
    }
  }
  return out;
}
