// What the device sends: answers to received frames with the configured faults applied, and
// the frames it sends on its own (start bytes, floods, periodic frames).
#pragma once
#include <string>
#include <vector>

#include "Frames.h"
#include "Options.h"

namespace mvrsim {

// A piece of output. The first chunk of an answer is due delayMs after the frame came in; a
// chunk with afterPrevious is due delayMs after the chunk before it has been written, so a
// split's pause is a real gap on the line even when the port is slow.
struct OutChunk {
  Bytes bytes;
  int delayMs = 0;
  bool afterPrevious = false;
  std::string log;  // log line written when the chunk goes out; empty: none
};

class Responder {
 public:
  explicit Responder(const Config& cfg) : cfg_(cfg) {}

  // Answer (with faults) and any flood for one received frame; nothing for a broken frame.
  std::vector<OutChunk> Answer(const Frame& rx);
  // --send bytes and the start flood.
  std::vector<OutChunk> AtStart();
  // One firing of the i-th --unsolicited frame.
  std::vector<OutChunk> Unsolicited(size_t i);

  // The rule or default that decides the answer; empty = silent.
  std::vector<AnswerItem> Choose(const Frame& rx) const;

 private:
  void AddFlood(const FloodPlan& f, std::vector<OutChunk>& out);
  Bytes Garbage(int n);

  const Config& cfg_;
  uint32_t floodSeq_ = 0;
  size_t garbagePos_ = 0;
};

// Data of the k-th flood frame: byte i is (k + i) mod 256, so the receiver can check order and
// content.
Bytes FloodData(uint32_t k, size_t length);

}  // namespace mvrsim
