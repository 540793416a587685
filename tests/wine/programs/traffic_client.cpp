// A client of MVR_AutoServ for traffic tests and the benchmark: streams blocks, waits for
// unsolicited frames, times round trips, and, with the server not running, the raw COM1
// round trip. Prints "key=value" lines; the Python side reads them.
#include <windows.h>

#include <ocidl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "MVR_Server.h"
#include "automation/ComPtr.h"
#include "EventSink.h"
#include "tools/win32/PumpMessages.h"

namespace {

int g_failures = 0;

void Check(bool cond, const char* what) {
  std::printf("%s: %s\n", cond ? "ok" : "FAIL", what);
  std::fflush(stdout);
  if (!cond) ++g_failures;
}

double Now() {
  LARGE_INTEGER f, c;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&c);
  return 1000.0 * static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

template <class Done>
bool PumpUntil(Done done, double ms) {
  return DispatchUntil(done, static_cast<DWORD>(ms));
}

void Pump(double ms) {
  PumpUntil([] { return false; }, ms);
}

// The event sink: records every Receive.
class Sink final : public EventSinkBase {
 public:
  std::vector<std::wstring> received;
  int timeouts = 0;
  // Every slowEvery-th Receive takes slowMs (a handler that prints or computes).
  int slowEvery = 0;
  DWORD slowMs = 0;

  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*,
                      UINT*) override {
    if (id == 3 && p && p->cArgs == 1 && p->rgvarg[0].vt == VT_BSTR) {
      BSTR b = p->rgvarg[0].bstrVal;
      received.emplace_back(b ? b : L"", SysStringLen(b));
      if (slowEvery > 0 && received.size() % static_cast<size_t>(slowEvery) == 0) Sleep(slowMs);
    } else if (id == 4) {
      ++timeouts;
    }
    return S_OK;
  }
  bool WaitReceived(size_t n, double ms) {
    return PumpUntil([&] { return received.size() >= n; }, ms);
  }
};

// One object with its sink connected and a channel bound.
class Client {
 public:
  bool Connect(int channel) {
    HRESULT hr = CoCreateInstance(CLSID_MVR_AutoServ, nullptr, CLSCTX_LOCAL_SERVER, IID_IMVRqmz_trx,
                                  reinterpret_cast<void**>(obj_.Put()));
    if (FAILED(hr)) {
      std::printf("CoCreateInstance failed 0x%08lX\n", static_cast<unsigned long>(hr));
      return false;
    }
    ComPtr<IConnectionPointContainer> cpc;
    obj_->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(cpc.Put()));
    if (!cpc || FAILED(cpc->FindConnectionPoint(DIID_IMVRqmz_trxEvents, cp_.Put())) ||
        FAILED(cp_->Advise(&sink, &cookie_)))
      return false;
    VARIANT_BOOL b = 0;
    obj_->ConnectChannel(static_cast<signed char>(channel), &b);
    return b == VARIANT_TRUE;
  }
  ~Client() {
    if (obj_) {
      VARIANT_BOOL b = 0;
      obj_->DisconnectChannel(&b);
    }
    if (cp_ && cookie_) cp_->Unadvise(cookie_);
    // An event call the server made before the Unadvise holds the sink until it returns;
    // the sink lives here, so it must not go before the server let go of it.
    PumpUntil([this] { return sink.refs() <= 1; }, 10000);
  }
  bool SendL(const std::wstring& text, double* ms = nullptr) {
    OwnedBstr b(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
    VARIANT_BOOL r = 0;
    const double t0 = Now();
    const HRESULT hr = obj_->SendLPaket(b.Get(), &r);
    if (ms) *ms = Now() - t0;
    return SUCCEEDED(hr) && r == VARIANT_TRUE;
  }
  bool SendS(signed char v, double* ms = nullptr) {
    VARIANT_BOOL r = 0;
    const double t0 = Now();
    const HRESULT hr = obj_->SendSPaket(v, &r);
    if (ms) *ms = Now() - t0;
    return SUCCEEDED(hr) && r == VARIANT_TRUE;
  }
  void ShowDialog() { obj_->ShowSerialConnectionDlg(); }
  bool PortConnected() {
    VARIANT_BOOL r = 0;
    return SUCCEEDED(obj_->get_HasSerialConnection(&r)) && r == VARIANT_TRUE;
  }
  bool HasConnection(double* ms) {
    VARIANT_BOOL r = 0;
    const double t0 = Now();
    const HRESULT hr = obj_->get_HasSerialConnection(&r);
    *ms = Now() - t0;
    return SUCCEEDED(hr);
  }

  Sink sink;

 private:
  ComPtr<IMVRqmz_trx> obj_;
  ComPtr<IConnectionPoint> cp_;
  DWORD cookie_ = 0;
};

