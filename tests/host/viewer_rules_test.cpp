// The text viewer's settings, its height rule and names, and the about box's font fitting.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "windows/ViewerRules.h"

namespace {
ViewerSettings Read(const std::map<std::string, std::string>& file, int w = 1024, int h = 768) {
  return ReadViewerSettings(
      [&](const char* key) -> std::optional<std::string> {
        auto it = file.find(key);
        if (it == file.end()) return std::nullopt;
        return it->second;
      },
      w, h);
}
}  // namespace

TEST(ViewerSettings, DefaultsWithoutAFile) {
  const ViewerSettings s = Read({});
  EXPECT_EQ(s.Width, 640);
  EXPECT_EQ(s.Height, 150);
  EXPECT_EQ(s.Left, 10);
  EXPECT_EQ(s.Top, 10);
  EXPECT_EQ(s.State, 0);
  EXPECT_EQ(s.Font, "Courier");
  EXPECT_EQ(s.Size, 8);
  EXPECT_EQ(s.Style, 0);
  EXPECT_TRUE(s.Wrap);
  EXPECT_EQ(s.FontColor, 0);
  EXPECT_EQ(s.BackColor, -2147483643);
}

TEST(ViewerSettings, ValuesAreClampedIntoTheirRanges) {
  EXPECT_EQ(Read({{"Size", "100"}}).Size, 72);
  EXPECT_EQ(Read({{"Size", "2"}}).Size, 4);
  EXPECT_EQ(Read({{"Style", "31"}}).Style, 15);
  EXPECT_EQ(Read({{"State", "5"}}).State, 2);
  EXPECT_EQ(Read({{"State", "-1"}}).State, 0);
  EXPECT_EQ(Read({{"Left", "5000"}}).Left, 384);  // 1024 - 640
  EXPECT_EQ(Read({{"Left", "-20"}}).Left, 0);
  EXPECT_EQ(Read({{"Top", "5000"}}).Top, 618);    // 768 - 150
  EXPECT_EQ(Read({{"Width", "3000"}}).Width, 1024);
  EXPECT_EQ(Read({{"Height", "-5"}}).Height, 0);
  // The position's range follows the width just read.
  const ViewerSettings narrow = Read({{"Width", "200"}, {"Left", "5000"}});
  EXPECT_EQ(narrow.Left, 824);
}

TEST(ViewerSettings, HexadecimalAndBrokenValues) {
  EXPECT_EQ(Read({{"Width", "0x200"}}).Width, 512);
  EXPECT_EQ(Read({{"Width", "0X1F4"}}).Width, 500);
  EXPECT_EQ(Read({{"Width", "abc"}}).Width, 640);
  EXPECT_EQ(Read({{"Width", "0x"}}).Width, 640);  // two characters: no hexadecimal, no number
  EXPECT_EQ(Read({{"Width", "0xZZ"}}).Width, 640);
  EXPECT_EQ(Read({{"Width", ""}}).Width, 640);
  EXPECT_EQ(Read({{"BackColor", "0x80000005"}}).BackColor, -2147483643);
  EXPECT_EQ(Read({{"FontColor", "0xFF"}}).FontColor, 255);
  EXPECT_EQ(Read({{"Wrap", "0"}}).Wrap, false);
  EXPECT_EQ(Read({{"Wrap", "7"}}).Wrap, true);
  EXPECT_EQ(Read({{"Wrap", "no"}}).Wrap, true);
  EXPECT_EQ(Read({{"Font", "Arial"}}).Font, "Arial");
}

TEST(ViewerSettings, WrittenBackInOrderBoundsOnlyWhenNormal) {
  ViewerSettings s;
  s.Wrap = false;
  const auto normal = ViewerSettingsToWrite(s);
  std::vector<std::string> keys;
  for (const auto& kv : normal) keys.push_back(kv.first);
  EXPECT_EQ(keys, (std::vector<std::string>{"State", "Left", "Top", "Width", "Height", "Wrap", "Font", "Size",
                                            "Style", "FontColor", "BackColor"}));
  EXPECT_EQ(normal[5].second, "0");
  EXPECT_EQ(normal.back().second, "-2147483643");
  s.State = 2;
  const auto maximised = ViewerSettingsToWrite(s);
  ASSERT_EQ(maximised.size(), 7u);
  EXPECT_EQ(maximised[0], (std::pair<std::string, std::string>{"State", "2"}));
  EXPECT_EQ(maximised[1].first, "Wrap");
}

TEST(ViewerSettings, ClampAppliesTheUpperLimitFirst) {
  EXPECT_EQ(ClampRange(5, 0, 3), 3);
  EXPECT_EQ(ClampRange(-5, 0, 3), 0);
  EXPECT_EQ(ClampRange(5, 0, -10), 0);  // a viewer wider than the screen sits at 0
}

TEST(ViewerHeight, ThirteenPixelsALineBetween150AndTheScreen) {
  EXPECT_EQ(ViewerHeight(3, 768), 150);
  EXPECT_EQ(ViewerHeight(40, 768), 566);
  EXPECT_EQ(ViewerHeight(100, 768), 768);
  EXPECT_EQ(ViewerHeight(100, 120), 150);  // the lower limit wins on a tiny screen
}

TEST(ViewerHeight, LinesCountedAsTheTextBoxDoes) {
  EXPECT_EQ(CountTextLines(""), 0);
  EXPECT_EQ(CountTextLines("a"), 1);
  EXPECT_EQ(CountTextLines("a\r\nb\r\n"), 2);
  EXPECT_EQ(CountTextLines("a\rb\rc\r"), 3);  // the release history's CR-only lines
  EXPECT_EQ(CountTextLines("a\n\nb"), 3);
  EXPECT_EQ(CountTextLines("a\r\n\r\n"), 2);
}

TEST(UniqueName, SmallestFreeNumberWithoutRegardToCase) {
  std::set<std::string> live;
  auto taken = [&](const std::string& n) { return live.count(n) != 0; };
  EXPECT_EQ(UniqueName("TextFm", taken), "TextFm");
  live.insert("textfm");
  EXPECT_EQ(UniqueName("TextFm", taken), "TextFm_1");
  live.insert("textfm_1");
  live.insert("textfm_3");
  EXPECT_EQ(UniqueName("TextFm", taken), "TextFm_2");
}

TEST(FittingFontSize, ShrinksPointByPointAndStopsAtTheLimit) {
  auto width = [](int perPoint) { return [perPoint](int size) { return size * perPoint; }; };
  EXPECT_EQ(FittingFontSize(17, 6, 393, width(10)), 17);  // 170 pixels fit
  EXPECT_EQ(FittingFontSize(17, 6, 393, width(30)), 13);  // 390 <= 393
  int calls = 0;
  auto never = [&](int) { ++calls; return 1000; };
  EXPECT_EQ(FittingFontSize(17, 6, 393, never), 6);       // can never fit: ends at 6 points
  EXPECT_EQ(calls, 11);
}

TEST(ColorValue, SystemColoursByTheirLowByte) {
  auto sys = [](int index) { return 0x100u + static_cast<uint32_t>(index); };
  EXPECT_EQ(ColorValueToRgb(-2147483643, sys), 0x105u);
  EXPECT_EQ(ColorValueToRgb(0x00FF8040, sys), 0x00FF8040u);
  EXPECT_EQ(ColorValueToRgb(0x12345678, sys), 0x00345678u);
}
