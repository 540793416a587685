// Frames of the serial link as the device sees them: encoding, a receive parser that hunts for
// headers in a byte stream, and the one-line text form used in the simulator's log.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mvrsim {

using Bytes = std::vector<uint8_t>;

constexpr int kChannels = 10;
constexpr size_t kMaxData = 256;

enum class Kind { Data, Command };

struct Frame {
  Kind kind = Kind::Data;
  int channel = 0;
  Bytes data;         // data frames: the 1..256 data bytes
  uint8_t value = 0;  // command frames
  bool intact = true; // CRC or check byte right
  Bytes wire;         // the bytes as they were on the line
};

// True for a byte that can start a frame (0xF0..0xF9 data, 0x10..0x19 command).
bool IsHeader(uint8_t b);

// data must hold 1..256 bytes.
Bytes EncodeData(int channel, const Bytes& data);
Bytes EncodeCommand(int channel, uint8_t value);

// What the receive parser found, in stream order.
struct RxEvent {
  enum Type { FrameDone, Skipped } type = FrameDone;
  Frame frame;   // FrameDone
  Bytes skipped; // Skipped: a run of bytes that started no frame
};

// Byte-stream parser. A frame with a bad CRC or check byte is reported (intact=false) and
// consumed whole: its length is known, and rescanning its inside would find false headers in
// the data.
class FrameParser {
 public:
  // Appends the events for these bytes; a run of skipped bytes is reported at the end of each
  // call so the log shows it when it arrived.
  void Feed(const uint8_t* p, size_t n, std::vector<RxEvent>& out);
  // Drops a partly received frame and returns its bytes.
  Bytes Reset();
  bool InFrame() const { return !cur_.empty(); }

 private:
  size_t Needed() const;
  void Finish(std::vector<RxEvent>& out);

  Bytes cur_;
  Bytes skipped_;
};

// "61 62 63" (uppercase, space separated); "" for no bytes.
std::string Hex(const uint8_t* p, size_t n);
inline std::string Hex(const Bytes& b) { return Hex(b.data(), b.size()); }

// Parses hex bytes; tokens split by blanks or commas, each an even number of digits with an
// optional 0x ("61 62 63", "616263", "0x61,0x62"). False on anything else.
bool ParseHex(const std::string& text, Bytes& out);

// "data ch=3 len=3 61 62 63 crc=ok" / "cmd ch=2 val=41 check=ok"; decodes a frame's wire
// bytes so a deliberately broken answer is shown as it really went out.
std::string Describe(const Frame& f);
Frame Decode(const Bytes& wire);  // wire must be one complete frame

}  // namespace mvrsim
