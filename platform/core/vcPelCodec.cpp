#include "platform/core/vcPelCodec.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>

#include "platform/core/vcArchive.h"

namespace {

// A unary part this long is an escape: the error follows as 8 plain bits. It keeps every
// pixel's code within 33 bits, however wrong the context's statistics are.
constexpr int kEscape = 24;
// Statistics are halved after this many pixels of a context, so they follow the image.
constexpr int kReset = 64;
constexpr int kContexts = 16;

// Local activity |d - b| + |b - c| + |c - a| (0 .. 765), quantized about logarithmically: flat
// areas, texture and edges keep statistics of their own.
const std::array<std::uint8_t, 766>& activityContext() {
  static const std::array<std::uint8_t, 766> table = [] {
    constexpr int kUpper[kContexts - 1] = {0, 1, 2, 3, 5, 7, 11, 15, 23, 31, 47, 63, 95, 127, 191};
    std::array<std::uint8_t, 766> t{};
    for (int v = 0; v < 766; ++v) {
      int c = 0;
      while (c < kContexts - 1 && v > kUpper[c]) ++c;
      t[std::size_t(v)] = std::uint8_t(c);
    }
    return t;
  }();
  return table;
}

// Median edge detector: the smaller of left and up above an edge, the larger below one, else
// the plane through the three neighbours.
inline int predict(int a, int b, int c) {
  const int lo = std::min(a, b), hi = std::max(a, b);
  if (c >= hi) return lo;
  if (c <= lo) return hi;
  return a + b - c;
}

struct Context {
  int sum = 4;  // of the coded errors
  int count = 1;
  // The smallest k with count 2^k >= sum: Rice codes with 2^k near the mean error are the
  // shortest.
  int k() const { return sum <= count ? 0 : std::bit_width(unsigned((sum - 1) / count)); }
  void update(int u) {
    sum += u;
    if (++count == kReset) sum >>= 1, count >>= 1;
  }
};

// The neighbours of pixel x of a row: left a, up b, up-left c, up-right d. The first row sees
// its left neighbour everywhere, the first column its upper one.
struct Neighbours {
  int a, b, c, d;
};

inline Neighbours neighbours(const unsigned char* row, const unsigned char* up, long x, long w) {
  if (!up) {
    const int a = x > 0 ? row[x - 1] : 0;
    return {a, a, a, a};
  }
  const int b = up[x];
  const int d = x + 1 < w ? up[x + 1] : b;
  if (x == 0) return {b, b, b, d};
  return {row[x - 1], b, up[x - 1], d};
}

// Error x - prediction modulo 256, folded onto 0 .. 255 (0, -1, 1, -2, ...).
inline int fold(int x, int p) {
  const int e = static_cast<signed char>(static_cast<unsigned char>(x - p));
  return e >= 0 ? 2 * e : -2 * e - 1;
}

inline int unfold(int u, int p) {
  const int e = (u & 1) ? -((u + 1) >> 1) : (u >> 1);
  return static_cast<unsigned char>(p + e);
}

class BitWriter {
 public:
  void put(std::uint32_t v, int n) {  // n <= 32
    acc_ = (acc_ << n) | (v & ((std::uint64_t(1) << n) - 1));
    bits_ += n;
    while (bits_ >= 8) {
      bits_ -= 8;
      out_.push_back(std::uint8_t(acc_ >> bits_));
    }
  }
  std::vector<std::uint8_t> finish() {
    if (bits_ > 0) out_.push_back(std::uint8_t(acc_ << (8 - bits_)));
    bits_ = 0;
    return std::move(out_);
  }

 private:
  std::uint64_t acc_ = 0;
  int bits_ = 0;
  std::vector<std::uint8_t> out_;
};

[[noreturn]] void damaged() { throw vcArchive::BadData("damaged pixel code"); }

class BitReader {
 public:
  BitReader(const std::uint8_t* p, std::size_t n) : p_(p), n_(n) { refill(); }
  // One error's code for Rice parameter k: q zeros, a one and k bits make (q << k) + the bits;
  // kEscape zeros and a one are followed by the error in 8 bits.
  int rice(int k) {
    if (buf_ == 0) damaged();  // only padding or nothing left
    const int q = std::countl_zero(buf_);
    int n, u;
    if (q < kEscape) {
      n = q + 1 + k;
      u = (q << k) | (k ? int((buf_ << (q + 1)) >> (64 - k)) : 0);
    } else if (q == kEscape) {
      n = kEscape + 9;
      u = int((buf_ << (kEscape + 1)) >> 56);
    } else {
      damaged();
    }
    if (n > bits_ || u > 255) damaged();
    consume(n);
    return u;
  }
  // Bytes holding any consumed bit.
  std::size_t bytesUsed() const { return (pos_ * 8 - std::size_t(bits_) + 7) / 8; }

