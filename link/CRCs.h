// CRC-16 of the link protocol: polynomial 0x1021, start 0, MSB first, no final XOR
// (the XMODEM parameters; check value over "123456789" is 0x31C3).
#pragma once
#include <cstdint>

extern const uint16_t CRC16Table[256];

// One byte step, in place.
inline void CRC16Update(uint16_t& crc, uint8_t b) {
  crc = static_cast<uint16_t>(CRC16Table[(crc >> 8) ^ b] ^ ((crc & 0x00FF) << 8));
}

// Applies CRC16Update to data[0..count-1]; a count of 0 or less leaves crc unchanged.
void CRC16UpdateBlock(uint16_t& crc, const uint8_t* data, int32_t count);

// The CRC of a block, started from 0.
uint16_t CRC16(const uint8_t* data, int32_t count);
