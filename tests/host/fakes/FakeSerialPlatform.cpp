#include "tests/host/fakes/FakeSerialPlatform.h"

#include <algorithm>
#include <cstring>

namespace {
const HANDLE kDevice = reinterpret_cast<HANDLE>(0x42);
}

bool FakeSerialPlatform::Fail(const std::string& step) {
  calls.push_back(step);
  auto it = failures.find(step);
  if (it == failures.end()) return false;
  lastError_ = it->second;
  return true;
}

size_t FakeSerialPlatform::CallCount(const std::string& name) const {
  return static_cast<size_t>(std::count(calls.begin(), calls.end(), name));
}

void FakeSerialPlatform::Receive(const std::vector<uint8_t>& bytes) {
  incoming.insert(incoming.end(), bytes.begin(), bytes.end());
  if (bytes.empty()) return;
  for (auto& r : reads_)
    if (!r.stuck) signalled_.insert(r.ov->hEvent);
  if (!(commMask_ & EV_RXCHAR)) return;
  bool woke = false;
  for (auto& w : waits_)
    if (!w.done && !w.stuck) {
      CompleteWait(w, EV_RXCHAR);
      woke = true;
    }
  if (!woke) rxHistory_ = true;
}

// The device writes the events into the caller's mask only now, as a real one does.
void FakeSerialPlatform::CompleteWait(PendingWait& w, DWORD events) {
  *w.mask = events;
  w.done = true;
  signalled_.insert(w.ov->hEvent);
}

void FakeSerialPlatform::CompleteStuck() {
  // What the device does long after the port gave up on these: ASan sees a freed buffer.
  for (auto& r : stuckReads_) std::memset(r.buffer, 0x5A, r.count);
  for (auto& w : stuckWrites_) wire.insert(wire.end(), w.buffer, w.buffer + w.count);
  for (auto& w : stuckWaits_) *w.mask = EV_RXCHAR;
  stuckReads_.clear();
  stuckWrites_.clear();
  stuckWaits_.clear();
}

void FakeSerialPlatform::CompleteWrites() {
  for (auto& w : writes_) {
    if (w.done || w.stuck) continue;
    // The bytes are taken from the caller's buffer only now, as a real device does.
    wire.insert(wire.end(), w.buffer, w.buffer + w.count);
    w.done = true;
    signalled_.insert(w.ov->hEvent);
  }
}

HANDLE FakeSerialPlatform::CreateEventA(void*, BOOL, BOOL, LPCSTR) {
  calls.push_back("CreateEventA");
  HANDLE h = reinterpret_cast<HANDLE>(nextHandle_++);
  handles_.insert(h);
  ++openHandles;
  return h;
}

HANDLE FakeSerialPlatform::CreateFileA(LPCSTR name, DWORD access, DWORD share, void*,
                                       DWORD disposition, DWORD flags, HANDLE) {
  lastDeviceName = name;
  if (Fail("CreateFileA")) return INVALID_HANDLE_VALUE;
  if (deviceOpen_) {  // opened without sharing: a second open is refused
    lastError_ = ERROR_ACCESS_DENIED;
    return INVALID_HANDLE_VALUE;
  }
  if (!devices.count(name) || access != (GENERIC_READ | GENERIC_WRITE) || share != 0 ||
      disposition != OPEN_EXISTING || flags != FILE_FLAG_OVERLAPPED) {
    lastError_ = ERROR_FILE_NOT_FOUND;
    return INVALID_HANDLE_VALUE;
  }
  handles_.insert(kDevice);
  ++openHandles;
  deviceOpen_ = true;
  return kDevice;
}

BOOL FakeSerialPlatform::SetupComm(HANDLE, DWORD in, DWORD out) {
  if (Fail("SetupComm")) return FALSE;
  lastInQueue = in;
  lastOutQueue = out;
  return TRUE;
}

BOOL FakeSerialPlatform::GetCommTimeouts(HANDLE, COMMTIMEOUTS* t) {
  if (Fail("GetCommTimeouts")) return FALSE;
  *t = COMMTIMEOUTS{11, 12, 13, 14, 15};
  return TRUE;
}

BOOL FakeSerialPlatform::SetCommTimeouts(HANDLE, COMMTIMEOUTS* t) {
  if (Fail("SetCommTimeouts")) return FALSE;
  lastTimeouts = *t;
  return TRUE;
}

BOOL FakeSerialPlatform::GetCommState(HANDLE, DCB* dcb) {
  if (Fail("GetCommState")) return FALSE;
  std::memset(dcb, 0xA5, sizeof *dcb);  // the device's own values, kept where not set
  dcb->XonChar = 0x11;
  dcb->XoffChar = 0x13;
  return TRUE;
}

