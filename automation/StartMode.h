// How the program was started, from the automation switches of its command line.
#pragma once

enum class StartMode { Normal, RegServer, UnregServer, Automation };

// A switch begins with '/' or '-' and may be in any case; the first known one decides.
StartMode ParseStartMode(const char* cmdLine);
