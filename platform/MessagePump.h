// Dispatches the thread's messages for a while: a client waiting for events must pump, since
// COM delivers them as messages to its single-threaded apartment.
#pragma once
#include <windows.h>

void PumpMessagesFor(DWORD ms);