BOOL FakeSerialPlatform::SetCommState(HANDLE, DCB* dcb) {
  if (Fail("SetCommState")) return FALSE;
  lastState = *dcb;
  return TRUE;
}

BOOL FakeSerialPlatform::ReadFile(HANDLE, LPVOID buffer, DWORD count, DWORD* done,
                                  OVERLAPPED* ov) {
  if (Fail("ReadFile")) return FALSE;
  for (auto& r : reads_)
    if (r.ov == ov) {  // a second read on an OVERLAPPED still in use corrupts it
      lastError_ = ERROR_INVALID_PARAMETER;
      boxes.push_back("FAKE: read issued while one is pending");
      return FALSE;
    }
  *done = 0;
  StartOn(ov);
  if (incoming.empty() && readsPendWhenEmpty) {
    reads_.push_back({ov, static_cast<uint8_t*>(buffer), count});
    lastError_ = ERROR_IO_PENDING;
    return FALSE;
  }
  const DWORD n = std::min<DWORD>(count, static_cast<DWORD>(incoming.size()));
  if (n) std::memcpy(buffer, incoming.data(), n);  // an empty vector's data() may be null
  incoming.erase(incoming.begin(), incoming.begin() + n);
  *done = n;
  return TRUE;
}

BOOL FakeSerialPlatform::WriteFile(HANDLE, LPCVOID buffer, DWORD count, DWORD* done,
                                   OVERLAPPED* ov) {
  if (Fail("WriteFile")) return FALSE;
  StartOn(ov);
  *done = 0;
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  if (writesPend) {
    writes_.push_back({ov, bytes, count, false});
    lastError_ = ERROR_IO_PENDING;
    return FALSE;
  }
  wire.insert(wire.end(), bytes, bytes + count);
  *done = count - std::min(count, shortWriteBy);
  return TRUE;
}

BOOL FakeSerialPlatform::GetOverlappedResult(HANDLE, OVERLAPPED* ov, DWORD* done, BOOL wait) {
  if (Fail("GetOverlappedResult")) {
    // The operation has ended with that error: it no longer pends.
    reads_.erase(std::remove_if(reads_.begin(), reads_.end(),
                                [ov](const PendingRead& r) { return r.ov == ov; }),
                 reads_.end());
    writes_.erase(std::remove_if(writes_.begin(), writes_.end(),
                                 [ov](const PendingWrite& w) { return w.ov == ov; }),
                  writes_.end());
    waits_.erase(std::remove_if(waits_.begin(), waits_.end(),
                                [ov](const PendingWait& w) { return w.ov == ov; }),
                 waits_.end());
    return FALSE;
  }
  for (auto it = reads_.begin(); it != reads_.end(); ++it) {
    if (it->ov != ov) continue;
    if (it->cancelled && !it->stuck) {
      reads_.erase(it);
      lastError_ = ERROR_OPERATION_ABORTED;
      return FALSE;
    }
    if (incoming.empty() || it->stuck) {
      lastError_ = ERROR_IO_INCOMPLETE;
      return FALSE;
    }
    const DWORD n = std::min<DWORD>(it->count, static_cast<DWORD>(incoming.size()));
    std::memcpy(it->buffer, incoming.data(), n);
    incoming.erase(incoming.begin(), incoming.begin() + n);
    reads_.erase(it);
    *done = n;
    return TRUE;
  }
  for (auto it = writes_.begin(); it != writes_.end(); ++it) {
    if (it->ov != ov) continue;
    if (it->cancelled && !it->stuck && !it->done) {
      writes_.erase(it);
      lastError_ = ERROR_OPERATION_ABORTED;
      return FALSE;
    }
    if (!it->done) {
      lastError_ = ERROR_IO_INCOMPLETE;
      return FALSE;
    }
    *done = it->count - std::min(it->count, shortWriteBy);
    writes_.erase(it);
    return TRUE;
  }
  for (auto it = waits_.begin(); it != waits_.end(); ++it) {
    if (it->ov != ov) continue;
    if (it->cancelled && !it->stuck && !it->done) {
      waits_.erase(it);
      lastError_ = ERROR_OPERATION_ABORTED;
      return FALSE;
    }
    if (!it->done) {
      lastError_ = ERROR_IO_INCOMPLETE;
      return FALSE;
    }
    *done = 0;
    waits_.erase(it);
    return TRUE;
  }
  (void)wait;
  lastError_ = ERROR_INVALID_PARAMETER;
  return FALSE;
}

BOOL FakeSerialPlatform::CancelIo(HANDLE) {
  calls.push_back("CancelIo");
  for (auto& r : reads_) {
    r.cancelled = true;
    r.stuck = ioStuck;
  }
  for (auto& w : writes_) {
    w.cancelled = true;
    w.stuck = ioStuck && !w.done;
  }
  for (auto& w : waits_) {
    w.cancelled = true;
    w.stuck = ioStuck && !w.done;
  }
  return TRUE;
}

