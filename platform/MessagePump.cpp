#include "platform/MessagePump.h"

#include <string>

#include "platform/Application.h"
#include "platform/Form.h"
#include "platform/MessageDlg.h"
#include "platform/Text.h"

void PumpMessagesFor(DWORD ms) {
  const DWORD end = GetTickCount() + ms;
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    const LONG left = static_cast<LONG>(end - GetTickCount());
    if (left <= 0) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left), QS_ALLINPUT);
  }
}

int RunMainLoop(const MainLoopHooks& hooks) {
  for (;;) {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
      if (m.message == WM_QUIT) {
        Application.Terminated = true;
        return static_cast<int>(m.wParam);
      }
      if (!PreTranslateFormMessage(m)) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
      }
    }
    if (hooks.onIdle) hooks.onIdle();
    HANDLE h = hooks.waitFor ? hooks.waitFor() : nullptr;
    // Input that arrived during onIdle and was only looked at still wakes the wait.
    DWORD r = MsgWaitForMultipleObjectsEx(h ? 1 : 0, h ? &h : nullptr, INFINITE, QS_ALLINPUT,
                                          MWMO_INPUTAVAILABLE);
    if (r == WAIT_FAILED && h) {
      // The object went bad: this time messages alone wake the loop.
      h = nullptr;
      r = MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
    if (r == WAIT_FAILED) {
      // Without messages the loop cannot go on: end as after a quit, with a failure code.
      const DWORD err = GetLastError();
      MessageDlg("Fehler in der Nachrichtenschleife: " + SystemErrorText(err) + " (Fehler " +
                     std::to_string(err) + ")",
                 MsgDlgType::Error, mbOK);
      return 1;
    }
    if (h && r == WAIT_OBJECT_0 && hooks.onSignalled) hooks.onSignalled();
  }
}
