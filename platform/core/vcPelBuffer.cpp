#include "platform/core/vcPelBuffer.h"

#include <cctype>
#include <cstring>
#include <fstream>
#include <limits>

#include "platform/core/vc2XformBase.h"
#include "platform/core/vcArchive.h"
#include "platform/core/vcPelCodec.h"
#include "platform/core/vcShapes.h"

template <class T>
bool vcPelBuffer_const<T>::window(const vcPelRect& r, bool clip) {
  if (!isBound()) return false;
  vcPelRect w = r;
  if (clip) w = w.intersect(entire());
  if (w.isNull() || !entire().contains(w)) return false;
  win_ = w;
  return true;
}

template <class T>
void vcPelBuffer_const<T>::view_(T* pixels, long width, long height, long rowStride,
                                 std::shared_ptr<const void> keepAlive) {
  if (width < 0 || height < 0) throw vcBadParams("image size must not be negative");
  if (rowStride < width) throw vcBadParams("image row stride must be at least the width");
  if (width > 0 && height > 0 && pixels == nullptr)
    throw vcBadParams("image pixels must not be null");
  // Only a token when the caller keeps the pixels alive: the buffer is bound all the same.
  owner_ = keepAlive ? std::move(keepAlive) : std::make_shared<char>(0);
  pels_ = pixels;
  stride_ = rowStride;
  rootX_ = rootY_ = 0;
  rootW_ = width;
  rootH_ = height;
  win_ = vcPelRect(0, 0, width, height);
}

template <class T>
vcPelBuffer_const<T>::vcPelBuffer_const(const T* pixels, long width, long height, long rowStride,
                                        std::shared_ptr<const void> keepAlive) {
  // The const view never writes through the pointer.
  view_(const_cast<T*>(pixels), width, height, rowStride, std::move(keepAlive));
}

template <class T>
vcPelBuffer<T>::vcPelBuffer(T* pixels, long width, long height, long rowStride,
                            std::shared_ptr<const void> keepAlive) {
  this->view_(pixels, width, height, rowStride, std::move(keepAlive));
}

template <class T>
vcPelBuffer<T>::vcPelBuffer(long width, long height) {
  if (width < 0 || height < 0) throw vcBadParams("image size must not be negative");
  if (width > 0 && height > std::numeric_limits<long>::max() / 4 / width)
    throw vcBadParams("image size is too large");
  auto store = std::make_shared<std::vector<T>>(static_cast<std::size_t>(width * height), T{});
  this->view_(store->data(), width, height, width, store);
}

template <class T>
vcPelBuffer<T>::vcPelBuffer(const vcPelRect& r, long alignment)
    : vcPelBuffer(r.width(), r.height()) {
  if (alignment <= 0) throw vcBadParams("image row alignment must be positive");
  this->rootX_ = r.x();
  this->rootY_ = r.y();
  this->win_ = vcPelRect(r.x(), r.y(), r.width(), r.height());
}

template <class T>
vcPtrHandle_const<vc2XformBase> vcPelBuffer_const<T>::clientFromImageXformBase() const {
  return new vc2XformLinear(clientFromImage_);
}

template class vcPelBuffer_const<unsigned char>;
template class vcPelBuffer<unsigned char>;

namespace {
void requireBound(const vcPelBuffer_const<unsigned char>& b, const char* what) {
  if (!b.isBound()) throw vcBadParams(std::string(what) + ": image is not bound");
}
void requireSameSize(const vcPelBuffer_const<unsigned char>& a,
                     const vcPelBuffer_const<unsigned char>& b, const char* what) {
  if (a.width() != b.width() || a.height() != b.height())
    throw vcBadParams(std::string(what) + ": images differ in size");
}
}  // namespace

vcPelBuffer<unsigned char> vfPelCopy(const vcPelBuffer_const<unsigned char>& src) {
  if (!src.isBound()) return {};
  vcPelBuffer<unsigned char> dst(src.width(), src.height());
  vfPelCopy(src, dst);
  dst.clientFromImageXform(src.clientFromImageXform());
  return dst;
}

