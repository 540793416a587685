// Stored settings values as a person may have typed them in the registry editor.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/SettingsValue.h"

namespace {
std::optional<int32_t> Text(const std::string& s, uint32_t type = kRegSz) {
  return StoredInteger(type, reinterpret_cast<const uint8_t*>(s.data()), s.size());
}
std::optional<int32_t> Raw(uint32_t type, std::vector<uint8_t> b) {
  return StoredInteger(type, b.data(), b.size());
}
}  // namespace

TEST(SettingsValue, TextIsDecimalWithOrWithoutItsTerminator) {
  EXPECT_EQ(Text(std::string("57600\0", 6)), 57600);
  EXPECT_EQ(Text("-99999"), -99999);
  EXPECT_EQ(Text(std::string("12\0garbage", 10)), 12);  // what follows the terminator is not read
  EXPECT_EQ(Text(" 3", kRegExpandSz), 3);
  EXPECT_EQ(Text(""), std::nullopt);
  EXPECT_EQ(Text("abc"), std::nullopt);
  EXPECT_EQ(Text("500x"), std::nullopt);
  EXPECT_EQ(Text("2147483648"), std::nullopt);
}

TEST(SettingsValue, DwordAndQwordAreTheirNumber) {
  EXPECT_EQ(Raw(kRegDword, {1, 0, 0, 0}), 1);
  EXPECT_EQ(Raw(kRegDword, {0xC0, 0xE1, 0, 0}), 57792);
  EXPECT_EQ(Raw(kRegDword, {0x61, 0x79, 0xFE, 0xFF}), -99999);  // 0xFFFE7961 as regedit shows it
  EXPECT_EQ(Raw(kRegDword, {0xFF, 0xFF, 0xFF, 0x7F}), INT32_MAX);
  EXPECT_EQ(Raw(kRegDword, {1, 0, 0}), std::nullopt);  // cut short
  EXPECT_EQ(Raw(kRegQword, {5, 0, 0, 0, 0, 0, 0, 0}), 5);
  EXPECT_EQ(Raw(kRegQword, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), -1);
  EXPECT_EQ(Raw(kRegQword, {0, 0, 0, 0x80, 0, 0, 0, 0}), std::nullopt);  // beyond 32 bits
}

TEST(SettingsValue, OtherTypesAreNoInteger) {
  EXPECT_EQ(Raw(3 /* REG_BINARY */, {1, 0, 0, 0}), std::nullopt);
  EXPECT_EQ(Raw(7 /* REG_MULTI_SZ */, {'1', 0, 0}), std::nullopt);
  EXPECT_EQ(Raw(5 /* REG_DWORD_BIG_ENDIAN */, {0, 0, 0, 1}), std::nullopt);
  EXPECT_EQ(Raw(0 /* REG_NONE */, {}), std::nullopt);
}
