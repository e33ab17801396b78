#include "platform/core/vcException.h"

#include <sstream>

#include "platform/core/vcArchive.h"

void vcException::dispatchSerialize(vcArchive& ar) {
  if (ar.haveVisited(this, typeid(vcException))) return;
  unsigned char version = 0;
  ar || version;
  serialize_(ar, version);
  ar.setVisited(this, typeid(vcException));
}

void vcException::serialize_(vcArchive&, unsigned char version) {
  if (version != 0) throw vcArchive::UnknownVersion("vcException", version);
}

void vcException::message_(std::ostream& os) const { os << typeid(*this).name(); }

std::string vcException::messageText() const {
  std::ostringstream os;
  message_(os);
  return os.str();
}

const char* vcException::what() const noexcept {
  try {
    what_ = messageText();
  } catch (...) {
    return "vcException";
  }
  return what_.c_str();
}

std::string vcExceptionWithString::message(bool withClassName) const {
  if (!withClassName) return msg_;
  return std::string(typeid(*this).name()) + ": " + msg_;
}

void vcExceptionWithString::message_(std::ostream& os) const { os << msg_; }

void vcExceptionWithString::dispatchSerialize(vcArchive& ar) {
  if (ar.haveVisited(this, typeid(vcExceptionWithString))) return;
  unsigned char version = 0;
  ar || version;
  serialize_(ar, version);
  ar.setVisited(this, typeid(vcExceptionWithString));
}

void vcExceptionWithString::serialize_(vcArchive& ar, unsigned char version) {
  if (version != 0) throw vcArchive::UnknownVersion("vcExceptionWithString", version);
  vcException::dispatchSerialize(ar);
  ar || msg_;
}

void vfThrowExceptionOnFailure(long status) {
  if (status >= 0) return;
  switch (status) {
    case vcStatusSingular:
      throw vcMathError::Singular();
    case vcStatusTimeout:
      throw vcTimeout::Expired();
    case vcStatusBadPointer:
      throw vcBadPointer();
    case vcStatusIoError:
      throw vcExceptionWithString("I/O error");
    case vcStatusBadParams:
      throw vcBadParams("bad parameters");
    default:
      throw vcExceptionWithString("library call failed with status " + std::to_string(status));
  }
}
