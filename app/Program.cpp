#include "app/Program.h"

#include <windows.h>

#include "app/MVRServMain.h"
#include "automation/MVR_AutoServ.h"
#include "platform/Application.h"
#include "platform/MessagePump.h"
#include "serial/ComDlg.h"
#include "windows/AboutBox.h"
#include "windows/ShowText.h"
#include "windows/SysInfo.h"

namespace {

// Clears the bindings between the windows, the engine and the application however the run
// ends (a window that can't be created throws): nothing may reach the windows once they are
// gone.
class Unbind {
 public:
  Unbind(TMVRtrx& engine, TMVRServMainFm& mainFm, TAboutBoxFm& about)
      : engine_(engine), mainFm_(mainFm), about_(about) {}
  ~Unbind() {
    Application.EndRequest = nullptr;
    engine_.SetupUi = nullptr;
    ComDlgFm = nullptr;
    MVRServMainFm = nullptr;
    mainFm_.SaveLog = nullptr;
    mainFm_.ShowAbout = nullptr;
    about_.SysInfo = nullptr;
  }
  Unbind(const Unbind&) = delete;
  Unbind& operator=(const Unbind&) = delete;

 private:
  TMVRtrx& engine_;
  TMVRServMainFm& mainFm_;
  TAboutBoxFm& about_;
};

}  // namespace

int RunProgram() {
  Application.Title = "MVR Server";
  TMVRtrx& engine = *MVRtrx;
  // The five windows in this order; the main window's creation handler runs before the
  // others exist and must not use them.
  TMVRServMainFm mainFm(engine);
  TAboutBoxFm about;
  TComDlgFm comDlg;
  TSysInfoFm sysInfo;
  TTextFm textFm;
  ComDlgSetupUi setupUi(comDlg);
  int code = 0;
  {
    const Unbind unbind(engine, mainFm, about);
    MVRServMainFm = &mainFm;
    mainFm.FireTimeOut = [] {
      if (LastActive) LastActive->FireTimeOut();
    };
    mainFm.ConfirmEnd = [] { return ConfirmTerminate(); };
    mainFm.ShowAbout = [&about](const std::string& history) { about.ShowAbout(history); };
    mainFm.SaveLog = [&about](const std::string& file) { about.SaveLog(file); };
    // Every end asked of the application goes the main window's way.
    Application.EndRequest = [&mainFm] { mainFm.Close(); };
    mainFm.Create();
    about.Create();
    ComDlgFm = &comDlg;
    comDlg.Create();
    engine.SetupUi = &setupUi;
    sysInfo.Create();
    about.SysInfo = &sysInfo;
    textFm.Create();

    mainFm.Show();
    MainLoopHooks loop;
    // The port's error boxes are shown here, outside every client call and every Poll.
    loop.onIdle = [&engine] { engine.Serial.ShowPendingReports(); };
    // Answers reach their client when they arrive, not at the next tick; and the next waiting
    // frame goes to the line when the port's write is done.
    loop.waits.push_back({[&engine] { return engine.ArrivalEvent(); }, [&engine] { engine.ReceiveArrived(); }});
    loop.waits.push_back({[&engine] { return engine.LineEvent(); }, [&engine] { engine.FeedLine(); }});
    code = RunMainLoop(loop);
    while (ServeLateClient()) {
      Application.Resume();
      code = RunMainLoop(loop);
    }
    // The loop can end without a close (last client gone, port choice given up).
    mainFm.CloseAfterLoop();
  }
  // Destroyed in creation order: the about box's log gets its closing line (and its file),
  // and the start-up viewer writes its settings last.
  mainFm.Destroy();
  about.Destroy();
  comDlg.Destroy();
  sysInfo.Destroy();
  textFm.Destroy();
  return code;
}
