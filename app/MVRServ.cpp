// The program's main: COM on the main thread, the automation server's start, the windows.
#include <windows.h>

#include "app/Program.h"
#include "automation/MVR_AutoServ.h"

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
  const int rc = RunProgram();
  StopAutomationServer();
  return rc;
}
