// Version texts and the version resource reader, the latter on the real resource compiled
// by windres from resources/Version.rc.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "windows/VersionText.h"

namespace {

std::vector<uint8_t> ReadFile(const char* path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

uint32_t Dword(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

// The data of the first resource of a numeric type in a .res file.
std::vector<uint8_t> ResourceOfType(const std::vector<uint8_t>& res, uint16_t type) {
  size_t at = 0;
  while (at + 8 <= res.size()) {
    const uint32_t dataSize = Dword(res, at);
    const uint32_t headerSize = Dword(res, at + 4);
    const size_t typeAt = at + 8;
    const bool numeric = res[typeAt] == 0xFF && res[typeAt + 1] == 0xFF;
    if (numeric && (res[typeAt + 2] | (res[typeAt + 3] << 8)) == type)
      return std::vector<uint8_t>(res.begin() + at + headerSize, res.begin() + at + headerSize + dataSize);
    at = (at + headerSize + dataSize + 3) & ~static_cast<size_t>(3);
  }
  return {};
}

// A UTF-16 image of a literal, embedded zero characters included.
template <size_t N>
std::vector<uint8_t> Utf16(const char16_t (&s)[N]) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < N; ++i) {
    out.push_back(static_cast<uint8_t>(s[i] & 0xFF));
    out.push_back(static_cast<uint8_t>(s[i] >> 8));
  }
  return out;
}

std::string ProductVersion() {
  std::ifstream f(MVR_VERSION_FILE);
  std::string v;
  std::getline(f, v);
  while (!v.empty() && (v.back() == '\r' || v.back() == ' ')) v.pop_back();
  return v;
}

}  // namespace

TEST(VersionText, ReleaseOneToTwentySixIsALetter) {
  EXPECT_EQ(VersionStringOf("1.2.3.4"), "V1.2c");
  EXPECT_EQ(VersionStringOf("1.2.1.0"), "V1.2a");
  EXPECT_EQ(VersionStringOf("1.2.26.0"), "V1.2z");
  EXPECT_EQ(VersionStringOf("1.2.0.5"), "V1.2.0");
  EXPECT_EQ(VersionStringOf("1.2.0.1"), "V1.2.0");
  EXPECT_EQ(VersionStringOf("2.1.27.0"), "V2.1.27");
  EXPECT_EQ(VersionStringOf("1.2.27.0"), "V1.2.27");
}

TEST(VersionText, MissingOrBrokenTokensCountAsZero) {
  EXPECT_EQ(VersionStringOf("0.0.0.?"), "V0.0.0");
  EXPECT_EQ(VersionStringOf("3"), "V3.0.0");
  EXPECT_EQ(VersionStringOf(""), "V0.0.0");
  EXPECT_EQ(VersionStringOf("1.x.3"), "V1.0c");
  EXPECT_EQ(VersionStringOf("1..2"), "V1.0b");
}

TEST(VersionText, NextTokenTakesUpToTheSeparatorAndDropsIt) {
  std::string t = "1.2.3";
  EXPECT_EQ(NextToken(t, '.'), "1");
  EXPECT_EQ(t, "2.3");
  EXPECT_EQ(NextToken(t, '.'), "2");
  EXPECT_EQ(NextToken(t, '.'), "3");
  EXPECT_EQ(t, "");
  EXPECT_EQ(NextToken(t, '.'), "");
  std::string lead = ".5";
  EXPECT_EQ(NextToken(lead, '.'), "");
  EXPECT_EQ(lead, "5");
}

TEST(VersionText, ProgramBaseNameDropsFolderAndExtension) {
  EXPECT_EQ(ProgramBaseName("C:\\Programme\\MVR\\MVRServ.exe"), "MVRServ");
  EXPECT_EQ(ProgramBaseName("Z:/a.b/MVRServ"), "MVRServ");
  EXPECT_EQ(ProgramBaseName("MVRServ.exe"), "MVRServ");
}

TEST(VersionResource, TheBuiltResourceAnswersWithTheSkipCounts) {
  const std::vector<uint8_t> image = ResourceOfType(ReadFile(MVR_VERSION_RES), 16);
  ASSERT_GT(image.size(), 100u) << "no RT_VERSION resource in " << MVR_VERSION_RES;
  // "FileVersion": terminator and one alignment character; the product version of VERSION.
  EXPECT_EQ(FindVersionValue(image, "FileVersion", 2), ProductVersion());
  EXPECT_EQ(VersionStringOf(FindVersionValue(image, "FileVersion", 2)), "V1.2c");
  // "Copyright" is the tail of "LegalCopyright", which needs no alignment character.
  EXPECT_EQ(FindVersionValue(image, "Copyright", 1), "Copyright (C) 2010-2026 Brightloom GmbH");
  EXPECT_EQ(FindVersionValue(image, "Author", 1), "Brightloom Funktechnik");
  EXPECT_EQ(FindVersionValue(image, "CompanyName", 2), "Brightloom GmbH");
  // A wrong skip count lands on the terminator or the gap: nothing.
  EXPECT_EQ(FindVersionValue(image, "FileVersion", 1), "");
  EXPECT_EQ(FindVersionValue(image, "Trademarks", 1), "");
  // Case matters.
  EXPECT_EQ(FindVersionValue(image, "fileversion", 2), "");
}

TEST(VersionResource, ImagesThatEndEarlyAreReadSafely) {
  EXPECT_EQ(FindVersionValue({}, "FileVersion", 2), "");
  // Key at the very end: the skip runs past it.
  EXPECT_EQ(FindVersionValue(Utf16(u"xxFileVersion"), "FileVersion", 2), "");
  // No terminator after the value: it runs to the end; an odd last byte is dropped.
  std::vector<uint8_t> open = Utf16(u"Key\0\0" u"1.0");
  ASSERT_EQ(open.size(), 16u);
  open.push_back(0x41);
  EXPECT_EQ(FindVersionValue(open, "Key", 2), "1.0");
  // Values beyond ASCII come out as UTF-8.
  EXPECT_EQ(FindVersionValue(Utf16(u"Key\0" u"\u00A9 Brightloom"), "Key", 1), "\u00A9 Brightloom");
  EXPECT_EQ(FindVersionValue(Utf16(u"Key\0x"), "Key", -1), "");
}
