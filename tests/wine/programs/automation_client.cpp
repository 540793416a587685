// A client of MVR_AutoServ in its own process, early- and late-bound, with an event sink.
// Prints "ok:"/"FAIL:" lines and measurements; the Python side runs it and checks the wire.
#include <windows.h>

#include "tools/win32/PumpMessages.h"

#include <ocidl.h>
#include <olectl.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "MVR_Server.h"
#include "automation/ComPtr.h"
#include "EventSink.h"

namespace {

int g_failures = 0;

void Check(bool cond, const char* what) {
  std::printf("%s: %s\n", cond ? "ok" : "FAIL", what);
  std::fflush(stdout);
  if (!cond) ++g_failures;
}

void CheckHr(HRESULT got, HRESULT want, const char* what) {
  char line[256];
  std::snprintf(line, sizeof line, "%s (0x%08lX)", what, static_cast<unsigned long>(got));
  Check(got == want, line);
}

// Limits of waits scale for slow machines, like the Python test bed's (MVR_SLOW_FACTOR).
DWORD Scaled(DWORD ms) {
  static const double factor = [] {
    const char* v = std::getenv("MVR_SLOW_FACTOR");
    const double f = v ? std::atof(v) : 1.0;
    return f > 1.0 ? f : 1.0;
  }();
  return static_cast<DWORD>(ms * factor);
}

double Now() {
  LARGE_INTEGER f, c;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&c);
  return 1000.0 * static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}


std::string Hex(const std::wstring& s) {
  std::string out;
  char b[8];
  for (wchar_t c : s) {
    std::snprintf(b, sizeof b, "%s%04X", out.empty() ? "" : " ", static_cast<unsigned>(c));
    out += b;
  }
  return out;
}

// The client's event sink: plain IDispatch answering the event interface.
class Sink final : public EventSinkBase {
 public:
  std::vector<std::wstring> received;
  int timeouts = 0;
  int others = 0;
  IMVRqmz_trx* disconnectOnReceive = nullptr;  // borrowed; the handler calls back into the server
  bool nestedOk = false;

  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* p, VARIANT*, EXCEPINFO*,
                      UINT*) override {
    if (id == 3 && (flags & DISPATCH_METHOD) && p && p->cArgs == 1 && p->rgvarg[0].vt == VT_BSTR) {
      BSTR b = p->rgvarg[0].bstrVal;
      received.emplace_back(b ? b : L"", SysStringLen(b));
      if (disconnectOnReceive) {
        VARIANT_BOOL was = 0;
        nestedOk = SUCCEEDED(disconnectOnReceive->DisconnectChannel(&was)) && was == VARIANT_TRUE;
        disconnectOnReceive = nullptr;
      }
    } else if (id == 4 && p && p->cArgs == 0) {
      ++timeouts;
    } else {
      ++others;
    }
    return S_OK;
  }
  bool WaitReceived(size_t n, DWORD ms) {
    const DWORD end = GetTickCount() + ms;
    while (received.size() < n && static_cast<LONG>(end - GetTickCount()) > 0) PumpMessagesFor(10);
    return received.size() >= n;
  }
};

ComPtr<IConnectionPoint> EventPoint(IUnknown* obj) {
  ComPtr<IConnectionPointContainer> cpc;
  ComPtr<IConnectionPoint> cp;
  if (SUCCEEDED(obj->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(cpc.Put()))))
    cpc->FindConnectionPoint(DIID_IMVRqmz_trxEvents, cp.Put());
  return cp;
}

HRESULT InvokeI1(IDispatch* d, DISPID id, VARIANT arg, VARIANT* result) {
  DISPPARAMS params{&arg, nullptr, 1, 0};
  return d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result, nullptr, nullptr);
}

bool ServerRunning() {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return false;
  PROCESSENTRY32W e{};
  e.dwSize = sizeof e;
  bool found = false;
  for (BOOL ok = Process32FirstW(snap, &e); ok; ok = Process32NextW(snap, &e))
    if (_wcsicmp(e.szExeFile, L"MVRServ.exe") == 0) found = true;
  CloseHandle(snap);
  return found;
}

