// Dispatches the thread's messages for a while: a client waiting for events must pump, since
// COM delivers them as messages to its single-threaded apartment. And the program's main
// loop, which can also wake for a kernel object.
#pragma once
#include <windows.h>

#include <functional>

void PumpMessagesFor(DWORD ms);

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
