#include "app/MVRServMain.h"

#include <cstring>

#include "link/MVR_TRX.h"
#include "platform/Application.h"
#include "platform/MessageDlg.h"
#include "platform/RegistryIniFile.h"
#include "platform/Text.h"
#include "resources/ui_ids.h"
#include "windows/ChildControls.h"

TMVRServMainFm* MVRServMainFm = nullptr;

const char* const ReleaseHistory =
    "2010-01-15  v1.2c  Infofenster mit Systeminformationen, Logdatei und Betrachter\r"
    "2009-11-02  v1.2b  Antwortüberwachung: TimeOut an den letzten Sender\r"
    "2009-08-20  v1.2a  Mehrere Clients auf zehn Kanälen gleichzeitig\r"
    "2009-03-11  v1.1b  Symbol im Infobereich, Fenster blendet sich aus\r"
    "2008-12-05  v1.1a  Dialog für die serielle Schnittstelle mit Puffergrößen\r"
    "2008-06-30  v1.0b  CRC-Prüfung langer Pakete korrigiert\r"
    "2008-04-14  v1.0a  Erste Ausgabe\r";

namespace {

const char* const kSection = "WindowParams";
constexpr UINT kTnaId = 1;

FormDef MainForm() {
  FormDef f;
  f.className = L"TMVRServMainFm";
  f.caption = "MVR Server";
  f.clientWidth = 183;
  f.clientHeight = 124;
  f.style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  f.exStyle = 0;
  f.left = 818;
  f.top = 572;
  f.fonts = {{"MS Sans Serif", 10, false}, {"Courier New", 12, true}};
  return f;
}

std::vector<ComponentDef> MainComponents() {
  using K = CompKind;
  std::vector<ComponentDef> c;
  ComponentDef images{"ImgToolbuttons", K::ImageList, 0, 0, 16, 16, "202\n203"};
  c.push_back(images);
  ComponentDef bar{"ToolBar", K::ToolBar, 0, 0, 183, 30, "", -1, csFlat, 28};
  bar.ref = "ImgToolbuttons";
  c.push_back(bar);
  ComponentDef setup{"ConSetupBtn", K::ToolButton, 0, 0, 28, 26, "Config", -1, 0, 0};
  setup.hint = "Einstellen der seriellen Schnittstelle";
  setup.ref = "ToolBar";
  setup.onEvent = "ConSetupBtnClick";
  c.push_back(setup);
  ComponentDef info{"InfoBtn", K::ToolButton, 0, 0, 28, 26, "Information", -1, 0, 1};
  info.hint = "Über uns...";
  info.ref = "ToolBar";
  info.onEvent = "AboutBtnClick";
  c.push_back(info);
  c.push_back({"Label1", K::Label, 0, 33, 81, 13, "Gesendet:", -1, csRight});
  c.push_back({"Label2", K::Label, 0, 52, 81, 13, "Empfangen:", -1, csRight});
  c.push_back({"Label3", K::Label, 0, 72, 81, 13, "CRC-Fehler:", -1, csRight});
  c.push_back({"Label4", K::Label, 1, 91, 81, 13, "Timeout-Fehler:", -1, csRight});
  c.push_back({"TXLabel", K::Label, 85, 33, 59, 13, "0", 1, csRight});
  c.push_back({"RXLabel", K::Label, 85, 52, 59, 13, "0", 1, csRight});
  c.push_back({"CRCErrLabel", K::Label, 85, 72, 59, 13, "0", 1, csRight});
  c.push_back({"TOLabel", K::Label, 85, 91, 59, 13, "0", 1, csRight});
  c.push_back({"Label5", K::Label, 150, 33, 30, 13, "Bytes"});
  c.push_back({"Label6", K::Label, 150, 52, 30, 13, "Bytes"});
  // Shown only while the port is away, over the free area below the counters.
  c.push_back({"PortStateLabel", K::Label, 2, 108, 179, 13, "", -1, csHidden});
  ComponentDef icon{"TNAIcon", K::Image, 158, 80, 13, 13, ""};
  icon.picture = IDI_TNA;
  c.push_back(icon);
  ComponentDef timer{"Timer", K::Timer, 0, 0, 0, 0, "", -1, 0, 20};
  timer.onEvent = "TimerTimer";
  c.push_back(timer);
  c.push_back({"TNAPopUp", K::PopupMenu, 0, 0, 0, 0, ""});
  ComponentDef show{"ShowMnu", K::MenuItem, 0, 0, 0, 0, "&Wiederherstellen"};
  show.ref = "TNAPopUp";
  show.onEvent = "ShowMnuClick";
  c.push_back(show);
  ComponentDef n1{"N1", K::MenuItem, 0, 0, 0, 0, "-"};
  n1.ref = "TNAPopUp";
  c.push_back(n1);
  ComponentDef end{"BeendenMnu", K::MenuItem, 0, 0, 0, 0, "&Beenden"};
  end.ref = "TNAPopUp";
  end.onEvent = "BeendenMnuClick";
  c.push_back(end);
  return c;
}

// The program file's full path with the extension ".log".
std::string LogFilePath() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring p = path;
  const auto dot = p.find_last_of(L'.');
  const auto slash = p.find_last_of(L"\\/");
  if (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash)) p.erase(dot);
  return WideToUtf8(p + L".log");
}