ComPtr<IMVRqmz_trx> Create(double* ms) {
  ComPtr<IMVRqmz_trx> obj;
  const double t0 = Now();
  const HRESULT hr = CoCreateInstance(CLSID_MVR_AutoServ, nullptr, CLSCTX_LOCAL_SERVER, IID_IMVRqmz_trx,
                                      reinterpret_cast<void**>(obj.Put()));
  if (ms) *ms = Now() - t0;
  CheckHr(hr, S_OK, "CoCreateInstance by CLSID");
  return obj;
}

// Everything one client sees: early and late binding, the connection point, events.
void Basic() {
  double createMs = 0;
  const bool wasRunning = ServerRunning();
  ComPtr<IMVRqmz_trx> obj = Create(&createMs);
  if (!obj) return;
  std::printf("create_ms=%.1f server_was_running=%d\n", createMs, wasRunning ? 1 : 0);

  CLSID byProgId{};
  CheckHr(CLSIDFromProgID(L"MVR_Server.MVR_AutoServ", &byProgId), S_OK, "ProgID resolves");
  Check(IsEqualCLSID(byProgId, CLSID_MVR_AutoServ), "ProgID names the class");

  VARIANT_BOOL b = 0;
  CheckHr(obj->get_HasSerialConnection(&b), S_OK, "HasSerialConnection");
  Check(b == VARIANT_TRUE, "port is open (-1)");

  Sink sink, second;
  ComPtr<IConnectionPoint> cp = EventPoint(obj.Get());
  Check(static_cast<bool>(cp), "FindConnectionPoint with the DIID");
  DWORD cookie = 0, cookie2 = 0;
  CheckHr(cp->Advise(&sink, &cookie), S_OK, "Advise");
  CheckHr(cp->Advise(&second, &cookie2), static_cast<HRESULT>(0x80040202), "second Advise refused");
  CheckHr(cp->Unadvise(cookie + 1000), static_cast<HRESULT>(0x80040200), "Unadvise of an unknown cookie");
  {
    ComPtr<IConnectionPointContainer> cpc;
    obj->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(cpc.Put()));
    ComPtr<IEnumConnectionPoints> e;
    ComPtr<IConnectionPoint> p1, p2;
    ULONG got = 0;
    CheckHr(cpc->EnumConnectionPoints(e.Put()), S_OK, "EnumConnectionPoints");
    CheckHr(e->Next(1, p1.Put(), &got), S_OK, "first connection point");
    CheckHr(e->Next(1, p2.Put(), &got), S_FALSE, "no second connection point");
    ComPtr<IConnectionPoint> none;
    CheckHr(cpc->FindConnectionPoint(IID_IDispatch, none.Put()), CONNECT_E_NOCONNECTION, "no point for IDispatch");
  }

  // Early bound.
  CheckHr(obj->ConnectChannel(3, &b), S_OK, "ConnectChannel(3)");
  Check(b == VARIANT_TRUE, "channel 3 granted");
  OwnedBstr abc(SysAllocString(L"abc"));
  double t0 = Now();
  CheckHr(obj->SendLPaket(abc.Get(), &b), S_OK, "SendLPaket(abc)");
  std::printf("call_ms=%.2f\n", Now() - t0);
  Check(b == VARIANT_TRUE, "SendLPaket answers true");
  t0 = Now();
  Check(sink.WaitReceived(1, Scaled(3000)), "Receive event for the echo");
  std::printf("echo_ms=%.1f\n", Now() - t0);
  if (!sink.received.empty()) Check(sink.received[0] == L"abc", "Receive carries abc");
  std::wstring big(257, L'x');
  OwnedBstr b257(SysAllocStringLen(big.c_str(), 257));
  CheckHr(obj->SendLPaket(b257.Get(), &b), S_OK, "SendLPaket(257 chars)");
  Check(b == VARIANT_FALSE, "257 characters refused");
  CheckHr(obj->ConnectChannel(10, &b), S_OK, "ConnectChannel(10) on a holding object");
  Check(b == VARIANT_TRUE, "holding object answers true");

  // Late bound through IDispatch.
  ComPtr<IDispatch> disp;
  CheckHr(obj->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(disp.Put())), S_OK, "QI IDispatch");
  UINT count = 0;
  disp->GetTypeInfoCount(&count);
  Check(count == 1, "GetTypeInfoCount 1");
  ComPtr<ITypeInfo> ti;
  CheckHr(disp->GetTypeInfo(1, 0, ti.Put()), DISP_E_BADINDEX, "GetTypeInfo(1)");
  CheckHr(disp->GetTypeInfo(0, 0, ti.Put()), S_OK, "GetTypeInfo(0)");
  const wchar_t* names[] = {L"SendLPaket", L"ConnectChannel", L"sendspaket", L"HasSerialConnection", L"DisconnectChannel"};
  const DISPID want[] = {6, 4, 3, 1, 5};
  for (int i = 0; i < 5; ++i) {
    DISPID id = -1;
    LPOLESTR n = const_cast<LPOLESTR>(names[i]);
    disp->GetIDsOfNames(IID_NULL, &n, 1, LOCALE_USER_DEFAULT, &id);
    char what[80];
    std::snprintf(what, sizeof what, "GetIDsOfNames %ls = %ld", names[i], static_cast<long>(id));
    Check(id == want[i], what);
  }
  LPOLESTR unknown = const_cast<LPOLESTR>(L"Nope");
  DISPID id = 0;
  CheckHr(disp->GetIDsOfNames(IID_NULL, &unknown, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNNAME, "unknown name");

  VARIANT r;
  VariantInit(&r);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  CheckHr(disp->Invoke(1, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &r, nullptr, nullptr), S_OK,
          "DISPID 1 property get");
  Check(r.vt == VT_BOOL && r.boolVal == VARIANT_TRUE, "late HasSerialConnection is -1");
  VariantClear(&r);
  CheckHr(disp->Invoke(5, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, &r, nullptr, nullptr), S_OK,
          "DISPID 5 DisconnectChannel");
  Check(r.vt == VT_BOOL && r.boolVal == VARIANT_TRUE, "was connected");
  VariantClear(&r);
  VARIANT arg;
  arg.vt = VT_I4;
  arg.lVal = 2;
  CheckHr(InvokeI1(disp.Get(), 4, arg, &r), S_OK, "DISPID 4 ConnectChannel(2)");
  Check(r.vt == VT_BOOL && r.boolVal == VARIANT_TRUE, "channel 2 granted late-bound");
  VariantClear(&r);
  arg.lVal = 65;
  CheckHr(InvokeI1(disp.Get(), 3, arg, &r), S_OK, "DISPID 3 with 65");
  Check(r.vt == VT_BOOL && r.boolVal == VARIANT_TRUE, "SendSPaket(65) true");
  VariantClear(&r);
  Check(sink.WaitReceived(2, Scaled(3000)), "command echo arrives");
  if (sink.received.size() >= 2) Check(sink.received[1] == L"A", "command answer is one character");
  arg.lVal = 200;
  CheckHr(InvokeI1(disp.Get(), 3, arg, &r), DISP_E_OVERFLOW, "200 is no VT_I1");
  CheckHr(obj->SendSPaket(-56, &b), S_OK, "SendSPaket(-56)");
  Check(sink.WaitReceived(3, Scaled(3000)), "third echo");
  if (sink.received.size() >= 3) Check(sink.received[2] == L"\x00C8", "0xC8 comes back as one character");

  // A received frame of 00 41 E4 arrives as three characters (CP1252 on Wine by default).
  OwnedBstr mixed(SysAllocStringLen(L"\0A\x00E4", 3));
  CheckHr(obj->SendLPaket(mixed.Get(), &b), S_OK, "SendLPaket(00 41 E4)");
  Check(sink.WaitReceived(4, Scaled(3000)), "fourth echo");
  if (sink.received.size() >= 4) {
    std::printf("received4=%s\n", Hex(sink.received[3]).c_str());
    Check(sink.received[3] == std::wstring(L"\0A\x00E4", 3), "00 41 E4 as U+0000 A U+00E4");
  }

  // Other interfaces.
  ComPtr<ISupportErrorInfo> sei;
  CheckHr(obj->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(sei.Put())), S_OK, "QI ISupportErrorInfo");
  if (sei) {
    CheckHr(sei->InterfaceSupportsErrorInfo(IID_IMVRqmz_trx), S_OK, "error info for IMVRqmz_trx");
    CheckHr(sei->InterfaceSupportsErrorInfo(IID_IClassFactory), S_FALSE, "no error info for IClassFactory");
  }
  ComPtr<IProvideClassInfo> pci;
  CheckHr(obj->QueryInterface(IID_IProvideClassInfo, reinterpret_cast<void**>(pci.Put())), S_OK, "QI IProvideClassInfo");
  if (pci) {
    ComPtr<ITypeInfo> ci;
    CheckHr(pci->GetClassInfo(ci.Put()), S_OK, "GetClassInfo");
    TYPEATTR* ta = nullptr;
    if (ci && SUCCEEDED(ci->GetTypeAttr(&ta))) {
      Check(IsEqualGUID(ta->guid, CLSID_MVR_AutoServ) && ta->typekind == TKIND_COCLASS, "class info is MVR_AutoServ");
      ci->ReleaseTypeAttr(ta);
    }
  }

  // Disconnect from inside the Receive handler.
  sink.disconnectOnReceive = obj.Get();
  OwnedBstr z(SysAllocString(L"z"));
  CheckHr(obj->SendLPaket(z.Get(), &b), S_OK, "SendLPaket(z)");
  Check(sink.WaitReceived(5, Scaled(3000)), "fifth echo");
  PumpMessagesFor(100);
  Check(sink.nestedOk, "DisconnectChannel from inside Receive");
  CheckHr(obj->SendSPaket(1, &b), S_OK, "send after disconnect");
  Check(b == VARIANT_FALSE, "no channel any more");

  CheckHr(cp->Unadvise(cookie), S_OK, "Unadvise");
  CheckHr(cp->Unadvise(cookie), static_cast<HRESULT>(0x80040200), "second Unadvise");
  CheckHr(cp->Advise(&second, &cookie2), S_OK, "Advise after Unadvise");
  cp->Unadvise(cookie2);
  Check(second.others == 0 && sink.others == 0, "no StartUp/Quit or other DISPIDs");

  cp.Reset();
  disp.Reset();
  sei.Reset();
  pci.Reset();
  ti.Reset();
  obj.Reset();
  t0 = Now();
  while (ServerRunning() && Now() - t0 < Scaled(8000)) PumpMessagesFor(20);
  Check(!ServerRunning(), "server ended after the last release");
  std::printf("server_end_ms=%.0f\n", Now() - t0);
}

