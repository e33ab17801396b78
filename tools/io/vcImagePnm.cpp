// Binary PGM (P5) and PPM (P6): a text header (magic, width, height, maxval, with # comments)
// and the samples, one byte each for maxval < 256, else two, most significant first.
#include <cctype>

#include "tools/io/vcImageCodecs.h"

namespace {

struct Header {
  const vcImageBytes& in;
  std::size_t at = 2;

  [[noreturn]] void fail(const std::string& problem) const {
    vfImageFail(in.name, "damaged PGM / PPM (" + problem + ")");
  }
  std::uint64_t number(const char* what) {
    while (at < in.size && (std::isspace(in.data[at]) || in.data[at] == '#')) {
      if (in.data[at] == '#')
        while (at < in.size && in.data[at] != '\n') ++at;
      else
        ++at;
    }
    if (at >= in.size || !std::isdigit(in.data[at])) fail(std::string("no ") + what);
    std::uint64_t v = 0;
    while (at < in.size && std::isdigit(in.data[at])) {
      v = v * 10 + (in.data[at++] - '0');
      if (v > 1u << 20) fail(std::string("the ") + what + " is too large");
    }
    return v;
  }
};

}  // namespace

vcPelBuffer<unsigned char> vfDecodePnm(const vcImageBytes& in) {
  const bool colour = in.data[1] == '6';
  Header hd{in};
  const std::uint64_t w = hd.number("width"), h = hd.number("height");
  const std::uint64_t maxval = hd.number("maximum value");
  if (maxval == 0 || maxval > 65535) hd.fail("maximum value " + std::to_string(maxval));
  if (hd.at >= in.size || !std::isspace(in.data[hd.at])) hd.fail("no pixel data");
  ++hd.at;  // the one white-space character before the samples
  vfCheckImageSize(in, w, h, colour ? "PPM" : "PGM");
  const std::uint64_t bytes = maxval > 255 ? 2 : 1, perPixel = colour ? 3 : 1;
  if ((in.size - hd.at) / (bytes * perPixel) / w < h) hd.fail("the file ends inside the pixels");
  vcPelBuffer<unsigned char> out{long(w), long(h)};
  const std::uint8_t* p = in.data + hd.at;
  auto sample = [&]() -> std::uint32_t {
    const std::uint32_t v = bytes == 2 ? std::uint32_t(p[0] << 8 | p[1]) : p[0];
    p += bytes;
    return std::min<std::uint32_t>(v, std::uint32_t(maxval));
  };
  for (long y = 0; y < long(h); ++y) {
    unsigned char* o = out.row(y);
    for (long x = 0; x < long(w); ++x) {
      if (!colour) {
        o[x] = vfTo8Bit(sample(), std::uint32_t(maxval));
        continue;
      }
      const std::uint32_t r = sample(), g = sample(), b = sample();
      o[x] = vfGreyOf(r, g, b, std::uint32_t(maxval));
    }
  }
  return out;
}
