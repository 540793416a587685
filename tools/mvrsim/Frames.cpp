#include "Frames.h"

#include <cctype>
#include <cstdio>

#include "link/CRCs.h"

namespace mvrsim {

namespace {
constexpr uint8_t kDataHigh = 0xF0;
constexpr uint8_t kCommandHigh = 0x10;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

bool IsHeader(uint8_t b) {
  const uint8_t high = b & 0xF0;
  return (high == kDataHigh || high == kCommandHigh) && (b & 0x0F) < kChannels;
}

Bytes EncodeData(int channel, const Bytes& data) {
  Bytes w;
  w.reserve(data.size() + 4);
  w.push_back(static_cast<uint8_t>(kDataHigh | channel));
  w.push_back(static_cast<uint8_t>(data.size() - 1));
  w.insert(w.end(), data.begin(), data.end());
  const uint16_t crc = CRC16(w.data(), static_cast<int32_t>(w.size()));
  w.push_back(static_cast<uint8_t>(crc >> 8));
  w.push_back(static_cast<uint8_t>(crc & 0xFF));
  return w;
}

Bytes EncodeCommand(int channel, uint8_t value) {
  const uint8_t header = static_cast<uint8_t>(kCommandHigh | channel);
  return {header, value, static_cast<uint8_t>(value ^ header)};
}

size_t FrameParser::Needed() const {
  if ((cur_[0] & 0xF0) == kCommandHigh) return 3;
  return cur_.size() < 2 ? 2 : static_cast<size_t>(cur_[1]) + 5;
}

void FrameParser::Feed(const uint8_t* p, size_t n, std::vector<RxEvent>& out) {
  for (size_t i = 0; i < n; ++i) {
    const uint8_t b = p[i];
    if (cur_.empty()) {
      if (!IsHeader(b)) {
        skipped_.push_back(b);
        continue;
      }
      if (!skipped_.empty()) {
        RxEvent e;
        e.type = RxEvent::Skipped;
        e.skipped.swap(skipped_);
        out.push_back(std::move(e));
      }
    }
    cur_.push_back(b);
    if (cur_.size() == Needed()) Finish(out);
  }
  if (!skipped_.empty()) {
    RxEvent e;
    e.type = RxEvent::Skipped;
    e.skipped.swap(skipped_);
    out.push_back(std::move(e));
  }
}

void FrameParser::Finish(std::vector<RxEvent>& out) {
  RxEvent e;
  Frame& f = e.frame;
  f.channel = cur_[0] & 0x0F;
  if ((cur_[0] & 0xF0) == kCommandHigh) {
    f.kind = Kind::Command;
    f.value = cur_[1];
    f.intact = static_cast<uint8_t>(cur_[1] ^ cur_[0]) == cur_[2];
  } else {
    f.kind = Kind::Data;
    f.data.assign(cur_.begin() + 2, cur_.end() - 2);
    f.intact = CRC16(cur_.data(), static_cast<int32_t>(cur_.size())) == 0;
  }
  f.wire.swap(cur_);
  cur_.clear();
  out.push_back(std::move(e));
}

Bytes FrameParser::Reset() {
  Bytes partial;
  partial.swap(cur_);
  return partial;
}

std::string Hex(const uint8_t* p, size_t n) {
  std::string s;
  s.reserve(n * 3);
  char buf[4];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", p[i]);
    s += buf;
  }
  return s;
}

bool ParseHex(const std::string& text, Bytes& out) {
  out.clear();
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (std::isspace(static_cast<unsigned char>(c)) || c == ',') {
      ++i;
      continue;
    }
    size_t end = i;
    while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end])) &&
           text[end] != ',')
      ++end;
    size_t start = i;
    if (end - start > 2 && text[start] == '0' && (text[start + 1] == 'x' || text[start + 1] == 'X'))
      start += 2;
    if ((end - start) % 2 != 0) return false;
    for (size_t k = start; k < end; k += 2) {
      const int hi = HexDigit(text[k]);
      const int lo = HexDigit(text[k + 1]);
      if (hi < 0 || lo < 0) return false;
      out.push_back(static_cast<uint8_t>(hi << 4 | lo));
    }
    i = end;
  }
  return true;
}

std::string Describe(const Frame& f) {
  char buf[64];
  if (f.kind == Kind::Command) {
    std::snprintf(buf, sizeof buf, "cmd ch=%d val=%02X check=%s", f.channel, f.value,
                  f.intact ? "ok" : "bad");
    return buf;
  }
  std::snprintf(buf, sizeof buf, "data ch=%d len=%zu ", f.channel, f.data.size());
  std::string s = buf;
  s += Hex(f.data);
  s += f.intact ? " crc=ok" : " crc=bad";
  return s;
}

Frame Decode(const Bytes& wire) {
  FrameParser p;
  std::vector<RxEvent> ev;
  p.Feed(wire.data(), wire.size(), ev);
  for (auto& e : ev)
    if (e.type == RxEvent::FrameDone) return std::move(e.frame);
  return Frame{};
}

}  // namespace mvrsim