// One of two clients at once: its own channel and text, every echo to itself only.
void Channel(int channel, const wchar_t* text, int rounds) {
  ComPtr<IMVRqmz_trx> obj = Create(nullptr);
  if (!obj) return;
  Sink sink;
  ComPtr<IConnectionPoint> cp = EventPoint(obj.Get());
  DWORD cookie = 0;
  CheckHr(cp->Advise(&sink, &cookie), S_OK, "Advise");
  VARIANT_BOOL b = 0;
  obj->ConnectChannel(static_cast<signed char>(channel), &b);
  Check(b == VARIANT_TRUE, "own channel granted");
  PumpMessagesFor(Scaled(1500));  // the other client connects meanwhile: both send at the same time
  OwnedBstr t(SysAllocString(text));
  for (int i = 0; i < rounds; ++i) {
    obj->SendLPaket(t.Get(), &b);
    Check(sink.WaitReceived(i + 1, Scaled(3000)), "echo");
  }
  bool allMine = sink.received.size() == static_cast<size_t>(rounds);
  for (const auto& r : sink.received) allMine &= r == text;
  Check(allMine, "every Receive carries this client's text");
  obj->DisconnectChannel(&b);
  cp->Unadvise(cookie);
}

// Against a silent device: the last sender gets TimeOut.
void Timeout() {
  ComPtr<IMVRqmz_trx> a = Create(nullptr), b = Create(nullptr);
  if (!a || !b) return;
  Sink sa, sb;
  DWORD ca = 0, cb = 0;
  EventPoint(a.Get())->Advise(&sa, &ca);
  EventPoint(b.Get())->Advise(&sb, &cb);
  VARIANT_BOOL r = 0;
  a->ConnectChannel(1, &r);
  b->ConnectChannel(2, &r);
  a->SendSPaket(1, &r);
  b->SendSPaket(2, &r);
  const double t0 = Now();
  while (sb.timeouts == 0 && Now() - t0 < Scaled(3000)) PumpMessagesFor(10);
  std::printf("timeout_ms=%.0f\n", Now() - t0);
  PumpMessagesFor(900);
  Check(sb.timeouts == 1, "TimeOut to the last sender once");
  Check(sa.timeouts == 0, "no TimeOut to the earlier sender");
  // Release without disconnecting: the server frees the channel itself.
  b.Reset();
  ComPtr<IMVRqmz_trx> c = Create(nullptr);
  c->ConnectChannel(2, &r);
  Check(r == VARIANT_TRUE, "channel of a released object is free again");
  EventPoint(a.Get())->Unadvise(ca);
}

