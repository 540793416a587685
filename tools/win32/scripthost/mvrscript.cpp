// A small Active Scripting host: runs a VBScript or JScript file on the system's engines
// with a WScript object (Echo, Sleep, CreateObject, ConnectObject, DisconnectObject, Quit)
// whose objects deliver their events to the script procedures named prefix + event name.
// Wine's own cscript cannot sink events.  usage: mvrscript file.vbs|file.js
#include <windows.h>

#include "tools/win32/PumpMessages.h"

#include <activscp.h>
#include <ocidl.h>
#include <olectl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "automation/ComPtr.h"

namespace {

constexpr HRESULT kQuitting = E_ABORT;

// libuuid lacks the parser's IID; the interface differs between 32 and 64 bits.
#ifdef _WIN64
const IID kIidActiveScriptParse = {0xC7EF7658, 0xE1EE, 0x480E, {0x97, 0xEA, 0xD5, 0x2C, 0xB4, 0xD7, 0x6D, 0x17}};
#else
const IID kIidActiveScriptParse = {0xBB1A2AE2, 0xA4F9, 0x11CF, {0x8F, 0x20, 0x00, 0x80, 0x5F, 0x2C, 0xD0, 0x64}};
#endif

std::string Utf8(const wchar_t* w, size_t n) {
  if (n == 0) return std::string();
  const int len = WideCharToMultiByte(CP_UTF8, 0, w, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(len > 0 ? len : 0), '\0');
  if (len > 0) WideCharToMultiByte(CP_UTF8, 0, w, static_cast<int>(n), &out[0], len, nullptr, nullptr);
  return out;
}

void Print(const std::wstring& line) {
  const std::string s = Utf8(line.data(), line.size()) + "\n";
  std::fwrite(s.data(), 1, s.size(), stdout);
  std::fflush(stdout);
}


// Base for the host's small IDispatch objects.
template <class Self>
class Unknown : public IDispatch {
 public:
  virtual ~Unknown() = default;
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG n = --refs_;
    if (n == 0) delete static_cast<Self*>(this);
    return n;
  }
  STDMETHODIMP GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }

 private:
  ULONG refs_ = 1;
};

class Host;

// Receives an object's events and calls the script's prefix_Name procedure, if any.
class EventSink final : public Unknown<EventSink> {
 public:
  EventSink(Host* host, IID iid, ComPtr<ITypeInfo> info, std::wstring prefix)
      : host_(host), iid_(iid), info_(std::move(info)), prefix_(std::move(prefix)) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IDispatch && riid != iid_) return E_NOINTERFACE;
    *ppv = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID lcid, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                      UINT*) override;
  void Detach() { host_ = nullptr; }

 private:
  Host* host_;
  IID iid_;
  ComPtr<ITypeInfo> info_;
  std::wstring prefix_;
};

struct Connection {
  ComPtr<IDispatch> object;
  ComPtr<IConnectionPoint> point;
  ComPtr<EventSink> sink;
  DWORD cookie = 0;
};

class WScriptObject;

class Host final : public IActiveScriptSite {
 public:
  Host();
  ~Host();
  int Run(const std::wstring& file);

  // IActiveScriptSite; the host lives on main's stack.
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IActiveScriptSite) return E_NOINTERFACE;
    *ppv = static_cast<IActiveScriptSite*>(this);
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP GetLCID(LCID* lcid) override {
    *lcid = LOCALE_USER_DEFAULT;
    return S_OK;
  }
  STDMETHODIMP GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** unk, ITypeInfo** ti) override;
  STDMETHODIMP GetDocVersionString(BSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP OnScriptTerminate(const VARIANT*, const EXCEPINFO*) override { return S_OK; }
  STDMETHODIMP OnStateChange(SCRIPTSTATE) override { return S_OK; }
  STDMETHODIMP OnScriptError(IActiveScriptError* error) override;
  STDMETHODIMP OnEnterScript() override { return S_OK; }
  STDMETHODIMP OnLeaveScript() override { return S_OK; }

  HRESULT Connect(IDispatch* object, const std::wstring& prefix);
  void Disconnect(IDispatch* object);
  HRESULT Quit(int code) {
    quitting_ = true;
    exitCode_ = code;
    return kQuitting;
  }
  bool Quitting() const { return quitting_; }
  ComPtr<IDispatch> ScriptDispatch() {
    ComPtr<IDispatch> d;
    if (script_) script_->GetScriptDispatch(nullptr, d.Put());
    return d;
  }

 private:
  ComPtr<IActiveScript> script_;
  ComPtr<WScriptObject> wscript_;
  std::vector<Connection> connections_;
  bool quitting_ = false;
  bool failed_ = false;
  int exitCode_ = 0;
};

