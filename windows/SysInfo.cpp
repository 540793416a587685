#include "windows/SysInfo.h"

#include <algorithm>
#include <vector>

#include "platform/Application.h"
#include "platform/ProgramFiles.h"
#include "platform/Text.h"
#include "windows/VersionText.h"

namespace {

FormDef SysInfoForm() {
  return {L"TSysInfoFm", "Systeminformationen", 472, 291, FormFrame::Dialog, 100, 100,
          {{"MS Sans Serif", 14}, {"MS Sans Serif", 15}}};
}

std::vector<ComponentDef> SysInfoComponents() {
  return {Comp("SgInfo", CompKind::Grid).Font(1).Style(csClient).Extra(18)};
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

TSysInfoFm::TSysInfoFm() : TForm(SysInfoForm(), SysInfoComponents()) {
  Bind("FormCreate", [this] { FormCreate(); });
}

TSysInfoFm::~TSysInfoFm() { Destroy(); }

void TSysInfoFm::FormCreate() {
  // Column 0 a third of the width, column 1 the rest; room is left for the vertical scroll
  // bar so that no horizontal one appears.
  RECT rc{};
  GetClientRect(Handle(), &rc);
  const int col0 = rc.right / 3;
  SetColumns("SgInfo", {col0, rc.right - col0 - GetSystemMetrics(SM_CXVSCROLL)});
  AddRows("SgInfo", fill_.RowCount());
}

void TSysInfoFm::AddRow(const std::string& name, const std::string& value) {
  const int row = fill_.NextRow;
  if (fill_.AddRow()) AddRows("SgInfo", 1);
  SetCell("SgInfo", row, 0, name);
  SetCell("SgInfo", row, 1, value);
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
  const WindowDC dc(Handle());
  if (dc.get()) {
    f.PixelsPerInch = GetDeviceCaps(dc.get(), LOGPIXELSY);
    f.BitsPerPixel = GetDeviceCaps(dc.get(), BITSPIXEL);
  }
  for (const InfoRow& r : SysInfoRows(f)) AddRow(r.Name, r.Value);
}

void TSysInfoFm::ShowInfo() {
  if (!Exists()) return;
  fill_.Start();
  FillRows();
  CentreOnScreen();
  ShowModal();
}