HWND WaitForWindow(const wchar_t* caption, DWORD ms) {
  const DWORD end = GetTickCount() + ms;
  HWND w = nullptr;
  while (!(w = FindWindowW(nullptr, caption)) && static_cast<LONG>(end - GetTickCount()) > 0) PumpMessagesFor(20);
  return w;
}

// Closing the server while this client holds an object: the warning box decides.
void CloseBox() {
  ComPtr<IMVRqmz_trx> obj = Create(nullptr);
  if (!obj) return;
  HWND server = WaitForWindow(L"MVR Server", Scaled(3000));
  Check(server != nullptr, "server window found");
  for (int round = 0; round < 2 && server; ++round) {
    PostMessageW(server, WM_CLOSE, 0, 0);
    HWND box = WaitForWindow(L"Warnung des COM-Servers", Scaled(5000));
    Check(box != nullptr, "warning box shown");
    if (!box) return;
    wchar_t text[512] = {};
    GetDlgItemTextW(box, 0xFFFF, text, 512);
    Check(std::wstring(text) ==
              L"Diese Anwendung enth\u00e4lt noch aktive COM-Objekte. Mindestens ein Client verweist noch auf diese "
              L"Objekte so da\u00df manuelles Schlie\u00dfen dieser Anwendung dazu f\u00fchren k\u00f6nnte, da\u00df "
              L"die Client-Anwendungen nicht korrekt funktionieren.\r\n\r\nSind Sie sicher, da\u00df Sie diese "
              L"Anwendung schlie\u00dfen m\u00f6chten?",
          "warning text");
    HWND yes = GetDlgItem(box, IDYES), no = GetDlgItem(box, IDNO);
    Check(yes && no && !GetDlgItem(box, IDCANCEL) && !GetDlgItem(box, IDOK), "buttons Yes and No only");
    Check(no && (GetWindowLongW(no, GWL_STYLE) & 0xF) == BS_DEFPUSHBUTTON, "No is the default");
    if (round == 0) {
      PostMessageW(box, WM_COMMAND, IDNO, 0);
      PumpMessagesFor(300);
      VARIANT_BOOL b = 0;
      CheckHr(obj->get_HasSerialConnection(&b), S_OK, "No: the server keeps serving");
      Check(IsWindow(server) != FALSE, "No: the server window stays");
    } else {
      PostMessageW(box, WM_COMMAND, IDYES, 0);
      const double t0 = Now();
      while (ServerRunning() && Now() - t0 < Scaled(8000)) PumpMessagesFor(20);
      Check(!ServerRunning(), "Yes: the server ends");
    }
  }
}