// The script's WScript object.
class WScriptObject final : public Unknown<WScriptObject> {
 public:
  enum : DISPID { kEcho = 1, kSleep, kCreateObject, kConnectObject, kDisconnectObject, kQuit };
  explicit WScriptObject(Host* host) : host_(host) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IDispatch) return E_NOINTERFACE;
    *ppv = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    static const struct {
      const wchar_t* name;
      DISPID id;
    } kNames[] = {{L"Echo", kEcho}, {L"Sleep", kSleep}, {L"CreateObject", kCreateObject},
                  {L"ConnectObject", kConnectObject}, {L"DisconnectObject", kDisconnectObject}, {L"Quit", kQuit}};
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count; ++i) {
      ids[i] = DISPID_UNKNOWN;
      for (const auto& n : kNames)
        if (i == 0 && _wcsicmp(names[i], n.name) == 0) ids[i] = n.id;
      if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
  }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT* result, EXCEPINFO*,
                      UINT*) override {
    if (result) VariantInit(result);
    const UINT n = p ? p->cArgs : 0;
    // Arguments come last first.
    auto arg = [&](UINT i) -> VARIANT* { return i < n ? &p->rgvarg[n - 1 - i] : nullptr; };
    switch (id) {
      case kEcho: {
        std::wstring line;
        for (UINT i = 0; i < n; ++i) {
          VARIANT v;
          VariantInit(&v);
          if (SUCCEEDED(VariantChangeType(&v, arg(i), VARIANT_ALPHABOOL, VT_BSTR))) {
            if (i) line += L' ';
            line.append(v.bstrVal, SysStringLen(v.bstrVal));
          }
          VariantClear(&v);
        }
        Print(line);
        return S_OK;
      }
      case kSleep: {
        VARIANT v;
        VariantInit(&v);
        if (n < 1 || FAILED(VariantChangeType(&v, arg(0), 0, VT_I4))) return DISP_E_TYPEMISMATCH;
        PumpMessagesFor(static_cast<DWORD>(v.lVal > 0 ? v.lVal : 0));
        return host_->Quitting() ? kQuitting : S_OK;
      }
      case kCreateObject: {
        VARIANT progId, prefix;
        VariantInit(&progId);
        VariantInit(&prefix);
        if (n < 1 || FAILED(VariantChangeType(&progId, arg(0), 0, VT_BSTR))) return DISP_E_TYPEMISMATCH;
        OwnedBstr id(progId.bstrVal);
        CLSID clsid;
        HRESULT hr = CLSIDFromProgID(id.Get(), &clsid);
        ComPtr<IDispatch> obj;
        if (SUCCEEDED(hr))
          hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IDispatch, reinterpret_cast<void**>(obj.Put()));
        if (FAILED(hr)) return hr;
        if (n >= 2 && SUCCEEDED(VariantChangeType(&prefix, arg(1), 0, VT_BSTR))) {
          OwnedBstr pre(prefix.bstrVal);
          hr = host_->Connect(obj.Get(), std::wstring(pre.Get(), SysStringLen(pre.Get())));
          if (FAILED(hr)) return hr;
        }
        if (result) {
          result->vt = VT_DISPATCH;
          result->pdispVal = obj.Detach();
        }
        return S_OK;
      }
      case kConnectObject: {
        VARIANT prefix;
        VariantInit(&prefix);
        VARIANT* o = arg(0);
        if (n < 2 || !o || o->vt != VT_DISPATCH || FAILED(VariantChangeType(&prefix, arg(1), 0, VT_BSTR)))
          return DISP_E_TYPEMISMATCH;
        OwnedBstr pre(prefix.bstrVal);
        return host_->Connect(o->pdispVal, std::wstring(pre.Get(), SysStringLen(pre.Get())));
      }
      case kDisconnectObject: {
        VARIANT* o = arg(0);
        if (!o || o->vt != VT_DISPATCH) return DISP_E_TYPEMISMATCH;
        host_->Disconnect(o->pdispVal);
        return S_OK;
      }
      case kQuit: {
        VARIANT v;
        VariantInit(&v);
        int code = 0;
        if (n >= 1 && SUCCEEDED(VariantChangeType(&v, arg(0), 0, VT_I4))) code = v.lVal;
        return host_->Quit(code);
      }
    }
    return DISP_E_MEMBERNOTFOUND;
  }

 private:
  Host* host_;
};

