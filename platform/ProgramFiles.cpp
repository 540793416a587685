#include "platform/ProgramFiles.h"

#include <windows.h>

#include "platform/Text.h"
#include "platform/UiRules.h"

std::string ProgramPath() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return WideToUtf8(path);
}

std::string ProgramPathWithExtension(const char* extension) {
  return PathWithExtension(ProgramPath(), extension);
}

std::string ProgramProfileFile() { return Utf8ToAnsi(ProfileFileName(ProgramPath())); }