// Holds a channel with a sink until the process is killed. With keep it also holds on to the
// connection point (as samples/client.cpp does) and to an enumerator of connection points:
// objects of their own in the server, each with a stub that holds the object.
void Hold(int channel, bool keep) {
  ComPtr<IMVRqmz_trx> obj = Create(nullptr);
  if (!obj) return;
  Sink sink;
  DWORD cookie = 0;
  ComPtr<IConnectionPoint> cp = EventPoint(obj.Get());
  CheckHr(cp->Advise(&sink, &cookie), S_OK, "Advise");
  ComPtr<IEnumConnectionPoints> points;
  ComPtr<IConnectionPoint> listed;
  if (keep) {
    ComPtr<IConnectionPointContainer> cpc;
    obj->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(cpc.Put()));
    CheckHr(cpc ? cpc->EnumConnectionPoints(points.Put()) : E_NOINTERFACE, S_OK, "EnumConnectionPoints");
    ULONG got = 0;
    if (points) CheckHr(points->Next(1, listed.Put(), &got), S_OK, "the enumerator lists the connection point");
  } else {
    cp.Reset();
  }
  VARIANT_BOOL b = 0;
  obj->ConnectChannel(static_cast<signed char>(channel), &b);
  Check(b == VARIANT_TRUE, "holding the channel");
  for (int i = 0; i < 1200; ++i) PumpMessagesFor(100);
}

