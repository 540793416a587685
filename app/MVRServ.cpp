// The program's main: COM on the main thread, the automation server's start, the windows.
#include <windows.h>

#include "app/Program.h"
#include "automation/MVR_AutoServ.h"
#include "platform/Boundary.h"
#include "platform/MessageDlg.h"
#include "platform/Text.h"

namespace {
// COM stays initialised for the whole run of the main thread.
class ComApartment {
 public:
  ComApartment() : ok_(SUCCEEDED(OleInitialize(nullptr))) {}
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() {
    if (ok_) OleUninitialize();
  }
  bool Ok() const { return ok_; }

 private:
  bool ok_;
};
}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR cmdLine, int) {
  ComApartment com;
  if (!com.Ok()) return 1;
  const ServerStart start = StartAutomationServer(cmdLine);
  if (start.EndNow) {
    StopAutomationServer();
    return start.ExitCode;
  }
  // The last boundary: a window that could not be created, or any other error that left
  // the program without its windows, is shown and ends it with a failure code.
  const int rc = GuardWindowCall([] { return RunProgram(); }, 1, [](const std::string& text) {
    // Also for a debugger: without a desktop not even the box can be shown.
    OutputDebugStringW(Utf8ToWide("MVR Server: " + text + "\n").c_str());
    MessageDlg(text, MsgDlgType::Error, mbOK);
  });
  StopAutomationServer();
  return rc;
}
