// A serial device in memory that behaves like the real one under Wine: a read with
// nothing queued pends and completes later; writes may pend; any step can fail. With
// readsPendWhenEmpty off it behaves like Windows: an empty read returns at once with 0 bytes,
// and a WaitCommEvent for EV_RXCHAR is what completes when bytes arrive.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "serial/SerialPlatform.h"

class FakeSerialPlatform : public SerialPlatform {
 public:
  // Devices that exist; CreateFileA of any other name fails with error 2.
  std::set<std::string> devices{"COM1", "COM2", "COM3", "COM4"};
  // Step name ("SetupComm", "ReadFile", ...) -> error number it fails with.
  std::map<std::string, DWORD> failures;
  // Bytes the peer has sent that the port has not read yet.
  std::vector<uint8_t> incoming;
  // Bytes that reached the line, in order.
  std::vector<uint8_t> wire;
  bool writesPend = false;       // WriteFile returns pending; complete with CompleteWrites()
  bool readsPendWhenEmpty = true;  // false: Windows-like
  DWORD shortWriteBy = 0;        // a write that completes at once reports this many bytes less
  DWORD now = 0;                 // the clock in milliseconds; tests move it
  // Pending reads and writes ignore CancelIo (an unplugged USB adapter); CompleteStuck()
  // finishes them later, reading from and writing into the buffers they were given.
  bool ioStuck = false;
  // Called when the error box is shown, as the box's message loop would run other code.
  std::function<void()> onBox;

  std::vector<std::string> boxes;
  std::vector<std::string> calls;  // every call, by name
  DCB lastState{};
  COMMTIMEOUTS lastTimeouts{};
  DWORD lastInQueue = 0, lastOutQueue = 0;
  std::string lastDeviceName;
  int openHandles = 0;  // device and event handles not yet closed

  void Receive(const std::vector<uint8_t>& bytes);
  void CompleteWrites();
  void CompleteStuck();
  size_t CallCount(const std::string& name) const;
  // Whether the completion of an operation has set this event and nobody reset it.
  bool Signalled(HANDLE event) const { return signalled_.count(event) != 0; }
  bool WaitPending() const {
    for (const auto& w : waits_)
      if (!w.done && !w.stuck) return true;
    return false;
  }

  HANDLE CreateEventA(void*, BOOL, BOOL, LPCSTR) override;
  HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, void*, DWORD disposition,
                     DWORD flags, HANDLE) override;
  BOOL SetupComm(HANDLE, DWORD in, DWORD out) override;
  BOOL GetCommTimeouts(HANDLE, COMMTIMEOUTS* t) override;
  BOOL SetCommTimeouts(HANDLE, COMMTIMEOUTS* t) override;
  BOOL GetCommState(HANDLE, DCB* dcb) override;
  BOOL SetCommState(HANDLE, DCB* dcb) override;
  BOOL ReadFile(HANDLE, LPVOID buffer, DWORD count, DWORD* done, OVERLAPPED* ov) override;
  BOOL WriteFile(HANDLE, LPCVOID buffer, DWORD count, DWORD* done, OVERLAPPED* ov) override;
  BOOL GetOverlappedResult(HANDLE, OVERLAPPED* ov, DWORD* done, BOOL wait) override;
  BOOL CancelIo(HANDLE) override;
  BOOL SetCommMask(HANDLE, DWORD mask) override;
  BOOL WaitCommEvent(HANDLE, DWORD* mask, OVERLAPPED* ov) override;
  DWORD WaitForSingleObject(HANDLE h, DWORD ms) override;
  BOOL CloseHandle(HANDLE h) override;
  DWORD GetLastError() override { return lastError_; }
  DWORD GetTickCount() override { return now; }
  DWORD FormatMessageA(DWORD, LPCVOID, DWORD id, DWORD, LPSTR buffer, DWORD size,
                       void*) override;
  void ShowErrorBox(const std::string& text) override {
    boxes.push_back(text);
    if (onBox) onBox();
  }

 private:
  bool Fail(const std::string& step);
  struct PendingRead {
    OVERLAPPED* ov;
    uint8_t* buffer;
    DWORD count;
    bool cancelled = false;
    bool stuck = false;
  };
  struct PendingWrite {
    OVERLAPPED* ov;
    const uint8_t* buffer;
    DWORD count;
    bool done;
    bool cancelled = false;
    bool stuck = false;
  };
  struct PendingWait {
    OVERLAPPED* ov;
    DWORD* mask;
    bool done = false;
    bool cancelled = false;
    bool stuck = false;
  };
  void StartOn(OVERLAPPED* ov) { signalled_.erase(ov->hEvent); }
  void CompleteWait(PendingWait& w, DWORD events);
  std::vector<PendingRead> reads_;
  std::vector<PendingWait> waits_;
  std::vector<PendingWait> stuckWaits_;
  std::set<HANDLE> signalled_;
  DWORD commMask_ = 0;
  bool rxHistory_ = false;  // a character came while no wait pended
  std::vector<PendingWrite> writes_;
  std::set<HANDLE> handles_;
  DWORD lastError_ = 0;
  uintptr_t nextHandle_ = 0x100;
  bool deviceOpen_ = false;
  std::vector<PendingRead> stuckReads_;
  std::vector<PendingWrite> stuckWrites_;
};
