// A handle of the serial port (its device or one of its I/O events), closed through the
// platform that made it: when its owner goes, or on purpose where the result matters.
#pragma once
#include "serial/SerialPlatform.h"

class PortHandle {
 public:
  explicit PortHandle(SerialPlatform& platform) : platform_(&platform) {}
  ~PortHandle() { Close(); }
  PortHandle(const PortHandle&) = delete;
  PortHandle& operator=(const PortHandle&) = delete;

  // Closes what is held and takes h, which may be a failed open's invalid value.
  void Reset(HANDLE h) {
    Close();
    h_ = h;
  }
  HANDLE Get() const { return h_; }
  bool IsOpen() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
  // False when the system refused; the handle is let go either way, so it is never closed
  // twice.
  bool Close() {
    if (!IsOpen()) return true;
    const HANDLE h = h_;
    h_ = nullptr;
    return platform_->CloseHandle(h) != FALSE;
  }

 private:
  SerialPlatform* platform_;
  HANDLE h_ = nullptr;
};
