// UI test driver: works another process's windows as a person would — finds windows by
// caption and class, reads control names and texts, clicks, selects, types, answers boxes.
// Output is UTF-8 on stdout; exit code 0 = done, 1 = not found / failed, 2 = usage.
#include <windows.h>

#include "platform/Text.h"
#include <commctrl.h>
#include <shellapi.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {



std::wstring ClassOf(HWND h) {
  wchar_t buf[256] = {};
  GetClassNameW(h, buf, 256);
  return buf;
}

// Wait limits scale by the test bed's slow-machine factor (MVR_SLOW_FACTOR).
DWORD Scaled(DWORD ms) {
  const char* v = std::getenv("MVR_SLOW_FACTOR");
  const double f = v ? std::atof(v) : 1.0;
  return static_cast<DWORD>(ms * (f > 1.0 ? f : 1.0));
}

// How long another process's window may take to answer a message.
DWORD AnswerMs() { return Scaled(3000); }

// Texts of other processes' controls: WM_GETTEXT is marshalled, GetWindowText is not for them.
std::wstring TextOf(HWND h) {
  DWORD_PTR len = 0;
  if (!SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, AnswerMs(), &len)) return {};
  std::wstring buf(len + 2, L'\0');
  DWORD_PTR got = 0;
  SendMessageTimeoutW(h, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(&buf[0]), SMTO_ABORTIFHUNG,
                      AnswerMs(), &got);
  buf.resize(got);
  return buf;
}

std::wstring NameOf(HWND h, const wchar_t* prop = L"MVRName") {
  const auto atom = static_cast<ATOM>(reinterpret_cast<ULONG_PTR>(GetPropW(h, prop)));
  if (!atom) return {};
  wchar_t buf[256] = {};
  GlobalGetAtomNameW(atom, buf, 256);
  return buf;
}

std::wstring ComboText(HWND h) {
  const LRESULT sel = SendMessageW(h, CB_GETCURSEL, 0, 0);
  if (sel < 0) return {};
  const LRESULT len = SendMessageW(h, CB_GETLBTEXTLEN, sel, 0);
  std::wstring buf(static_cast<size_t>(len > 0 ? len : 0) + 2, L'\0');
  SendMessageW(h, CB_GETLBTEXT, sel, reinterpret_cast<LPARAM>(&buf[0]));
  buf.resize(wcslen(buf.c_str()));
  return buf;
}

struct FindCtx {
  std::wstring caption, cls;
  bool visibleOnly;
  HWND found;
};

BOOL CALLBACK FindTop(HWND h, LPARAM lp) {
  auto* c = reinterpret_cast<FindCtx*>(lp);
  if (c->visibleOnly && !IsWindowVisible(h)) return TRUE;
  if (!c->cls.empty() && ClassOf(h) != c->cls) return TRUE;
  if (c->caption != L"*" && TextOf(h) != c->caption) return TRUE;
  c->found = h;
  return FALSE;
}

HWND FindTopWindow(const std::wstring& caption, const std::wstring& cls, bool visibleOnly,
                   DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    FindCtx c{caption, cls, visibleOnly, nullptr};
    EnumWindows(FindTop, reinterpret_cast<LPARAM>(&c));
    if (c.found) return c.found;
    if (GetTickCount() - start >= timeoutMs) return nullptr;
    Sleep(50);
  }
}

BOOL CALLBACK CollectChild(HWND h, LPARAM lp) {
  reinterpret_cast<std::vector<HWND>*>(lp)->push_back(h);
  return TRUE;
}

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> out;
  EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&out));
  return out;
}

// A control by component name, or else by its text.
HWND FindControl(HWND form, const std::wstring& key) {
  for (HWND h : Children(form))
    if (NameOf(h) == key) return h;
  for (HWND h : Children(form))
    if (TextOf(h) == key) return h;
  return nullptr;
}