STDMETHODIMP EventSink::Invoke(DISPID id, REFIID, LCID lcid, WORD, DISPPARAMS* params, VARIANT* result,
                               EXCEPINFO*, UINT*) {
  if (!host_ || host_->Quitting()) return S_OK;
  BSTR names[1] = {};
  UINT got = 0;
  if (!info_ || FAILED(info_->GetNames(id, names, 1, &got)) || got == 0) return S_OK;
  OwnedBstr name(names[0]);
  // As WScript does: the prefix and the event name joined directly ("mvr_" + "Receive").
  std::wstring handler = prefix_ + name.Get();
  ComPtr<IDispatch> script = host_->ScriptDispatch();
  if (!script) return S_OK;
  LPOLESTR n = &handler[0];
  DISPID target = DISPID_UNKNOWN;
  if (FAILED(script->GetIDsOfNames(IID_NULL, &n, 1, lcid, &target))) return S_OK;  // no handler: dropped
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  return script->Invoke(target, IID_NULL, lcid, DISPATCH_METHOD, params ? params : &none, result, nullptr,
                        nullptr);
}

Host::Host() : wscript_(new WScriptObject(this)) {}

Host::~Host() {
  for (auto& c : connections_) {
    c.point->Unadvise(c.cookie);
    c.sink->Detach();
  }
  connections_.clear();
  if (script_) script_->Close();
}

STDMETHODIMP Host::GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** unk, ITypeInfo** ti) {
  if (ti) *ti = nullptr;
  if (unk) *unk = nullptr;
  if (_wcsicmp(name, L"WScript") != 0) return TYPE_E_ELEMENTNOTFOUND;
  if (mask & SCRIPTINFO_ITYPEINFO) return TYPE_E_ELEMENTNOTFOUND;
  if ((mask & SCRIPTINFO_IUNKNOWN) && unk) {
    *unk = wscript_.Get();
    wscript_->AddRef();
  }
  return S_OK;
}

STDMETHODIMP Host::OnScriptError(IActiveScriptError* error) {
  if (quitting_) return S_OK;
  EXCEPINFO ei{};
  error->GetExceptionInfo(&ei);
  if (ei.pfnDeferredFillIn) ei.pfnDeferredFillIn(&ei);
  DWORD ctx = 0;
  ULONG line = 0;
  LONG col = 0;
  error->GetSourcePosition(&ctx, &line, &col);
  wchar_t head[96];
  wsprintfW(head, L"script error, line %lu, column %ld (0x%08lX): ", line + 1, col + 1,
            static_cast<unsigned long>(ei.scode ? ei.scode : ei.wCode));
  std::wstring text = head;
  if (ei.bstrSource) text += std::wstring(ei.bstrSource) + L": ";
  if (ei.bstrDescription) text += ei.bstrDescription;
  Print(text);
  SysFreeString(ei.bstrSource);
  SysFreeString(ei.bstrDescription);
  SysFreeString(ei.bstrHelpFile);
  failed_ = true;
  return S_OK;
}

HRESULT Host::Connect(IDispatch* object, const std::wstring& prefix) {
  // The object's default source interface, from its class information.
  ComPtr<IProvideClassInfo> pci;
  ComPtr<ITypeInfo> cls;
  HRESULT hr = object->QueryInterface(IID_IProvideClassInfo, reinterpret_cast<void**>(pci.Put()));
  if (SUCCEEDED(hr)) hr = pci->GetClassInfo(cls.Put());
  if (FAILED(hr)) return hr;
  TYPEATTR* ta = nullptr;
  if (FAILED(hr = cls->GetTypeAttr(&ta))) return hr;
  const UINT count = ta->cImplTypes;
  cls->ReleaseTypeAttr(ta);
  ComPtr<ITypeInfo> source;
  for (UINT i = 0; i < count && !source; ++i) {
    INT flags = 0;
    HREFTYPE ref = 0;
    if (SUCCEEDED(cls->GetImplTypeFlags(i, &flags)) &&
        (flags & (IMPLTYPEFLAG_FSOURCE | IMPLTYPEFLAG_FDEFAULT)) == (IMPLTYPEFLAG_FSOURCE | IMPLTYPEFLAG_FDEFAULT) &&
        SUCCEEDED(cls->GetRefTypeOfImplType(i, &ref)))
      cls->GetRefTypeInfo(ref, source.Put());
  }
  if (!source) return CONNECT_E_NOCONNECTION;
  IID iid;
  if (FAILED(hr = source->GetTypeAttr(&ta))) return hr;
  iid = ta->guid;
  source->ReleaseTypeAttr(ta);

  Connection c;
  c.object = ComPtr<IDispatch>::Share(object);
  ComPtr<IConnectionPointContainer> cpc;
  hr = object->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(cpc.Put()));
  if (SUCCEEDED(hr)) hr = cpc->FindConnectionPoint(iid, c.point.Put());
  if (FAILED(hr)) return hr;
  c.sink = ComPtr<EventSink>(new EventSink(this, iid, source, prefix));
  if (FAILED(hr = c.point->Advise(c.sink.Get(), &c.cookie))) return hr;
  connections_.push_back(std::move(c));
  return S_OK;
}

