// Archive pieces shared by the FlexAlign sources: each list carries a version byte of its own
// and a 32-bit count, and every count is checked against the bytes that remain before anything
// is allocated.
#pragma once

#include <cstddef>
#include <vector>

#include "platform/core/vcArchive.h"
#include "platform/core/vcHandle.h"
#include "vcFlexAlignTool.h"

namespace vc_flxalign {

inline constexpr const char* kSource = "flxalign";

inline void exchangeListVersion(vcArchive& ar, long line) {
  unsigned char version = 0;
  ar || version;
  if (version != 0) throw vcArchive::UnknownVersion(kSource, line);
}

// A 32-bit element count; loading refuses a count that the remaining bytes cannot hold.
inline std::size_t exchangeCount32(vcArchive& ar, std::size_t count, std::size_t minBytes) {
  unsigned int n = static_cast<unsigned int>(count);
  ar || n;
  if (ar.isLoading() && static_cast<std::size_t>(n) > ar.remaining() / minBytes)
    throw vcArchive::BadData("flxalign list count exceeds the data that remains");
  return n;
}

// Signed 32-bit values behind a version byte and a count.
inline void exchangeLongs(vcArchive& ar, std::vector<long>& v, long line) {
  exchangeListVersion(ar, line);
  const std::size_t n = exchangeCount32(ar, v.size(), 4);
  if (ar.isLoading()) v.assign(n, 0);
  for (long& x : v) {
    int i = static_cast<int>(x);
    ar || i;
    x = i;
  }
}

// Polymorphic objects held by handle, behind a version byte and a count.
template <class T>
void exchangeHandles(vcArchive& ar, std::vector<vcPtrHandle_const<T>>& v, long line) {
  exchangeListVersion(ar, line);
  const std::size_t n = exchangeCount32(ar, v.size(), 1);
  if (ar.isLoading()) v.assign(n, vcPtrHandle_const<T>());
  for (auto& h : v) {
    T* p = const_cast<T*>(h.ptr());
    serializePointer(ar, nullptr, p);
    if (ar.isLoading()) h = vcPtrHandle_const<T>(p);
  }
}

// One status: kind (32-bit), score, threshold, the other instance (signed 32-bit), amount and
// the window (four signed 32-bit values). Loading refuses an unknown kind.
inline void exchangeStatus(vcArchive& ar, vcFlexAlignStatus& s) {
  int kind = s.kind, other = static_cast<int>(s.other);
  int wx = static_cast<int>(s.window.x()), wy = static_cast<int>(s.window.y());
  int ww = static_cast<int>(s.window.width()), wh = static_cast<int>(s.window.height());
  ar || kind || s.score || s.threshold || other || s.amount || wx || wy || ww || wh;
  if (ar.isStoring()) return;
  if (kind < vcFlexAlignStatus::eFound || kind > vcFlexAlignStatus::eBeyondUncertainty)
    throw vcArchive::BadData("flxalign status: unknown kind");
  s.kind = static_cast<vcFlexAlignStatus::Kind>(kind);
  s.other = other;
  s.window = vcPelRect(wx, wy, ww, wh);
}

// Statuses behind a version byte and a count (each needs 48 bytes).
inline void exchangeStatuses(vcArchive& ar, std::vector<vcFlexAlignStatus>& v, long line) {
  exchangeListVersion(ar, line);
  const std::size_t n = exchangeCount32(ar, v.size(), 48);
  if (ar.isLoading()) v.assign(n, vcFlexAlignStatus());
  for (vcFlexAlignStatus& s : v) exchangeStatus(ar, s);
}

}  // namespace vc_flxalign

template <class P>
void vc_InstanceParamSets<P>::exchange(vcArchive& ar) {
  using namespace vc_flxalign;
  // Loads into locals, so a damaged archive leaves the sets as they were.
  Handle standard = standard_;
  std::vector<long> indices = indices_;
  std::vector<Handle> custom = custom_;
  P* raw = const_cast<P*>(standard.ptr());
  serializePointer(ar, nullptr, raw);
  if (ar.isLoading()) standard = Handle(raw);
  exchangeLongs(ar, indices, __LINE__);
  exchangeHandles(ar, custom, __LINE__);
  if (ar.isStoring()) return;
  if (standard.isNull() || indices.size() != custom.size())
    throw vcArchive::BadData("flxalign parameters: missing or unmatched sub-model sets");
  for (const Handle& h : custom)
    if (h.isNull()) throw vcArchive::BadData("flxalign parameters: empty custom set");
  standard_ = standard;
  indices_ = std::move(indices);
  custom_ = std::move(custom);
}