// Block i of a client: printable characters, different for every channel, block and position.
std::wstring Block(int channel, int i, int length) {
  std::wstring s(static_cast<size_t>(length), L' ');
  for (int k = 0; k < length; ++k) s[static_cast<size_t>(k)] = static_cast<wchar_t>(L'!' + (channel * 31 + i * 7 + k) % 90);
  return s;
}

// The file appears without a message: look every 5 ms.
void WaitForFile(const char* path) {
  const double end = Now() + 120000;
  while (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES && Now() < end) Pump(5);
}

// Binds the channel, says "ready" for the test, and waits for its go file if it has one.
void Ready(Client& c, int channel, const char* goFile) {
  Check(c.Connect(channel), "channel granted");
  std::printf("ready\n");
  std::fflush(stdout);
  if (goFile) WaitForFile(goFile);
}

struct Stats {
  double median = 0, p90 = 0, p99 = 0, max = 0;
};

Stats Of(std::vector<double> v) {
  Stats s;
  if (v.empty()) return s;
  std::sort(v.begin(), v.end());
  s.median = v[v.size() / 2];
  s.p90 = v[std::min(v.size() - 1, v.size() * 9 / 10)];
  s.p99 = v[std::min(v.size() - 1, v.size() * 99 / 100)];
  s.max = v.back();
  return s;
}

// Frames the device sends on its own: count them and describe each.
void Receive(int channel, int count, int timeoutMs) {
  Client c;
  Check(c.Connect(channel), "channel granted");
  std::printf("ready\n");
  std::fflush(stdout);
  c.sink.WaitReceived(static_cast<size_t>(count), timeoutMs);
  Pump(300);  // nothing more than asked may come
  std::printf("received=%zu\n", c.sink.received.size());
  for (size_t i = 0; i < c.sink.received.size(); ++i) {
    const std::wstring& r = c.sink.received[i];
    const bool same = std::all_of(r.begin(), r.end(), [&](wchar_t ch) { return ch == r[0]; });
    std::printf("frame %zu len=%zu first=%04X same=%d\n", i, r.size(),
                r.empty() ? 0u : static_cast<unsigned>(r[0]), same ? 1 : 0);
  }
}

// Each request is answered twice (the device's script): both answers must arrive.
void Pairs(int channel, int count) {
  Client c;
  Check(c.Connect(channel), "channel granted");
  int intact = 0;
  for (int i = 0; i < count; ++i) {
    const std::wstring text = Block(channel, i, 40);
    c.SendL(text);
    c.sink.WaitReceived(static_cast<size_t>(2 * (i + 1)), 2000);
  }
  Pump(300);
  for (size_t j = 0; j < c.sink.received.size(); ++j)
    if (c.sink.received[j] == Block(channel, static_cast<int>(j / 2), 40)) ++intact;
  std::printf("pairs requests=%d answers=%zu intact_in_order=%d\n", count, c.sink.received.size(), intact);
}

