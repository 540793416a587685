#include "app/Program.h"

#include <windows.h>

#include "app/MVRServMain.h"
#include "automation/MVR_AutoServ.h"
#include "platform/Application.h"
#include "serial/ComDlg.h"
#include "windows/AboutBox.h"
#include "windows/ShowText.h"
#include "windows/SysInfo.h"

int RunProgram() {
  Application.Title = "MVR Server";
  TMVRtrx& engine = *MVRtrx;

  TMVRServMainFm mainFm(engine);
  MVRServMainFm = &mainFm;
  mainFm.FireTimeOut = [] {
    if (LastActive) LastActive->FireTimeOut();
  };
  mainFm.ConfirmEnd = [] { return ConfirmTerminate(); };
  mainFm.Create();
  TAboutBoxFm about;
  about.Create();
  mainFm.ShowAbout = [&about] { about.ShowModal(); };
  TComDlgFm comDlg;
  ComDlgFm = &comDlg;
  comDlg.Create();
  ComDlgSetupUi setupUi(comDlg);
  engine.SetupUi = &setupUi;
  TSysInfoFm sysInfo;
  sysInfo.Create();
  TTextFm textFm;
  textFm.Create();

  mainFm.Show();
  const int code = RunMessageLoop();
  // The loop can end without a close (last client gone, port choice given up).
  mainFm.CloseAfterLoop();
  engine.SetupUi = nullptr;
  ComDlgFm = nullptr;
  MVRServMainFm = nullptr;
  return code;
}
