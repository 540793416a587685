#include "automation/MVR_AutoServ.h"

#include <windows.h>

#include <ocidl.h>
#include <olectl.h>

#include <exception>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "MVR_Server.h"
#include "automation/ComPtr.h"
#include "automation/QueryInterface.h"
#include "automation/ServerLifetime.h"
#include "automation/ServerRegistration.h"
#include "platform/Boundary.h"
#include "platform/MessageDlg.h"
#include "platform/MessagePump.h"
#include "platform/Text.h"
#include "serial/Win32SerialPlatform.h"

namespace {

// Created before the program's main code and kept to the end of the process.
std::unique_ptr<TMVRtrx> CreateEngine() {
  auto engine = std::make_unique<TMVRtrx>(Win32SerialPlatform::Instance());
  engine->AnswerTimeout = 16;
  return engine;
}

std::unique_ptr<TMVRtrx> g_engine = CreateEngine();

}  // namespace

TMVRtrx* MVRtrx = g_engine.get();

namespace {

ComPtr<ITypeLib> g_typeLib;

std::u16string AnsiByteToText(uint8_t byte) {
  const char c = static_cast<char>(byte);
  wchar_t out[4] = {};
  const int n = MultiByteToWideChar(CP_ACP, 0, &c, 1, out, 4);
  return std::u16string(reinterpret_cast<const char16_t*>(out), n > 0 ? n : 0);
}

std::string TextToAnsi(const char16_t* text, size_t length) {
  const auto* w = reinterpret_cast<const wchar_t*>(text);
  const int n = WideCharToMultiByte(CP_ACP, 0, w, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, w, static_cast<int>(length), &out[0], n, nullptr, nullptr);
  return out;
}

// The error information of a failed member: a German description for the client.
void SetComErrorInfo(const std::string& description) {
  ComPtr<ICreateErrorInfo> create;
  if (FAILED(CreateErrorInfo(create.Put()))) return;
  const std::wstring text = Utf8ToWide(description);
  create->SetDescription(const_cast<LPOLESTR>(text.c_str()));
  create->SetSource(const_cast<LPOLESTR>(kProgId));
  create->SetGUID(IID_IMVRqmz_trx);
  ComPtr<IErrorInfo> info;
  if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(info.Put()))))
    SetErrorInfo(0, info.Get());
}

HRESULT TypeInfoOf(REFGUID guid, ITypeInfo** info) {
  if (!g_typeLib) return E_UNEXPECTED;
  return g_typeLib->GetTypeInfoOfGuid(guid, info);
}

class PointEnum;