// Blocks back to back, each sent when the echo of the one before has come.
void Stream(int channel, int count, int length, const char* goFile) {
  Client c;
  Ready(c, channel, goFile);
  const double t0 = Now();
  int refused = 0;
  for (int i = 0; i < count; ++i) {
    if (!c.SendL(Block(channel, i, length))) ++refused;
    c.sink.WaitReceived(static_cast<size_t>(i + 1), 3000);
  }
  const double t1 = Now();
  Pump(300);
  int inOrder = 0;
  for (size_t j = 0; j < c.sink.received.size(); ++j)
    if (c.sink.received[j] == Block(channel, static_cast<int>(j), length)) ++inOrder;
  std::printf("stream ch=%d sent=%d refused=%d received=%zu intact_in_order=%d t_start=%.1f t_end=%.1f\n",
              channel, count, refused, c.sink.received.size(), inOrder, t0, t1);
}

// Sends while the line is broken: every call must come back at once.
void BrokenLineSender(int channel, const char* goFile) {
  Client c;
  Ready(c, channel, goFile);
  double worst = 0;
  for (int i = 0; i < 20; ++i) {
    double ms = 0;
    c.SendL(Block(channel, i, 256), &ms);
    worst = std::max(worst, ms);
    Pump(20);
  }
  std::printf("sender max_call_ms=%.1f\n", worst);
}

// Another client's calls while the port's error box is open, until the stop file appears.
void BrokenLineOther(int channel, const char* stopFile) {
  Client c;
  Check(c.Connect(channel), "channel granted");
  std::printf("ready\n");
  std::fflush(stdout);
  const double end = Now() + 120000;
  double worst = 0;
  int calls = 0, callsWithBox = 0;
  std::wstring boxText;
  while (Now() < end && GetFileAttributesA(stopFile) == INVALID_FILE_ATTRIBUTES) {
    double a = 0, b = 0;
    c.HasConnection(&a);
    c.SendS(1, &b);
    worst = std::max(worst, std::max(a, b));
    ++calls;
    HWND box = FindWindowW(nullptr, L"Fehler");
    if (box) {
      ++callsWithBox;
      wchar_t text[512] = {};
      GetDlgItemTextW(box, 0xFFFF, text, 512);
      if (boxText.empty()) boxText = text;
    }
    Pump(50);
  }
  std::printf("other calls=%d calls_with_box=%d max_call_ms=%.1f\n", calls, callsWithBox, worst);
  std::printf("box_text=%ls\n", boxText.c_str());
  // Click the boxes away, so the server can end.
  for (int i = 0; i < 50; ++i) {
    HWND box = FindWindowW(nullptr, L"Fehler");
    if (!box) {
      if (i > 5) break;
      Pump(200);
      continue;
    }
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    Pump(200);
  }
}

// After the line came back, the port is reopened through the set-up dialog (the test
// presses OK); the echo must come at once, with the port's error box still open.
void Reopen(int channel, const char* goFile) {
  Client c;
  Ready(c, channel, goFile);
  const bool boxBefore = FindWindowW(nullptr, L"Fehler") != nullptr;
  c.ShowDialog();
  const double t0 = Now();
  c.SendL(L"back again");
  const bool echo = c.sink.WaitReceived(1, 3000);
  const double ms = Now() - t0;
  const bool boxAfter = FindWindowW(nullptr, L"Fehler") != nullptr;
  std::printf("reopen echo=%d echo_ms=%.1f box_before=%d box_after=%d\n", echo ? 1 : 0, ms,
              boxBefore ? 1 : 0, boxAfter ? 1 : 0);
}

