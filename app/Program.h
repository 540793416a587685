// The program's windows and message loop, after the automation server has started.
#pragma once

// Creates the five windows in order, runs the loop, closes the main window once more after
// it, and returns the exit code.
int RunProgram();