// A window argument: a caption, "caption|class", or "#<handle>".
HWND Resolve(const std::string& arg, DWORD timeoutMs = 5000, bool visibleOnly = false) {
  if (!arg.empty() && arg[0] == '#')
    return reinterpret_cast<HWND>(static_cast<ULONG_PTR>(_strtoui64(arg.c_str() + 1, nullptr, 0)));
  const auto bar = arg.find('|');
  const std::wstring cap = Utf8ToWide(arg.substr(0, bar));
  const std::wstring cls = bar == std::string::npos ? L"" : Utf8ToWide(arg.substr(bar + 1));
  return FindTopWindow(cap, cls, visibleOnly, timeoutMs);
}

void PrintRect(HWND h) {
  RECT r{};
  GetWindowRect(h, &r);
  std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
}

std::string HandleText(HWND h) {
  return "#" + std::to_string(static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(h)));
}

// The control that has the keyboard focus in the thread of another process's window.
HWND FocusOf(HWND win) {
  GUITHREADINFO gti{};
  gti.cbSize = sizeof gti;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(win, nullptr), &gti)) return nullptr;
  return gti.hwndFocus;
}

// Whether the window's notification-area icon exists: the shell modifies only icons it has.
bool HasTrayIcon(HWND win, UINT id) {
  NOTIFYICONDATAW nid{};
  nid.cbSize = NOTIFYICONDATAW_V1_SIZE;
  nid.hWnd = win;
  nid.uID = id;
  nid.uFlags = 0;
  return Shell_NotifyIconW(NIM_MODIFY, &nid) != FALSE;
}

int Fail(const char* what, const std::string& arg) {
  std::printf("not found: %s %s\n", what, arg.c_str());
  return 1;
}

// A rectangle of a tool bar button, read through memory in the tool bar's process.
bool ToolButtonRect(HWND bar, int index, RECT& out) {
  DWORD pid = 0;
  GetWindowThreadProcessId(bar, &pid);
  HANDLE proc = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  if (!proc) return false;
  void* remote = VirtualAllocEx(proc, nullptr, sizeof(RECT), MEM_COMMIT, PAGE_READWRITE);
  bool ok = false;
  if (remote) {
    if (SendMessageW(bar, TB_GETITEMRECT, index, reinterpret_cast<LPARAM>(remote))) {
      SIZE_T n = 0;
      ok = ReadProcessMemory(proc, remote, &out, sizeof out, &n) && n == sizeof out;
    }
    VirtualFreeEx(proc, remote, 0, MEM_RELEASE);
  }
  CloseHandle(proc);
  return ok;
}

// The rows of a list-view grid: each cell read through memory in the grid's process.
bool GridRows(HWND grid, std::vector<std::vector<std::wstring>>& rows) {
  DWORD pid = 0;
  GetWindowThreadProcessId(grid, &pid);
  HANDLE proc = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  if (!proc) return false;
  constexpr size_t kChars = 512;
  const size_t bytes = sizeof(LVITEMW) + kChars * sizeof(wchar_t);
  auto* remote = static_cast<char*>(VirtualAllocEx(proc, nullptr, bytes, MEM_COMMIT, PAGE_READWRITE));
  bool ok = remote != nullptr;
  const int count = static_cast<int>(SendMessageW(grid, LVM_GETITEMCOUNT, 0, 0));
  HWND header = reinterpret_cast<HWND>(SendMessageW(grid, LVM_GETHEADER, 0, 0));
  int cols = header ? static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 1;
  if (cols < 1) cols = 1;
  for (int r = 0; ok && r < count; ++r) {
    std::vector<std::wstring> row;
    for (int c = 0; ok && c < cols; ++c) {
      LVITEMW item{};
      item.iSubItem = c;
      item.cchTextMax = static_cast<int>(kChars);
      item.pszText = reinterpret_cast<wchar_t*>(remote + sizeof(LVITEMW));
      SIZE_T n = 0;
      ok = WriteProcessMemory(proc, remote, &item, sizeof item, &n) && n == sizeof item;
      if (!ok) break;
      const LRESULT len = SendMessageW(grid, LVM_GETITEMTEXTW, r, reinterpret_cast<LPARAM>(remote));
      std::wstring text(kChars, L'\0');
      ok = ReadProcessMemory(proc, remote + sizeof(LVITEMW), &text[0], kChars * sizeof(wchar_t), &n);
      text.resize(static_cast<size_t>(len > 0 ? len : 0));
      row.push_back(text);
    }
    rows.push_back(row);
  }
  if (remote) VirtualFreeEx(proc, remote, 0, MEM_RELEASE);
  CloseHandle(proc);
  return ok;
}