BOOL FakeSerialPlatform::SetCommMask(HANDLE, DWORD mask) {
  if (Fail("SetCommMask")) return FALSE;
  // A new mask ends a pending wait with no events and forgets what came before.
  for (auto& w : waits_)
    if (!w.done && !w.stuck) CompleteWait(w, 0);
  commMask_ = mask;
  rxHistory_ = false;
  return TRUE;
}

BOOL FakeSerialPlatform::WaitCommEvent(HANDLE, DWORD* mask, OVERLAPPED* ov) {
  if (Fail("WaitCommEvent")) return FALSE;
  // A finished wait's OVERLAPPED may be used again.
  waits_.erase(std::remove_if(waits_.begin(), waits_.end(),
                              [ov](const PendingWait& w) { return w.ov == ov && w.done; }),
               waits_.end());
  if (WaitPending()) {  // the system refuses a second wait on one handle
    lastError_ = ERROR_INVALID_PARAMETER;
    boxes.push_back("FAKE: WaitCommEvent while one is pending");
    return FALSE;
  }
  if (commMask_ == 0) {
    lastError_ = ERROR_INVALID_PARAMETER;
    return FALSE;
  }
  StartOn(ov);
  waits_.push_back({ov, mask});
  if (rxHistory_) {  // a character came since the last wait: done at once
    rxHistory_ = false;
    CompleteWait(waits_.back(), EV_RXCHAR);
    return TRUE;
  }
  lastError_ = ERROR_IO_PENDING;
  return FALSE;
}

DWORD FakeSerialPlatform::WaitForSingleObject(HANDLE h, DWORD ms) {
  calls.push_back("WaitForSingleObject");
  const bool stuck =
      std::any_of(reads_.begin(), reads_.end(),
                  [h](const PendingRead& r) { return r.stuck && r.ov->hEvent == h; }) ||
      std::any_of(writes_.begin(), writes_.end(),
                  [h](const PendingWrite& w) { return w.stuck && w.ov->hEvent == h; }) ||
      std::any_of(waits_.begin(), waits_.end(),
                  [h](const PendingWait& w) { return w.stuck && w.ov->hEvent == h; });
  if (!stuck) return WAIT_OBJECT_0;
  now += ms;
  return WAIT_TIMEOUT;
}

BOOL FakeSerialPlatform::CloseHandle(HANDLE h) {
  const bool isDevice = h == kDevice;
  if (isDevice) deviceOpen_ = false;
  if (isDevice && Fail("CloseHandle")) return FALSE;
  if (!isDevice) calls.push_back("CloseEvent");
  if (isDevice) {
    // Cancelled I/O the device never finished goes on after the close; anything else
    // still pending would be written into the OVERLAPPED during the close.
    for (const auto& r : reads_)
      if (r.stuck) stuckReads_.push_back(r);
    for (const auto& w : writes_)
      if (w.stuck) stuckWrites_.push_back(w);
    for (const auto& w : waits_)
      if (w.stuck) stuckWaits_.push_back(w);
    const bool waitPending = WaitPending();
    waits_.clear();
    reads_.erase(std::remove_if(reads_.begin(), reads_.end(),
                                [](const PendingRead& r) { return r.stuck; }),
                 reads_.end());
    writes_.erase(std::remove_if(writes_.begin(), writes_.end(),
                                 [](const PendingWrite& w) { return w.stuck; }),
                  writes_.end());
    if (!reads_.empty() || waitPending ||
        std::any_of(writes_.begin(), writes_.end(),
                    [](const PendingWrite& w) { return !w.done; }))
      boxes.push_back("FAKE: device closed with I/O pending");
  }
  if (!handles_.erase(h)) {
    lastError_ = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  --openHandles;
  return TRUE;
}

DWORD FakeSerialPlatform::FormatMessageA(DWORD flags, LPCVOID, DWORD id, DWORD, LPSTR buffer,
                                         DWORD size, void* arguments) {
  static const std::map<DWORD, std::string> texts = {
      {1234, "Port %1 is gone.\r\n"},
      {2, "File not found.\r\n"}, {5, "Access denied. \r\n"}, {87, "Invalid parameter...\r\n"},
      {31, "A device attached to the system is not functioning.\r\n"}};
  auto it = texts.find(id);
  if (it == texts.end() || size == 0) return 0;
  if (it->second.find('%') != std::string::npos && !(flags & FORMAT_MESSAGE_IGNORE_INSERTS) &&
      arguments == nullptr)
    boxes.push_back("FAKE: inserts read through a null argument array");
  const DWORD n = std::min<DWORD>(size - 1, static_cast<DWORD>(it->second.size()));
  std::memcpy(buffer, it->second.data(), n);
  buffer[n] = 0;
  return n;
}
