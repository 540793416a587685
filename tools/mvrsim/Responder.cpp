#include "Responder.h"

#include <algorithm>

namespace mvrsim {

namespace {
// None of these starts a frame: 0xFA and 0x1A carry channel numbers above 9.
constexpr uint8_t kGarbage[] = {0x25, 0xFA, 0x00, 0x7E, 0x1A, 0xFF, 0x0D, 0xA5};

bool Matches(const Rule& r, const Frame& f) {
  if (r.kind != f.kind) return false;
  if (r.channel >= 0 && r.channel != f.channel) return false;
  if (r.anyPayload) return true;
  return f.kind == Kind::Data ? r.data == f.data : r.value == f.value;
}

Bytes Encode(const AnswerItem& a, const Frame& rx, int channel) {
  switch (a.type) {
    case AnswerItem::Data:
      return EncodeData(channel, a.data);
    case AnswerItem::Command:
      return EncodeCommand(channel, a.value);
    case AnswerItem::Echo:
      break;
  }
  return rx.kind == Kind::Data ? EncodeData(channel, rx.data) : EncodeCommand(channel, rx.value);
}

OutChunk Chunk(Bytes bytes, std::string log, int delayMs, bool afterPrevious) {
  OutChunk c;
  c.bytes = std::move(bytes);
  c.log = std::move(log);
  c.delayMs = delayMs;
  c.afterPrevious = afterPrevious;
  return c;
}

// One frame, whole or (--pieces) trickled: the first piece as asked, each further piece
// piecesMs after the one before it.
void AddFrame(const Config& cfg, std::vector<OutChunk>& out, Bytes wire, std::string log,
              int delayMs, bool afterPrevious) {
  if (cfg.piecesBytes <= 0 || wire.size() <= static_cast<size_t>(cfg.piecesBytes)) {
    out.push_back(Chunk(std::move(wire), std::move(log), delayMs, afterPrevious));
    return;
  }
  const size_t step = static_cast<size_t>(cfg.piecesBytes);
  for (size_t at = 0; at < wire.size(); at += step) {
    Bytes piece(wire.begin() + static_cast<long>(at),
                wire.begin() + static_cast<long>(std::min(wire.size(), at + step)));
    if (at == 0)
      out.push_back(Chunk(std::move(piece), log + " (in pieces)", delayMs, afterPrevious));
    else
      out.push_back(Chunk(std::move(piece), "", cfg.piecesMs, true));
  }
}
}  // namespace

Bytes FloodData(uint32_t k, size_t length) {
  Bytes d(length);
  for (size_t i = 0; i < length; ++i) d[i] = static_cast<uint8_t>(k + i);
  return d;
}

std::vector<AnswerItem> Responder::Choose(const Frame& rx) const {
  if (cfg_.silent) return {};
  for (const Rule& r : cfg_.rules)
    if (Matches(r, rx)) return r.answers;
  AnswerItem a;
  if (rx.kind == Kind::Data && cfg_.haveAnswerData) {
    a.type = AnswerItem::Data;
    a.data = cfg_.answerData;
  } else if (rx.kind == Kind::Command && cfg_.haveAnswerCmd) {
    a.type = AnswerItem::Command;
    a.value = cfg_.answerCmd;
  }
  return {a};
}

Bytes Responder::Garbage(int n) {
  Bytes g(static_cast<size_t>(n));
  for (auto& b : g) b = kGarbage[garbagePos_++ % sizeof kGarbage];
  return g;
}

std::vector<OutChunk> Responder::Answer(const Frame& rx) {
  std::vector<OutChunk> out;
  if (!rx.intact) return out;
  for (const AnswerItem& a : Choose(rx)) {
    Bytes wire = Encode(a, rx, rx.channel);
    if (wire[0] >= 0xF0 && cfg_.corruptCrc) wire.back() ^= 0xFF;
    if (wire[0] < 0xF0 && cfg_.corruptCheck) wire[2] ^= 0xFF;
    // Only the first chunk waits for --delay; the rest follow it.
    const bool first = out.empty();
    const int delay = first ? cfg_.delayMs : 0;
    if (cfg_.garbage > 0) {
      Bytes g = Garbage(cfg_.garbage);
      std::string log = "TX garbage " + Hex(g);
      out.push_back(Chunk(std::move(g), std::move(log), delay, !first));
    }
    const bool afterPrev = !out.empty();
    const int frameDelay = afterPrev ? 0 : delay;
    std::string log = "TX " + Describe(Decode(wire));
    if (cfg_.splitMs >= 0) {
      const size_t half = wire.size() / 2;
      Bytes tail(wire.begin() + static_cast<long>(half), wire.end());
      wire.resize(half);
      out.push_back(Chunk(std::move(wire), log + " (first half)", frameDelay, afterPrev));
      out.push_back(Chunk(std::move(tail), "", cfg_.splitMs, true));
    } else {
      AddFrame(cfg_, out, std::move(wire), std::move(log), frameDelay, afterPrev);
    }
  }
  if (cfg_.floodEach.count > 0) AddFlood(cfg_.floodEach, out);
  return out;
}

void Responder::AddFlood(const FloodPlan& f, std::vector<OutChunk>& out) {
  for (int k = 0; k < f.count; ++k) {
    Bytes wire = EncodeData(f.channel, FloodData(floodSeq_++, f.length));
    std::string log = "TX " + Describe(Decode(wire));
    // Chained so a flood queued behind a delayed answer keeps its place.
    const bool afterPrev = !out.empty();
    out.push_back(Chunk(std::move(wire), std::move(log), 0, afterPrev));
  }
}

std::vector<OutChunk> Responder::AtStart() {
  std::vector<OutChunk> out;
  if (!cfg_.sendAtStart.empty())
    out.push_back(Chunk(cfg_.sendAtStart, "TX raw " + Hex(cfg_.sendAtStart), 0, false));
  if (cfg_.floodStart.count > 0) AddFlood(cfg_.floodStart, out);
  if (!out.empty()) out[0].delayMs = cfg_.startDelayMs;
  return out;
}

std::vector<OutChunk> Responder::Unsolicited(size_t i) {
  const Periodic& u = cfg_.unsolicited.at(i);
  Bytes wire = u.frame.type == AnswerItem::Command ? EncodeCommand(u.channel, u.frame.value)
                                                   : EncodeData(u.channel, u.frame.data);
  std::string log = "TX " + Describe(Decode(wire));
  std::vector<OutChunk> out;
  AddFrame(cfg_, out, std::move(wire), std::move(log), 0, false);
  return out;
}

}  // namespace mvrsim
