#include <gtest/gtest.h>

#include "automation/StartMode.h"

TEST(StartMode, Switches) {
  EXPECT_EQ(ParseStartMode("/regserver"), StartMode::RegServer);
  EXPECT_EQ(ParseStartMode("-RegServer"), StartMode::RegServer);
  EXPECT_EQ(ParseStartMode("/UNREGSERVER"), StartMode::UnregServer);
  EXPECT_EQ(ParseStartMode("-Embedding"), StartMode::Automation);
  EXPECT_EQ(ParseStartMode("/automation"), StartMode::Automation);
  EXPECT_EQ(ParseStartMode("  \t/Automation  "), StartMode::Automation);
}

TEST(StartMode, NoSwitch) {
  EXPECT_EQ(ParseStartMode(nullptr), StartMode::Normal);
  EXPECT_EQ(ParseStartMode(""), StartMode::Normal);
  EXPECT_EQ(ParseStartMode("regserver"), StartMode::Normal);  // a word, not a switch
  EXPECT_EQ(ParseStartMode("/regserverx"), StartMode::Normal);
  EXPECT_EQ(ParseStartMode("/reg server"), StartMode::Normal);
  EXPECT_EQ(ParseStartMode("/"), StartMode::Normal);
  EXPECT_EQ(ParseStartMode("\\regserver"), StartMode::Normal);
}

TEST(StartMode, FirstKnownSwitchDecides) {
  EXPECT_EQ(ParseStartMode("/foo -unregserver /regserver"), StartMode::UnregServer);
  EXPECT_EQ(ParseStartMode("/Embedding /regserver"), StartMode::Automation);
  EXPECT_EQ(ParseStartMode("file.txt /REGSERVER"), StartMode::RegServer);
}
