// Loads the type library from the exe's resource, as clients and the marshaler do, and
// checks every attribute of the public contract. usage: typelib_check path\MVRServ.exe
#include <windows.h>

#include <oaidl.h>

#include <cstdio>
#include <string>

#include "MVR_Server.h"
#include "automation/ComPtr.h"

namespace {

int g_failures = 0;

void Check(bool cond, const std::string& what) {
  std::printf("%s: %s\n", cond ? "ok" : "FAIL", what.c_str());
  if (!cond) ++g_failures;
}

std::string Narrow(const wchar_t* w) {
  std::string s;
  for (; w && *w; ++w) s += *w < 0x80 ? static_cast<char>(*w) : '?';
  return s;
}

struct Doc {
  std::wstring name, doc, file;
  bool hasDoc = false, hasFile = false;
  DWORD context = 0;
};

Doc Documentation(ITypeInfo* ti, MEMBERID id) {
  Doc d;
  BSTR n = nullptr, s = nullptr, f = nullptr;
  ti->GetDocumentation(id, &n, &s, &d.context, &f);
  d.name = n ? n : L"";
  d.hasDoc = s != nullptr;
  d.doc = s ? s : L"";
  d.hasFile = f != nullptr;
  SysFreeString(n);
  SysFreeString(s);
  SysFreeString(f);
  return d;
}

// Releases a TYPEATTR with its type info.
class Attr {
 public:
  explicit Attr(ITypeInfo* ti) : ti_(ti) { ti_->GetTypeAttr(&a_); }
  Attr(const Attr&) = delete;
  Attr& operator=(const Attr&) = delete;
  ~Attr() {
    if (a_) ti_->ReleaseTypeAttr(a_);
  }
  const TYPEATTR* operator->() const { return a_; }