 private:
  void consume(int n) {
    buf_ = n == 64 ? 0 : buf_ << n;
    bits_ -= n;
    if (bits_ <= 32) refill();
  }
  void refill() {
    while (bits_ <= 56 && pos_ < n_) {
      buf_ |= std::uint64_t(p_[pos_++]) << (56 - bits_);
      bits_ += 8;
    }
  }
  const std::uint8_t* p_;
  std::size_t n_, pos_ = 0;
  std::uint64_t buf_ = 0;
  int bits_ = 0;
};

}  // namespace

namespace {

// Calls step(x, a, b, c, d) for each pixel of a row in order, with its neighbours; `up` is the
// row above (null for the first row). The interior runs without the border cases.
template <class Step>
[[gnu::always_inline]] inline void walkRow(const unsigned char* row, const unsigned char* up,
                                           long w, Step& step) {
  if (!up || w < 3) {
    for (long x = 0; x < w; ++x) {
      const Neighbours n = neighbours(row, up, x, w);
      step(x, n.a, n.b, n.c, n.d);
    }
    return;
  }
  step(0, up[0], up[0], up[0], up[1]);
  for (long x = 1; x + 1 < w; ++x) step(x, row[x - 1], up[x], up[x - 1], up[x + 1]);
  step(w - 1, row[w - 2], up[w - 1], up[w - 2], up[w - 1]);
}

inline int contextOf(const std::array<std::uint8_t, 766>& table, int a, int b, int c, int d) {
  return table[std::size_t(std::abs(d - b) + std::abs(b - c) + std::abs(c - a))];
}

// One pixel's coding step in each direction, with the statistics of the contexts.
struct Encoder {
  const std::array<std::uint8_t, 766>& table = activityContext();
  std::array<Context, kContexts> ctx;
  BitWriter out;
  const unsigned char* row = nullptr;
  [[gnu::always_inline]] void operator()(long x, int a, int b, int c, int d) {
    Context& cx = ctx[std::size_t(contextOf(table, a, b, c, d))];
    const int u = fold(row[x], predict(a, b, c));
    const int k = cx.k();
    const int q = u >> k;
    if (q < kEscape) {
      // q zeros, a one, then the k low bits.
      out.put((std::uint32_t(1) << k) | (std::uint32_t(u) & ((1u << k) - 1)), q + 1 + k);
    } else {
      out.put(1, kEscape + 1);
      out.put(std::uint32_t(u), 8);
    }
    cx.update(u);
  }
};

struct Decoder {
  const std::array<std::uint8_t, 766>& table = activityContext();
  std::array<Context, kContexts> ctx;
  BitReader in;
  unsigned char* row = nullptr;
  Decoder(const std::uint8_t* code, std::size_t size) : in(code, size) {}
  [[gnu::always_inline]] void operator()(long x, int a, int b, int c, int d) {
    Context& cx = ctx[std::size_t(contextOf(table, a, b, c, d))];
    const int u = in.rice(cx.k());
    row[x] = static_cast<unsigned char>(unfold(u, predict(a, b, c)));
    cx.update(u);
  }
};

}  // namespace

std::vector<std::uint8_t> vfEncodePels(const vcPelBuffer_const<unsigned char>& img) {
  Encoder e;
  if (!img.isBound()) return e.out.finish();
  for (long y = 0; y < img.height(); ++y) {
    e.row = img.row(y);
    walkRow(e.row, y > 0 ? img.row(y - 1) : nullptr, img.width(), e);
  }
  return e.out.finish();
}

void vfDecodePels(const std::uint8_t* code, std::size_t size,
                  const vcPelBuffer<unsigned char>& img) {
  if (!img.isBound()) {
    if (size != 0) damaged();
    return;
  }
  Decoder dec(code, size);
  for (long y = 0; y < img.height(); ++y) {
    dec.row = img.row(y);
    walkRow(dec.row, y > 0 ? img.row(y - 1) : nullptr, img.width(), dec);
  }
  if (dec.in.bytesUsed() != size) damaged();
}
