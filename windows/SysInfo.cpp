#include "windows/SysInfo.h"

#include <commctrl.h>

#include <algorithm>
#include <vector>

#include "platform/Application.h"
#include "platform/Text.h"
#include "windows/VersionText.h"

namespace {

constexpr UINT kGridId = 1000;
constexpr int kRowHeight = 18;

FormDef SysInfoForm() {
  FormDef f;
  f.className = L"TSysInfoFm";
  f.caption = "Systeminformationen";
  f.clientWidth = 472;
  f.clientHeight = 291;
  f.style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
  f.exStyle = WS_EX_DLGMODALFRAME;
  f.left = 100;
  f.top = 100;
  f.fonts = {{"MS Sans Serif", 14, false}};
  return f;
}

std::string AnsiBuffer(const char* buf) { return AnsiToUtf8(buf); }

uint32_t Clamp32(SIZE_T v) { return static_cast<uint32_t>(std::min<unsigned long long>(v, 0xFFFFFFFFull)); }

}  // namespace

std::string GetComputerNameStr() {
  char buf[256] = {};
  DWORD n = sizeof buf;
  return GetComputerNameA(buf, &n) ? AnsiBuffer(buf) : std::string();
}

std::string GetUserNameStr() {
  char buf[256] = {};
  DWORD n = sizeof buf;
  return GetUserNameA(buf, &n) ? AnsiBuffer(buf) : std::string();
}

std::string GetOSVariable() {
  char buf[256] = {};
  const DWORD n = GetEnvironmentVariableA("OS", buf, sizeof buf);
  if (n == 0 || n >= sizeof buf) return {};
  return AnsiBuffer(buf);
}

std::string GetWindowsVersion() {
  OSVERSIONINFOA v{};
  v.dwOSVersionInfoSize = sizeof v;
  if (!GetVersionExA(&v)) return {};
  return WindowsVersionText(v.dwPlatformId, v.dwMajorVersion, v.dwMinorVersion, v.dwBuildNumber,
                            AnsiBuffer(v.szCSDVersion));
}

std::string ReadVersionValue(const std::string& key, int skip) {
  HINSTANCE inst = AppInstance();
  HRSRC res = FindResourceW(inst, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));  // RT_VERSION
  if (!res) return {};
  HGLOBAL mem = LoadResource(inst, res);
  const auto* data = mem ? static_cast<const uint8_t*>(LockResource(mem)) : nullptr;
  const DWORD size = SizeofResource(inst, res);
  if (!data || size == 0) return {};
  return FindVersionValue(std::vector<uint8_t>(data, data + size), key, skip);
}

std::string GetFileVersion() {
  const std::string v = ReadVersionValue("FileVersion", 2);
  return v.empty() ? "0.0.0.?" : v;
}

std::string GetHolderText() {
  const std::string v = ReadVersionValue("Copyright", 1);
  return v.empty() ? "Ferrowane GmbH" : v;
}

TSysInfoFm::TSysInfoFm() : TForm(SysInfoForm(), {}) {
  Bind("FormCreate", [this] { FormCreate(); });
  Bind("FormDestroy", [this] { FormDestroy(); });
}

TSysInfoFm::~TSysInfoFm() { Destroy(); }

