// The serial port's calls bound to the real kernel32, and its error box to the program's
// message dialog.
#pragma once
#include "serial/SerialPlatform.h"

class Win32SerialPlatform : public SerialPlatform {
 public:
  static Win32SerialPlatform& Instance();

  HANDLE CreateEventA(void* a, BOOL m, BOOL i, LPCSTR n) override {
    return ::CreateEventA(static_cast<LPSECURITY_ATTRIBUTES>(a), m, i, n);
  }
  HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, void* sec, DWORD disp, DWORD flags,
                     HANDLE tmpl) override {
    return ::CreateFileA(name, access, share, static_cast<LPSECURITY_ATTRIBUTES>(sec), disp, flags,
                         tmpl);
  }
  BOOL SetupComm(HANDLE h, DWORD in, DWORD out) override { return ::SetupComm(h, in, out); }
  BOOL GetCommTimeouts(HANDLE h, COMMTIMEOUTS* t) override { return ::GetCommTimeouts(h, t); }
  BOOL SetCommTimeouts(HANDLE h, COMMTIMEOUTS* t) override { return ::SetCommTimeouts(h, t); }
  BOOL GetCommState(HANDLE h, DCB* d) override { return ::GetCommState(h, d); }
  BOOL SetCommState(HANDLE h, DCB* d) override { return ::SetCommState(h, d); }
  BOOL ReadFile(HANDLE h, LPVOID b, DWORD c, DWORD* n, OVERLAPPED* o) override {
    return ::ReadFile(h, b, c, n, o);
  }
  BOOL WriteFile(HANDLE h, LPCVOID b, DWORD c, DWORD* n, OVERLAPPED* o) override {
    return ::WriteFile(h, b, c, n, o);
  }
  BOOL GetOverlappedResult(HANDLE h, OVERLAPPED* o, DWORD* n, BOOL w) override {
    return ::GetOverlappedResult(h, o, n, w);
  }
  BOOL CancelIo(HANDLE h) override { return ::CancelIo(h); }
  BOOL SetCommMask(HANDLE h, DWORD m) override { return ::SetCommMask(h, m); }
  BOOL WaitCommEvent(HANDLE h, DWORD* m, OVERLAPPED* o) override {
    return ::WaitCommEvent(h, m, o);
  }
  DWORD WaitForSingleObject(HANDLE h, DWORD ms) override { return ::WaitForSingleObject(h, ms); }
  BOOL CloseHandle(HANDLE h) override { return ::CloseHandle(h); }
  DWORD GetLastError() override { return ::GetLastError(); }
  DWORD GetTickCount() override { return ::GetTickCount(); }
  DWORD FormatMessageA(DWORD f, LPCVOID s, DWORD id, DWORD lang, LPSTR buf, DWORD size,
                       void* args) override {
    return ::FormatMessageA(f, s, id, lang, buf, size, static_cast<va_list*>(args));
  }
  void ShowErrorBox(const std::string& text) override;
};
