#include "platform/core/vcArchive.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <typeindex>
#include <unordered_map>

namespace {

// The archivable classes by the names archives hold (fixed and older ones) and by type. Built
// once from the class list on first use and never changed after, so lookups need no lock.
struct Registry {
  std::unordered_map<std::string, vcPersistentFactory> byName;
  std::unordered_map<std::type_index, const char*> nameOf;
  std::vector<std::string> names;
};

const Registry& registry() {
  static const Registry r = [] {
    Registry out;
    for (const vcPersistentClass& c : vf_PersistentClasses()) {
      out.byName.emplace(c.name, c.make);
      out.byName.emplace(c.olderName, c.make);
      out.nameOf.emplace(std::type_index(*c.type), c.name);
      out.names.emplace_back(c.name);
    }
    std::sort(out.names.begin(), out.names.end());
    return out;
  }();
  return r;
}

// The fixed name of an object's class, or its type name when it has none (for messages).
std::string classNameOf(const vcPersistent& obj) {
  const char* name = vfPersistentName(typeid(obj));
  return name ? name : typeid(obj).name();
}

// Fixed little-endian layout so archives move between machines.
template <class U>
void exchangeRaw(vcArchive& ar, U& v) {
  unsigned char b[sizeof(U)];
  if (ar.isStoring()) {
    std::memcpy(b, &v, sizeof(U));
    if constexpr (std::endian::native == std::endian::big) std::reverse(b, b + sizeof(U));
    ar.putBytes(b, sizeof(U));
  } else {
    ar.getBytes(b, sizeof(U));
    if constexpr (std::endian::native == std::endian::big) std::reverse(b, b + sizeof(U));
    std::memcpy(&v, b, sizeof(U));
  }
}

constexpr std::uint64_t kMaxStringBytes = 1u << 28;
// Class names are short; a long one is damage, and would only bloat the error message.
constexpr std::uint64_t kMaxClassNameBytes = 1024;
// Nesting of persistent objects inside one another. Real data nests a few levels; the limit
// keeps damaged or hostile data from exhausting the stack through deep recursion.
constexpr int kMaxNesting = 200;

enum PointerTag : unsigned char { eNullPointer = 0, eSeenPointer = 1, eNewPointer = 2 };

}  // namespace

vcPersistentFactory vfFindPersistentFactory(const char* typeName) {
  const Registry& r = registry();
  const auto it = r.byName.find(typeName);
  return it == r.byName.end() ? nullptr : it->second;
}

const char* vfPersistentName(const std::type_info& type) {
  const Registry& r = registry();
  const auto it = r.nameOf.find(std::type_index(type));
  return it == r.nameOf.end() ? nullptr : it->second;
}

std::vector<std::string> vfRegisteredPersistentNames() { return registry().names; }

void vcPersistent::loadSimple(vcArchive& ar) {
  reInit();
  ar || *this;
}

vcArchive::UnknownVersion::UnknownVersion(const std::string& text, long number)
    : Errors("unknown archive version " + std::to_string(number) + " for " + text),
      text_(text),
      number_(number) {}

vcArchive::vcArchive() = default;
vcArchive::vcArchive(std::vector<std::uint8_t> bytes) : dir_(eLoading), bytes_(std::move(bytes)) {}
vcArchive::vcArchive(vcArchive&&) noexcept = default;
vcArchive& vcArchive::operator=(vcArchive&&) noexcept = default;

vcArchive vcArchive::openFile(const std::string& path, Direction dir) {
  if (dir == eLoading) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw IoError("cannot open archive file for reading: " + path);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    if (in.bad()) throw IoError("cannot read archive file: " + path);
    return vcArchive(std::move(bytes));
  }
  vcArchive ar;
  ar.path_ = path;
  // Fail early rather than after the caller has built the whole archive.
  std::ofstream probe(path, std::ios::binary | std::ios::trunc);
  if (!probe) throw IoError("cannot open archive file for writing: " + path);
  return ar;
}