// A client busy elsewhere: its message filter refuses the server's event calls, rejectRun
// attempts in a row, then takes one (RPC_E_CALL_REJECTED at the server). Other calls (the
// server releasing the sink) always pass.
class RejectingFilter final : public IMessageFilter {
 public:
  explicit RejectingFilter(int rejectRun) : rejectRun_(rejectRun) {}
  int rejected = 0;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IMessageFilter) return E_NOINTERFACE;
    *ppv = static_cast<IMessageFilter*>(this);
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP_(DWORD) HandleInComingCall(DWORD, HTASK, DWORD, LPINTERFACEINFO info) override {
    const bool event = info && (info->iid == IID_IDispatch || info->iid == DIID_IMVRqmz_trxEvents);
    if (!event || rejectRun_ <= 0) return SERVERCALL_ISHANDLED;
    if (run_ < rejectRun_) {
      ++run_;
      ++rejected;
      return SERVERCALL_REJECTED;
    }
    run_ = 0;
    return SERVERCALL_ISHANDLED;
  }
  STDMETHODIMP_(DWORD) RetryRejectedCall(HTASK, DWORD, DWORD) override { return static_cast<DWORD>(-1); }
  STDMETHODIMP_(DWORD) MessagePending(HTASK, DWORD, DWORD) override { return PENDINGMSG_WAITDEFPROCESS; }

 private:
  int rejectRun_;
  int run_ = 0;
};

// Which of the count blocks came back, in order: a block missing from the sequence is lost;
// whatever does not fit the sequence at all is counted apart.
void ReportEchoes(const char* what, int channel, int count, int length, const std::vector<std::wstring>& got) {
  std::vector<int> missing;
  size_t j = 0;
  for (int i = 0; i < count; ++i) {
    if (j < got.size() && got[j] == Block(channel, i, length))
      ++j;
    else
      missing.push_back(i);
  }
  std::printf("%s ch=%d received=%zu in_order=%zu lost=%zu stray=%zu", what, channel, got.size(), j,
              missing.size(), got.size() - j);
  if (!missing.empty()) {
    std::printf(" missing=");
    for (size_t k = 0; k < missing.size() && k < 20; ++k) std::printf("%s%d", k ? "," : "", missing[k]);
  }
  std::printf("\n");
}

// count blocks as fast as SendLPaket takes them (a refused one is tried again after 5 ms,
// with sleepOnRefusal in Sleep, as a client without a message loop of its own does), then the
// echoes are awaited: until all are back, or 10 s pass without one. Every slowEvery-th
// Receive handler takes slowMs.
void Burst(int channel, int count, int length, const char* goFile, int rejectRun, bool sleepOnRefusal,
           int slowEvery, int slowMs) {
  RejectingFilter filter(rejectRun);
  if (rejectRun > 0) CoRegisterMessageFilter(&filter, nullptr);
  {
    Client c;
    c.sink.slowEvery = slowEvery;
    c.sink.slowMs = static_cast<DWORD>(slowMs);
    Ready(c, channel, goFile);
    const double t0 = Now();
    int refused = 0;
    for (int i = 0; i < count;) {
      if (c.SendL(Block(channel, i, length))) {
        ++i;
      } else {
        ++refused;
        if (sleepOnRefusal)
          Sleep(5);
        else
          Pump(5);
      }
    }
    const double t1 = Now();
    size_t seen = 0;
    while (c.sink.received.size() < static_cast<size_t>(count)) {
      seen = c.sink.received.size();
      if (!c.sink.WaitReceived(seen + 1, 10000)) break;
    }
    const double t2 = Now();
    std::printf("burst ch=%d sent=%d refused=%d rejected=%d t_start=%.1f t_sent=%.1f t_end=%.1f\n", channel, count,
                refused, filter.rejected, t0, t1, t2);
    ReportEchoes("echoes", channel, count, length, c.sink.received);
  }
  if (rejectRun > 0) CoRegisterMessageFilter(nullptr, nullptr);
}

// A light client: one command every intervalMs, each timed to its echo, until the stop file
// appears (or count commands). No echo within 2 s counts as lost.
void Light(int channel, int count, int intervalMs, const char* goFile, const char* stopFile) {
  Client c;
  Ready(c, channel, goFile);
  std::vector<double> trips;
  int lost = 0, refused = 0;
  for (int i = 0; i < count; ++i) {
    if (stopFile && GetFileAttributesA(stopFile) != INVALID_FILE_ATTRIBUTES) break;
    const size_t n = c.sink.received.size();
    const std::wstring value(1, static_cast<wchar_t>(i & 0x7F));
    // Its own echo, not a late one of an earlier command.
    auto echoed = [&] {
      return std::find(c.sink.received.begin() + static_cast<long>(n), c.sink.received.end(), value) !=
             c.sink.received.end();
    };
    const double t0 = Now();
    if (!c.SendS(static_cast<signed char>(i & 0x7F))) {
      ++refused;
    } else if (PumpUntil(echoed, 2000)) {
      trips.push_back(Now() - t0);
    } else {
      ++lost;
    }
    Pump(intervalMs);
  }
  const Stats s = Of(trips);
  std::printf("light ch=%d n=%zu lost=%d refused=%d p50=%.2f p90=%.2f p99=%.2f max=%.2f\n", channel, trips.size(),
              lost, refused, s.median, s.p90, s.p99, s.max);
}

