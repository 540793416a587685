// Program-wide facts the windows show, the main window, and the program's end.
#pragma once
#include <windows.h>

#include <functional>
#include <string>

struct TApplication {
  std::string Title;
  // The first form created: it owns the other forms and the message boxes, so they get no
  // taskbar button of their own and stay in front of it.
  HWND MainWindow = nullptr;
  // The message loop has been asked to quit: modal loops end at once and start no more.
  bool Terminated = false;
  // The end as the main window's close does it (close handling, the automation server's
  // question, then Terminate); bound by the program.
  std::function<void()> EndRequest;

  // Ends the message loop (and every modal loop on the way out).
  void Terminate();
  // The message loop runs again after it ended (a client came during the end): the quit
  // it ended for is used up, and modal forms open again.
  void Resume();
  // Asks the program to end through EndRequest; the user may still keep it running.
  void RequestEnd();
};

extern TApplication Application;
