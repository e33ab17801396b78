// Helpers shared by the sub-model parameter and result sources (private to this folder).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/core/vcArchive.h"
#include "platform/core/vcHandle.h"
#include "platform/core/vcText.h"

// Debug-string lines start with ten blanks so that they nest under the FlexAlign texts.
inline const std::string kDbgIndent(10, ' ');
inline const std::string kDbgSubIndent(13, ' ');

inline std::string vfDbgLine(const std::string& label, const std::string& value) {
  return kDbgIndent + label + value + "\n";
}

// Exchanges the second version byte that every level's serialize_ carries; anything but 0 is
// refused with the source name and the caller's line.
inline void vfExchangeLevelVersion(vcArchive& ar, unsigned char version, const char* source,
                                   long line) {
  unsigned char again = version;
  ar || again;
  if (version != 0 || again != 0) throw vcArchive::UnknownVersion(source, line);
}

// A persistent object held by handle: stored as a polymorphic pointer, so the object's class
// travels with it and comes back on loading. A pointer met twice in one archive is loaded once
// and the handles share it, which the reference count makes safe.
template <class T>
void vfSerializeHandle(vcArchive& ar, const vcPersistent* owner, vcPtrHandle_const<T>& h) {
  T* p = const_cast<T*>(h.ptr());
  serializePointer(ar, owner, p);
  if (ar.isLoading()) h = vcPtrHandle_const<T>(p);
}

template <class T>
void vfSerializeHandle(vcArchive& ar, const vcPersistent* owner, vcPtrHandle<T>& h) {
  T* p = h.ptr();
  serializePointer(ar, owner, p);
  if (ar.isLoading()) h = vcPtrHandle<T>(p);
}

// A vector of doubles: its length, then the values.
inline void vfSerializeDoubles(vcArchive& ar, std::vector<double>& v) {
  const std::uint64_t n = ar.exchangeCount(v.size(), sizeof(double));
  if (ar.isLoading()) v.assign(static_cast<std::size_t>(n), 0.0);
  for (double& d : v) ar || d;
}
