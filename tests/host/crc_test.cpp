#include <gtest/gtest.h>

#include <vector>

#include "link/CRCs.h"

TEST(Crc16, TableAndCheckValue) {
  EXPECT_EQ(CRC16Table[0], 0x0000);
  EXPECT_EQ(CRC16Table[1], 0x1021);
  EXPECT_EQ(CRC16Table[2], 0x2042);
  EXPECT_EQ(CRC16Table[128], 0x9188);
  EXPECT_EQ(CRC16Table[255], 0x1EF0);
  const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(CRC16(digits, 9), 0x31C3);
}

TEST(Crc16, EmptyOrNegativeCountLeavesRegister) {
  const uint8_t b[] = {1};
  EXPECT_EQ(CRC16(b, 0), 0);
  EXPECT_EQ(CRC16(b, -5), 0);
  uint16_t crc = 0x1234;
  CRC16UpdateBlock(crc, b, -1);
  EXPECT_EQ(crc, 0x1234);
}

TEST(Crc16, IntactFrameEndsAtZeroAndAnyBitFlipIsSeen) {
  std::vector<uint8_t> frame = {0xF3, 0x02, 0x61, 0x62, 0x63};
  EXPECT_EQ(CRC16(frame.data(), 5), 0xA13A);
  frame.push_back(0xA1);
  frame.push_back(0x3A);
  EXPECT_EQ(CRC16(frame.data(), 7), 0);
  for (size_t i = 0; i < frame.size(); ++i)
    for (int bit = 0; bit < 8; ++bit) {
      auto bad = frame;
      bad[i] ^= static_cast<uint8_t>(1 << bit);
      EXPECT_NE(CRC16(bad.data(), 7), 0) << "byte " << i << " bit " << bit;
    }
}
