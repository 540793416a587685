#include "link/ChannelQueues.h"

#include <algorithm>
#include <cstring>

TChannelQueues::TChannelQueues() : storage_(new uint8_t[kChannelCount * kBytesPerChannel]) {}

bool TChannelQueues::Push(uint8_t channel, const uint8_t* frame, uint16_t size) {
  if (channel >= kChannelCount || size == 0) return false;
  Ring& r = rings_[channel];
  if (r.used + size > kBytesPerChannel) return false;
  uint8_t* base = Storage(channel);
  const uint32_t tail = (r.head + r.used) % kBytesPerChannel;
  const uint32_t first = std::min<uint32_t>(size, kBytesPerChannel - tail);
  std::memcpy(base + tail, frame, first);
  std::memcpy(base, frame + first, size - first);
  r.used += size;
  total_ += size;
  return true;
}

uint16_t TChannelQueues::Pop(uint8_t* out) {
  if (total_ == 0) return 0;
  // The first channel, from the one whose turn it is, whose next frame fits its share; when
  // none, the turn passes on and gives the next channel a fresh share (never more than one
  // full frame's, so nothing is saved up). A channel with frames gets its turn within ten.
  for (;;) {
    for (int i = 0; i < kChannelCount; ++i) {
      const uint8_t channel = static_cast<uint8_t>((turn_ + i) % kChannelCount);
      Ring& r = rings_[channel];
      if (r.used == 0) continue;
      const uint16_t size = HeadSize(channel);
      if (size > r.share) continue;
      const uint8_t* base = Storage(channel);
      const uint32_t first = std::min<uint32_t>(size, kBytesPerChannel - r.head);
      std::memcpy(out, base + r.head, first);
      std::memcpy(out + first, base, size - first);
      r.head = (r.head + size) % kBytesPerChannel;
      r.used -= size;
      r.share = static_cast<uint16_t>(r.share - size);
      total_ -= size;
      return size;
    }
    turn_ = static_cast<uint8_t>((turn_ + 1) % kChannelCount);
    rings_[turn_].share = kMaxFrameSize;
  }
}

uint16_t TChannelQueues::HeadSize(uint8_t channel) {
  const Ring& r = rings_[channel];
  const uint8_t* base = Storage(channel);
  return FrameSize(base[r.head], base[(r.head + 1) % kBytesPerChannel]);
}

void TChannelQueues::Clear() {
  for (Ring& r : rings_) r = Ring{};
  total_ = 0;
  turn_ = kChannelCount - 1;
}