// Round trips of one client: commands, 256-character blocks, then exchanges a second.
void Bench(int channel, int count) {
  Client c;
  Check(c.Connect(channel), "channel granted");
  std::vector<double> shortTrips, longTrips;
  const std::wstring block = Block(channel, 0, 256);
  for (int i = 0; i < count + 10; ++i) {
    const size_t n = c.sink.received.size();
    const double t0 = Now();
    c.SendS(static_cast<signed char>(i & 0x7F));
    if (!c.sink.WaitReceived(n + 1, 2000)) continue;
    if (i >= 10) shortTrips.push_back(Now() - t0);  // the first ones warm up
  }
  for (int i = 0; i < count; ++i) {
    const size_t n = c.sink.received.size();
    const double t0 = Now();
    c.SendL(block);
    if (c.sink.WaitReceived(n + 1, 2000)) longTrips.push_back(Now() - t0);
  }
  const Stats s = Of(shortTrips), l = Of(longTrips);
  std::printf("bench SendSPaket_ms median=%.2f p90=%.2f n=%zu\n", s.median, s.p90, shortTrips.size());
  std::printf("bench SendLPaket256_ms median=%.2f p90=%.2f n=%zu\n", l.median, l.p90, longTrips.size());
}

// Command exchanges for a while, one after the other.
void Rate(int channel, double seconds, const char* goFile) {
  Client c;
  Ready(c, channel, goFile);
  const double t0 = Now();
  int done = 0;
  while (Now() - t0 < seconds * 1000.0) {
    const size_t n = c.sink.received.size();
    c.SendS(static_cast<signed char>(done & 0x7F));
    if (!c.sink.WaitReceived(n + 1, 2000)) break;
    ++done;
  }
  const double t1 = Now();
  std::printf("rate ch=%d exchanges=%d t_start=%.1f t_end=%.1f per_s=%.1f\n", channel, done, t0, t1,
              done * 1000.0 / (t1 - t0));
}

// The floor: a command frame written straight to COM1 and its echo read back with an
// overlapped read waited on its event.
void RawFloor(int count) {
  HANDLE h = CreateFileA("COM1", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OVERLAPPED, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    Check(false, "COM1 opens");
    return;
  }
  COMMTIMEOUTS t{MAXDWORD, 0, 0, 0, 0};
  SetCommTimeouts(h, &t);
  HANDLE rev = CreateEventA(nullptr, TRUE, FALSE, nullptr), wev = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::vector<double> trips;
  for (int i = 0; i < count + 10; ++i) {
    const unsigned char v = static_cast<unsigned char>(i & 0x7F);
    const unsigned char frame[3] = {0x11, v, static_cast<unsigned char>(v ^ 0x11)};
    const double t0 = Now();
    OVERLAPPED wo{};
    wo.hEvent = wev;
    DWORD n = 0;
    if (!WriteFile(h, frame, 3, &n, &wo) && GetLastError() == ERROR_IO_PENDING)
      GetOverlappedResult(h, &wo, &n, TRUE);
    unsigned char got[16];
    DWORD have = 0;
    while (have < 3 && Now() - t0 < 2000) {
      OVERLAPPED ro{};
      ro.hEvent = rev;
      ResetEvent(rev);
      n = 0;
      if (!ReadFile(h, got + have, sizeof got - have, &n, &ro)) {
        if (GetLastError() != ERROR_IO_PENDING) break;
        if (WaitForSingleObject(rev, 2000) != WAIT_OBJECT_0) {
          CancelIo(h);
          GetOverlappedResult(h, &ro, &n, TRUE);
          break;
        }
        GetOverlappedResult(h, &ro, &n, FALSE);
      }
      have += n;
    }
    if (have >= 3 && i >= 10) trips.push_back(Now() - t0);
  }
  CloseHandle(h);
  CloseHandle(rev);
  CloseHandle(wev);
  const Stats s = Of(trips);
  std::printf("bench raw_COM1_ms median=%.2f p90=%.2f n=%zu\n", s.median, s.p90, trips.size());
}

