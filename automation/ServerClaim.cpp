#include "automation/ServerClaim.h"

#include <objbase.h>

#include <string>

#include "MVR_Server.h"

namespace {
// Per session; the class id keeps the names apart from other programs'.
std::wstring ObjectName(const wchar_t* what) {
  wchar_t clsid[40] = {};
  StringFromGUID2(CLSID_MVR_AutoServ, clsid, 40);
  return std::wstring(L"Local\\MVRServ.") + what + L"." + clsid;
}

void DispatchPending() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) continue;  // nothing of ours runs yet that could end
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}
}  // namespace

ServerClaim::~ServerClaim() {
  Release();
  if (registered_) CloseHandle(registered_);
  if (mutex_) CloseHandle(mutex_);
}

ServerClaim::Outcome ServerClaim::Acquire(bool automationStart) {
  mutex_ = CreateMutexW(nullptr, FALSE, ObjectName(L"Server").c_str());
  registered_ = CreateEventW(nullptr, TRUE, FALSE, ObjectName(L"Registered").c_str());
  // Without the objects there is nothing to coordinate with: serve as a lone server would.
  if (!mutex_ || !registered_) return Outcome::Serve;

  DWORD r = WaitForSingleObject(mutex_, 0);
  if (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED) {
    owned_ = true;
    if (r == WAIT_ABANDONED) ResetEvent(registered_);  // the holder died registered
    return Outcome::Serve;
  }
  if (!automationStart) return Outcome::Serve;

  // Registered already or while we wait: our client finds that class object on its next try.
  bool registeredSeen = WaitForSingleObject(registered_, 0) == WAIT_OBJECT_0;
  for (;;) {
    const HANDLE handles[2] = {mutex_, registered_};
    const DWORD count = registeredSeen ? 1 : 2;
    r = MsgWaitForMultipleObjects(count, handles, FALSE, INFINITE, QS_ALLINPUT);
    if (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED_0) break;
    if (r == WAIT_OBJECT_0 + count) {
      DispatchPending();
    } else if (count == 2 && r == WAIT_OBJECT_0 + 1) {
      registeredSeen = true;
    } else {
      return Outcome::Serve;  // the wait itself failed
    }
  }
  owned_ = true;
  if (r == WAIT_ABANDONED_0) {
    // The holder died: whoever it served is gone with it; our client may still wait.
    ResetEvent(registered_);
    return Outcome::Serve;
  }
  return registeredSeen ? Outcome::ServeIfAsked : Outcome::Serve;
}

void ServerClaim::MarkRegistered() {
  if (owned_) SetEvent(registered_);
}

void ServerClaim::MarkRevoked() {
  if (owned_) ResetEvent(registered_);
}

void ServerClaim::Release() {
  if (!owned_) return;
  ResetEvent(registered_);
  ReleaseMutex(mutex_);
  owned_ = false;
}