// "COM1 getrennt – Versuch läuft" (what fits the window); empty while the port is not away.
std::string PortStateText(const TMVRtrx& trx) {
  if (!trx.PortAway()) return {};
  return std::string(PortNames[trx.Serial.Port & 3]) + " getrennt – Versuch läuft";
}

void ReportStoreError(const SettingsStoreError& e) {
  MessageDlg(e.what(), MsgDlgType::Error, mbOK);
}

}  // namespace

TMVRServMainFm::TMVRServMainFm(TMVRtrx& trx) : TForm(MainForm(), MainComponents()), trx_(trx) {
  Bind("FormCreate", [this] { FormCreate(); });
  Bind("FormShow", [this] { FormShow(); });
  Bind("FormClose", [this] { FormClose(); });
  BindMouseMove([this](int x, int y) { FormMouseMove(x, y); });
  Bind("TimerTimer", [this] { TimerTimer(); });
  Bind("ConSetupBtnClick", [this] { ConSetupBtnClick(); });
  Bind("AboutBtnClick", [this] { AboutBtnClick(); });
  Bind("ShowMnuClick", [this] { ShowMnuClick(); });
  Bind("BeendenMnuClick", [this] { BeendenMnuClick(); });
}

TMVRServMainFm::~TMVRServMainFm() { Destroy(); }

void TMVRServMainFm::FormCreate() {
  if (trx_.Open()) {
    started_ = true;
    LoadWindowParams();
    schedule_.ArmAutoHide();
    return;
  }
  MessageDlg("Serielle Schnittstelle konnte nicht geöffnet werden!", MsgDlgType::Error, mbAbort);
  Application.Terminate();
}

void TMVRServMainFm::LoadWindowParams() {
  try {
    RegistryIniFile ini;
    const RECT r = Bounds();
    const int w = r.right - r.left;
    const int h = r.bottom - r.top;
    int left = ini.ReadInteger(kSection, "Left", r.left);
    int top = ini.ReadInteger(kSection, "Top", r.top);
    // On the screen on every side, or nobody finds the window again (and it is stored so).
    left = ClampOnScreen(left, w, GetSystemMetrics(SM_CXSCREEN));
    top = ClampOnScreen(top, h, GetSystemMetrics(SM_CYSCREEN));
    SetPosition(left, top);
    trx_.LoadSettings(ini);
  } catch (const SettingsStoreError& e) {
    ReportStoreError(e);
  }
}

void TMVRServMainFm::SaveWindowParams() {
  try {
    RegistryIniFile ini;
    const RECT r = Bounds();
    ini.WriteInteger(kSection, "Left", r.left);
    ini.WriteInteger(kSection, "Top", r.top);
    trx_.SaveSettings(ini);
  } catch (const SettingsStoreError& e) {
    ReportStoreError(e);
  }
}

void TMVRServMainFm::FormShow() {
  if (TNAIconAdded) return;
  AddTNAIcon();
  TNAIconAdded = true;
}

void TMVRServMainFm::AddTNAIcon() {
  TNAData = NOTIFYICONDATAA{};
  TNAData.cbSize = NOTIFYICONDATAA_V1_SIZE;
  TNAData.hWnd = Handle();
  TNAData.uID = kTnaId;
  TNAData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  TNAData.uCallbackMessage = WM_TNANOTIFY;
  TNAData.hIcon = Picture("TNAIcon");
  SetTip();
  Shell_NotifyIconA(NIM_ADD, &TNAData);
  iconShown_ = true;
}

