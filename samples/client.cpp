// MVR Server client in C++: binds early to IMVRqmz_trx, sinks the events, connects
// channel 3, sends the command byte 65 and the block "Hallo" and prints what comes back.
#include <windows.h>

#include <ocidl.h>

#include <cstdio>

#include "MVR_Server.h"

namespace {

int g_events = 0;

// The event sink: a plain IDispatch that answers the event interface.
class Events final : public IDispatch {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IDispatch && riid != DIID_IMVRqmz_trxEvents) return E_NOINTERFACE;
    *ppv = static_cast<IDispatch*>(this);
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }  // lives on main's stack
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*, UINT*) override {
    if (id == 3 && p->cArgs == 1 && p->rgvarg[0].vt == VT_BSTR) {  // Receive(Block)
      BSTR block = p->rgvarg[0].bstrVal;
      std::printf("Receive: %u Zeichen:", SysStringLen(block));
      for (UINT i = 0; i < SysStringLen(block); ++i) std::printf(" %02X", static_cast<unsigned>(block[i]));
      std::printf("\n");
      ++g_events;
    } else if (id == 4) {  // TimeOut
      std::printf("TimeOut\n");
      ++g_events;
    }
    std::fflush(stdout);
    return S_OK;
  }
};

// Events arrive as messages: keep the message loop running while waiting.
void WaitForEvents(int count, DWORD ms) {
  const DWORD end = GetTickCount() + ms;
  while (g_events < count && static_cast<LONG>(end - GetTickCount()) > 0) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
}

int Run() {
  IMVRqmz_trx* trx = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_MVR_AutoServ, nullptr, CLSCTX_LOCAL_SERVER, IID_IMVRqmz_trx,
                                reinterpret_cast<void**>(&trx));
  if (FAILED(hr)) {
    std::printf("MVR_AutoServ nicht erzeugt: 0x%08lX\n", static_cast<unsigned long>(hr));
    return 1;
  }
  Events events;
  IConnectionPointContainer* cpc = nullptr;
  IConnectionPoint* cp = nullptr;
  DWORD cookie = 0;
  trx->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&cpc));
  if (cpc && SUCCEEDED(cpc->FindConnectionPoint(DIID_IMVRqmz_trxEvents, &cp))) cp->Advise(&events, &cookie);

  VARIANT_BOOL ok = VARIANT_FALSE;
  trx->ConnectChannel(3, &ok);
  std::printf("ConnectChannel(3): %d\n", ok);
  trx->SendSPaket(65, &ok);
  std::printf("SendSPaket(65): %d\n", ok);
  BSTR block = SysAllocString(L"Hallo");
  trx->SendLPaket(block, &ok);
  SysFreeString(block);
  std::printf("SendLPaket(Hallo): %d\n", ok);
  std::fflush(stdout);

  WaitForEvents(2, 3000);

  trx->DisconnectChannel(&ok);
  std::printf("DisconnectChannel: %d\n", ok);
  if (cp) {
    cp->Unadvise(cookie);
    cp->Release();
  }
  if (cpc) cpc->Release();
  trx->Release();
  return 0;
}

}  // namespace

int main() {
  if (FAILED(CoInitialize(nullptr))) return 1;
  const int rc = Run();
  CoUninitialize();
  return rc;
}
