#include "automation/ServerLifetime.h"

#include <objbase.h>
#include <servprov.h>

#include "MVR_Server.h"
#include "automation/EventRetry.h"
#include "automation/QueryInterface.h"
#include "platform/MessagePump.h"

namespace {

// How long a spare process waits for a client of its own; with the time it answers after the
// withdrawal, 5 s.
constexpr DWORD kFirstClientWaitMs = 4000;
// How long the class object stays after the last client left.
constexpr DWORD kLingerMs = 2000;
// How long the process keeps answering after the withdrawal.
constexpr DWORD kDrainMs = 1000;

long g_objects = 0;
long g_locks = 0;
long g_created = 0;  // objects made so far, for a spare's wait
bool g_automationMode = false;
bool g_endingIdle = false;  // the loop was asked to end because the last client left
bool g_withdrawn = false;
IClassFactory* g_factory = nullptr;
DWORD g_classCookie = 0;
UINT_PTR g_endTimer = 0;
bool g_filterSet = false;
ServerClaim g_claim;

bool Idle() { return g_objects == 0 && g_locks == 0; }

HRESULT RegisterClassObject() {
  const HRESULT hr = CoRegisterClassObject(CLSID_MVR_AutoServ, g_factory, CLSCTX_LOCAL_SERVER,
                                           REGCLS_MULTIPLEUSE, &g_classCookie);
  if (SUCCEEDED(hr)) {
    g_withdrawn = false;
    g_claim.MarkRegistered();
  }
  return hr;
}

// New clients then start a new server, which waits for this process to end.
void WithdrawClassObject() {
  g_claim.MarkRevoked();
  if (g_classCookie) CoRevokeClassObject(g_classCookie);
  g_classCookie = 0;
  g_withdrawn = true;
}

void StopEndTimer() {
  if (g_endTimer) KillTimer(nullptr, g_endTimer);
  g_endTimer = 0;
}

void CALLBACK EndStep(HWND, UINT, UINT_PTR, DWORD);

void StartEndTimer(DWORD ms) {
  StopEndTimer();
  g_endTimer = SetTimer(nullptr, 0, ms, &EndStep);
  if (!g_endTimer) {
    g_endingIdle = true;  // no timer: end at once
    PostQuitMessage(0);
  }
}

void CALLBACK EndStep(HWND, UINT, UINT_PTR, DWORD) {
  StopEndTimer();
  if (!Idle()) return;  // a client came; its release starts the end again
  if (!g_withdrawn) {
    WithdrawClassObject();
    StartEndTimer(kDrainMs);
    return;
  }
  g_endingIdle = true;
  PostQuitMessage(0);
}

void Released() {
  // Never from inside this release, which may be a client's call: the timer ends the loop.
  if (g_automationMode && Idle()) StartEndTimer(g_withdrawn ? kDrainMs : kLingerMs);
}

// Sees every incoming call before it runs. A request for the class object after it was
// withdrawn comes from a client that was handed it just before: register it again, so the
// request finds it, and start the end anew.
class LateClientFilter final : public IMessageFilter {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    return QueryInterfaceOf(riid, ppv, {{&IID_IUnknown, this}, {&IID_IMessageFilter, this}});
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }  // static: lives for the process
  STDMETHODIMP_(ULONG) Release() override { return 1; }

  STDMETHODIMP_(DWORD) HandleInComingCall(DWORD, HTASK, DWORD, LPINTERFACEINFO info) override {
    if (g_withdrawn && g_automationMode && info && info->iid == IID_IServiceProvider &&
        SUCCEEDED(RegisterClassObject()))
      StartEndTimer(kLingerMs);
    return SERVERCALL_ISHANDLED;
  }
  // An event call a busy client refused is tried again for a while (Windows asks here; Wine
  // never does, and the object retries by the same rule). Messages go on being handled.
  STDMETHODIMP_(DWORD) RetryRejectedCall(HTASK, DWORD elapsedMs, DWORD) override {
    return static_cast<DWORD>(EventRetryDelay(elapsedMs));
  }
  STDMETHODIMP_(DWORD) MessagePending(HTASK, DWORD, DWORD) override { return PENDINGMSG_WAITDEFPROCESS; }
};

LateClientFilter g_lateClientFilter;

}  // namespace

namespace ServerLifetime {

ServerClaim::Outcome Claim(bool automationStart) { return g_claim.Acquire(automationStart); }

HRESULT Register(IClassFactory* factory, bool automationStart) {
  g_factory = factory;
  g_automationMode = automationStart;
  const HRESULT hr = RegisterClassObject();
  if (SUCCEEDED(hr) && automationStart)
    g_filterSet = SUCCEEDED(CoRegisterMessageFilter(&g_lateClientFilter, nullptr));
  return hr;
}

bool AwaitFirstClient() {
  if (PumpMessagesUntil([] { return g_created > 0 || g_locks > 0; }, kFirstClientWaitMs)) return true;
  WithdrawClassObject();
  // A client handed the class object just before makes the filter register it again.
  return PumpMessagesUntil([] { return !g_withdrawn; }, kDrainMs);
}

void ObjectCreated() {
  ++g_objects;
  ++g_created;
}

void ObjectDestroyed() {
  --g_objects;
  Released();
}

void Lock(bool lock) {
  if (lock) {
    ++g_locks;
  } else if (g_locks > 0) {
    --g_locks;
    Released();
  }
}

long ObjectCount() { return g_objects; }

bool ServeLateClient() {
  if (!g_endingIdle) return false;
  g_endingIdle = false;
  // The class object registered again while the end was under way: its client comes.
  return !Idle() || !g_withdrawn;
}

void Stop() {
  StopEndTimer();
  if (g_filterSet) CoRegisterMessageFilter(nullptr, nullptr);
  g_filterSet = false;
  WithdrawClassObject();
  g_claim.Release();
}

}  // namespace ServerLifetime
