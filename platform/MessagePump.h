// Dispatches the thread's messages while the program waits for a state, and the program's
// main loop, which can also wake for a kernel object.
#pragma once
#include <windows.h>

#include <functional>
#include <vector>

// Dispatches messages until done() holds or ms have passed; returns done(). A WM_QUIT met on
// the way ends the wait and is posted again, for the loop that comes after.
bool PumpMessagesUntil(const std::function<bool()>& done, DWORD ms);

// A kernel object the main loop waits on besides messages, and what to do when it is set.
struct LoopWait {
  // The object to wait on now; nullptr leaves it out of this wait.
  std::function<HANDLE()> object;
  std::function<void()> onSignalled;
};

struct MainLoopHooks {
  // At most MAXIMUM_WAIT_OBJECTS - 1.
  std::vector<LoopWait> waits;
  // The queue is empty: work that must not run inside another call (a box) goes here.
  std::function<void()> onIdle;
};

// Runs until WM_QUIT and returns its code.
int RunMainLoop(const MainLoopHooks& hooks);