void Host::Disconnect(IDispatch* object) {
  for (auto it = connections_.begin(); it != connections_.end(); ++it) {
    if (it->object.Get() == object) {
      Connection c = std::move(*it);
      connections_.erase(it);
      c.point->Unadvise(c.cookie);
      c.sink->Detach();
      return;
    }
  }
}

bool ReadScript(const std::wstring& file, std::wstring* text) {
  HANDLE h = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  std::string bytes;
  char buf[4096];
  DWORD got = 0;
  while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) bytes.append(buf, got);
  CloseHandle(h);
  size_t skip = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  const int n = MultiByteToWideChar(CP_UTF8, 0, bytes.data() + skip, static_cast<int>(bytes.size() - skip), nullptr, 0);
  text->assign(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0)
    MultiByteToWideChar(CP_UTF8, 0, bytes.data() + skip, static_cast<int>(bytes.size() - skip), &(*text)[0], n);
  return true;
}

int Host::Run(const std::wstring& file) {
  std::wstring code;
  if (!ReadScript(file, &code)) {
    Print(L"cannot read " + file);
    return 2;
  }
  const size_t dot = file.find_last_of(L'.');
  const std::wstring ext = dot == std::wstring::npos ? L"" : file.substr(dot);
  const wchar_t* language = _wcsicmp(ext.c_str(), L".js") == 0 ? L"JScript" : L"VBScript";
  CLSID clsid;
  HRESULT hr = CLSIDFromProgID(language, &clsid);
  if (SUCCEEDED(hr))
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IActiveScript,
                          reinterpret_cast<void**>(script_.Put()));
  ComPtr<IActiveScriptParse> parse;
  if (SUCCEEDED(hr)) hr = script_->QueryInterface(kIidActiveScriptParse, reinterpret_cast<void**>(parse.Put()));
  if (SUCCEEDED(hr)) hr = script_->SetScriptSite(this);
  if (SUCCEEDED(hr)) hr = parse->InitNew();
  if (SUCCEEDED(hr)) hr = script_->AddNamedItem(L"WScript", SCRIPTITEM_ISVISIBLE);
  if (SUCCEEDED(hr)) hr = script_->SetScriptState(SCRIPTSTATE_STARTED);
  if (FAILED(hr)) {
    wchar_t msg[64];
    wsprintfW(msg, L"cannot start the script engine (0x%08lX)", static_cast<unsigned long>(hr));
    Print(msg);
    return 2;
  }
  EXCEPINFO ei{};
  hr = parse->ParseScriptText(code.c_str(), nullptr, nullptr, nullptr, 0, 0, SCRIPTTEXT_ISVISIBLE, nullptr, &ei);
  SysFreeString(ei.bstrSource);
  SysFreeString(ei.bstrDescription);
  SysFreeString(ei.bstrHelpFile);
  if (quitting_) return exitCode_;
  if (failed_ || FAILED(hr)) {
    if (!failed_) {
      wchar_t msg[64];
      wsprintfW(msg, L"script failed (0x%08lX)", static_cast<unsigned long>(hr));
      Print(msg);
    }
    return 1;
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    Print(L"usage: mvrscript file.vbs|file.js");
    return 2;
  }
  if (FAILED(OleInitialize(nullptr))) return 2;
  int rc;
  {
    Host host;
    rc = host.Run(argv[1]);
  }
  OleUninitialize();
  return rc;
}
