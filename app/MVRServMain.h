// The main window: the link's clock (20 ms timer), the four counters, auto-hide, the icon in
// the notification area and the program's orderly end.
#pragma once
#include <windows.h>
#include <shellapi.h>

#include <functional>
#include <string>

#include "platform/Form.h"
#include "platform/NotifyIcon.h"
#include "platform/UiRules.h"

class TMVRtrx;

constexpr UINT WM_TNANOTIFY = WM_USER + 1;

// The program's releases, newest first, each line ended by CR alone (UTF-8).
extern const char* const ReleaseHistory;

class TMVRServMainFm : public TForm {
 public:
  explicit TMVRServMainFm(TMVRtrx& trx);
  ~TMVRServMainFm() override;

  // Bound by the program: the last sender's TimeOut event, the about box (with the release
  // history), the about box's log saving (to the given file), and the automation server's
  // question before the end (true = may end).
  std::function<void()> FireTimeOut;
  std::function<void(const std::string&)> ShowAbout;
  std::function<void(const std::string&)> SaveLog;
  std::function<bool()> ConfirmEnd;

  // The close handling once more after the message loop, if the window still exists.
  void CloseAfterLoop();

  bool StartSucceeded() const { return started_; }
  const TickSchedule& Schedule() const { return schedule_; }

 protected:
  bool HandleMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;
  void AfterClose() override;

 private:
  void FormCreate();
  void FormShow();
  void FormClose();
  void FormMouseMove(int x, int y);
  void TimerTimer();
  void ConSetupBtnClick();
  void AboutBtnClick();
  void ShowMnuClick();
  void BeendenMnuClick();
  void LoadWindowParams();
  void SaveWindowParams();
  void AddTNAIcon();
  void RemoveTNAIcon();
  // A port whose device went away is named in a line below the counters and in the tip.
  void ShowPortState();
  void SetTip();
  void EndSession();

  TMVRtrx& trx_;
  NOTIFYICONDATAA TNAData{};
  bool TNAIconAdded = false;
  NotifyIcon tray_;  // the icon made from TNAData while it is in the notification area
  TickSchedule schedule_;  // HideCountdown and TickCount
  bool started_ = false;   // the port opened at start; only then is anything stored
  bool portOpenBeforeClose_ = false;  // what a declined end reopens
  std::string portState_;  // the state line as shown; empty while the port is not away
};

extern TMVRServMainFm* MVRServMainFm;