std::wstring ClipboardText() {
  std::wstring out;
  if (!OpenClipboard(nullptr)) return out;
  if (HANDLE h = GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* p = static_cast<const wchar_t*>(GlobalLock(h))) {
      out = p;
      GlobalUnlock(h);
    }
  }
  CloseClipboard();
  return out;
}

int Usage() {
  std::puts(
      "uidriver find WIN [timeout_ms] | wait-gone WIN [timeout_ms] | list WIN | text WIN CTRL\n"
      "  | click WIN CTRL | key WIN CTRL VK | toolclick WIN NAME | select WIN CTRL ROW|TEXT | type WIN CTRL TEXT\n"
      "  | clear WIN CTRL | replace WIN CTRL TEXT | paste WIN CTRL TEXT | syscommand WIN WPARAM | tray WIN LPARAM | menu INDEX|TEXT|esc\n"
      "  | box CAPTION [BUTTON] [timeout_ms] | trayicon WIN [ID] | untray WIN [ID] | visible WIN | watch WIN MS | rect WIN | move WIN X Y | mouse WIN X Y\n"
      "  | tap WIN CTRL | context WIN CTRL | setsel WIN CTRL FROM TO | grid WIN CTRL | screenrect WIN CTRL\n"
      "  | style WIN CTRL | clipboard | setclipboard TEXT | fontface FACE [POINTS]\n"
      "  | post WIN MSG [WPARAM] [LPARAM] | send WIN MSG [WPARAM] [LPARAM]\n"
      "  | broadcast MESSAGE-NAME | owner WIN | foreground | focus WIN | defid WIN | windows\n"
      "WIN = caption, caption|class or #handle; CTRL = component name or text");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string cmd = argv[1];
  auto arg = [&](int i) { return i < argc ? std::string(argv[i]) : std::string(); };
  auto num = [&](int i, long def) { return i < argc ? std::strtol(argv[i], nullptr, 0) : def; };

  if (cmd == "find") {
    HWND h = Resolve(arg(2), static_cast<DWORD>(num(3, 5000)));
    if (!h) return Fail("window", arg(2));
    std::printf("#%llu %d\n", static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(h)),
                IsWindowVisible(h) ? 1 : 0);
    return 0;
  }
  if (cmd == "fontface") {
    // The face the font mapper gives a font that asks for this one at this size: a stand-in
    // when it is missing.
    HDC dc = GetDC(nullptr);
    LOGFONTW lf{};
    lf.lfHeight = -MulDiv(static_cast<int>(num(3, 8)), GetDeviceCaps(dc, LOGPIXELSY), 72);
    lf.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(lf.lfFaceName, Utf8ToWide(arg(2)).c_str(), LF_FACESIZE);
    HFONT font = CreateFontIndirectW(&lf);
    HGDIOBJ old = SelectObject(dc, font);
    wchar_t face[LF_FACESIZE] = {};
    GetTextFaceW(dc, LF_FACESIZE, face);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    DeleteObject(font);
    std::printf("%s\n", WideToUtf8(face).c_str());
    return 0;
  }
  if (cmd == "wait-gone") {
    const DWORD start = GetTickCount();
    const DWORD limit = static_cast<DWORD>(num(3, 5000));
    while (Resolve(arg(2), 0, true)) {
      if (GetTickCount() - start >= limit) return Fail("gone", arg(2));
      Sleep(50);
    }
    return 0;
  }
  if (cmd == "menu") {
    HWND m = FindTopWindow(L"*", L"#32768", true, Scaled(5000));
    if (!m) return Fail("menu", "");
    const std::string item = arg(2);
    if (item == "esc") {
      PostMessageW(m, WM_KEYDOWN, VK_ESCAPE, 0);
      return 0;
    }
    if (!item.empty() && std::isdigit(static_cast<unsigned char>(item[0]))) {
      for (long i = 0; i <= num(2, 0); ++i) PostMessageW(m, WM_KEYDOWN, VK_DOWN, 0);
      PostMessageW(m, WM_KEYDOWN, VK_RETURN, 0);
    } else {
      const auto amp = item.find('&');
      if (amp == std::string::npos || amp + 1 >= item.size()) return Fail("mnemonic", item);
      PostMessageW(m, WM_CHAR, static_cast<WPARAM>(item[amp + 1]), 0);
    }
    return 0;
  }
  if (cmd == "clipboard") {
    std::wstring esc;
    for (wchar_t c : ClipboardText())
      esc += c == L'\r' ? std::wstring(L"\\r") : c == L'\n' ? std::wstring(L"\\n") : std::wstring(1, c);
    std::printf("%s\n", WideToUtf8(esc).c_str());
    return 0;
  }
  if (cmd == "setclipboard") {
    const std::wstring w = Utf8ToWide(arg(2));
    HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, (w.size() + 1) * sizeof(wchar_t));
    if (!mem) return Fail("memory", "");
    std::memcpy(GlobalLock(mem), w.c_str(), (w.size() + 1) * sizeof(wchar_t));
    GlobalUnlock(mem);
    if (!OpenClipboard(nullptr)) {
      GlobalFree(mem);
      return Fail("clipboard", "");
    }
    EmptyClipboard();
    if (!SetClipboardData(CF_UNICODETEXT, mem)) GlobalFree(mem);
    CloseClipboard();
    return 0;
  }
  if (cmd == "box") {
    HWND box = FindTopWindow(Utf8ToWide(arg(2)), L"#32770", true, static_cast<DWORD>(num(4, 5000)));
    if (!box) return Fail("box", arg(2));
    std::wstring text;
    std::vector<std::pair<HWND, std::wstring>> buttons;
    for (HWND h : Children(box)) {
      const std::wstring cls = ClassOf(h);
      if (cls == L"Static" || cls == L"STATIC") {
        const std::wstring t = TextOf(h);
        if (!t.empty()) text += t;
      } else if (cls == L"Button" || cls == L"BUTTON") {
        buttons.push_back({h, TextOf(h)});
      }
    }
    std::wstring esc;
    for (wchar_t c : text) esc += c == L'\r' ? std::wstring(L"\\r") : c == L'\n' ? std::wstring(L"\\n") : std::wstring(1, c);
    std::printf("text: %s\n", WideToUtf8(esc).c_str());
    std::printf("buttons:");
    for (auto& b : buttons) std::printf(" [%s]", WideToUtf8(b.second).c_str());
    std::printf("\n");
    std::printf("owner: %s\n", HandleText(GetWindow(box, GW_OWNER)).c_str());
    std::printf("foreground: %d\n", GetForegroundWindow() == box ? 1 : 0);
    if (argc > 3 && !arg(3).empty()) {
      for (auto& b : buttons)
        if (b.second == Utf8ToWide(arg(3))) {
          PostMessageW(b.first, BM_CLICK, 0, 0);
          return 0;
        }
      return Fail("button", arg(3));
    }
    return 0;
  }

  if (cmd == "foreground") {
    HWND f = GetForegroundWindow();
    std::printf("%s %s\n", HandleText(f).c_str(), WideToUtf8(TextOf(f)).c_str());
    return 0;
  }
  if (cmd == "windows") {
    // Every visible top-level window: what is on the screen when a test goes wrong.
    std::vector<HWND> tops;
    EnumWindows(CollectChild, reinterpret_cast<LPARAM>(&tops));
    for (HWND h : tops)
      if (IsWindowVisible(h))
        std::printf("%s\t%s|%s\t%d\n", HandleText(h).c_str(), WideToUtf8(TextOf(h)).c_str(),
                    WideToUtf8(ClassOf(h)).c_str(), IsWindowEnabled(h) ? 1 : 0);
    return 0;
  }
  if (cmd == "broadcast") {
    // A registered message to every top-level window, as the shell sends "TaskbarCreated".
    const UINT msg = RegisterWindowMessageW(Utf8ToWide(arg(2)).c_str());
    if (!msg) return Fail("message", arg(2));
    PostMessageW(HWND_BROADCAST, msg, 0, 0);
    return 0;
  }

  // A mouse move waits for the shown window (a hidden one gets no move) but takes a hidden one
  // at the end of the wait. A program that is still starting has no window yet: the move
  // waits for it to be made, which may take long, then for it to be shown, which follows at
  // once. The waits scale for slow machines like the tests'.
  HWND win = nullptr;
  if (cmd == "mouse" && Resolve(arg(2), Scaled(30000))) win = Resolve(arg(2), Scaled(5000), true);
  if (!win) win = Resolve(arg(2), cmd == "mouse" ? 0 : Scaled(5000));
  if (!win) return Fail("window", arg(2));

  if (cmd == "post" || cmd == "send") {
    const auto msg = static_cast<UINT>(num(3, 0));
    const auto wp = static_cast<WPARAM>(num(4, 0));
    const auto lp = static_cast<LPARAM>(num(5, 0));
    if (cmd == "post") return PostMessageW(win, msg, wp, lp) ? 0 : Fail("post", arg(3));
    DWORD_PTR r = 0;
    if (!SendMessageTimeoutW(win, msg, wp, lp, SMTO_NORMAL, Scaled(20000), &r)) return Fail("answer", arg(3));
    std::printf("%lld\n", static_cast<long long>(r));
    // The window's icon at the moment of the answer: a program may end right after it.
    std::printf("icon: %d\n", HasTrayIcon(win, 1) ? 1 : 0);
    return 0;
  }
  if (cmd == "owner") {
    std::printf("%s\n", HandleText(GetWindow(win, GW_OWNER)).c_str());
    return 0;
  }
  if (cmd == "focus") {
    HWND f = FocusOf(win);
    std::printf("%s\n", WideToUtf8(f ? NameOf(f) : std::wstring()).c_str());
    return 0;
  }
  if (cmd == "defid") {
    // The form's default button: what Enter presses now.
    DWORD_PTR r = 0;
    if (!SendMessageTimeoutW(win, DM_GETDEFID, 0, 0, SMTO_ABORTIFHUNG, AnswerMs(), &r)) return Fail("answer", "");
    HWND b = HIWORD(r) == DC_HASDEFID ? GetDlgItem(win, LOWORD(r)) : nullptr;
    std::printf("%s\n", WideToUtf8(b ? NameOf(b) : std::wstring()).c_str());
    return 0;
  }
  if (cmd == "untray") {
    // Takes the window's icon out of the notification area, as a restarting shell loses it.
    NOTIFYICONDATAW nid{};
    nid.cbSize = NOTIFYICONDATAW_V1_SIZE;
    nid.hWnd = win;
    nid.uID = static_cast<UINT>(num(3, 1));
    return Shell_NotifyIconW(NIM_DELETE, &nid) ? 0 : Fail("icon", arg(2));
  }

  if (cmd == "list") {
    for (HWND h : Children(win)) {
      RECT r{};
      GetWindowRect(h, &r);
      POINT p{r.left, r.top};
      ScreenToClient(GetParent(h), &p);
      const std::wstring cls = ClassOf(h);
      std::wstring text = cls == L"ComboBox" ? ComboText(h) : TextOf(h);
      std::printf("%s\t%s\t%s\t%ld,%ld,%ld,%ld\t%d\t%d\n", WideToUtf8(cls).c_str(), WideToUtf8(NameOf(h)).c_str(),
                  WideToUtf8(text).c_str(), p.x, p.y, r.right - r.left, r.bottom - r.top,
                  IsWindowVisible(h) ? 1 : 0, IsWindowEnabled(h) ? 1 : 0);
      if (cls == L"ToolbarWindow32")
        for (int k = 0;; ++k) {
          const std::wstring item = NameOf(h, (L"MVRItem" + std::to_wstring(k)).c_str());
          if (item.empty()) break;
          std::printf("ToolButton\t%s\t\t%d\t1\t1\n", WideToUtf8(item).c_str(), k);
        }
    }
    return 0;
  }
  if (cmd == "watch") {
    // How long the window stays visible from the moment it is first seen visible.
    const DWORD limit = static_cast<DWORD>(num(3, 10000));
    DWORD start = GetTickCount();
    while (!IsWindowVisible(win)) {
      if (GetTickCount() - start >= limit) return Fail("visible", arg(2));
      Sleep(10);
    }
    start = GetTickCount();
    while (IsWindowVisible(win)) {
      if (GetTickCount() - start >= limit) {
        std::printf("visible-for %lu\n", static_cast<unsigned long>(GetTickCount() - start));
        return 0;
      }
      Sleep(10);
    }
    std::printf("hidden-after %lu\n", static_cast<unsigned long>(GetTickCount() - start));
    return 0;
  }
  if (cmd == "trayicon") {
    std::printf("%d\n", HasTrayIcon(win, static_cast<UINT>(num(3, 1))) ? 1 : 0);
    return 0;
  }
  if (cmd == "visible") {
    std::printf("%d\n", IsWindowVisible(win) ? 1 : 0);
    return 0;
  }
  if (cmd == "rect") {
    PrintRect(win);
    return 0;
  }
  if (cmd == "move") {
    // As if dragged by its title bar to this screen position.
    SetWindowPos(win, nullptr, static_cast<int>(num(3, 0)), static_cast<int>(num(4, 0)), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    return 0;
  }
  if (cmd == "syscommand") {
    PostMessageW(win, WM_SYSCOMMAND, static_cast<WPARAM>(num(3, 0)), 0);
    return 0;
  }
  if (cmd == "tray") {
    PostMessageW(win, WM_USER + 1, 1, static_cast<LPARAM>(num(3, 0)));
    return 0;
  }
  if (cmd == "mouse") {
    POINT p{static_cast<LONG>(num(3, 0)), static_cast<LONG>(num(4, 0))};
    ClientToScreen(win, &p);
    SetCursorPos(p.x, p.y);
    Sleep(50);
    SetCursorPos(p.x + 1, p.y + 1);
    return 0;
  }
  if (cmd == "toolclick") {
    for (HWND bar : Children(win)) {
      if (ClassOf(bar) != L"ToolbarWindow32") continue;
      for (int k = 0;; ++k) {
        const std::wstring item = NameOf(bar, (L"MVRItem" + std::to_wstring(k)).c_str());
        if (item.empty()) break;
        if (item != Utf8ToWide(arg(3)) && std::to_string(k) != arg(3)) continue;
        RECT r{};
        if (!ToolButtonRect(bar, k, r)) return Fail("tool button rect", arg(3));
        const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
        PostMessageW(bar, WM_MOUSEMOVE, 0, at);
        PostMessageW(bar, WM_LBUTTONDOWN, MK_LBUTTON, at);
        PostMessageW(bar, WM_LBUTTONUP, 0, at);
        return 0;
      }
    }
    return Fail("tool button", arg(3));
  }

  HWND ctrl = FindControl(win, Utf8ToWide(arg(3)));
  if (!ctrl) return Fail("control", arg(3));
  const std::wstring cls = ClassOf(ctrl);
  if (cmd == "text") {
    std::printf("%s\n", WideToUtf8(cls == L"ComboBox" ? ComboText(ctrl) : TextOf(ctrl)).c_str());
    return 0;
  }
  if (cmd == "key") {
    // A key pressed while this control has the focus (Enter = 13, Esc = 27, Tab = 9).
    const auto vk = static_cast<WPARAM>(num(4, 0));
    PostMessageW(ctrl, WM_KEYDOWN, vk, 1);
    PostMessageW(ctrl, WM_KEYUP, vk, static_cast<LPARAM>(0xC0000001u));
    return 0;
  }
  if (cmd == "click") {
    PostMessageW(ctrl, BM_CLICK, 0, 0);
    return 0;
  }
  if (cmd == "tap") {
    // A left click in the middle of a control that is no button (a label, a picture).
    RECT r{};
    GetClientRect(ctrl, &r);
    const LPARAM at = MAKELPARAM(r.right / 2, r.bottom / 2);
    PostMessageW(ctrl, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(ctrl, WM_LBUTTONUP, 0, at);
    return 0;
  }
  if (cmd == "context") {
    // The context menu key pressed over the control, at its middle.
    RECT r{};
    GetWindowRect(ctrl, &r);
    PostMessageW(ctrl, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(ctrl),
                 MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2));
    return 0;
  }
  if (cmd == "screenrect") {
    PrintRect(ctrl);
    return 0;
  }
  if (cmd == "style") {
    std::printf("%08lx\n", static_cast<unsigned long>(GetWindowLongW(ctrl, GWL_STYLE)));
    return 0;
  }
  if (cmd == "setsel") {
    DWORD_PTR r = 0;
    SendMessageTimeoutW(ctrl, EM_SETSEL, static_cast<WPARAM>(num(4, 0)), static_cast<LPARAM>(num(5, 0)),
                        SMTO_ABORTIFHUNG, AnswerMs(), &r);
    return 0;
  }
  if (cmd == "grid") {
    std::vector<std::vector<std::wstring>> rows;
    if (!GridRows(ctrl, rows)) return Fail("grid rows", arg(3));
    for (const auto& row : rows) {
      std::wstring line;
      for (size_t c = 0; c < row.size(); ++c) line += (c ? L"\t" : L"") + row[c];
      std::printf("%s\n", WideToUtf8(line).c_str());
    }
    return 0;
  }
  if (cmd == "select") {
    const LRESULT count = SendMessageW(ctrl, CB_GETCOUNT, 0, 0);
    long row = -1;
    for (LRESULT i = 0; i < count; ++i) {
      const LRESULT len = SendMessageW(ctrl, CB_GETLBTEXTLEN, i, 0);
      std::wstring buf(static_cast<size_t>(len) + 2, L'\0');
      SendMessageW(ctrl, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(&buf[0]));
      buf.resize(wcslen(buf.c_str()));
      if (buf == Utf8ToWide(arg(4))) row = static_cast<long>(i);
    }
    if (row < 0 && !arg(4).empty() && arg(4)[0] == '#') row = std::strtol(arg(4).c_str() + 1, nullptr, 10);
    if (row < 0 || row >= count) return Fail("row", arg(4));
    SendMessageW(ctrl, CB_SETCURSEL, static_cast<WPARAM>(row), 0);
    PostMessageW(GetParent(ctrl), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(ctrl), CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(ctrl));
    return 0;
  }
  if (cmd == "paste") {
    // Whole text at once through the clipboard, replacing the field's text.
    const std::wstring w = Utf8ToWide(arg(4));
    HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, (w.size() + 1) * sizeof(wchar_t));
    if (!mem) return Fail("memory", "");
    std::memcpy(GlobalLock(mem), w.c_str(), (w.size() + 1) * sizeof(wchar_t));
    GlobalUnlock(mem);
    if (!OpenClipboard(nullptr)) {
      GlobalFree(mem);
      return Fail("clipboard", "");
    }
    EmptyClipboard();
    if (!SetClipboardData(CF_UNICODETEXT, mem)) GlobalFree(mem);
    CloseClipboard();
    DWORD_PTR r = 0;
    SendMessageTimeoutW(ctrl, EM_SETSEL, 0, -1, SMTO_ABORTIFHUNG, AnswerMs(), &r);
    SendMessageTimeoutW(ctrl, WM_PASTE, 0, 0, SMTO_ABORTIFHUNG, AnswerMs(), &r);
    return 0;
  }
  if (cmd == "type" || cmd == "clear" || cmd == "replace") {
    DWORD_PTR r = 0;
    if (cmd == "replace") SendMessageTimeoutW(ctrl, EM_SETSEL, 0, -1, SMTO_ABORTIFHUNG, AnswerMs(), &r);
    if (cmd == "clear") {
      SendMessageTimeoutW(ctrl, EM_SETSEL, 0, -1, SMTO_ABORTIFHUNG, AnswerMs(), &r);
      SendMessageTimeoutW(ctrl, WM_CHAR, VK_BACK, 0, SMTO_ABORTIFHUNG, AnswerMs(), &r);
      return 0;
    }
    for (wchar_t c : Utf8ToWide(arg(4))) SendMessageTimeoutW(ctrl, WM_CHAR, c, 0, SMTO_ABORTIFHUNG, AnswerMs(), &r);
    return 0;
  }
  return Usage();
}
