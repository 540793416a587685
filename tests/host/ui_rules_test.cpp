// Window rules that hold without a window system: placement on the screen, the size
// fields, the profile file's name and the main window's tick schedule.
#include <gtest/gtest.h>

#include "platform/UiRules.h"

TEST(DialogPlacement, KeepsTheWholeWindowOnTheScreen) {
  EXPECT_EQ(ClampOnScreen(10, 223, 1024), 10);
  EXPECT_EQ(ClampOnScreen(5000, 223, 1024), 1024 - 223);  // stored far right
  EXPECT_EQ(ClampOnScreen(801, 223, 1024), 801);          // exactly touching the edge
  EXPECT_EQ(ClampOnScreen(802, 223, 1024), 801);
  EXPECT_EQ(ClampOnScreen(-40, 223, 1024), 0);             // off the left edge
  EXPECT_EQ(ClampOnScreen(10, 2000, 1024), 0);             // wider than the screen: left wins
}

TEST(MainWindowPlacement, PullsTheWindowOntoTheScreenOnBothSides) {
  EXPECT_EQ(ClampOnScreen(2000, 189, 1024), 835);
  EXPECT_EQ(ClampOnScreen(835, 189, 1024), 835);
  EXPECT_EQ(ClampOnScreen(836, 189, 1024), 835);
  EXPECT_EQ(ClampOnScreen(-300, 189, 1024), 0);     // off the left edge: nobody would find it
  EXPECT_EQ(ClampOnScreen(-99999, 189, 1024), 0);
  EXPECT_EQ(ClampOnScreen(818, 189, 800), 611);     // the design place on a small screen
  EXPECT_EQ(ClampOnScreen(INT32_MIN, 189, 1024), 0);
  EXPECT_EQ(ClampOnScreen(INT32_MAX, 189, 1024), 835);
}

TEST(FoldOut, MovesUpOnlyWhenTheBottomWouldLeaveTheScreen) {
  EXPECT_EQ(TopAfterUnfold(10, 340, 768), 10);
  EXPECT_EQ(TopAfterUnfold(428, 340, 768), 428);
  EXPECT_EQ(TopAfterUnfold(500, 340, 768), 428);
  EXPECT_EQ(TopAfterUnfold(500, 340, 300), -40);  // the rule has no lower bound
}

TEST(SizeFieldKeys, PassControlCharactersAndDigitsOnly) {
  for (wchar_t c : {L'\b', L'\r', L'\x1b', L'\x16', L'0', L'5', L'9'}) EXPECT_TRUE(SizeFieldKeyPasses(c)) << int(c);
  for (wchar_t c : {L' ', L'-', L'+', L'a', L'/', L':', L'\x7f', L'\x0660', L'\xff10'})
    EXPECT_FALSE(SizeFieldKeyPasses(c)) << int(c);
}

TEST(SizeFieldText, FallbackAndLowerBound) {
  EXPECT_EQ(SizeFieldText("", 10000, 10), "10000");     // emptied input field
  EXPECT_EQ(SizeFieldText("", 1000, 5), "1000");        // emptied output field
  EXPECT_EQ(SizeFieldText("7", 10000, 10), "10");
  EXPECT_EQ(SizeFieldText("3", 1000, 5), "5");
  EXPECT_EQ(SizeFieldText("5", 1000, 5), "5");
  EXPECT_EQ(SizeFieldText("0042", 10000, 10), "42");    // leading zeros go
  EXPECT_EQ(SizeFieldText("999999", 10000, 10), "999999");  // no upper limit
  EXPECT_EQ(SizeFieldText("12a", 10000, 10), "10000");  // pasted text that is no number
}

TEST(SizeFieldValue, NoBoundOnlyTheFallback) {
  EXPECT_EQ(SizeFieldValue("3", 1000), 3);
  EXPECT_EQ(SizeFieldValue("", 10000), 10000);
  EXPECT_EQ(SizeFieldValue("x", 1000), 1000);
  EXPECT_EQ(SizeFieldValue("999999", 10000), 999999);
}

TEST(ProfileFileName, ProgramNameWithIniWithoutDirectory) {
  EXPECT_EQ(ProfileFileName("C:\\Programme\\MVR\\MVRServ.exe"), "MVRServ.Ini");
  EXPECT_EQ(ProfileFileName("Z:/work/build/app/MVRServ.EXE"), "MVRServ.Ini");
  EXPECT_EQ(ProfileFileName("C:\\a.b\\MVRServ"), "MVRServ.Ini");  // a dot in the folder only
  EXPECT_EQ(ProfileFileName("C:\\x\\my.server.exe"), "my.server.Ini");
  EXPECT_EQ(ProfileFileName("MVRServ.exe"), "MVRServ.Ini");
}

TEST(PathWithExtension, KeepsTheFolderAndReplacesTheLastExtension) {
  EXPECT_EQ(PathWithExtension("C:\\Programme\\MVR\\MVRServ.exe", ".log"), "C:\\Programme\\MVR\\MVRServ.log");
  EXPECT_EQ(PathWithExtension("C:\\a.b\\MVRServ", ".Log"), "C:\\a.b\\MVRServ.Log");  // a dot in the folder only
  EXPECT_EQ(PathWithExtension("Z:/x/my.server.exe", ".Log"), "Z:/x/my.server.Log");
}

TEST(CounterText, FullRangeWithoutSeparators) {
  EXPECT_EQ(CounterText(0), "0");
  EXPECT_EQ(CounterText(4294967295u), "4294967295");
  EXPECT_EQ(CounterText(static_cast<uint16_t>(65535)), "65535");
  EXPECT_EQ(CounterText(static_cast<uint16_t>(65536u)), "0");  // 16-bit counters wrap to 0
}

TEST(TickSchedule, EveryTwentiethTickIsSlow) {
  TickSchedule s;
  int slow = 0;
  for (int i = 1; i <= 100; ++i)
    if (s.Tick()) {
      ++slow;
      EXPECT_EQ(i % 20, 0) << i;
    }
  EXPECT_EQ(slow, 5);
  EXPECT_EQ(s.TickCount, 0);
}

TEST(TickSchedule, AutoHideAtTheEighthSlowTickOnly) {
  TickSchedule s;
  s.ArmAutoHide();
  for (int i = 1; i < 8; ++i) EXPECT_FALSE(s.AdvanceAutoHide()) << i;
  EXPECT_TRUE(s.AdvanceAutoHide());
  for (int i = 0; i < 20; ++i) EXPECT_FALSE(s.AdvanceAutoHide());  // fires once, stays off
  EXPECT_EQ(s.HideCountdown, 0);
}

TEST(TickSchedule, MouseMoveOrFailedStartMeansNoAutoHide) {
  TickSchedule never;  // a failed start never arms it
  for (int i = 0; i < 20; ++i) EXPECT_FALSE(never.AdvanceAutoHide());
  TickSchedule moved;
  moved.ArmAutoHide();
  moved.AdvanceAutoHide();
  moved.StopAutoHide();
  for (int i = 0; i < 20; ++i) EXPECT_FALSE(moved.AdvanceAutoHide());
}