void vfPelCopy(const vcPelBuffer_const<unsigned char>& src, const vcPelBuffer<unsigned char>& dst) {
  requireBound(src, "vfPelCopy");
  requireBound(dst, "vfPelCopy");
  if (src.width() == dst.width() && src.height() == dst.height()) {
    for (long y = 0; y < src.height(); ++y)
      std::memmove(dst.row(y), src.row(y), static_cast<std::size_t>(src.width()));
    return;
  }
  const vcPelRect both = src.window().intersect(dst.window());
  if (both.isNull()) return;
  const long sx = both.x() - src.offset().x(), sy = both.y() - src.offset().y();
  const long dx = both.x() - dst.offset().x(), dy = both.y() - dst.offset().y();
  for (long y = 0; y < both.height(); ++y)
    std::memmove(dst.row(dy + y) + dx, src.row(sy + y) + sx,
                 static_cast<std::size_t>(both.width()));
}

bool vfPelEqual(const vcPelBuffer_const<unsigned char>& a,
                const vcPelBuffer_const<unsigned char>& b) {
  if (a.isBound() != b.isBound()) return false;
  if (!a.isBound()) return true;
  if (a.width() != b.width() || a.height() != b.height()) return false;
  for (long y = 0; y < a.height(); ++y)
    if (std::memcmp(a.row(y), b.row(y), static_cast<std::size_t>(a.width())) != 0) return false;
  return true;
}

void vfPelMap(const vcPelBuffer_const<unsigned char>& src, const vcPelBuffer<unsigned char>& dst,
              const unsigned char table[256]) {
  requireBound(src, "vfPelMap");
  requireBound(dst, "vfPelMap");
  requireSameSize(src, dst, "vfPelMap");
  for (long y = 0; y < src.height(); ++y) {
    const unsigned char* s = src.row(y);
    unsigned char* d = dst.row(y);
    for (long x = 0; x < src.width(); ++x) d[x] = table[s[x]];
  }
}

void vfPelSet_U8(const vcPelBuffer<unsigned char>& dst, unsigned char value) {
  requireBound(dst, "vfPelSet_U8");
  for (long y = 0; y < dst.height(); ++y)
    std::memset(dst.row(y), value, static_cast<std::size_t>(dst.width()));
}