// Seconds since 1970 on the host's clock, comparable with the test's own.
double UnixNow() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  ULARGE_INTEGER t;
  t.LowPart = ft.dwLowDateTime;
  t.HighPart = ft.dwHighDateTime;
  return static_cast<double>(t.QuadPart - 116444736000000000ULL) / 1e7;
}

// Streams while the port's device goes away and comes back: the port must be reported gone
// and sends refused meanwhile, and after its return every block is echoed once, with
// nothing from before the loss delivered again. Waits for the stop file before it ends.
void Gap(int channel, const char* goFile, const char* stopFile) {
  Client c;
  Ready(c, channel, goFile);
  const double limit = Now() + 60000;
  int sent = 0, echoed = 0;
  bool gone = false;
  while (Now() < limit && !(gone = !c.PortConnected())) {
    const size_t n = c.sink.received.size();
    c.SendL(Block(channel, sent++, 256));
    if (c.sink.WaitReceived(n + 1, 1000)) ++echoed;
  }
  // Away: a send counts as accepted in the gap only when the port was gone before and after.
  int gapSends = 0, gapAccepted = 0;
  bool back = false;
  const std::wstring gapBlock = Block(channel, 999, 16);
  while (gone && Now() < limit + 60000) {
    const bool accepted = c.SendL(gapBlock);
    ++gapSends;
    if ((back = c.PortConnected())) break;
    if (accepted) ++gapAccepted;
    Pump(50);
  }
  const double backAt = UnixNow();
  const size_t mark = c.sink.received.size();
  double firstEcho = 0;
  const int after = 20;
  for (int i = 0; back && i < after; ++i) {
    const size_t n = c.sink.received.size();
    c.SendL(Block(channel, 1000 + i, 256));
    if (c.sink.WaitReceived(n + 1, 3000) && firstEcho == 0) firstEcho = UnixNow();
  }
  Pump(300);
  int intact = 0, again = 0, other = 0;
  for (size_t j = mark; j < c.sink.received.size(); ++j) {
    const std::wstring& r = c.sink.received[j];
    if (r == Block(channel, 1000 + intact, 256)) {
      ++intact;
    } else if (r != gapBlock) {
      bool old = false;
      for (int k = 0; k < sent && !old; ++k) old = r == Block(channel, k, 256);
      ++(old ? again : other);
    }
  }
  std::printf("gap ch=%d before_sent=%d before_echoed=%d saw_gone=%d gap_sends=%d gap_accepted=%d "
              "back=%d after_sent=%d after_intact=%d after_again=%d after_other=%d back_unix=%.3f "
              "first_echo_unix=%.3f\n",
              channel, sent, echoed, gone ? 1 : 0, gapSends, gapAccepted, back ? 1 : 0, after, intact,
              again, other, backAt, firstEcho);
  std::fflush(stdout);
  WaitForFile(stopFile);
}

DWORD ServerProcessId() {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32W e{};
  e.dwSize = sizeof e;
  DWORD pid = 0;
  for (BOOL more = Process32FirstW(snap, &e); more; more = Process32NextW(snap, &e))
    if (_wcsicmp(e.szExeFile, L"MVRServ.exe") == 0) pid = e.th32ProcessID;
  CloseHandle(snap);
  return pid;
}

