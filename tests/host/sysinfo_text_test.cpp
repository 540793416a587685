// The system information window's texts and its rows.
#include <gtest/gtest.h>

#include "windows/SysInfoText.h"

TEST(SysInfoText, WindowsVersionByPlatform) {
  EXPECT_EQ(WindowsVersionText(2, 5, 0, 2195, "Service Pack 4"), "Windows NT 5.0 (Build 2195: Service Pack 4)");
  EXPECT_EQ(WindowsVersionText(2, 5, 1, 2600, ""), "Windows NT 5.1 (Build 2600)");
  // The 95 family keeps only the build number's low word.
  EXPECT_EQ(WindowsVersionText(1, 4, 10, 0x040A08AE, " A "), "Windows 95 4.10 (Build 2222:  A )");
  EXPECT_EQ(WindowsVersionText(1, 4, 0, 0x04000395, ""), "Windows 95 4.0 (Build 917)");
  // Other platforms: the id after the name, no build and no service pack.
  EXPECT_EQ(WindowsVersionText(3, 1, 0, 1234, "Service Pack 1"), "Windows3 1.0");
  EXPECT_EQ(WindowsVersionText(0, 3, 11, 0, ""), "Windows0 3.11");
}

TEST(SysInfoText, MegabytesWithTheUsersSeparator) {
  EXPECT_EQ(MegabytesText(268435456u, ","), "256,000MB");
  EXPECT_EQ(MegabytesText(268435456u, "."), "256.000MB");
  EXPECT_EQ(MegabytesText(267911168u, ","), "255,500MB");
  // At least five characters, three decimals; the largest 32-bit count.
  EXPECT_EQ(MegabytesText(0u, ","), "0,000MB");
  EXPECT_EQ(MegabytesText(4294967295u, ","), "4096,000MB");
}

namespace {
SysFacts Facts() {
  SysFacts f;
  f.Title = "MVR Server";
  f.ProgramPath = "C:\\MVR\\MVRServ.exe";
  f.FileVersion = "1.2.3.0";
  f.Holder = "Copyright (C) Brightloom";
  f.MemoryLoad = 42;
  f.TotalPhys = 268435456u;
  f.DecimalSeparator = ",";
  f.ScreenWidth = 1024;
  f.ScreenHeight = 768;
  f.PixelsPerInch = 96;
  f.BitsPerPixel = 24;
  return f;
}
}  // namespace

TEST(SysInfoRows, OrderHeadingsAndFormats) {
  const auto rows = SysInfoRows(Facts());
  ASSERT_EQ(rows.size(), 23u);
  const char* names[] = {"Name", "Programm", "Version", "Copyright", "Computer", "Bezeichnung", "Benutzer",
                         "System", "OS", "Speicher", "Auslastung", "Total Phys.", "Frei Phys.",
                         "Total Page", "Frei Page", "Total Virtual", "Frei Virtual", "Windows Directory",
                         "System Directory", "Bildschirm", "Auflösung", "PixelPerInch", "Farben"};
  for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i].Name, names[i]) << i;
  EXPECT_EQ(rows[0].Value, "MVR Server");
  EXPECT_EQ(rows[2].Value, "1.2.3.0");
  for (size_t heading : {4u, 9u, 19u}) EXPECT_EQ(rows[heading].Value, "") << rows[heading].Name;
  EXPECT_EQ(rows[10].Value, "42%");
  EXPECT_EQ(rows[11].Value, "256,000MB");
  EXPECT_EQ(rows[20].Value, "1024\u00D7768");
  EXPECT_EQ(rows[21].Value, "96");
  EXPECT_EQ(rows[22].Value, "24Bit");
}

TEST(SysInfoRows, AuthorRowOnlyWithAnAuthor) {
  SysFacts f = Facts();
  f.Author = "Brightloom Funktechnik";
  const auto rows = SysInfoRows(f);
  ASSERT_EQ(rows.size(), 24u);
  EXPECT_EQ(rows[4].Name, "Autor");
  EXPECT_EQ(rows[4].Value, "Brightloom Funktechnik");
  EXPECT_EQ(rows[5].Name, "Computer");
}

TEST(GridFill, GrowsOnceAndOverwritesAfterwards) {
  GridFill g(15);
  g.Start();
  int grown = 0;
  for (int i = 0; i < 23; ++i) grown += g.AddRow() ? 1 : 0;
  EXPECT_EQ(g.RowCount(), 23);
  EXPECT_EQ(grown, 8);
  g.Start();
  for (int i = 0; i < 23; ++i) EXPECT_FALSE(g.AddRow());
  EXPECT_EQ(g.RowCount(), 23);
  // One more row (an author appeared) grows by one.
  g.Start();
  for (int i = 0; i < 24; ++i) g.AddRow();
  EXPECT_EQ(g.RowCount(), 24);
}
