// The about box: title and version, the vendor's contact fields, the icon (the run's log),
// the logo (system information) and the software label (the release report); and the run's
// log list, written at the end only when more than its start line was logged.
#pragma once
#include <memory>
#include <string>

#include "platform/Form.h"
#include "windows/LogList.h"

class TSysInfoFm;

// "V1.2c" from the program's file version.
std::string GetVersionString();
// "V1.2c MVRServ": the version string and the program file's name.
std::string GetVersionName();

class TAboutBoxFm : public TForm {
 public:
  TAboutBoxFm();
  ~TAboutBoxFm() override;

  // Fills the box and shows it modally; an empty history hides the release report.
  void ShowAbout(const std::string& history);
  void Log(const std::string& text);
  // Writes the log to fileName when it holds more than its start line.
  void SaveLog(const std::string& fileName);

  // The system information window the logo opens (created after the about box).
  TSysInfoFm* SysInfo = nullptr;

  const tLogList* LogList() const { return LogList_.get(); }

 private:
  void FormCreate();
  void FormShow();
  void FormDestroy();
  void ImageIconClick();
  void ImageLogoClick();
  void LabelSoftwareClick();

  std::string History;
  std::unique_ptr<tLogList> LogList_;
  OwnedBitmap logo_;
  int softwareSize_ = 0;  // points; shrinks until the caption fits and stays so
};