class TMVR_AutoServ final : public IMVRqmz_trx,
                            public IConnectionPointContainer,
                            public ISupportErrorInfo,
                            public IProvideClassInfo,
                            public TAutoServCore {
 public:
  TMVR_AutoServ() : TAutoServCore(*MVRtrx, &AnsiByteToText, &TextToAnsi), FConnectionPoint(this) {
    ServerLifetime::ObjectCreated();
    if (SUCCEEDED(TypeInfoOf(IID_IMVRqmz_trx, dispInfo_.Put()))) {
      // DispInvoke needs the vtable half of the dual interface.
      HREFTYPE ref = 0;
      if (SUCCEEDED(dispInfo_->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref)))
        dispInfo_->GetRefTypeInfo(ref, vtblInfo_.Put());
    }
  }
  ~TMVR_AutoServ() override {
    DetachClient();
    ServerLifetime::ObjectDestroyed();
  }

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    IUnknown* const trx = static_cast<IMVRqmz_trx*>(this);
    return QueryInterfaceOf(riid, ppv,
                            {{&IID_IUnknown, trx},
                             {&IID_IDispatch, trx},
                             {&IID_IMVRqmz_trx, trx},
                             {&IID_IConnectionPointContainer, static_cast<IConnectionPointContainer*>(this)},
                             {&IID_ISupportErrorInfo, static_cast<ISupportErrorInfo*>(this)},
                             {&IID_IProvideClassInfo, static_cast<IProvideClassInfo*>(this)}});
  }
  STDMETHODIMP_(ULONG) AddRef() override { return refs_.Add(); }
  STDMETHODIMP_(ULONG) Release() override { return refs_.Drop(this); }

  // IDispatch
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    if (!dispInfo_) return E_UNEXPECTED;
    *info = ComPtr<ITypeInfo>::Share(dispInfo_.Get()).Detach();
    return S_OK;
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    return GuardComCall([&]() -> HRESULT {
      if (!vtblInfo_) return E_UNEXPECTED;
      return DispGetIDsOfNames(vtblInfo_.Get(), names, count, ids);
    }, &SetComErrorInfo);
  }
  STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                      VARIANT* result, EXCEPINFO* excep, UINT* argErr) override {
    return GuardComCall([&]() -> HRESULT {
      if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
      if (!vtblInfo_) return E_UNEXPECTED;
      return DispInvoke(static_cast<IMVRqmz_trx*>(this), vtblInfo_.Get(), id, flags, params,
                        result, excep, argErr);
    }, &SetComErrorInfo);
  }

  // IMVRqmz_trx
  STDMETHODIMP get_HasSerialConnection(VARIANT_BOOL* value) override {
    return Member(value, [&] { return HasSerialConnection(); });
  }
  STDMETHODIMP ShowSerialConnectionDlg() override {
    // The dialog's loop can find this object's client gone and let go of it meanwhile.
    ComPtr<IMVRqmz_trx> self = ComPtr<IMVRqmz_trx>::Share(this);
    return GuardComCall([&]() -> HRESULT {
      TAutoServCore::ShowSerialConnectionDlg();
      return S_OK;
    }, &SetComErrorInfo);
  }
  STDMETHODIMP SendSPaket(signed char datum, VARIANT_BOOL* ok) override {
    return Member(ok, [&] { return TAutoServCore::SendSPaket(datum); });
  }
  STDMETHODIMP ConnectChannel(signed char channel, VARIANT_BOOL* ok) override {
    return Member(ok, [&] { return TAutoServCore::ConnectChannel(channel); });
  }
  STDMETHODIMP DisconnectChannel(VARIANT_BOOL* was) override {
    return Member(was, [&] { return TAutoServCore::DisconnectChannel(); });
  }
  STDMETHODIMP SendLPaket(BSTR block, VARIANT_BOOL* ok) override {
    return Member(ok, [&] {
      return TAutoServCore::SendLPaket(reinterpret_cast<const char16_t*>(block), SysStringLen(block));
    });
  }

  // IConnectionPointContainer
  STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** e) override;
  STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** cp) override {
    if (!cp) return E_POINTER;
    *cp = nullptr;
    if (riid != DIID_IMVRqmz_trxEvents) return CONNECT_E_NOCONNECTION;
    *cp = &FConnectionPoint;
    AddRef();
    return S_OK;
  }

  // ISupportErrorInfo
  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override {
    ComPtr<IUnknown> probe;
    return SUCCEEDED(QueryInterface(riid, reinterpret_cast<void**>(probe.Put()))) ? S_OK : S_FALSE;
  }

  // IProvideClassInfo
  STDMETHODIMP GetClassInfo(ITypeInfo** info) override {
    if (!info) return E_POINTER;
    *info = nullptr;
    return TypeInfoOf(CLSID_MVR_AutoServ, info);
  }

 protected:
  int32_t RaiseReceive(const std::u16string& block) override {
    OwnedBstr text(SysAllocStringLen(reinterpret_cast<const OLECHAR*>(block.data()),
                                     static_cast<UINT>(block.size())));
    if (!text.Get() && !block.empty()) return S_OK;
    VARIANTARG arg;
    VariantInit(&arg);
    arg.vt = VT_BSTR;
    arg.bstrVal = text.Get();
    return Fire(3, &arg, 1);
  }
  int32_t RaiseTimeOut() override { return Fire(4, nullptr, 0); }
  void ReleaseSink() override { FConnectionPoint.Disconnect(); }
  void DisconnectClient() override;
  void Retain() override { AddRef(); }
  void Drop() override { Release(); }
  int32_t PingClient() override {
    // Answered by the sink in the client's own process; none of its event handlers runs.
    ComPtr<IDispatch> sink = FConnectionPoint.Sink();
    if (!sink) return S_OK;
    UINT count = 0;
    return sink->GetTypeInfoCount(&count);
  }
  void PauseBeforeRetry(uint32_t ms) override {
    PumpMessagesUntil([] { return false; }, ms);
  }

 private:
  // The single-sink connection point; lives inside its object and shares its count.
  class EventPoint final : public IConnectionPoint {
   public:
    explicit EventPoint(TMVR_AutoServ* owner) : owner_(owner) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
      return QueryInterfaceOf(riid, ppv, {{&IID_IUnknown, this}, {&IID_IConnectionPoint, this}});
    }
    STDMETHODIMP_(ULONG) AddRef() override { return owner_->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return owner_->Release(); }
    STDMETHODIMP GetConnectionInterface(IID* iid) override {
      if (!iid) return E_POINTER;
      *iid = DIID_IMVRqmz_trxEvents;
      return S_OK;
    }
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** c) override {
      if (!c) return E_POINTER;
      *c = owner_;
      owner_->AddRef();
      return S_OK;
    }
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override {
      return GuardComCall([&] { return Connect(sink, cookie); }, &SetComErrorInfo);
    }
    STDMETHODIMP Unadvise(DWORD cookie) override {
      return GuardComCall([&]() -> HRESULT {
        if (!sink_ || cookie == 0 || cookie != cookie_) return CONNECT_E_NOCONNECTION;
        Disconnect();
        return S_OK;
      }, &SetComErrorInfo);
    }
    STDMETHODIMP EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

    void Disconnect() {
      cookie_ = 0;
      sink_.Reset();
    }
    ComPtr<IDispatch> Sink() const { return sink_; }

   private:
    HRESULT Connect(IUnknown* sink, DWORD* cookie) {
      if (!sink || !cookie) return E_POINTER;
      *cookie = 0;
      // Clients compare with this number (CONNECT_E_CANNOTCONNECT in the headers).
      if (sink_) return static_cast<HRESULT>(0x80040202);
      ComPtr<IDispatch> events;
      if (FAILED(sink->QueryInterface(DIID_IMVRqmz_trxEvents, reinterpret_cast<void**>(events.Put()))) ||
          !events)
        return CONNECT_E_CANNOTCONNECT;
      if (sink_) return static_cast<HRESULT>(0x80040202);  // advised meanwhile, during the query
      sink_ = std::move(events);
      cookie_ = ++lastCookie_;
      *cookie = cookie_;
      return S_OK;
    }

    TMVR_AutoServ* owner_;
    ComPtr<IDispatch> sink_;
    DWORD cookie_ = 0;
    DWORD lastCookie_ = 0;
  };

  template <class F>
  static HRESULT Member(VARIANT_BOOL* out, F body) {
    static_assert(sizeof(VARIANT_BOOL) == sizeof(int16_t), "VARIANT_BOOL is 16 bits");
    return BoolMember(reinterpret_cast<int16_t*>(out), body, &SetComErrorInfo);
  }

  HRESULT Fire(DISPID id, VARIANTARG* args, UINT count) {
    // The sink may unadvise from its handler; our own reference keeps it alive until return.
    ComPtr<IDispatch> sink = FConnectionPoint.Sink();
    if (!sink) return S_OK;
    DISPPARAMS params{args, nullptr, count, 0};
    return sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                        nullptr, nullptr);
  }

  RefCount refs_;
  ComPtr<ITypeInfo> dispInfo_;
  ComPtr<ITypeInfo> vtblInfo_;
  EventPoint FConnectionPoint;
  // The enumerators alive: each is an object of its own that a client can hold.
  std::vector<PointEnum*> enums_;

  friend class PointEnum;
};