void TSysInfoFm::FormCreate() {
  RECT rc{};
  GetClientRect(Handle(), &rc);
  HWND g = grid_.Create(Handle(), "SgInfo", WC_LISTVIEWW,
                        WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | LVS_REPORT | LVS_NOCOLUMNHEADER |
                            LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER,
                        0, 0, 0, rc.right, rc.bottom, kGridId);
  if (!g) return;
  gridFont_ = MakeFont("MS Sans Serif", 15, 0);
  grid_.SetFont(gridFont_.get());
  SendMessageW(g, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
  // The rows' height follows the small image list's.
  HIMAGELIST rows = ImageList_Create(1, kRowHeight, ILC_COLOR, 1, 0);
  SendMessageW(g, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(rows));
  // Column 0 a third of the width, column 1 the rest; room is left for the vertical scroll
  // bar so that no horizontal one appears.
  const int col0 = rc.right / 3;
  const int col1 = rc.right - col0 - GetSystemMetrics(SM_CXVSCROLL);
  for (int i = 0; i < 2; ++i) {
    LVCOLUMNW c{};
    c.mask = LVCF_WIDTH;
    c.cx = i == 0 ? col0 : col1;
    SendMessageW(g, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&c));
  }
  for (int i = 0; i < fill_.RowCount(); ++i) {
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = i;
    item.pszText = const_cast<wchar_t*>(L"");
    SendMessageW(g, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
  }
}

void TSysInfoFm::FormDestroy() {
  if (HWND g = grid_.Handle()) {
    HIMAGELIST rows = reinterpret_cast<HIMAGELIST>(SendMessageW(g, LVM_SETIMAGELIST, LVSIL_SMALL, 0));
    if (rows) ImageList_Destroy(rows);
  }
  grid_.Reset();
}

void TSysInfoFm::AddRow(const std::string& name, const std::string& value) {
  HWND g = grid_.Handle();
  const int row = fill_.NextRow;
  if (fill_.AddRow() && g) {
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = const_cast<wchar_t*>(L"");
    SendMessageW(g, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
  }
  if (!g) return;
  const std::wstring texts[2] = {Utf8ToWide(name), Utf8ToWide(value)};
  for (int col = 0; col < 2; ++col) {
    LVITEMW item{};
    item.iSubItem = col;
    item.pszText = const_cast<wchar_t*>(texts[col].c_str());
    SendMessageW(g, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
  }
}

void TSysInfoFm::FillRows() {
  MEMORYSTATUS m{};
  m.dwLength = sizeof m;
  GlobalMemoryStatus(&m);
  SysFacts f;
  f.Title = Application.Title;
  f.ProgramPath = ProgramPath();
  f.FileVersion = GetFileVersion();
  f.Holder = GetHolderText();
  f.Author = ReadVersionValue("Author", 1);
  f.Computer = GetComputerNameStr();
  f.User = GetUserNameStr();
  f.Windows = GetWindowsVersion();
  f.OS = GetOSVariable();
  f.MemoryLoad = m.dwMemoryLoad;
  f.TotalPhys = Clamp32(m.dwTotalPhys);
  f.AvailPhys = Clamp32(m.dwAvailPhys);
  f.TotalPage = Clamp32(m.dwTotalPageFile);
  f.AvailPage = Clamp32(m.dwAvailPageFile);
  f.TotalVirtual = Clamp32(m.dwTotalVirtual);
  f.AvailVirtual = Clamp32(m.dwAvailVirtual);
  wchar_t sep[8] = {};
  if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, sep, 8) > 1) f.DecimalSeparator = WideToUtf8(sep);
  char dir[256] = {};
  if (GetWindowsDirectoryA(dir, 255) < 255) f.WindowsDir = AnsiBuffer(dir);
  char sys[256] = {};
  if (GetSystemDirectoryA(sys, 255) < 255) f.SystemDir = AnsiBuffer(sys);
  f.ScreenWidth = GetSystemMetrics(SM_CXSCREEN);
  f.ScreenHeight = GetSystemMetrics(SM_CYSCREEN);
  if (HDC dc = GetDC(Handle())) {
    f.PixelsPerInch = GetDeviceCaps(dc, LOGPIXELSY);
    f.BitsPerPixel = GetDeviceCaps(dc, BITSPIXEL);
    ReleaseDC(Handle(), dc);
  }
  for (const InfoRow& r : SysInfoRows(f)) AddRow(r.Name, r.Value);
}

void TSysInfoFm::ShowInfo() {
  if (!Exists()) return;
  fill_.Start();
  FillRows();
  CentreOnScreen(Handle());
  ShowModal();
}
