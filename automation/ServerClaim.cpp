#include "automation/ServerClaim.h"

#include <objbase.h>

#include <string>

#include "MVR_Server.h"

namespace {
// No client waits longer than this for a class object to appear: Wine's gives up after 30
// tries a second apart, Windows' activation after 120 s. A process that has waited so long
// for the claim serves nobody.
constexpr DWORD kClientGiveUpMs = 120000;

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
  if (spareTakeovers_) UnmapViewOfFile(const_cast<LONG*>(spareTakeovers_));
  if (shared_) CloseHandle(shared_);
  if (registered_) CloseHandle(registered_);
  if (mutex_) CloseHandle(mutex_);
}

LONG ServerClaim::SpareTakeovers() const {
  return spareTakeovers_ ? InterlockedCompareExchange(spareTakeovers_, 0, 0) : 0;
}

ServerClaim::Outcome ServerClaim::Acquire(bool automationStart) {
  const DWORD started = GetTickCount();
  mutex_ = CreateMutexW(nullptr, FALSE, ObjectName(L"Server").c_str());
  registered_ = CreateEventW(nullptr, TRUE, FALSE, ObjectName(L"Registered").c_str());
  // Without the objects there is nothing to coordinate with: serve as a lone server would.
  if (!mutex_ || !registered_) return Outcome::Serve;
  // Zero when the first process of a session creates it. Without it every spare waits for a
  // client of its own, as a lone one would.
  shared_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(LONG),
                               ObjectName(L"Spares").c_str());
  if (shared_)
    spareTakeovers_ = static_cast<volatile LONG*>(MapViewOfFile(shared_, FILE_MAP_WRITE, 0, 0, sizeof(LONG)));

  DWORD r = WaitForSingleObject(mutex_, 0);
  if (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED) {
    owned_ = true;
    if (r == WAIT_ABANDONED) ResetEvent(registered_);  // the holder died registered
    return Outcome::Serve;
  }
  if (!automationStart) return Outcome::Serve;

  const LONG takeoversBefore = SpareTakeovers();
  // Registered already or while we wait: our client finds that class object on its next try.
  bool registeredSeen = WaitForSingleObject(registered_, 0) == WAIT_OBJECT_0;
  for (;;) {
    const DWORD waited = GetTickCount() - started;
    if (waited >= kClientGiveUpMs) return Outcome::End;
    const HANDLE handles[2] = {mutex_, registered_};
    const DWORD count = registeredSeen ? 1 : 2;
    r = MsgWaitForMultipleObjects(count, handles, FALSE, kClientGiveUpMs - waited, QS_ALLINPUT);
    if (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED_0) break;
    if (r == WAIT_TIMEOUT) return Outcome::End;
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
  if (!registeredSeen) return Outcome::Serve;
  // A spare took over after we started and stayed its while: our client, had it still
  // waited, would have been served there. Only a spare that came later waits again.
  if (SpareTakeovers() != takeoversBefore) return Outcome::End;
  if (spareTakeovers_) InterlockedIncrement(spareTakeovers_);
  return Outcome::ServeIfAsked;
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