namespace {

// How version 1 holds the pixels: as rows (what version 0 always did), as the pixels of an
// earlier buffer of the same archive, or coded (vcPelCodec.h).
enum PelForm : unsigned char { eRows = 0, eSameAsEarlier = 1, eCoded = 2 };

std::uint64_t pelHash(const vcPelBuffer_const<unsigned char>& img) {
  std::uint64_t h =
      0x9E3779B97F4A7C15ull ^ std::uint64_t(img.width()) << 32 ^ std::uint64_t(img.height());
  for (long y = 0; y < img.height(); ++y) {
    const unsigned char* r = img.row(y);
    long x = 0;
    for (; x + 8 <= img.width(); x += 8) {
      std::uint64_t v;
      std::memcpy(&v, r + x, 8);
      h = (h ^ v) * 0xFF51AFD7ED558CCDull;
      h ^= h >> 29;
    }
    for (; x < img.width(); ++x) h = (h ^ r[x]) * 0xC4CEB9FE1A85EC53ull;
  }
  return h;
}

// The index of an earlier buffer of `ar` with the same window and pixels, or -1; remembers
// `img` for the buffers that follow.
long earlierEqual(vcArchive& ar, const vcPelBuffer_const<unsigned char>& img) {
  const std::uint64_t h = pelHash(img);
  auto& buffers = ar.pelBuffers();
  const auto range = ar.pelIndex().equal_range(h);
  for (auto it = range.first; it != range.second; ++it) {
    const vcPelBuffer_const<unsigned char>& e = buffers[it->second].pels;
    if (e.window() == img.window() && vfPelEqual(e, img)) return static_cast<long>(it->second);
  }
  ar.pelIndex().emplace(h, buffers.size());
  buffers.push_back({img, false});
  return -1;
}

void storePels(vcArchive& ar, const vcPelBuffer<unsigned char>& img, unsigned char version) {
  if (version == 0) {
    for (long y = 0; y < img.height(); ++y)
      ar.putBytes(img.row(y), static_cast<std::size_t>(img.width()));
    return;
  }
  const long earlier = earlierEqual(ar, img);
  unsigned char form = eSameAsEarlier;
  if (earlier >= 0) {
    unsigned int index = static_cast<unsigned int>(earlier);
    ar || form || index;
    return;
  }
  std::vector<std::uint8_t> code = vfEncodePels(img);
  const std::uint64_t raw = std::uint64_t(img.width()) * std::uint64_t(img.height());
  form = code.size() < raw ? eCoded : eRows;
  ar || form;
  if (form == eRows) {
    storePels(ar, img, 0);
    return;
  }
  unsigned long bytes = code.size();
  ar || bytes;
  ar.putBytes(code.data(), code.size());
}

// The pixels of a loaded buffer of the stored window, checked against what the remaining bytes
// can hold before anything is allocated. A `readOnly` buffer equal to an earlier read-only one
// shares its pixels: references then cost no memory, however many a damaged archive holds.
vcPelBuffer<unsigned char> loadPels(vcArchive& ar, const vcPelRect& win, unsigned char version,
                                    bool readOnly) {
  const std::uint64_t pixels = std::uint64_t(win.width()) * std::uint64_t(win.height());
  unsigned char form = eRows;
  if (version > 0) ar || form;
  if (form == eSameAsEarlier) {
    unsigned int index = 0;
    ar || index;
    auto& buffers = ar.pelBuffers();
    if (index >= buffers.size() || buffers[index].pels.window() != win)
      throw vcArchive::BadData("archive holds a reference to a missing image");
    vcPelBuffer<unsigned char> loaded;
    if (readOnly && buffers[index].shared) {
      static_cast<vcPelBuffer_const<unsigned char>&>(loaded) = buffers[index].pels;
    } else {
      loaded = vcPelBuffer<unsigned char>(win, 1);
      vfPelCopy(buffers[index].pels, loaded);
    }
    return loaded;
  }
  vcPelBuffer<unsigned char> loaded;
  if (form == eRows) {
    if (pixels > ar.remaining()) throw vcArchive::BadData("archive holds an invalid image size");
    loaded = vcPelBuffer<unsigned char>(win, 1);
    for (long y = 0; y < loaded.height(); ++y)
      ar.getBytes(loaded.row(y), static_cast<std::size_t>(loaded.width()));
  } else if (form == eCoded) {
    unsigned long bytes = 0;
    ar || bytes;
    // A code longer than what remains is where a cut archive ends.
    if (bytes > ar.remaining()) throw vcArchive::EndOfData("archive ends inside an image");
    if (pixels > vfMaxCodedPels(static_cast<std::size_t>(bytes)))
      throw vcArchive::BadData("archive holds an invalid image size");
    std::vector<std::uint8_t> code(static_cast<std::size_t>(bytes));
    ar.getBytes(code.data(), code.size());
    loaded = vcPelBuffer<unsigned char>(win, 1);
    vfDecodePels(code.data(), code.size(), loaded);
  } else {
    throw vcArchive::BadData("archive holds an unknown image form");
  }
  if (version > 0) ar.pelBuffers().push_back({loaded, readOnly});
  return loaded;
}

}  // namespace

namespace {

// Version 1 codes the pixels, and stores a buffer equal to an earlier one of the same archive
// as a reference to it; version 0 (raw rows) still loads.
void exchangePels(vcArchive& ar, vcPelBuffer<unsigned char>& img, bool readOnly) {
  const unsigned char version = vfExchangeVersion(ar, 1, 1, "vcPelBuffer");
  bool bound = img.isBound();
  ar || bound;
  if (!bound) {
    if (ar.isLoading()) img = vcPelBuffer<unsigned char>();
    return;
  }
  vcPelRect win = img.window();
  vcXform<2> client = img.clientFromImageXform();
  ar || win || client;
  if (ar.isStoring()) {
    storePels(ar, img, version);
    return;
  }
  if (win.width() <= 0 || win.height() <= 0 || win.width() > (1l << 30) ||
      win.height() > (1l << 30))
    throw vcArchive::BadData("archive holds an invalid image size");
  vcPelBuffer<unsigned char> loaded = loadPels(ar, win, version, readOnly);
  loaded.clientFromImageXform(client);
  img = loaded;
}

}  // namespace