 private:
  ITypeInfo* ti_;
  TYPEATTR* a_ = nullptr;
};

struct Param {
  VARTYPE vt;       // VT_PTR means pointer to VARIANT_BOOL here
  USHORT flags;
  const wchar_t* name;
};

struct Member {
  const wchar_t* name;
  MEMBERID id;
  INVOKEKIND kind;
  int count;
  Param params[2];
};

const Member kCalls[] = {
    {L"HasSerialConnection", 1, INVOKE_PROPERTYGET, 1, {{VT_PTR, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL, L"Value"}}},
    {L"ShowSerialConnectionDlg", 2, INVOKE_FUNC, 0, {}},
    {L"SendSPaket", 3, INVOKE_FUNC, 2,
     {{VT_I1, PARAMFLAG_FIN, L"Datum"}, {VT_PTR, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL, L"SendOk"}}},
    {L"ConnectChannel", 4, INVOKE_FUNC, 2,
     {{VT_I1, PARAMFLAG_FIN, L"IOChannel"}, {VT_PTR, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL, L"CanConnect"}}},
    {L"DisconnectChannel", 5, INVOKE_FUNC, 1, {{VT_PTR, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL, L"WasConnected"}}},
    {L"SendLPaket", 6, INVOKE_FUNC, 2,
     {{VT_BSTR, PARAMFLAG_FIN, L"Block"}, {VT_PTR, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL, L"SendOk"}}},
};

const Member kEvents[] = {
    {L"StartUp", 1, INVOKE_FUNC, 0, {}},
    {L"Quit", 2, INVOKE_FUNC, 0, {}},
    {L"Receive", 3, INVOKE_FUNC, 1, {{VT_BSTR, PARAMFLAG_FIN, L"Block"}}},
    {L"TimeOut", 4, INVOKE_FUNC, 0, {}},
};

void CheckMember(ITypeInfo* ti, UINT index, const Member& m, FUNCKIND funcKind, int slot) {
  const std::string tag = Narrow(m.name) + ": ";
  FUNCDESC* fd = nullptr;
  if (FAILED(ti->GetFuncDesc(index, &fd))) {
    Check(false, tag + "GetFuncDesc");
    return;
  }
  Check(fd->memid == m.id, tag + "DISPID " + std::to_string(fd->memid));
  Check(fd->invkind == m.kind, tag + "invoke kind " + std::to_string(fd->invkind));
  Check(fd->funckind == funcKind, tag + "function kind " + std::to_string(fd->funckind));
  Check(fd->callconv == CC_STDCALL, tag + "stdcall");
  Check(fd->wFuncFlags == 0, tag + "no function flags");
  Check(fd->elemdescFunc.tdesc.vt == VT_HRESULT, tag + "HRESULT result");
  Check(fd->cParams == m.count && fd->cParamsOpt == 0, tag + std::to_string(fd->cParams) + " parameters");
  if (slot >= 0)
    Check(fd->oVft == static_cast<SHORT>(slot * sizeof(void*)), tag + "slot " + std::to_string(fd->oVft / sizeof(void*)));
  BSTR names[4] = {};
  UINT got = 0;
  ti->GetNames(fd->memid, names, 4, &got);
  Check(got == static_cast<UINT>(m.count + 1) && names[0] && std::wstring(names[0]) == m.name, tag + "name");
  for (int i = 0; i < m.count && i < fd->cParams; ++i) {
    const ELEMDESC& e = fd->lprgelemdescParam[i];
    const Param& p = m.params[i];
    const std::string pt = tag + Narrow(p.name) + " ";
    Check(names[i + 1] && std::wstring(names[i + 1]) == p.name, pt + "name");
    Check(e.tdesc.vt == p.vt, pt + "type " + std::to_string(e.tdesc.vt));
    if (p.vt == VT_PTR) Check(e.tdesc.lptdesc && e.tdesc.lptdesc->vt == VT_BOOL, pt + "points to VARIANT_BOOL");
    Check(e.paramdesc.wParamFlags == p.flags, pt + "flags " + std::to_string(e.paramdesc.wParamFlags));
  }
  for (UINT i = 0; i < got; ++i) SysFreeString(names[i]);
  const Doc d = Documentation(ti, fd->memid);
  Check(!d.hasDoc && d.context == 0 && !d.hasFile, tag + "no help string or context");
  ComPtr<ITypeInfo2> ti2;
  if (SUCCEEDED(ti->QueryInterface(IID_ITypeInfo2, reinterpret_cast<void**>(ti2.Put())))) {
    CUSTDATA cd{};
    ti2->GetAllFuncCustData(index, &cd);
    Check(cd.cCustData == 0, tag + "no custom data");
    ClearCustData(&cd);
  }
  ti->ReleaseFuncDesc(fd);
}

void CheckType(ITypeInfo* ti, const wchar_t* name, const wchar_t* help, REFGUID guid, TYPEKIND kind, WORD flags) {
  const std::string tag = Narrow(name) + ": ";
  Attr a(ti);
  const Doc d = Documentation(ti, MEMBERID_NIL);
  Check(d.name == name, tag + "name");
  Check(d.doc == help, tag + "help string " + Narrow(d.doc.c_str()));
  Check(d.context == 0 && !d.hasFile, tag + "no help context or file");
  Check(IsEqualGUID(a->guid, guid), tag + "GUID");
  Check(a->typekind == kind, tag + "kind " + std::to_string(a->typekind));
  Check(a->wTypeFlags == flags, tag + "type flags " + std::to_string(a->wTypeFlags));
  Check(a->wMajorVerNum == 1 && a->wMinorVerNum == 0,
        tag + "version " + std::to_string(a->wMajorVerNum) + "." + std::to_string(a->wMinorVerNum));
}

ComPtr<ITypeInfo> ImplType(ITypeInfo* ti, UINT i, int* flags) {
  HREFTYPE ref = 0;
  ComPtr<ITypeInfo> out;
  INT f = -1;
  ti->GetImplTypeFlags(i, &f);
  if (flags) *flags = f;
  if (SUCCEEDED(ti->GetRefTypeOfImplType(i, &ref))) ti->GetRefTypeInfo(ref, out.Put());
  return out;
}

GUID GuidOf(ITypeInfo* ti) {
  if (!ti) return GUID_NULL;
  Attr a(ti);
  return a->guid;
}

void Run(const wchar_t* path) {
  ComPtr<ITypeLib> lib;
  HRESULT hr = LoadTypeLibEx(path, REGKIND_NONE, lib.Put());
  Check(SUCCEEDED(hr), "LoadTypeLibEx on the exe (its TYPELIB 1 resource)");
  if (!lib) return;

  TLIBATTR* la = nullptr;
  lib->GetLibAttr(&la);
  Check(IsEqualGUID(la->guid, LIBID_MVR_Server), "LIBID");
  Check(la->lcid == 0x0409, "lcid 0x0409");
#ifdef _WIN64
  Check(la->syskind == SYS_WIN64, "target system (SYS_WIN64 for the x86_64 test build)");
#else
  Check(la->syskind == SYS_WIN32, "target system SYS_WIN32");
#endif
  Check(la->wMajorVerNum == 1 && la->wMinorVerNum == 0, "library version 1.0");
  // The loader adds FHASDISKIMAGE to what the library stores.
  Check((la->wLibFlags & ~LIBFLAG_FHASDISKIMAGE) == 0, "no library flags " + std::to_string(la->wLibFlags));
  lib->ReleaseTLibAttr(la);

  BSTR n = nullptr, s = nullptr, f = nullptr;
  DWORD ctx = 1;
  lib->GetDocumentation(-1, &n, &s, &ctx, &f);
  Check(n && std::wstring(n) == L"MVR_Server", "library name MVR_Server");
  Check(s && std::wstring(s) == L"MVRServ Bibliothek", "library help string");
  Check(ctx == 0 && !f, "library: no help file or context");
  SysFreeString(n);
  SysFreeString(s);
  SysFreeString(f);
  ComPtr<ITypeLib2> lib2;
  if (SUCCEEDED(lib->QueryInterface(IID_ITypeLib2, reinterpret_cast<void**>(lib2.Put())))) {
    DWORD strCtx = 1;
    BSTR dll = nullptr;
    lib2->GetDocumentation2(-1, 0, nullptr, &strCtx, &dll);
    Check(strCtx == 0, "library help string context 0");
    SysFreeString(dll);
    CUSTDATA cd{};
    lib2->GetAllCustData(&cd);
    Check(cd.cCustData == 0, "library: no custom data " + std::to_string(cd.cCustData));
    ClearCustData(&cd);
  }

  Check(lib->GetTypeInfoCount() == 3, "three type descriptions");
  ComPtr<ITypeInfo> call, events, cls;
  lib->GetTypeInfo(0, call.Put());
  lib->GetTypeInfo(1, events.Put());
  lib->GetTypeInfo(2, cls.Put());
  if (!call || !events || !cls) {
    Check(false, "type infos");
    return;
  }

  // The call interface: its dispatch half and its vtable half.
  CheckType(call.Get(), L"IMVRqmz_trx", L"Dispatch-Schnittstelle f\u00fcr MVRqmz_trx-Objekt", IID_IMVRqmz_trx,
            TKIND_DISPATCH, TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE);
  int implFlags = 0;
  ComPtr<ITypeInfo> vtbl = ImplType(call.Get(), static_cast<UINT>(-1), &implFlags);
  Check(static_cast<bool>(vtbl), "vtable half of the dual interface");
  if (vtbl) {
    CheckType(vtbl.Get(), L"IMVRqmz_trx", L"Dispatch-Schnittstelle f\u00fcr MVRqmz_trx-Objekt", IID_IMVRqmz_trx,
              TKIND_INTERFACE, TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE);
    Attr a(vtbl.Get());
    Check(a->cFuncs == 6, "six members");
    Check(a->cbSizeVft == 13 * sizeof(void*), "13 entries in the vtable");
    Check(a->cImplTypes == 1, "one base");
    ComPtr<ITypeInfo> base = ImplType(vtbl.Get(), 0, nullptr);
    Check(IsEqualGUID(GuidOf(base.Get()), IID_IDispatch), "derives from IDispatch");
    if (base) {
      ComPtr<ITypeLib> baseLib;
      UINT idx = 0;
      base->GetContainingTypeLib(baseLib.Put(), &idx);
      TLIBATTR* ba = nullptr;
      if (baseLib && SUCCEEDED(baseLib->GetLibAttr(&ba))) {
        static const GUID stdole = {0x00020430, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
        Check(IsEqualGUID(ba->guid, stdole) && ba->wMajorVerNum == 2 && ba->wMinorVerNum == 0,
              "IDispatch taken from STDOLE2.TLB 2.0");
        baseLib->ReleaseTLibAttr(ba);
      }
    }
    for (UINT i = 0; i < 6; ++i) CheckMember(vtbl.Get(), i, kCalls[i], FUNC_PUREVIRTUAL, 7 + static_cast<int>(i));
  }

  CheckType(events.Get(), L"IMVRqmz_trxEvents", L"Ereignis-Schnittstelle f\u00fcrs MVRProtocol", DIID_IMVRqmz_trxEvents,
            TKIND_DISPATCH, TYPEFLAG_FDISPATCHABLE);
  {
    Attr a(events.Get());
    Check(a->cFuncs == 4 && a->cVars == 0, "four event methods, no properties");
    for (UINT i = 0; i < 4 && i < a->cFuncs; ++i) CheckMember(events.Get(), i, kEvents[i], FUNC_DISPATCH, -1);
  }

  CheckType(cls.Get(), L"MVR_AutoServ", L"MVRqmz_trx Objekt", CLSID_MVR_AutoServ, TKIND_COCLASS, TYPEFLAG_FCANCREATE);
  {
    Attr a(cls.Get());
    Check(a->cImplTypes == 2, "two implemented interfaces");
    int f0 = 0, f1 = 0;
    ComPtr<ITypeInfo> i0 = ImplType(cls.Get(), 0, &f0), i1 = ImplType(cls.Get(), 1, &f1);
    Check(IsEqualGUID(GuidOf(i0.Get()), IID_IMVRqmz_trx) && f0 == IMPLTYPEFLAG_FDEFAULT, "IMVRqmz_trx, default");
    Check(IsEqualGUID(GuidOf(i1.Get()), DIID_IMVRqmz_trxEvents) && f1 == (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE),
          "IMVRqmz_trxEvents, default and source");
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  CoInitialize(nullptr);
  Run(argv[1]);
  CoUninitialize();
  std::printf("%s\n", g_failures ? "FAILED" : "DONE");
  return g_failures ? 1 : 0;
}
