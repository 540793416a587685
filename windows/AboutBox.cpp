#include "windows/AboutBox.h"

#include <commctrl.h>

#include "platform/Application.h"
#include "platform/MessageDlg.h"
#include "platform/Text.h"
#include "resources/ui_ids.h"
#include "windows/ShowText.h"
#include "windows/SysInfo.h"
#include "windows/VersionText.h"
#include "windows/ViewerRules.h"

namespace {

enum : UINT { kPanelId = 1000, kIconId, kLogoId, kSoftwareId, kContactId };
constexpr int kSoftwareWidth = 393;
constexpr int kMinSoftwarePoints = 6;  // a caption that can never fit ends the shrinking here

FormDef AboutForm() {
  FormDef f;
  f.className = L"TAboutBoxFm";
  f.caption = "Software by...";
  f.clientWidth = 417;
  f.clientHeight = 298;
  f.style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
  f.exStyle = WS_EX_DLGMODALFRAME;
  f.left = 100;
  f.top = 100;
  f.fonts = {{"MS Sans Serif", 11, false}};
  f.focus = "Exit";
  return f;
}

std::vector<ComponentDef> AboutComponents() {
  using K = CompKind;
  std::vector<ComponentDef> c;
  c.push_back({"BevelIcon", K::Bevel, 24, 16, 81, 81, ""});
  c.push_back({"BevelLogo", K::Bevel, 128, 16, 257, 81, ""});
  c.push_back({"BevelSoftware", K::Bevel, 8, 103, 401, 35, ""});
  ComponentDef exit{"Exit", K::Button, 320, 248, 81, 31, "OK", -1, csDefault};
  exit.picture = IDI_BTN_OK;
  exit.modalResult = mrOk;
  c.push_back(exit);
  return c;
}

struct Contact {
  const char* name;
  int x, y, w, h;
  const char* text;
  bool right;
  bool small;
};

// The vendor's contact fields.
const Contact kContacts[8] = {
    {"Firma", 8, 144, 177, 21, "Brightloom GmbH", false, false},
    {"Autor", 8, 168, 177, 21, "Funktechnik", false, false},
    {"Strasse", 8, 192, 177, 21, "Lindenweg 12", false, false},
    {"Ort", 8, 216, 177, 21, "D-79098 Freiburg", false, false},
    {"Telefon", 200, 144, 209, 21, "Tel. 0761 555 0140", true, false},
    {"Fax", 200, 168, 209, 21, "Fax 0761 555 0149", true, false},
    {"Email", 184, 192, 225, 21, "info@brightloom.example", true, true},
    {"Web", 184, 216, 225, 21, "www.brightloom.example", true, true},
};

LogTime Now() {
  SYSTEMTIME t{};
  GetLocalTime(&t);
  return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

// Replaces the file with the bytes (ANSI text already); false on any failure.
bool WriteWholeFile(const std::string& path, const std::string& bytes) {
  HANDLE h = CreateFileW(Utf8ToWide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                  written == bytes.size();
  return CloseHandle(h) && ok;
}

std::string WithExtension(const std::string& path, const char* ext) {
  const auto slash = path.find_last_of("\\/:");
  const auto dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + ext;
  return path.substr(0, dot) + ext;
}

}  // namespace

std::string GetVersionString() { return VersionStringOf(GetFileVersion()); }

std::string GetVersionName() { return GetVersionString() + " " + ProgramBaseName(ProgramPath()); }

TAboutBoxFm::TAboutBoxFm() : TForm(AboutForm(), AboutComponents()) {
  Bind("FormCreate", [this] { FormCreate(); });
  Bind("FormShow", [this] { FormShow(); });
  Bind("FormDestroy", [this] { FormDestroy(); });
}

TAboutBoxFm::~TAboutBoxFm() { Destroy(); }

void TAboutBoxFm::FormCreate() {
  HWND form = Handle();
  // Clipped by its siblings: drawn last it would cover the frames and pictures.
  panel_.Create(form, "AboutPanel", L"STATIC", WS_VISIBLE | WS_CLIPSIBLINGS | SS_SUNKEN, 0, 0, 0, 417, 297, kPanelId);
  SetWindowPos(panel_.Handle(), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  // The application's icon: the program's first icon group.
  appIcon_.reset(static_cast<HICON>(LoadImageW(AppInstance(), MAKEINTRESOURCEW(1), IMAGE_ICON, 32, 32, 0)));
  icon_.Create(form, "ImageIcon", L"STATIC", WS_VISIBLE | SS_ICON | SS_NOTIFY, 0, 48, 40, 32, 32, kIconId);
  if (appIcon_.get()) SendMessageW(icon_.Handle(), STM_SETICON, reinterpret_cast<WPARAM>(appIcon_.get()), 0);
  logoBitmap_ = LoadJpegResource(IDR_LOGO);
  logo_.Create(form, "ImageLogo", L"STATIC", WS_VISIBLE | SS_BITMAP | SS_CENTERIMAGE | SS_NOTIFY, 0, 145,
               25, 222, 64, kLogoId);
  if (logoBitmap_.get())
    SendMessageW(logo_.Handle(), STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(logoBitmap_.get()));
  // SS_BITMAP sizes the control to its picture; the logo keeps its place and size.
  SetWindowPos(logo_.Handle(), nullptr, 145, 25, 222, 64, SWP_NOZORDER | SWP_NOACTIVATE);
  softwareSize_ = MulDiv(23, 72, PointsToPixels(72));  // 23 pixels high at design
  softwareFont_ = MakeFont("Arial", PointsToPixels(softwareSize_), 1);
  software_.Create(form, "LabelSoftware", L"STATIC",
                   WS_VISIBLE | SS_CENTER | SS_CENTERIMAGE | SS_NOPREFIX | SS_NOTIFY, 0, 12, 104,
                   kSoftwareWidth, 33, kSoftwareId, "Software Vx.yz");
  software_.SetFont(softwareFont_.get());
  contactFont_ = MakeFont("Arial", 17, 1);
  smallFont_ = MakeFont("Arial", 13, 1);
  for (int i = 0; i < 8; ++i) {
    const Contact& c = kContacts[i];
    contacts_[i].Create(form, c.name, L"STATIC",
                        WS_VISIBLE | SS_NOPREFIX | (c.right ? SS_RIGHT : SS_CENTER), 0, c.x, c.y, c.w,
                        c.h, kContactId + i, c.text);
    contacts_[i].SetFont(c.small ? smallFont_.get() : contactFont_.get());
  }
  tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, form, nullptr,
                             AppInstance(), nullptr);
  if (tooltip_) {
    TOOLINFOW ti{};
    ti.cbSize = sizeof ti;
    ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    ti.hwnd = form;
    ti.uId = reinterpret_cast<UINT_PTR>(logo_.Handle());
    ti.lpszText = const_cast<wchar_t*>(L"Click here for some system information.");
    SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
  }

  const std::string logFile = WithExtension(ProgramPath(), ".Log");
  LogList_ = std::make_unique<tLogList>(
      GetVersionName(), logFile, Now,
      [](const std::string& path, const std::string& text) { return WriteWholeFile(path, Utf8ToAnsi(text)); },
      [](const std::string& message) { MessageDlg(message, MsgDlgType::Error, mbOK); });
  LogList_->FileName = logFile;
}

void TAboutBoxFm::FormDestroy() {
  // The log's end: "closed." and the file, when anything besides the start line was logged.
  LogList_.reset();
  if (tooltip_) DestroyWindow(tooltip_);
  tooltip_ = nullptr;
  for (auto& c : contacts_) c.Reset();
  software_.Reset();
  logo_.Reset();
  icon_.Reset();
  panel_.Reset();
}

void TAboutBoxFm::SetSoftwareHint(bool on) {
  if (!tooltip_ || on == softwareHint_) return;
  TOOLINFOW ti{};
  ti.cbSize = sizeof ti;
  ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  ti.hwnd = Handle();
  ti.uId = reinterpret_cast<UINT_PTR>(software_.Handle());
  ti.lpszText = const_cast<wchar_t*>(L"Click here for the version report.");
  SendMessageW(tooltip_, on ? TTM_ADDTOOLW : TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
  softwareHint_ = on;
}

void TAboutBoxFm::ShowAbout(const std::string& history) {
  if (!Exists()) return;
  History = history;
  SetVisible("BevelSoftware", !History.empty());
  SetSoftwareHint(!History.empty());
  SetWindowTextW(software_.Handle(), Utf8ToWide(Application.Title + " " + GetVersionString()).c_str());
  CentreOnScreen(Handle());
  ShowModal();
}

void TAboutBoxFm::FormShow() {
  HWND label = software_.Handle();
  if (!label) return;
  std::wstring caption(static_cast<size_t>(GetWindowTextLengthW(label)) + 1, L'\0');
  caption.resize(static_cast<size_t>(GetWindowTextW(label, &caption[0], static_cast<int>(caption.size()))));
  HDC dc = GetDC(label);
  auto widthAt = [&](int points) {
    OwnedFont f = MakeFont("Arial", PointsToPixels(points), 1);
    HGDIOBJ old = SelectObject(dc, f.get());
    SIZE ext{};
    GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &ext);
    SelectObject(dc, old);
    return static_cast<int>(ext.cx);
  };
  const int size = FittingFontSize(softwareSize_, kMinSoftwarePoints, kSoftwareWidth, widthAt);
  ReleaseDC(label, dc);
  if (size != softwareSize_) {
    softwareSize_ = size;
    softwareFont_ = MakeFont("Arial", PointsToPixels(softwareSize_), 1);
    software_.SetFont(softwareFont_.get());
  }
}

void TAboutBoxFm::Log(const std::string& text) {
  if (LogList_) LogList_->AddLine(text);
}

void TAboutBoxFm::SaveLog(const std::string& fileName) {
  if (LogList_ && LogList_->Count() > 1) LogList_->SaveToFile(fileName);
}

void TAboutBoxFm::ImageIconClick() {
  if (!LogList_ || !LogList_->Enabled) return;
  TTextFm viewer;  // freed when it returns, also on failure
  viewer.Create();
  if (LogList_->Count() > 1) Log("Logfile");
  viewer.ShowText("Logfile", LogList_->Text());
}

void TAboutBoxFm::ImageLogoClick() {
  if (LogList_ && LogList_->Count() > 1) Log("SysInfo");
  if (SysInfo) SysInfo->ShowInfo();
}

void TAboutBoxFm::LabelSoftwareClick() {
  if (History.empty()) return;
  TTextFm viewer;
  viewer.Create();
  if (LogList_ && LogList_->Count() > 1) Log("Report");
  viewer.ShowText("Report of " + GetVersionName(), History);
}

bool TAboutBoxFm::HandleMessage(UINT msg, WPARAM wp, LPARAM, LRESULT& result) {
  if (msg != WM_COMMAND) return false;
  const UINT id = LOWORD(wp);
  const UINT code = HIWORD(wp);
  if (id == IDCANCEL) {  // Esc closes the box like its close box
    SetModalResult(mrCancel);
    result = 0;
    return true;
  }
  if (code != STN_CLICKED) return false;
  switch (id) {
    case kIconId: ImageIconClick(); break;
    case kLogoId: ImageLogoClick(); break;
    case kSoftwareId: LabelSoftwareClick(); break;
    default: return false;
  }
  result = 0;
  return true;
}
