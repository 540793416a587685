// The run's log: time-stamped lines that start with one line naming program, version and
// date, written to a file only when more than that start line was logged. Portable: the
// clock, the file and the error box are handed in.
#pragma once
#include <functional>
#include <set>
#include <string>
#include <vector>

struct LogTime {
  int Year, Month, Day, Hour, Minute, Second;
};

class tLogList {
 public:
  using Clock = std::function<LogTime()>;
  // Replaces the file with the bytes; false when it can't be created or written.
  using FileWriter = std::function<bool(const std::string& path, const std::string& bytes)>;
  // Shows a failure to the user (the program's error box).
  using ErrorReport = std::function<void(const std::string& message)>;

  // Enabled when startText is not empty; then the start line "<startText> started yyyy-mm-dd".
  tLogList(const std::string& startText, std::string fileName, Clock clock, FileWriter write,
           ErrorReport report);
  // Adds "closed." and writes the file when anything besides the start and closing lines
  // was logged. A file that can't be written is reported, never thrown.
  ~tLogList();
  tLogList(const tLogList&) = delete;
  tLogList& operator=(const tLogList&) = delete;

  // Appends "hh:nn:ss <text>" while enabled; empty texts are ignored.
  void AddLine(const std::string& text);
  // Every line ended by CR LF, as the file holds them.
  std::string Text() const;
  // Writes all lines to path, replacing the file; a failure is reported (once per file) and
  // gives false.
  bool SaveToFile(const std::string& path) const;

  size_t Count() const { return lines_.size(); }
  const std::vector<std::string>& Lines() const { return lines_; }

  bool Enabled;
  std::string FileName;

 private:
  std::vector<std::string> lines_;
  // Files already reported as unwritable: the close handling and the end try the same file
  // again, and one error box per file is enough.
  mutable std::set<std::string> reported_;
  Clock clock_;
  FileWriter write_;
  ErrorReport report_;
};

// "Datei <path> kann nicht erstellt werden"
std::string LogFileErrorText(const std::string& path);
