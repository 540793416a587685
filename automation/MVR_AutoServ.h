// The automation unit: the link engine, the last sender, the automation object's class
// factory and the server's start, lifetime and end. The main window uses only this header.
#pragma once
#include "automation/AutoServCore.h"
#include "automation/StartMode.h"
#include "link/MVR_TRX.h"

// The one link engine, created before the program's main code (answer time-out 16 polls).
extern TMVRtrx* MVRtrx;

struct ServerStart {
  StartMode Mode = StartMode::Normal;
  bool EndNow = false;  // after REGSERVER/UNREGSERVER or a failed start
  int ExitCode = 0;
};

// Handles the switches, registers the server again (except UNREGSERVER) and registers the
// class object. COM must be initialised on the calling (main) thread.
ServerStart StartAutomationServer(const char* cmdLine);
// After the main loop: true when it ended because the last client left, yet a client came
// before the end (it had the class object already): the loop must run on for that client.
bool ServeLateClient();
// Revokes the class object and drops the type library; before CoUninitialize.
void StopAutomationServer();

// Automation objects alive now.
long ServerObjectCount();
// Asks the user when objects exist; true = the program may end.
bool ConfirmTerminate();
