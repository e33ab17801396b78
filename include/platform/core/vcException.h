// Root exception types of the platform.
#pragma once

#include <exception>
#include <iosfwd>
#include <string>

#include "platform/core/vcPersistent.h"

class vcException : public virtual vcPersistent, public std::exception {
 public:
  vcException() = default;
  vcException(const vcException&) = default;
  vcException& operator=(const vcException&) = default;
  ~vcException() override = default;
  void dispatchSerialize(vcArchive& ar) override;
  virtual void message_(std::ostream& os) const;
  // Class-specific message text (for vcExceptionWithString, its string).
  std::string messageText() const;
  const char* what() const noexcept override;

 protected:
  void serialize_(vcArchive& ar, unsigned char version);

 private:
  mutable std::string what_;
};

class vcExceptionWithString : public vcException {
 public:
  explicit vcExceptionWithString(const std::string& msg = std::string()) : msg_(msg) {}
  vcExceptionWithString(const vcExceptionWithString&) = default;
  vcExceptionWithString& operator=(const vcExceptionWithString&) = default;
  // The flag asks for the message with its class name prefixed.
  std::string message(bool withClassName = false) const;
  void dispatchSerialize(vcArchive& ar) override;
  void message_(std::ostream& os) const override;

 protected:
  void serialize_(vcArchive& ar, unsigned char version);

 private:
  std::string msg_;
};

class vcBadPointer : public vcExceptionWithString {
 public:
  explicit vcBadPointer(const std::string& msg = "empty handle dereferenced")
      : vcExceptionWithString(msg) {}
};

class vcBadParams : public vcExceptionWithString {
 public:
  explicit vcBadParams(const std::string& msg = std::string()) : vcExceptionWithString(msg) {}
};

struct vcMathError {
  class Singular : public vcExceptionWithString {
   public:
    explicit Singular(const std::string& msg = "singular transform") : vcExceptionWithString(msg) {}
  };
};

struct vcTimeout {
  class Expired : public vcExceptionWithString {
   public:
    explicit Expired(const std::string& msg = "time limit expired") : vcExceptionWithString(msg) {}
  };
};

// Status codes that library calls return; negative means failure.
enum vcStatus : long {
  vcStatusOk = 0,
  vcStatusBadParams = -1,
  vcStatusSingular = -2,
  vcStatusTimeout = -3,
  vcStatusBadPointer = -4,
  vcStatusIoError = -5,
};

// Raises the exception matching a negative status; does nothing for status >= 0.
void vfThrowExceptionOnFailure(long status);
