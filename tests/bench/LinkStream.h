// A deterministic stream as the transceiver might send it: data frames of 1..256 bytes and
// command answers on all ten channels, line noise between them, cut into bursts of whole
// frames (one burst per Poll, read by the port in 260-byte pieces). Shared by the benchmarks.
#pragma once
#include <cstdint>
#include <vector>

#include "link/MVR_TRX.h"
#include "tests/host/fakes/FakeSerialPlatform.h"

struct LinkStream {
  std::vector<std::vector<uint8_t>> bursts;
  uint64_t bytes = 0;
  uint64_t frames = 0;
};

inline LinkStream MakeLinkStream(uint64_t totalBytes, size_t burstLimit = 2600) {
  uint32_t seed = 0x2545F491u;
  auto next = [&seed] {
    seed ^= seed << 13;
    seed ^= seed >> 17;
    seed ^= seed << 5;
    return seed;
  };
  LinkStream s;
  std::vector<uint8_t> burst, f;
  while (s.bytes < totalBytes) {
    f.clear();
    // Noise never starts a frame: its high nibble is neither 0x1 nor 0xF.
    for (uint32_t i = next() % 4; i > 0; --i) f.push_back(static_cast<uint8_t>(0x20 + next() % 0xC0));
    const uint8_t ch = static_cast<uint8_t>(next() % kChannelCount);
    const size_t start = f.size();
    if (next() % 8 == 0) {
      const uint8_t value = static_cast<uint8_t>(next());
      f.insert(f.end(), {static_cast<uint8_t>(CommandFrameTag | ch), value,
                         static_cast<uint8_t>(value ^ (CommandFrameTag | ch))});
    } else {
      const uint32_t n = 1 + next() % 256;
      f.push_back(static_cast<uint8_t>(DataFrameTag | ch));
      f.push_back(static_cast<uint8_t>(n - 1));
      for (uint32_t i = 0; i < n; ++i) f.push_back(static_cast<uint8_t>(next()));
      const uint16_t crc = CRC16(f.data() + start, static_cast<int32_t>(n + 2));
      f.push_back(static_cast<uint8_t>(crc >> 8));
      f.push_back(static_cast<uint8_t>(crc));
    }
    if (burst.size() + f.size() > burstLimit) {
      s.bursts.push_back(burst);
      burst.clear();
    }
    burst.insert(burst.end(), f.begin(), f.end());
    s.bytes += f.size();
    ++s.frames;
  }
  if (!burst.empty()) s.bursts.push_back(burst);
  return s;
}

// The engine on the fake port with every channel taken at full capacity.
struct BenchLink {
  FakeSerialPlatform port;
  TMVRtrx trx{port};
  uint8_t buffers[kChannelCount][kMaxFrameData + 2] = {};
  uint16_t lengths[kChannelCount] = {};
  uint64_t delivered = 0;

  BenchLink() {
    trx.AnswerTimeout = 16;
    trx.Open();
    for (uint8_t ch = 0; ch < kChannelCount; ++ch)
      trx.RegisterChannel(ch, TChannelEvent{&Count, this}, buffers[ch], &lengths[ch],
                          kMaxFrameData);
  }
  static void Count(void* self) { ++static_cast<BenchLink*>(self)->delivered; }

  void Feed(const LinkStream& s) {
    for (const auto& burst : s.bursts) {
      port.Receive(burst);
      trx.Poll();
    }
    port.calls.clear();  // the fake logs every call
  }
};
