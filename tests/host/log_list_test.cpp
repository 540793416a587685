// The run's log list: start line, time stamps, when it is written and how.
#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "windows/LogList.h"

namespace {

struct Disk {
  std::map<std::string, std::string> files;
  std::set<std::string> unwritable;
  std::vector<std::string> errors;
  LogTime now{2010, 1, 15, 14, 3, 27};

  std::unique_ptr<tLogList> Log(const std::string& start = "V1.2c MVRServ") {
    return std::make_unique<tLogList>(
        start, "C:\\MVR\\MVRServ.Log", [this] { return now; },
        [this](const std::string& path, const std::string& bytes) {
          if (unwritable.count(path)) return false;
          files[path] = bytes;
          return true;
        },
        [this](const std::string& message) { errors.push_back(message); });
  }
};

}  // namespace

TEST(LogList, StartLineNamesVersionAndDate) {
  Disk d;
  auto log = d.Log();
  ASSERT_EQ(log->Count(), 1u);
  EXPECT_EQ(log->Lines()[0], "14:03:27 V1.2c MVRServ started 2010-01-15");
  EXPECT_TRUE(log->Enabled);
  d.now = {2010, 1, 15, 9, 5, 7};
  log->AddLine("Report");
  log->AddLine("");  // empty texts are not logged
  EXPECT_EQ(log->Lines().back(), "09:05:07 Report");
  EXPECT_EQ(log->Count(), 2u);
}

TEST(LogList, NothingWrittenWithOnlyTheStartLine) {
  Disk d;
  d.Log().reset();  // start line + "closed.": two lines, no file
  EXPECT_TRUE(d.files.empty());
  auto log = d.Log();
  EXPECT_FALSE(log->Count() > 1);  // what SaveLog checks
  EXPECT_TRUE(d.files.empty());
}

TEST(LogList, WrittenWithCrLfWhenMoreWasLogged) {
  Disk d;
  d.files["C:\\MVR\\MVRServ.Log"] = "old contents that must go";
  auto log = d.Log();
  log->AddLine("Logfile");
  d.now.Second = 30;
  log.reset();
  EXPECT_EQ(d.files["C:\\MVR\\MVRServ.Log"],
            "14:03:27 V1.2c MVRServ started 2010-01-15\r\n14:03:27 Logfile\r\n14:03:30 closed.\r\n");
  EXPECT_TRUE(d.errors.empty());
}

TEST(LogList, SaveToFileReplacesTheGivenFile) {
  Disk d;
  auto log = d.Log();
  log->AddLine("SysInfo");
  EXPECT_TRUE(log->SaveToFile("C:\\MVR\\MVRServ.log"));
  EXPECT_EQ(d.files["C:\\MVR\\MVRServ.log"], log->Text());
  log->AddLine("Report");
  EXPECT_TRUE(log->SaveToFile("C:\\MVR\\MVRServ.log"));
  EXPECT_EQ(d.files["C:\\MVR\\MVRServ.log"].size(), log->Text().size());
}

TEST(LogList, AnEmptyStartTextDisablesTheLog) {
  Disk d;
  auto log = d.Log("");
  EXPECT_FALSE(log->Enabled);
  EXPECT_EQ(log->Count(), 0u);
  log->AddLine("x");
  log.reset();
  EXPECT_TRUE(d.files.empty());
}

TEST(LogList, AnUnwritableFileIsReportedOnceAndNothingThrows) {
  Disk d;
  d.unwritable.insert("C:\\MVR\\MVRServ.Log");
  d.unwritable.insert("C:\\MVR\\MVRServ.log");
  auto log = d.Log();
  log->AddLine("Logfile");
  EXPECT_FALSE(log->SaveToFile("C:\\MVR\\MVRServ.log"));  // the close handling
  EXPECT_FALSE(log->SaveToFile("C:\\MVR\\MVRServ.log"));  // and its second run
  EXPECT_NO_THROW(log.reset());                            // the end tries once more
  ASSERT_EQ(d.errors.size(), 1u);
  EXPECT_EQ(d.errors[0], "Datei C:\\MVR\\MVRServ.log kann nicht erstellt werden");
}