// The handles the server process holds, from the system's handle table (Wine answers the
// per-process count with 0).
void ServerHandles() {
  struct Entry {
    ULONG ownerPid;
    BYTE objectType;
    BYTE flags;
    USHORT value;
    PVOID object;
    ULONG access;
  };
  struct Table {
    ULONG count;
    Entry entries[1];
  };
  using Query = LONG(WINAPI*)(int, PVOID, ULONG, PULONG);
  const auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  const DWORD pid = ServerProcessId();
  std::vector<unsigned char> buffer(1 << 16);
  LONG status = -1;
  for (int i = 0; query && i < 12; ++i) {
    ULONG needed = 0;
    status = query(16 /* SystemHandleInformation */, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
    if (status != static_cast<LONG>(0xC0000004)) break;  // STATUS_INFO_LENGTH_MISMATCH
    buffer.resize(std::max<size_t>(buffer.size() * 2, needed + 4096));
  }
  if (!pid || status != 0) {
    Check(false, "the server's handle count");
    return;
  }
  const auto* table = reinterpret_cast<const Table*>(buffer.data());
  unsigned long count = 0;
  for (ULONG i = 0; i < table->count; ++i)
    if (table->entries[i].ownerPid == pid) ++count;
  std::printf("handles=%lu\n", count);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  auto arg = [&](int i, int dflt) { return argc > i ? std::atoi(argv[i]) : dflt; };
  auto text = [&](int i) -> const char* { return argc > i ? argv[i] : nullptr; };
  if (mode == "server-handles") {
    ServerHandles();
    std::printf("%s\n", g_failures ? "FAILED" : "DONE");
    return g_failures ? 1 : 0;
  }
  if (mode == "raw-floor") {
    RawFloor(arg(2, 200));
    std::printf("%s\n", g_failures ? "FAILED" : "DONE");
    return g_failures ? 1 : 0;
  }
  if (FAILED(CoInitialize(nullptr))) return 2;
  if (mode == "receive") {
    Receive(arg(2, 0), arg(3, 1), arg(4, 5000));
  } else if (mode == "pairs") {
    Pairs(arg(2, 0), arg(3, 20));
  } else if (mode == "stream") {
    Stream(arg(2, 0), arg(3, 100), arg(4, 256), text(5));
  } else if (mode == "broken-sender") {
    BrokenLineSender(arg(2, 0), text(3));
  } else if (mode == "broken-other") {
    BrokenLineOther(arg(2, 0), text(3));
  } else if (mode == "reopen") {
    Reopen(arg(2, 0), text(3));
  } else if (mode == "gap") {
    Gap(arg(2, 0), text(3), text(4));
  } else if (mode == "burst") {
    Burst(arg(2, 0), arg(3, 300), arg(4, 256), text(5), arg(6, 0), arg(7, 0) != 0, arg(8, 0), arg(9, 0));
  } else if (mode == "light") {
    Light(arg(2, 0), arg(3, 1000), arg(4, 20), text(5), text(6));
  } else if (mode == "bench") {
    Bench(arg(2, 0), arg(3, 200));
  } else if (mode == "rate") {
    Rate(arg(2, 0), arg(3, 3), text(4));
  } else {
    std::printf("usage: traffic_client receive CH N [MS] | pairs CH N | stream CH N LEN [GOFILE] |\n"
                "       broken-sender CH GOFILE | broken-other CH STOPFILE | reopen CH GOFILE |\n"
                "       gap CH GOFILE STOPFILE | server-handles |\n"
                "       burst CH N LEN GOFILE [REJECTRUN [SLEEP [SLOWEVERY SLOWMS]]] |\n"
                "       light CH N INTERVALMS [GOFILE [STOPFILE]] |\n"                "       bench CH N |\n"
                "       rate CH SECONDS [GOFILE] | raw-floor N\n");
    g_failures = 1;
  }
  CoUninitialize();
  std::printf("%s\n", g_failures ? "FAILED" : "DONE");
  return g_failures ? 1 : 0;
}