// Lists the object's one connection point.
class PointEnum final : public IEnumConnectionPoints {
 public:
  PointEnum(TMVR_AutoServ* owner, ULONG pos)
      : owner_(ComPtr<IConnectionPointContainer>::Share(owner)), list_(owner->enums_), pos_(pos) {
    list_.push_back(this);
  }
  ~PointEnum() {
    for (auto it = list_.begin(); it != list_.end(); ++it) {
      if (*it == this) {
        list_.erase(it);
        break;
      }
    }
  }
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    return QueryInterfaceOf(riid, ppv, {{&IID_IUnknown, this}, {&IID_IEnumConnectionPoints, this}});
  }
  STDMETHODIMP_(ULONG) AddRef() override { return refs_.Add(); }
  STDMETHODIMP_(ULONG) Release() override { return refs_.Drop(this); }
  STDMETHODIMP Next(ULONG count, IConnectionPoint** out, ULONG* fetched) override {
    if (!out) return E_POINTER;
    ULONG got = 0;
    if (count > 0 && pos_ == 0) {
      owner_->FindConnectionPoint(DIID_IMVRqmz_trxEvents, &out[0]);
      pos_ = got = 1;
    }
    if (fetched) *fetched = got;
    return got == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    const ULONG left = 1 - pos_;
    pos_ = count >= left ? 1 : pos_ + count;
    return count <= left ? S_OK : S_FALSE;
  }
  STDMETHODIMP Reset() override {
    pos_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumConnectionPoints** e) override {
    if (!e) return E_POINTER;
    *e = nullptr;
    return GuardComCall([&]() -> HRESULT {
      *e = new PointEnum(*this);
      return S_OK;
    }, &SetComErrorInfo);
  }

 private:
  PointEnum(const PointEnum& o) : owner_(o.owner_), list_(o.list_), pos_(o.pos_) { list_.push_back(this); }
  ComPtr<IConnectionPointContainer> owner_;
  std::vector<PointEnum*>& list_;  // the owner's, which owner_ keeps alive
  ULONG pos_;
  RefCount refs_;
};

