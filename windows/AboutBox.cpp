#include "windows/AboutBox.h"

#include "platform/Application.h"
#include "platform/MessageDlg.h"
#include "platform/ProgramFiles.h"
#include "platform/Text.h"
#include "resources/ui_ids.h"
#include "windows/JpegImage.h"
#include "windows/ShowText.h"
#include "windows/SysInfo.h"
#include "windows/VersionText.h"
#include "windows/ViewerRules.h"

namespace {

constexpr int kSoftwareWidth = 393;
constexpr int kSoftwareFont = 1;
constexpr int kMinSoftwarePoints = 6;  // a caption that can never fit ends the shrinking here

FormDef AboutForm() {
  return {L"TAboutBoxFm", "Software by...", 417, 298, FormFrame::Dialog, 100, 100,
          {{"MS Sans Serif", 11}, {"Arial", 23, fsBold}, {"Arial", 17, fsBold}, {"Arial", 13, fsBold}},
          {}, "Exit", true};
}

// The eight contact fields' texts are the vendor's.
std::vector<ComponentDef> AboutComponents() {
  using K = CompKind;
  return {
      Comp("AboutPanel", K::Panel, 0, 0, 417, 297).Extra(2).Border(1),
      Comp("BevelIcon", K::Bevel, 24, 16, 81, 81).Style(csRaised),
      Comp("ImageIcon", K::Image, 48, 40, 32, 32).Picture(IDI_APP).Extra(32).On("ImageIconClick"),
      Comp("BevelLogo", K::Bevel, 128, 16, 257, 81).Style(csRaised),
      Comp("ImageLogo", K::Image, 145, 25, 222, 64)
          .Style(csBitmap)
          .Hint("Click here for some system information.")
          .On("ImageLogoClick"),
      Comp("BevelSoftware", K::Bevel, 8, 103, 401, 35).Style(csRaised | csBox),
      Comp("LabelSoftware", K::Label, 12, 104, kSoftwareWidth, 33, "Software Vx.yz")
          .Font(kSoftwareFont)
          .Style(csCenter | csMiddle)
          .Hint("Click here for the version report.")
          .On("LabelSoftwareClick"),
      Comp("Firma", K::Label, 8, 144, 177, 21, "Brightloom GmbH").Font(2).Style(csCenter),
      Comp("Autor", K::Label, 8, 168, 177, 21, "Funktechnik").Font(2).Style(csCenter),
      Comp("Strasse", K::Label, 8, 192, 177, 21, "Lindenweg 12").Font(2).Style(csCenter),
      Comp("Ort", K::Label, 8, 216, 177, 21, "D-79098 Freiburg").Font(2).Style(csCenter),
      Comp("Telefon", K::Label, 200, 144, 209, 21, "Tel. 0761 555 0140").Font(2).Style(csRight),
      Comp("Fax", K::Label, 200, 168, 209, 21, "Fax 0761 555 0149").Font(2).Style(csRight),
      Comp("Email", K::Label, 184, 192, 225, 21, "info@brightloom.example").Font(3).Style(csRight),
      Comp("Web", K::Label, 184, 216, 225, 21, "www.brightloom.example").Font(3).Style(csRight),
      Comp("Exit", K::Button, 320, 248, 81, 31, "OK").Style(csDefault).Picture(IDI_BTN_OK).Result(mrOk),
  };
}

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

}  // namespace

std::string GetVersionString() { return VersionStringOf(GetFileVersion()); }

std::string GetVersionName() { return GetVersionString() + " " + ProgramBaseName(ProgramPath()); }

TAboutBoxFm::TAboutBoxFm() : TForm(AboutForm(), AboutComponents()) {
  Bind("FormCreate", [this] { FormCreate(); });
  Bind("FormShow", [this] { FormShow(); });
  Bind("FormDestroy", [this] { FormDestroy(); });
  Bind("ImageIconClick", [this] { ImageIconClick(); });
  Bind("ImageLogoClick", [this] { ImageLogoClick(); });
  Bind("LabelSoftwareClick", [this] { LabelSoftwareClick(); });
}

TAboutBoxFm::~TAboutBoxFm() { Destroy(); }

void TAboutBoxFm::FormCreate() {
  logo_ = LoadJpegResource(IDR_LOGO);
  SetBitmap("ImageLogo", logo_.get());
  softwareSize_ = MulDiv(23, 72, PointsToPixels(72));  // 23 pixels high at design
  const std::string logFile = ProgramPathWithExtension(".Log");
  LogList_ = std::make_unique<tLogList>(
      GetVersionName(), logFile, Now,
      [](const std::string& path, const std::string& text) { return WriteWholeFile(path, Utf8ToAnsi(text)); },
      [](const std::string& message) { MessageDlg(message, MsgDlgType::Error, mbOK); });
  LogList_->FileName = logFile;
}

void TAboutBoxFm::FormDestroy() {
  // The log's end: "closed." and the file, when anything besides the start line was logged.
  LogList_.reset();
}

void TAboutBoxFm::ShowAbout(const std::string& history) {
  if (!Exists()) return;
  History = history;
  SetVisible("BevelSoftware", !History.empty());
  SetShowHint("LabelSoftware", !History.empty());
  SetText("LabelSoftware", Application.Title + " " + GetVersionString());
  CentreOnScreen();
  ShowModal();
}

void TAboutBoxFm::FormShow() {
  HWND label = Control("LabelSoftware");
  if (!label) return;
  const std::wstring caption = Utf8ToWide(Text("LabelSoftware"));
  auto widthAt = [&](int points) {
    const OwnedFont font = MakeFont({"Arial", PointsToPixels(points), fsBold});
    return TextWidth(label, font.get(), caption);
  };
  const int size = FittingFontSize(softwareSize_, kMinSoftwarePoints, kSoftwareWidth, widthAt);
  if (size == softwareSize_) return;
  softwareSize_ = size;
  SetFont(kSoftwareFont, {"Arial", PointsToPixels(softwareSize_), fsBold});
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
