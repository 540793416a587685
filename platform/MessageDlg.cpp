#include "platform/MessageDlg.h"

#include <windows.h>

#include "platform/Text.h"

// Plain system box for now; the German-button dialog replaces this body.
int MessageDlg(const std::string& text, MsgDlgType type, unsigned buttons, unsigned defaultButton,
               const std::string& caption) {
  UINT flags = MB_TASKMODAL;
  switch (type) {
    case MsgDlgType::Warning: flags |= MB_ICONWARNING; break;
    case MsgDlgType::Error: flags |= MB_ICONERROR; break;
    case MsgDlgType::Information: flags |= MB_ICONINFORMATION; break;
    case MsgDlgType::Confirmation: flags |= MB_ICONQUESTION; break;
  }
  if ((buttons & mbYes) && (buttons & mbNo)) flags |= MB_YESNO;
  if (defaultButton == mbNo) flags |= MB_DEFBUTTON2;
  const char* kCaptions[] = {"Warnung", "Fehler", "Information", "Bestätigen"};
  const std::string title = caption.empty() ? kCaptions[static_cast<int>(type)] : caption;
  const int r = MessageBoxW(nullptr, Utf8ToWide(text).c_str(), Utf8ToWide(title).c_str(), flags);
  switch (r) {
    case IDYES: return mrYes;
    case IDNO: return mrNo;
    case IDCANCEL: return mrCancel;
    case IDABORT: return mrAbort;
    default: return (buttons & mbAbort) ? mrAbort : mrOk;
  }
}