STDMETHODIMP TMVR_AutoServ::EnumConnectionPoints(IEnumConnectionPoints** e) {
  if (!e) return E_POINTER;
  *e = nullptr;
  return GuardComCall([&]() -> HRESULT {
    *e = new PointEnum(this, 0);
    return S_OK;
  }, &SetComErrorInfo);
}

void TMVR_AutoServ::DisconnectClient() {
  // Every object the dead client can hold a proxy on has a stub of its own whose references
  // keep this object alive: the object itself, its connection point and any enumerator.
  // Dropping them all lets the object end once the call that found the client gone returns.
  std::vector<ComPtr<IEnumConnectionPoints>> enums;
  enums.reserve(enums_.size());
  for (PointEnum* e : enums_) enums.push_back(ComPtr<IEnumConnectionPoints>::Share(e));
  CoDisconnectObject(static_cast<IMVRqmz_trx*>(this), 0);
  CoDisconnectObject(&FConnectionPoint, 0);
  for (auto& e : enums) CoDisconnectObject(e.Get(), 0);
}

// Lives for the whole process; a new object per creation request.
class ClassFactory final : public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    return QueryInterfaceOf(riid, ppv, {{&IID_IUnknown, this}, {&IID_IClassFactory, this}});
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return GuardComCall([&]() -> HRESULT {
      auto* obj = new (std::nothrow) TMVR_AutoServ();
      if (!obj) return E_OUTOFMEMORY;
      const HRESULT hr = obj->QueryInterface(riid, ppv);
      obj->Release();
      return hr;
    }, &SetComErrorInfo);
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    return GuardComCall([&]() -> HRESULT {
      ServerLifetime::Lock(lock != FALSE);
      return S_OK;
    }, &SetComErrorInfo);
  }
};

ClassFactory g_factory;

