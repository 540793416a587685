#include "windows/LogList.h"

#include <cctype>
#include <cstdio>

std::string LogFileErrorText(const std::string& path) {
  return "Datei " + path + " kann nicht erstellt werden";
}

tLogList::tLogList(const std::string& startText, std::string fileName, Clock clock, FileWriter write,
                   ErrorReport report)
    : Enabled(!startText.empty()),
      FileName(std::move(fileName)),
      clock_(std::move(clock)),
      write_(std::move(write)),
      report_(std::move(report)) {
  const LogTime t = clock_();
  char date[32];
  std::snprintf(date, sizeof date, "%04d-%02d-%02d", t.Year, t.Month, t.Day);
  AddLine(startText + " started " + date);
}

tLogList::~tLogList() {
  AddLine("closed.");
  if (lines_.size() > 2) SaveToFile(FileName);
}

void tLogList::AddLine(const std::string& text) {
  if (!Enabled || text.empty()) return;
  const LogTime t = clock_();
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d ", t.Hour, t.Minute, t.Second);
  lines_.push_back(stamp + text);
}

std::string tLogList::Text() const {
  std::string out;
  for (const std::string& l : lines_) out += l + "\r\n";
  return out;
}

bool tLogList::SaveToFile(const std::string& path) const {
  if (write_ && write_(path, Text())) return true;
  // File names are compared without case, as the platform's file system does: the close
  // handling's ".log" and the end's ".Log" are one file.
  std::string key = path;
  for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (report_ && reported_.insert(key).second) report_(LogFileErrorText(path));
  return false;
}
