// Helpers for the sub-model parameter tests.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/core/vcArchive.h"
#include "platform/core/vcHandle.h"
#include "vcFlexErrors.h"

// Runs `f`, expects exception E and returns its message (empty when nothing or something else
// was thrown, after recording a failure).
template <class E, class F>
std::string thrownMessage(F&& f) {
  try {
    f();
  } catch (const E& e) {
    return e.message(false);
  } catch (...) {
    ADD_FAILURE() << "unexpected exception type";
    return "<other>";
  }
  ADD_FAILURE() << "nothing thrown";
  return "<none>";
}

// Stores a persistent object as a polymorphic pointer and loads it back, so the class comes
// back from the archive's registry rather than from the caller.
template <class Base>
vcPtrHandle<Base> roundTripThroughBase(Base& obj) {
  vcArchive out;
  Base* p = &obj;
  serializePointer(out, nullptr, p);
  vcArchive in(out.bytes());
  Base* loaded = nullptr;
  serializePointer(in, nullptr, loaded);
  EXPECT_EQ(in.remaining(), 0u);
  return vcPtrHandle<Base>(loaded);
}

template <class T>
T readAt(const std::vector<std::uint8_t>& b, std::size_t at) {
  T v{};
  std::memcpy(&v, b.data() + at, sizeof(T));
  return v;
}
