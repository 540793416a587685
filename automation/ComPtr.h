// One owner per COM reference.
#pragma once
#include <unknwn.h>

#include <utility>

#include "automation/RefCount.h"

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  explicit ComPtr(T* adopt) : p_(adopt) {}
  ComPtr(const ComPtr& o) : p_(o.p_) {
    if (p_) p_->AddRef();
  }
  ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ComPtr& operator=(ComPtr o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~ComPtr() { Reset(); }

  static ComPtr Share(T* p) {
    if (p) p->AddRef();
    return ComPtr(p);
  }
  void Reset() {
    // Cleared before Release: a release may call back into the owner.
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  T** Put() {
    Reset();
    return &p_;
  }
  T* Detach() { return std::exchange(p_, nullptr); }

 private:
  T* p_ = nullptr;
};

// One owner per BSTR.
class OwnedBstr {
 public:
  explicit OwnedBstr(BSTR adopt = nullptr) : b_(adopt) {}
  OwnedBstr(const OwnedBstr&) = delete;
  OwnedBstr& operator=(const OwnedBstr&) = delete;
  ~OwnedBstr() { SysFreeString(b_); }
  BSTR Get() const { return b_; }

 private:
  BSTR b_;
};
