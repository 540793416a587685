#include "app/MVRServMain.h"

#include <cstring>

#include "link/MVR_TRX.h"
#include "platform/Application.h"
#include "platform/MessageDlg.h"
#include "platform/ProgramFiles.h"
#include "platform/RegistryIniFile.h"
#include "platform/Text.h"
#include "resources/ui_ids.h"

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
  return {L"TMVRServMainFm", "MVR Server", 183, 124, FormFrame::Main, 818, 572,
          {{"MS Sans Serif", 10}, {"Courier New", 12, fsBold}}};
}

std::vector<ComponentDef> MainComponents() {
  using K = CompKind;
  return {
      Comp("ImgToolbuttons", K::ImageList, 0, 0, 16, 16, "202\n203"),
      Comp("ToolBar", K::ToolBar, 0, 0, 183, 30).Style(csFlat).Extra(28).In("ImgToolbuttons"),
      Comp("ConSetupBtn", K::ToolButton, 0, 0, 28, 26, "Config")
          .Hint("Einstellen der seriellen Schnittstelle")
          .In("ToolBar")
          .On("ConSetupBtnClick"),
      Comp("InfoBtn", K::ToolButton, 0, 0, 28, 26, "Information")
          .Extra(1)
          .Hint("Über uns...")
          .In("ToolBar")
          .On("AboutBtnClick"),
      Comp("Label1", K::Label, 0, 33, 81, 13, "Gesendet:").Style(csRight),
      Comp("Label2", K::Label, 0, 52, 81, 13, "Empfangen:").Style(csRight),
      Comp("Label3", K::Label, 0, 72, 81, 13, "CRC-Fehler:").Style(csRight),
      Comp("Label4", K::Label, 1, 91, 81, 13, "Timeout-Fehler:").Style(csRight),
      Comp("TXLabel", K::Label, 85, 33, 59, 13, "0").Font(1).Style(csRight),
      Comp("RXLabel", K::Label, 85, 52, 59, 13, "0").Font(1).Style(csRight),
      Comp("CRCErrLabel", K::Label, 85, 72, 59, 13, "0").Font(1).Style(csRight),
      Comp("TOLabel", K::Label, 85, 91, 59, 13, "0").Font(1).Style(csRight),
      Comp("Label5", K::Label, 150, 33, 30, 13, "Bytes"),
      Comp("Label6", K::Label, 150, 52, 30, 13, "Bytes"),
      // Shown only while the port is away, over the free area below the counters.
      Comp("PortStateLabel", K::Label, 2, 108, 179, 13).Style(csHidden),
      Comp("TNAIcon", K::Image, 158, 80, 13, 13).Picture(IDI_TNA),
      Comp("Timer", K::Timer).Extra(20).On("TimerTimer"),
      Comp("TNAPopUp", K::PopupMenu),
      Comp("ShowMnu", K::MenuItem, 0, 0, 0, 0, "&Wiederherstellen").In("TNAPopUp").On("ShowMnuClick"),
      Comp("N1", K::MenuItem, 0, 0, 0, 0, "-").In("TNAPopUp"),
      Comp("BeendenMnu", K::MenuItem, 0, 0, 0, 0, "&Beenden").In("TNAPopUp").On("BeendenMnuClick"),
  };
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
  tray_.Add(TNAData);
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
  tray_.Modify(TNAData);
}

void TMVRServMainFm::RemoveTNAIcon() { tray_.Delete(); }

void TMVRServMainFm::FormClose() {
  // A start without a port never read the stored values: writing now would replace them
  // with the design position and the built-in settings.
  if (started_) SaveWindowParams();
  if (trx_.IsOpen() || trx_.PortAway()) portOpenBeforeClose_ = true;
  trx_.Close();
  // The log list's own file, named ".Log" by the about box: the same file, as the file
  // system ignores case.
  if (SaveLog) SaveLog(ProgramPathWithExtension(".log"));
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
    tray_.Restore();
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
