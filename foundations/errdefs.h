// Definitions shared by the error families' sources (private to foundations/).
#pragma once

#include <typeinfo>

#include "platform/core/vcArchive.h"
#include "platform/core/vcPersistent.h"
#include "vcFlexErrors.h"

// The family base: its own version byte, then the message of vcExceptionWithString.
#define VC_FLEX_DEFINE_ERROR_FAMILY_BASE(Family)                                 \
  Family::Errors::Errors(const std::string& msg) : vcExceptionWithString(msg) {} \
  void Family::Errors::dispatchSerialize(vcArchive& ar) {                        \
    if (ar.haveVisited(this, typeid(Errors))) return;                            \
    unsigned char version = 0;                                                   \
    ar || version;                                                               \
    if (version != 0) throw vcArchive::UnknownVersion(#Family "::Errors", 0);    \
    serialize_(ar, version);                                                     \
    ar.setVisited(this, typeid(Errors));                                         \
  }                                                                              \
  void Family::Errors::serialize_(vcArchive& ar, unsigned char version) {        \
    if (version != 0) throw vcArchive::UnknownVersion(#Family "::Errors", 0);    \
    vcExceptionWithString::dispatchSerialize(ar);                                \
  }

// One concrete class: number, self-rethrow, factory, its version byte before the base's.
#define VC_FLEX_DEFINE_ERROR(Family, Name, Number)                            \
  Family::Name::Name(const std::string& msg) : Errors(msg) {}                 \
  long Family::Name::errorNumber() const { return Number; }                   \
  void Family::Name::suicideAndRethrow() {                                    \
    Name copy(*this);                                                         \
    delete this;                                                              \
    throw copy;                                                               \
  }                                                                           \
  vcPersistent* Family::Name::make() { return new Name; }                     \
  void Family::Name::dispatchSerialize(vcArchive& ar) {                       \
    if (ar.haveVisited(this, typeid(Name))) return;                           \
    unsigned char version = 0;                                                \
    ar || version;                                                            \
    if (version != 0) throw vcArchive::UnknownVersion(#Family "::" #Name, 0); \
    serialize_(ar, version);                                                  \
    ar.setVisited(this, typeid(Name));                                        \
  }                                                                           \
  void Family::Name::serialize_(vcArchive& ar, unsigned char version) {       \
    if (version != 0) throw vcArchive::UnknownVersion(#Family "::" #Name, 0); \
    Errors::dispatchSerialize(ar);                                            \
  }