vcArchive& operator||(vcArchive& ar, vcPelBuffer<unsigned char>& img) {
  exchangePels(ar, img, false);
  return ar;
}

vcArchive& operator||(vcArchive& ar, vcPelBuffer_const<unsigned char>& img) {
  // Storing only reads the pixels; the non-const view exists solely to share the code above.
  vcPelBuffer<unsigned char> view;
  static_cast<vcPelBuffer_const<unsigned char>&>(view) = img;
  exchangePels(ar, view, true);
  if (ar.isLoading()) img = view;
  return ar;
}

namespace {
// Reads one header token, skipping whitespace and '#' comments.
std::string pgmToken(std::istream& in, const std::string& path) {
  std::string tok;
  int c = in.get();
  while (c != EOF) {
    if (c == '#') {
      while (c != EOF && c != '\n') c = in.get();
    } else if (!std::isspace(c)) {
      break;
    }
    c = in.get();
  }
  while (c != EOF && !std::isspace(c) && tok.size() < 16) {
    tok.push_back(static_cast<char>(c));
    c = in.get();
  }
  if (tok.empty()) throw vcBadParams("PGM file has a truncated header: " + path);
  return tok;
}

long pgmNumber(std::istream& in, const std::string& path, const char* field) {
  const std::string tok = pgmToken(in, path);
  long v = 0;
  for (char ch : tok) {
    if (!std::isdigit(static_cast<unsigned char>(ch)) || v > 1000000)
      throw vcBadParams(std::string("PGM file has an invalid ") + field + ": " + path);
    v = v * 10 + (ch - '0');
  }
  return v;
}
}  // namespace

vcPelBuffer<unsigned char> vfReadPgm(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw vcBadParams("cannot open PGM file: " + path);
  if (pgmToken(in, path) != "P5") throw vcBadParams("not a binary PGM (P5) file: " + path);
  const long w = pgmNumber(in, path, "width");
  const long h = pgmNumber(in, path, "height");
  const long maxval = pgmNumber(in, path, "maximum value");
  if (w <= 0 || h <= 0 || w > 65536 || h > 65536)
    throw vcBadParams("PGM file has an unsupported size: " + path);
  if (maxval != 255) throw vcBadParams("PGM file is not 8-bit (maxval must be 255): " + path);
  // The declared size is checked against the bytes the file holds before anything is
  // allocated, so a short file cannot ask for gigabytes.
  const std::streamoff pixelsAt = in.tellg();
  in.seekg(0, std::ios::end);
  const std::streamoff fileEnd = in.tellg();
  if (pixelsAt < 0 || fileEnd < 0 || fileEnd - pixelsAt < static_cast<std::streamoff>(w) * h)
    throw vcBadParams("PGM file has truncated pixel data: " + path);
  in.seekg(pixelsAt);
  vcPelBuffer<unsigned char> img(w, h);
  for (long y = 0; y < h; ++y) {
    in.read(reinterpret_cast<char*>(img.row(y)), w);
    if (in.gcount() != w) throw vcBadParams("PGM file has truncated pixel data: " + path);
  }
  return img;
}

void vfWritePgm(const std::string& path, const vcPelBuffer_const<unsigned char>& img) {
  if (!img.isBound()) throw vcBadParams("vfWritePgm: image is not bound");
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw vcBadParams("cannot open PGM file for writing: " + path);
  out << "P5\n" << img.width() << " " << img.height() << "\n255\n";
  for (long y = 0; y < img.height(); ++y)
    out.write(reinterpret_cast<const char*>(img.row(y)), img.width());
  if (!out) throw vcBadParams("cannot write PGM file: " + path);
}