vcArchive::~vcArchive() {
  try {
    close();
  } catch (...) {
  }
}

void vcArchive::close() {
  if (dir_ != eStoring || path_.empty()) return;
  const std::string path = std::exchange(path_, std::string());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes_.data()),
            static_cast<std::streamsize>(bytes_.size()));
  if (!out) throw IoError("cannot write archive file: " + path);
}

void vcArchive::putBytes(const void* p, std::size_t n) {
  const auto* b = static_cast<const std::uint8_t*>(p);
  bytes_.insert(bytes_.end(), b, b + n);
}

void vcArchive::getBytes(void* p, std::size_t n) {
  if (n > remaining())
    throw EndOfData("archive ends early: " + std::to_string(n) + " bytes wanted, " +
                    std::to_string(remaining()) + " left");
  // An empty list's destination may be null, which memcpy must not be given even for 0 bytes.
  if (n == 0) return;
  std::memcpy(p, bytes_.data() + pos_, n);
  pos_ += n;
}

std::uint64_t vcArchive::exchangeCount(std::uint64_t count, std::size_t minBytesPerItem) {
  exchangeRaw(*this, count);
  // Every stored item takes at least one byte, so even callers that give no size cannot be
  // made to reserve more items than the bytes that are left.
  if (minBytesPerItem == 0) minBytesPerItem = 1;
  if (isLoading() && count > remaining() / minBytesPerItem)
    throw BadData("archive count " + std::to_string(count) + " exceeds the data that remains");
  return count;
}

bool vcArchive::haveVisited(const void* p, const std::type_info& level) const {
  return visited_.count({p, std::type_index(level)}) != 0;
}

void vcArchive::setVisited(const void* p, const std::type_info& level) {
  visited_.insert({p, std::type_index(level)});
}

void vcArchive::beginPass() {
  if (isLoading() && depth_ >= kMaxNesting)
    throw BadData("archive nests objects more than " + std::to_string(kMaxNesting) + " deep");
  if (depth_++ == 0) visited_.clear();
}

void vcArchive::endPass() {
  if (--depth_ == 0) visited_.clear();
}

vcArchive& operator||(vcArchive& ar, bool& v) {
  unsigned char b = v ? 1 : 0;
  exchangeRaw(ar, b);
  if (ar.isLoading()) {
    if (b > 1) throw vcArchive::BadData("archive holds an invalid bool");
    v = b != 0;
  }
  return ar;
}

vcArchive& operator||(vcArchive& ar, int& v) {
  std::int32_t x = v;
  exchangeRaw(ar, x);
  v = x;
  return ar;
}

// long travels as 64 bits so archives written on one data model read on another.
vcArchive& operator||(vcArchive& ar, long& v) {
  std::int64_t x = v;
  exchangeRaw(ar, x);
  v = static_cast<long>(x);
  return ar;
}

vcArchive& operator||(vcArchive& ar, unsigned long& v) {
  std::uint64_t x = v;
  exchangeRaw(ar, x);
  v = static_cast<unsigned long>(x);
  return ar;
}

vcArchive& operator||(vcArchive& ar, unsigned int& v) {
  std::uint32_t x = v;
  exchangeRaw(ar, x);
  v = x;
  return ar;
}

vcArchive& operator||(vcArchive& ar, unsigned char& v) {
  exchangeRaw(ar, v);
  return ar;
}

vcArchive& operator||(vcArchive& ar, float& v) {
  exchangeRaw(ar, v);
  return ar;
}

vcArchive& operator||(vcArchive& ar, double& v) {
  exchangeRaw(ar, v);
  return ar;
}

vcArchive& operator||(vcArchive& ar, std::string& v) {
  std::uint64_t n = ar.exchangeCount(v.size(), 1);
  if (n > kMaxStringBytes) throw vcArchive::BadData("archive string is too long");
  if (ar.isStoring()) {
    ar.putBytes(v.data(), v.size());
  } else {
    std::string s(static_cast<std::size_t>(n), '\0');
    ar.getBytes(s.data(), s.size());
    v = std::move(s);
  }
  return ar;
}

