// The system information window: program, version and holder, computer, user, operating
// system, memory, system folders and screen in a two-column grid; and the readers of the
// program's version resource and of the machine's names that it and the about box use.
#pragma once
#include <string>

#include "platform/Form.h"
#include "windows/SysInfoText.h"

// All texts UTF-8; none fails: what the platform can't deliver is empty.
std::string GetComputerNameStr();
std::string GetUserNameStr();
std::string GetOSVariable();
std::string GetWindowsVersion();
// The value after key in the program's version resource (skip: see FindVersionValue).
std::string ReadVersionValue(const std::string& key, int skip);
// "FileVersion", or "0.0.0.?" without one.
std::string GetFileVersion();
// The tail of "LegalCopyright", or "Ferrowane GmbH" without one.
std::string GetHolderText();

class TSysInfoFm : public TForm {
 public:
  TSysInfoFm();
  ~TSysInfoFm() override;

  // Fills the grid afresh and shows the window modally.
  void ShowInfo();

 private:
  void FormCreate();
  void FillRows();
  void AddRow(const std::string& name, const std::string& value);

  GridFill fill_{15};
};
