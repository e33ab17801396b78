// Bidirectional binary archive: the same `ar || value` stores when writing and loads when
// reading. Bytes live in memory; a file archive reads the whole file on open and writes it
// on close, so reads can check every count against the bytes that remain.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <typeindex>
#include <typeinfo>
#include <utility>
#include <vector>

#include "platform/core/vcException.h"
#include "platform/core/vcHandle.h"
#include "platform/core/vcPelBuffer.h"
#include "platform/core/vcPersistent.h"
#include "platform/core/vcVector.h"

class vcArchive {
 public:
  // Any failure of the archive itself: truncated data, bad counts, unknown classes, I/O.
  class Errors : public vcExceptionWithString {
   public:
    explicit Errors(const std::string& msg = std::string()) : vcExceptionWithString(msg) {}
  };
  class UnknownVersion : public Errors {
   public:
    UnknownVersion(const std::string& text = std::string(), long number = 0);
    const std::string& text() const { return text_; }
    long number() const { return number_; }

   private:
    std::string text_;
    long number_ = 0;
  };
  class EndOfData : public Errors {
   public:
    using Errors::Errors;
  };
  class BadData : public Errors {
   public:
    using Errors::Errors;
  };
  class UnknownClass : public Errors {
   public:
    using Errors::Errors;
  };
  class IoError : public Errors {
   public:
    using Errors::Errors;
  };

  enum Direction { eStoring, eLoading };

  // A writing archive in memory.
  vcArchive();
  // A reading archive over the given bytes.
  explicit vcArchive(std::vector<std::uint8_t> bytes);
  // A file archive; a reading one fails with IoError if the file cannot be read.
  static vcArchive openFile(const std::string& path, Direction dir);
  vcArchive(vcArchive&&) noexcept;
  vcArchive& operator=(vcArchive&&) noexcept;
  vcArchive(const vcArchive&) = delete;
  vcArchive& operator=(const vcArchive&) = delete;
  // A writing file archive flushes here (errors are swallowed; call close() to see them).
  ~vcArchive();
  // Writes a storing file archive to disk; throws IoError on failure.
  void close();

  bool isStoring() const { return dir_ == eStoring; }
  bool isLoading() const { return dir_ == eLoading; }
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }
  std::size_t remaining() const { return bytes_.size() - pos_; }

  void putBytes(const void* p, std::size_t n);
  void getBytes(void* p, std::size_t n);
  // Reads a length and checks that at least count * minBytesPerItem bytes remain.
  std::uint64_t exchangeCount(std::uint64_t count, std::size_t minBytesPerItem);

  // Visited marks of the current pass (one top-level `ar || persistent` call), one per object
  // and class level: keyed by the level's type, since a derived level that adds no data has
  // the same address and size as its base.
  bool haveVisited(const void* p, const std::type_info& level) const;
  void setVisited(const void* p, const std::type_info& level);

  // Used by vcArchivePass and serializePointer.
  void beginPass();
  void endPass();
  std::vector<vcPersistent*>& loadedPointers() { return loaded_; }
  // Shared (reference-counted) objects read from this archive stay alive as long as the
  // archive does, so a back-reference never reaches an object its first owner already freed.
  void keepAlive(const vcRepBase* obj) { keptAlive_.emplace_back(obj); }
  std::map<const vcPersistent*, std::uint32_t>& storedPointers() { return stored_; }
  // Pixel buffers exchanged through this archive, in order, so that one equal to an earlier
  // one is stored as a reference to it (used by the pixel buffers' own exchange). A loaded one
  // is `shared` when it was loaded read-only, so a later read-only reference may share its
  // pixels. The index maps a hash of the pixels to the buffers that have it.
  struct PelEntry {
    vcPelBuffer_const<unsigned char> pels;
    bool shared = false;
  };
  std::vector<PelEntry>& pelBuffers() { return pels_; }
  std::multimap<std::uint64_t, std::size_t>& pelIndex() { return pelIndex_; }

 private:
  Direction dir_ = eStoring;
  std::vector<std::uint8_t> bytes_;
  std::size_t pos_ = 0;
  std::string path_;
  int depth_ = 0;
  std::set<std::pair<const void*, std::type_index>> visited_;
  std::vector<vcPersistent*> loaded_;
  std::vector<vcPtrHandle_const<vcRepBase>> keptAlive_;
  std::map<const vcPersistent*, std::uint32_t> stored_;
  std::vector<PelEntry> pels_;
  std::multimap<std::uint64_t, std::size_t> pelIndex_;
};

vcArchive& operator||(vcArchive& ar, bool& v);
vcArchive& operator||(vcArchive& ar, int& v);
vcArchive& operator||(vcArchive& ar, long& v);
vcArchive& operator||(vcArchive& ar, unsigned long& v);
vcArchive& operator||(vcArchive& ar, unsigned int& v);
vcArchive& operator||(vcArchive& ar, unsigned char& v);
vcArchive& operator||(vcArchive& ar, float& v);
vcArchive& operator||(vcArchive& ar, double& v);
vcArchive& operator||(vcArchive& ar, std::string& v);
vcArchive& operator||(vcArchive& ar, vcVector<2>& v);
// A whole persistent object: one pass (visited marks are cleared at the outermost call).
vcArchive& operator||(vcArchive& ar, vcPersistent& obj);

// Reads a version byte (or writes `current`); a version above `maxAccepted` throws
// UnknownVersion(text, version).
unsigned char vfExchangeVersion(vcArchive& ar, unsigned char current, unsigned char maxAccepted,
                                const std::string& text);

// Stores or loads a pointer to a polymorphic persistent object. The loaded object is created
// through its registered factory, and its class is checked with `accepts` before any of its
// contents are read, for new objects and back-references alike: a slot never receives an
// object of another class. Ownership of a new object is the caller's. Objects held through
// reference-counted handles (vcRepBase) may be stored twice in one archive; they are loaded
// once, both places share them, and the archive holds a reference until it is destroyed.
// Any other object has a single owner, so a back-reference to it is refused. Cycles (an
// object reachable from itself) fail with BadData. Damaged data of any kind fails with a
// vcArchive::Errors exception, leaves `p` as it was, and allocates nothing beyond what the
// remaining bytes could hold.
using vcArchiveClassCheck = bool (*)(const vcPersistent*);
void vfSerializePointerBase(vcArchive& ar, const vcPersistent* owner, vcPersistent*& p,
                            vcArchiveClassCheck accepts, const char* expected);

template <class T>
void serializePointer(vcArchive& ar, const vcPersistent* owner, T*& p) {
  vcPersistent* base = p;
  vfSerializePointerBase(
      ar, owner, base, [](const vcPersistent* o) { return dynamic_cast<const T*>(o) != nullptr; },
      typeid(T).name());
  if (ar.isLoading()) p = dynamic_cast<T*>(base);
}
