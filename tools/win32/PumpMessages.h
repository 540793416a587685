// For the test programs and the script host: dispatches the thread's messages for a while. A
// client waiting for events must pump, since COM delivers them as messages to its
// single-threaded apartment.
#pragma once
#include <windows.h>

inline void PumpMessagesFor(DWORD ms) {
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