// How often every client is asked whether it is still there. Wine never tells a server that a
// client died, so a dead client's objects would hold their channels and keep the server alive.
constexpr UINT kClientCheckMs = 3000;
UINT_PTR g_checkTimer = 0;

void CALLBACK CheckClientsTick(HWND, UINT, UINT_PTR, DWORD) {
  try {
    TAutoServCore::CheckClients();
  } catch (...) {
    // Out of memory for the list: the next tick asks again.
  }
}

std::wstring ExePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::string HresultText(HRESULT hr) {
  const std::string text = SystemErrorText(static_cast<DWORD>(hr));
  char code[16];
  wsprintfA(code, "0x%08lX", static_cast<unsigned long>(hr));
  return text.empty() ? std::string(code) : text + " (" + code + ")";
}

}  // namespace

ServerStart StartAutomationServer(const char* cmdLine) {
  ServerStart start;
  start.Mode = ParseStartMode(cmdLine);
  const std::wstring exe = ExePath();

  if (start.Mode == StartMode::UnregServer) {
    UnregisterServer();
    start.EndNow = true;
    return start;
  }
  const ServerClaim::Outcome claim = start.Mode == StartMode::RegServer
                                         ? ServerClaim::Outcome::Serve
                                         : ServerLifetime::Claim(start.Mode == StartMode::Automation);
  if (claim == ServerClaim::Outcome::End) {
    start.EndNow = true;
    return start;
  }
  const bool spare = claim == ServerClaim::Outcome::ServeIfAsked;
  HRESULT hr = LoadTypeLibEx(exe.c_str(), REGKIND_NONE, g_typeLib.Put());
  RegistrationResult reg;
  if (SUCCEEDED(hr)) {
    reg = RegisterServer(g_typeLib.Get(), exe);
    hr = reg.TypeLib;
  }
  if (FAILED(hr)) {
    MessageDlg("Die Typbibliothek konnte nicht registriert werden: " + HresultText(hr),
               MsgDlgType::Error, mbOK);
    start.EndNow = true;
    start.ExitCode = 1;
    return start;
  }
  if (start.Mode == StartMode::RegServer) {
    if (!reg.KeysWritten) {
      MessageDlg("Fehler beim Erstellen eines Eintrages in die Systemregistrierung", MsgDlgType::Error, mbOK);
      start.ExitCode = 1;
    }
    start.EndNow = true;
    return start;
  }
  hr = ServerLifetime::Register(&g_factory, start.Mode == StartMode::Automation);
  if (FAILED(hr)) {
    MessageDlg("Der COM-Server konnte nicht gestartet werden: " + HresultText(hr), MsgDlgType::Error, mbOK);
    start.EndNow = true;
    start.ExitCode = 1;
    return start;
  }
  g_checkTimer = SetTimer(nullptr, 0, kClientCheckMs, &CheckClientsTick);
  // Nothing is shown until a client has come: most likely ours was served elsewhere.
  if (spare && !ServerLifetime::AwaitFirstClient()) start.EndNow = true;
  return start;
}

bool ServeLateClient() { return ServerLifetime::ServeLateClient(); }

void StopAutomationServer() {
  if (g_checkTimer) KillTimer(nullptr, g_checkTimer);
  g_checkTimer = 0;
  ServerLifetime::Stop();
  g_typeLib.Reset();
}

long ServerObjectCount() { return ServerLifetime::ObjectCount(); }

bool ConfirmTerminate() {
  if (ServerLifetime::ObjectCount() == 0) return true;
  return MessageDlg(
             "Diese Anwendung enthält noch aktive COM-Objekte. Mindestens ein Client verweist noch auf "
             "diese Objekte so daß manuelles Schließen dieser Anwendung dazu führen könnte, daß die "
             "Client-Anwendungen nicht korrekt funktionieren.\r\n\r\nSind Sie sicher, daß Sie diese "
             "Anwendung schließen möchten?",
             MsgDlgType::Warning, mbYes | mbNo, mbNo, "Warnung des COM-Servers") == mrYes;
}
