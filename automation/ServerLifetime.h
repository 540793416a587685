// How long the server process lives: its automation objects and locks, its class object, and
// the end of a process that COM started for its clients once none is left.
//
// Windows' SCM withdraws a class object and starts a new server for whoever comes next in one
// step. Wine's service process hands out the class object until the withdrawal reaches it, so
// a client can be handed it just before and ask this process for it just after. The end after
// the last client therefore goes in steps: the class object stays a while for clients close
// behind; then it is withdrawn, and a request for it that still comes registers it again.
#pragma once
#include <windows.h>

#include <unknwn.h>

#include "automation/ServerClaim.h"

namespace ServerLifetime {

// One serving process at a time (ServerClaim). ServeIfAsked for a spare: a process started by
// COM while another one served, probably for a client that was served there; End when no
// client can be waiting for this process.
ServerClaim::Outcome Claim(bool automationStart);

// Registers the class object; automationStart: the process lives only for its clients.
HRESULT Register(IClassFactory* factory, bool automationStart);

// A spare process waits for a client of its own, showing nothing; false: none came.
bool AwaitFirstClient();

void ObjectCreated();
void ObjectDestroyed();
void Lock(bool lock);
long ObjectCount();

// After the main loop: true when it ended because the last client left, yet a client came
// before the end: the loop must run on for that client.
bool ServeLateClient();

// Withdraws the class object and lets the claim go; before CoUninitialize.
void Stop();

}  // namespace ServerLifetime