vcArchive& operator||(vcArchive& ar, vcVector<2>& v) {
  double x = v.x(), y = v.y();
  ar || x || y;
  v = vcVector<2>(x, y);
  return ar;
}

vcArchive& operator||(vcArchive& ar, vcPersistent& obj) {
  ar.beginPass();
  try {
    obj.dispatchSerialize(ar);
  } catch (...) {
    ar.endPass();
    throw;
  }
  ar.endPass();
  return ar;
}

unsigned char vfExchangeVersion(vcArchive& ar, unsigned char current, unsigned char maxAccepted,
                                const std::string& text) {
  unsigned char v = current;
  ar || v;
  if (ar.isLoading() && v > maxAccepted) throw vcArchive::UnknownVersion(text, v);
  return v;
}

void vfSerializePointerBase(vcArchive& ar, const vcPersistent*, vcPersistent*& p,
                            vcArchiveClassCheck accepts, const char* expected) {
  if (ar.isStoring()) {
    unsigned char tag = eNullPointer;
    if (!p) {
      ar || tag;
      return;
    }
    auto& stored = ar.storedPointers();
    const auto it = stored.find(p);
    if (it != stored.end()) {
      tag = eSeenPointer;
      std::uint32_t index = it->second;
      ar || tag || index;
      return;
    }
    tag = eNewPointer;
    const char* fixed = vfPersistentName(typeid(*p));
    if (!fixed)
      throw vcArchive::UnknownClass(std::string("class is not registered for archiving: ") +
                                    typeid(*p).name());
    std::string name = fixed;
    const auto index = static_cast<std::uint32_t>(stored.size());
    stored.emplace(p, index);
    ar || tag || name;
    ar || *p;
    return;
  }
  unsigned char tag = 0;
  ar || tag;
  if (tag == eNullPointer) {
    p = nullptr;
    return;
  }
  auto& loaded = ar.loadedPointers();
  if (tag == eSeenPointer) {
    std::uint32_t index = 0;
    ar || index;
    if (index >= loaded.size() || !loaded[index])
      throw vcArchive::BadData("archive refers to an unknown object");
    vcPersistent* seen = loaded[index];
    if (!dynamic_cast<const vcRepBase*>(seen))
      throw vcArchive::BadData("archive refers twice to an object of class " + classNameOf(*seen) +
                               ", which has one owner");
    if (!accepts(seen))
      throw vcArchive::BadData("archive refers to an object of class " + classNameOf(*seen) +
                               " where " + expected + " is expected");
    p = seen;
    return;
  }
  if (tag != eNewPointer) throw vcArchive::BadData("archive holds an invalid pointer tag");
  std::string name;
  {
    std::uint64_t n = ar.exchangeCount(0, 1);
    if (n == 0 || n > kMaxClassNameBytes)
      throw vcArchive::BadData("archive holds an invalid class name length " + std::to_string(n));
    name.resize(static_cast<std::size_t>(n));
    ar.getBytes(name.data(), name.size());
  }
  const vcPersistentFactory make = vfFindPersistentFactory(name.c_str());
  if (!make) throw vcArchive::UnknownClass("archive names an unknown class: " + name);
  std::unique_ptr<vcPersistent> obj(make());
  if (!accepts(obj.get()))
    throw vcArchive::BadData("archive holds an object of class " + name + " where " + expected +
                             " is expected");
  // The index is taken now (the writer numbered the object before its contents) but the slot
  // stays empty until the object is complete: a reference to an object from inside itself is
  // refused instead of handing out a half-read object that a failure would then free.
  const std::size_t index = loaded.size();
  loaded.push_back(nullptr);
  ar || *obj;
  if (const auto* shared = dynamic_cast<const vcRepBase*>(obj.get())) ar.keepAlive(shared);
  loaded[index] = obj.get();
  p = obj.release();
}
