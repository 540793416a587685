#include "platform/MessagePump.h"

#include "platform/Form.h"

bool PumpMessagesUntil(const std::function<bool()>& done, DWORD ms) {
  const DWORD end = GetTickCount() + ms;
  while (!done()) {
    MSG msg;
    if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(msg.wParam));
        break;
      }
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
      continue;
    }
    const LONG left = static_cast<LONG>(end - GetTickCount());
    if (left <= 0) break;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left), QS_ALLINPUT);
  }
  return done();
}

namespace {

// Returns false when the loop must end: *code is then its exit code.
bool Dispatch(const MSG& msg, int* code) {
  if (msg.message == WM_QUIT) {
    *code = static_cast<int>(msg.wParam);
    return false;
  }
  MSG m = msg;
  if (!PreTranslateFormMessage(m)) {
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
  return true;
}

}  // namespace

int RunMainLoop(const MainLoopHooks& hooks) {
  int code = 0;
  HANDLE objects[MAXIMUM_WAIT_OBJECTS];
  const LoopWait* owners[MAXIMUM_WAIT_OBJECTS];
  for (;;) {
    if (hooks.onIdle) hooks.onIdle();
    DWORD count = 0;
    for (const LoopWait& w : hooks.waits) {
      HANDLE h = w.object ? w.object() : nullptr;
      if (!h || count == MAXIMUM_WAIT_OBJECTS - 1) continue;
      objects[count] = h;
      owners[count++] = &w;
    }
    MSG m;
    if (count == 0) {
      // Nothing to wait for but messages: the plain wait, the cheapest when idle.
      const BOOL got = GetMessageW(&m, nullptr, 0, 0);
      if (got < 0) return 1;
      if (got == 0 || !Dispatch(m, &code)) return got == 0 ? static_cast<int>(m.wParam) : code;
      continue;
    }
    // Input already in the queue (seen but not removed) still ends the wait at once.
    const DWORD r = MsgWaitForMultipleObjectsEx(count, objects, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (r < WAIT_OBJECT_0 + count && owners[r - WAIT_OBJECT_0]->onSignalled)
      owners[r - WAIT_OBJECT_0]->onSignalled();
    // One message per turn: a stream of data cannot hold messages back.
    if (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE) && !Dispatch(m, &code)) return code;
  }
}
