#include "automation/StartMode.h"

#include <cctype>
#include <string>

namespace {
bool SameText(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i]; ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != b[i]) return false;
  return i == a.size() && !b[i];
}
}  // namespace

StartMode ParseStartMode(const char* cmdLine) {
  if (!cmdLine) return StartMode::Normal;
  const std::string line(cmdLine);
  size_t pos = 0;
  while (pos < line.size()) {
    while (pos < line.size() && std::isspace(static_cast<unsigned char>(line[pos]))) ++pos;
    size_t end = pos;
    while (end < line.size() && !std::isspace(static_cast<unsigned char>(line[end]))) ++end;
    const std::string word = line.substr(pos, end - pos);
    pos = end;
    if (word.size() < 2 || (word[0] != '/' && word[0] != '-')) continue;
    const std::string name = word.substr(1);
    if (SameText(name, "REGSERVER")) return StartMode::RegServer;
    if (SameText(name, "UNREGSERVER")) return StartMode::UnregServer;
    if (SameText(name, "AUTOMATION") || SameText(name, "EMBEDDING")) return StartMode::Automation;
  }
  return StartMode::Normal;
}
