// For the test programs and the script host: dispatches the thread's messages for a while. A
// client waiting for events must pump, since COM delivers them as messages to its
// single-threaded apartment.
#pragma once
#include <windows.h>

// Dispatches messages until done() or ms have passed; returns done(). Wakes for each message,
// so a round trip is timed to the event, not to a polling period.
template <class Done>
bool DispatchUntil(Done done, DWORD ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (done()) return true;
    const DWORD gone = GetTickCount() - start;
    if (gone >= ms) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - gone, QS_ALLINPUT);
  }
}

inline void PumpMessagesFor(DWORD ms) {
  DispatchUntil([] { return false; }, ms);
}
