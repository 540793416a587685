// Dispatches the thread's messages while the program waits for a state, and the program's
// main loop, which can also wake for a kernel object.
#pragma once
#include <windows.h>

#include <functional>

// Dispatches messages until done() holds or ms have passed; returns done(). A WM_QUIT met on
// the way ends the wait and is posted again, for the loop that comes after.
bool PumpMessagesUntil(const std::function<bool()>& done, DWORD ms);

struct MainLoopHooks {
  // The object to wait on besides messages; nullptr: messages alone.
  std::function<HANDLE()> waitFor;
  // That object was signalled.
  std::function<void()> onSignalled;
  // The queue is empty: work that must not run inside another call (a box) goes here.
  std::function<void()> onIdle;
};

// Runs until WM_QUIT and returns its code.
int RunMainLoop(const MainLoopHooks& hooks);
