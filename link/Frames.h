// The two frame forms of the link protocol: their tags and sizes, and the ten channels.
#pragma once
#include <cstdint>

constexpr uint8_t DataFrameTag = 0xF0;
constexpr uint8_t CommandFrameTag = 0x10;
constexpr int kChannelCount = 10;
constexpr int kMaxFrameData = 256;
constexpr int kMaxFrameSize = kMaxFrameData + 4;
constexpr int kCommandFrameSize = 3;

// The size of a whole frame from its first two bytes (header, and length byte if data).
inline uint16_t FrameSize(uint8_t header, uint8_t lengthByte) {
  return (header & 0xF0) == DataFrameTag ? static_cast<uint16_t>(lengthByte + 5) : kCommandFrameSize;
}