void TMVRServMainFm::SetTip() {
  const std::string tip = portState_.empty() ? "MVR Server" : "MVR Server: " + portState_;
  std::memset(TNAData.szTip, 0, sizeof TNAData.szTip);
  std::strncpy(TNAData.szTip, Utf8ToAnsi(tip).c_str(), sizeof TNAData.szTip - 1);
}

void TMVRServMainFm::ShowPortState() {
  const std::string state = PortStateText(trx_);
  if (state == portState_) return;
  portState_ = state;
  SetText("PortStateLabel", state);
  SetVisible("PortStateLabel", !state.empty());
  SetTip();
  if (iconShown_) Shell_NotifyIconA(NIM_MODIFY, &TNAData);
}

void TMVRServMainFm::RemoveTNAIcon() {
  Shell_NotifyIconA(NIM_DELETE, &TNAData);
  iconShown_ = false;
}

void TMVRServMainFm::FormClose() {
  // A start without a port never read the stored values: writing now would replace them
  // with the design position and the built-in settings.
  if (started_) SaveWindowParams();
  if (trx_.IsOpen() || trx_.PortAway()) portOpenBeforeClose_ = true;
  trx_.Close();
  if (SaveLog) SaveLog(LogFilePath());
  RemoveTNAIcon();
}

void TMVRServMainFm::AfterClose() {
  // A question ended by the session's end is no answer: the program is ending anyway.
  if (ConfirmEnd && !ConfirmEnd() && !Application.Terminated) {
    // The user keeps the program: undo what the close handling took away. The port alone
    // is reopened; the engine's Open would free the channels the clients still hold.
    if (portOpenBeforeClose_) trx_.ResumePort();
    portOpenBeforeClose_ = false;
    AddTNAIcon();
    return;
  }
  Application.Terminate();
}

void TMVRServMainFm::CloseAfterLoop() {
  if (Exists()) Fire("FormClose");
}

void TMVRServMainFm::FormMouseMove(int, int) { schedule_.StopAutoHide(); }

void TMVRServMainFm::TimerTimer() {
  trx_.Poll();
  if (!schedule_.Tick()) return;
  SetText("TXLabel", CounterText(trx_.BytesSent));
  SetText("RXLabel", CounterText(trx_.BytesReceived));
  SetText("CRCErrLabel", CounterText(trx_.CRCErrors));
  SetText("TOLabel", CounterText(trx_.Timeouts));
  ShowPortState();
  if (schedule_.AdvanceAutoHide()) Hide();
  if (trx_.CheckTimeout() && FireTimeOut) FireTimeOut();
}

void TMVRServMainFm::ConSetupBtnClick() { trx_.SetupPort(); }

void TMVRServMainFm::AboutBtnClick() {
  if (ShowAbout) ShowAbout(ReleaseHistory);
}

void TMVRServMainFm::ShowMnuClick() {
  if (!Visible()) Show();
}

void TMVRServMainFm::BeendenMnuClick() { Close(); }

void TMVRServMainFm::EndSession() {
  // The system may end the process once this message is answered: the close handling runs
  // now, without the automation server's question, which nobody could answer any more.
  Fire("FormClose");
  Application.Terminate();
}

bool TMVRServMainFm::HandleMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
  static const UINT taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
  if (msg == WM_QUERYENDSESSION) {
    result = TRUE;
    return true;
  }
  if (msg == WM_ENDSESSION) {
    if (wp) EndSession();
    result = 0;
    return true;
  }
  if (taskbarCreated && msg == taskbarCreated) {
    // A restarted shell has lost every icon.
    if (iconShown_) Shell_NotifyIconA(NIM_ADD, &TNAData);
    result = 0;
    return true;
  }
  if (msg == WM_SYSCOMMAND && wp == SC_MINIMIZE) {
    Hide();
    result = 0;
    return true;
  }
  if (msg == WM_TNANOTIFY) {
    switch (LOWORD(lp)) {
      case WM_LBUTTONDBLCLK:
        if (!Visible()) Show();
        break;
      case WM_RBUTTONDOWN: {
        POINT p{};
        GetCursorPos(&p);
        PopupMenu("TNAPopUp", p.x, p.y);
        break;
      }
      default:
        break;
    }
    result = 0;
    return true;
  }
  return false;
}
