#include "link/CRCs.h"

#include <array>

namespace {

constexpr uint16_t TableEntry(unsigned i) {
  uint16_t reg = static_cast<uint16_t>(i << 8);
  for (int bit = 0; bit < 8; ++bit) {
    const bool out = (reg & 0x8000) != 0;
    reg = static_cast<uint16_t>(reg << 1);
    if (out) reg ^= 0x1021;
  }
  return reg;
}

constexpr std::array<uint16_t, 256> MakeTable() {
  std::array<uint16_t, 256> t{};
  for (unsigned i = 0; i < 256; ++i) t[i] = TableEntry(i);
  return t;
}

constexpr std::array<uint16_t, 256> kTable = MakeTable();
static_assert(kTable[1] == 0x1021 && kTable[2] == 0x2042 && kTable[128] == 0x9188 &&
                  kTable[255] == 0x1EF0,
              "CRC table rule");

}  // namespace

// Copied out of the constexpr array so the table is a plain C array with external linkage.
const uint16_t CRC16Table[256] = {
#define E(i) kTable[i]
#define R8(i) E(i), E(i + 1), E(i + 2), E(i + 3), E(i + 4), E(i + 5), E(i + 6), E(i + 7)
#define R64(i) R8(i), R8(i + 8), R8(i + 16), R8(i + 24), R8(i + 32), R8(i + 40), R8(i + 48), R8(i + 56)
    R64(0), R64(64), R64(128), R64(192)
#undef R64
#undef R8
#undef E
};

void CRC16UpdateBlock(uint16_t& crc, const uint8_t* data, int32_t count) {
  for (int32_t i = 0; i < count; ++i) CRC16Update(crc, data[i]);
}

uint16_t CRC16(const uint8_t* data, int32_t count) {
  uint16_t crc = 0;
  CRC16UpdateBlock(crc, data, count);
  return crc;
}
