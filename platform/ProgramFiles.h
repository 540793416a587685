// The program file and the files named after it: the log file beside it and the profile file
// in the Windows folder.
#pragma once
#include <string>

// The program file's full path (UTF-8).
std::string ProgramPath();
// The program file's full path with its extension replaced (UTF-8).
std::string ProgramPathWithExtension(const char* extension);
// The profile file's name: the program file's name with ".Ini", without directory, so that
// the profile functions keep it in the Windows folder. In the ANSI code page, as they take it.
std::string ProgramProfileFile();
