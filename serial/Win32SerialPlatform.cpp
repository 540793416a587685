#include "serial/Win32SerialPlatform.h"

#include "platform/MessageDlg.h"
#include "platform/Text.h"

Win32SerialPlatform& Win32SerialPlatform::Instance() {
  static Win32SerialPlatform platform;
  return platform;
}

void Win32SerialPlatform::ShowErrorBox(const std::string& text) {
  MessageDlg(AnsiToUtf8(text), MsgDlgType::Error, mbOK, 0, "Fehler");
}
