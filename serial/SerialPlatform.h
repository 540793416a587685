// The exact kernel32 calls the serial port makes, plus its error box. The Win32 build binds
// them to the real API; host tests bind them to a fake that can fail any step.
#pragma once
#include <string>

#include "platform/Win32Types.h"

class SerialPlatform {
 public:
  virtual ~SerialPlatform() = default;
  virtual HANDLE CreateEventA(void* attributes, BOOL manualReset, BOOL initialState,
                              LPCSTR name) = 0;
  virtual HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, void* security,
                             DWORD disposition, DWORD flags, HANDLE templateFile) = 0;
  virtual BOOL SetupComm(HANDLE h, DWORD inQueue, DWORD outQueue) = 0;
  virtual BOOL GetCommTimeouts(HANDLE h, COMMTIMEOUTS* t) = 0;
  virtual BOOL SetCommTimeouts(HANDLE h, COMMTIMEOUTS* t) = 0;
  virtual BOOL GetCommState(HANDLE h, DCB* dcb) = 0;
  virtual BOOL SetCommState(HANDLE h, DCB* dcb) = 0;
  virtual BOOL ReadFile(HANDLE h, LPVOID buffer, DWORD count, DWORD* done, OVERLAPPED* ov) = 0;
  virtual BOOL WriteFile(HANDLE h, LPCVOID buffer, DWORD count, DWORD* done,
                         OVERLAPPED* ov) = 0;
  virtual BOOL GetOverlappedResult(HANDLE h, OVERLAPPED* ov, DWORD* done, BOOL wait) = 0;
  virtual BOOL CancelIo(HANDLE h) = 0;
  virtual BOOL SetCommMask(HANDLE h, DWORD mask) = 0;
  virtual BOOL WaitCommEvent(HANDLE h, DWORD* mask, OVERLAPPED* ov) = 0;
  virtual DWORD WaitForSingleObject(HANDLE h, DWORD ms) = 0;
  virtual BOOL CloseHandle(HANDLE h) = 0;
  virtual DWORD GetLastError() = 0;
  // Milliseconds since some fixed start; wraps like the system's tick count.
  virtual DWORD GetTickCount() = 0;
  virtual DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId,
                               LPSTR buffer, DWORD size, void* arguments) = 0;
  // The modal error box: caption "Fehler", error icon, one button "OK".
  virtual void ShowErrorBox(const std::string& text) = 0;
};
