// Frames waiting for the line, each channel in a queue of its own. The line takes the
// channels in turn by their share of its bytes (deficit round robin): a turn passes from
// channel to channel and gives each, busy or not, one full frame's worth of bytes to send
// until its next turn; a channel sends while its frames fit what is left of it. So busy
// channels of full frames alternate frame by frame, a frame waits behind at most one full
// frame's bytes of each other channel, a channel that sends now and then goes at once (it
// still has its share), and none gets more than its share by sending more or smaller frames.
// Within a channel the order is kept. The storage is set aside once: queuing and taking
// allocate nothing.
#pragma once
#include <cstdint>
#include <memory>

#include "link/Frames.h"

class TChannelQueues {
 public:
  // What one channel may have waiting: a burst of 320 full frames.
  static constexpr uint32_t kBytesPerChannel = 320 * kMaxFrameSize;

  TChannelQueues();
  TChannelQueues(const TChannelQueues&) = delete;
  TChannelQueues& operator=(const TChannelQueues&) = delete;

  // Queues one whole frame; false, with nothing queued, when the channel's own backlog would
  // pass kBytesPerChannel.
  bool Push(uint8_t channel, const uint8_t* frame, uint16_t size);
  // Takes the next frame in turn into out (room for kMaxFrameSize bytes) and answers its
  // size; 0 when nothing waits.
  uint16_t Pop(uint8_t* out);
  bool Empty() const { return total_ == 0; }
  uint32_t Backlog(uint8_t channel) const { return channel < kChannelCount ? rings_[channel].used : 0; }
  void Clear();

 private:
  struct Ring {
    uint32_t head = 0;
    uint32_t used = 0;
    uint16_t share = kMaxFrameSize;  // bytes the channel may still send before its next turn
  };
  uint8_t* Storage(uint8_t channel) { return storage_.get() + channel * kBytesPerChannel; }
  uint16_t HeadSize(uint8_t channel);

  std::unique_ptr<uint8_t[]> storage_;
  Ring rings_[kChannelCount];
  uint32_t total_ = 0;
  uint8_t turn_ = kChannelCount - 1;  // the channel whose turn it is
};
