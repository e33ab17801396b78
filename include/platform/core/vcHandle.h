// Intrusive reference-counted handles.
#pragma once

#include <atomic>
#include <utility>

#include "platform/core/vcException.h"

inline long vfInterlockedIncrement(std::atomic<long>& v) { return ++v; }
inline long vfInterlockedDecrement(std::atomic<long>& v) { return --v; }

class vcRepBase {
 public:
  vcRepBase() = default;
  // A copy is a new object: it starts with no holders.
  vcRepBase(const vcRepBase&) {}
  vcRepBase& operator=(const vcRepBase&) { return *this; }
  virtual ~vcRepBase() = default;
  long refCount() const { return count_.load(); }
  void addRef() const { vfInterlockedIncrement(count_); }
  void release() const {
    if (vfInterlockedDecrement(count_) == 0) delete this;
  }

 private:
  mutable std::atomic<long> count_{0};
};

template <class T>
class vcPtrHandle_const {
 public:
  vcPtrHandle_const() = default;
  vcPtrHandle_const(const T* p) : p_(p) { acquire(); }  // NOLINT: takes ownership
  vcPtrHandle_const(const vcPtrHandle_const& o) : p_(o.p_) { acquire(); }
  vcPtrHandle_const(vcPtrHandle_const&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  template <class U>
  vcPtrHandle_const(const vcPtrHandle_const<U>& o) : p_(o.ptr()) {  // NOLINT
    acquire();
  }
  vcPtrHandle_const& operator=(vcPtrHandle_const o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~vcPtrHandle_const() {
    if (p_) p_->release();
  }
  const T* ptr() const { return p_; }
  const T& operator*() const { return *checked(); }
  const T* operator->() const { return checked(); }
  bool isNull() const { return p_ == nullptr; }
  explicit operator bool() const { return p_ != nullptr; }
  bool operator==(const vcPtrHandle_const& o) const { return p_ == o.p_; }

 protected:
  const T* checked() const {
    if (!p_) throw vcBadPointer();
    return p_;
  }
  void acquire() {
    if (p_) p_->addRef();
  }
  const T* p_ = nullptr;
};

template <class T>
class vcPtrHandle : public vcPtrHandle_const<T> {
 public:
  vcPtrHandle() = default;
  vcPtrHandle(T* p) : vcPtrHandle_const<T>(p) {}  // NOLINT: takes ownership
  template <class U>
  vcPtrHandle(const vcPtrHandle<U>& o) : vcPtrHandle_const<T>(o.ptr()) {}  // NOLINT
  T* ptr() const { return const_cast<T*>(this->p_); }
  T& operator*() const { return *const_cast<T*>(this->checked()); }
  T* operator->() const { return const_cast<T*>(this->checked()); }
};