// Waits until the channel that another client holds is granted, then sends and receives on it.
void Take(int channel, int seconds) {
  ComPtr<IMVRqmz_trx> obj = Create(nullptr);
  if (!obj) return;
  Sink sink;
  DWORD cookie = 0;
  ComPtr<IConnectionPoint> cp = EventPoint(obj.Get());
  CheckHr(cp->Advise(&sink, &cookie), S_OK, "Advise");
  VARIANT_BOOL b = 0;
  obj->ConnectChannel(static_cast<signed char>(channel), &b);
  Check(b == VARIANT_FALSE, "refused while the other client holds it");
  const double t0 = Now();
  while (b != VARIANT_TRUE && Now() - t0 < seconds * 1000.0) {
    PumpMessagesFor(100);
    obj->ConnectChannel(static_cast<signed char>(channel), &b);
  }
  std::printf("granted_after_ms=%.0f\n", Now() - t0);
  Check(b == VARIANT_TRUE, "the channel is granted once its holder is gone");
  OwnedBstr block(SysAllocString(L"t"));
  obj->SendLPaket(block.Get(), &b);
  Check(sink.WaitReceived(1, 5000), "frames on it come here");
  VARIANT_BOOL was = 0;
  obj->DisconnectChannel(&was);
  cp->Unadvise(cookie);
  cp.Reset();
  obj.Reset();
  const double t1 = Now();
  while (ServerRunning() && Now() - t1 < Scaled(10000)) PumpMessagesFor(20);
  std::printf("server_end_ms=%.0f\n", Now() - t1);
  Check(!ServerRunning(), "the server ends with the last live client: the dead one's object is gone");
}

// Holds the server claim as a server stuck in its end would, for the given seconds.
void Claim(int seconds) {
  wchar_t clsid[40] = {};
  StringFromGUID2(CLSID_MVR_AutoServ, clsid, 40);
  HANDLE mutex = CreateMutexW(nullptr, TRUE, (std::wstring(L"Local\\MVRServ.Server.") + clsid).c_str());
  Check(mutex && GetLastError() != ERROR_ALREADY_EXISTS, "holding the server claim");
  std::fflush(stdout);
  PumpMessagesFor(static_cast<DWORD>(seconds) * 1000);
  if (mutex) {
    ReleaseMutex(mutex);
    CloseHandle(mutex);
  }
}

// A client that only comes and goes: create, one call, release.
void Brief() {
  ComPtr<IMVRqmz_trx> obj = Create(nullptr);
  if (!obj) return;
  VARIANT_BOOL b = 0;
  CheckHr(obj->get_HasSerialConnection(&b), S_OK, "HasSerialConnection");
}

}  // namespace

int main(int argc, char** argv) {
  if (FAILED(CoInitialize(nullptr))) return 2;
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "basic") {
    Basic();
  } else if (mode == "channel" && argc > 3) {
    std::wstring text(argv[3], argv[3] + std::strlen(argv[3]));
    Channel(std::atoi(argv[2]), text.c_str(), argc > 4 ? std::atoi(argv[4]) : 20);
  } else if (mode == "closebox") {
    CloseBox();
  } else if (mode == "timeout") {
    Timeout();
  } else if (mode == "hold" && argc > 2) {
    Hold(std::atoi(argv[2]), argc > 3 && std::string(argv[3]) == "keep");
  } else if (mode == "claim" && argc > 2) {
    Claim(std::atoi(argv[2]));
  } else if (mode == "brief") {
    Brief();
  } else if (mode == "take" && argc > 3) {
    Take(std::atoi(argv[2]), std::atoi(argv[3]));
  } else {
    std::printf("usage: automation_client basic|channel CH TEXT [N]|timeout|closebox|hold CH [keep]|take CH SECONDS|claim SECONDS|brief\n");
    g_failures = 1;
  }
  CoUninitialize();
  std::printf("%s\n", g_failures ? "FAILED" : "DONE");
  return g_failures ? 1 : 0;
}
