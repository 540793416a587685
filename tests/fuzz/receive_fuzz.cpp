// Feeds arbitrary streams to two link engines in lockstep: A reads them through the fake port
// with Poll (a tick) or ReceiveArrived (a wake-up), B gets them byte by byte through
// ReceiveByte and models the tick's rules itself: the countdown and, after 100 ms watched
// without a byte, the return to rsHeader. Both share one clock that the input moves. Channel owners come and go, also
// from inside their callbacks. Buffers are exactly capacity + 2 bytes and freed on release,
// so ASan sees any write beyond them or into a released one; the two engines must agree on
// every delivered frame and every counter.
//
// Input: mask (2 bytes, channels 0..9), a capacity (2 bytes) per channel in the mask, the
// answer time-out (1 byte), 8 callback actions, then operations (see Run). The line rate is
// the built-in 57600 baud, so the silence limit is 100 ms.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "link/MVR_TRX.h"
#include "tests/host/fakes/FakeSerialPlatform.h"

#define CHECK(cond)                                                         \
  do {                                                                      \
    if (!(cond)) {                                                          \
      std::fprintf(stderr, "check failed: %s (line %d)\n", #cond, __LINE__); \
      std::abort();                                                         \
    }                                                                       \
  } while (0)

namespace {

class Input {
 public:
  Input(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
  bool Empty() const { return p_ == end_; }
  uint8_t Byte() { return p_ < end_ ? *p_++ : 0; }
  uint16_t U16() {
    const uint16_t lo = Byte();
    return static_cast<uint16_t>(lo | Byte() << 8);
  }
  std::vector<uint8_t> Take(size_t n) {
    n = std::min<size_t>(n, static_cast<size_t>(end_ - p_));
    std::vector<uint8_t> out(p_, p_ + n);
    p_ += n;
    return out;
  }

 private:
  const uint8_t* p_;
  const uint8_t* end_;
};

struct Side;

// One registration; kept after release so a late callback to it is noticed.
struct Owner {
  Side* side;
  uint8_t channel;
  uint16_t capacity;
  uint8_t* buffer;
  uint16_t* length;
  bool alive;
};

struct Side {
  FakeSerialPlatform port;
  TMVRtrx trx{port};
  bool polled;  // A: bytes come through Poll; B: through ReceiveByte
  const uint8_t* actions;
  Owner* current[kChannelCount] = {};
  std::vector<std::unique_ptr<Owner>> owners;
  std::vector<uint8_t> log;
  unsigned deliveries = 0;

  Side(bool isPolled, const uint8_t* acts, int32_t timeout) : polled(isPolled), actions(acts) {
    trx.AnswerTimeout = timeout;
    CHECK(trx.Open());
  }
  ~Side() {
    for (auto& o : owners) Free(*o);
  }

  static void Free(Owner& o) {
    if (!o.alive) return;
    o.alive = false;
    delete[] o.buffer;
    delete o.length;
    o.buffer = nullptr;
    o.length = nullptr;
  }

  void Register(uint8_t ch, uint16_t capacity) {
    auto o = std::make_unique<Owner>(
        Owner{this, ch, capacity, new uint8_t[capacity + 2u], new uint16_t(0xBEEF), true});
    const bool ok = trx.RegisterChannel(ch, TChannelEvent{&Arrived, o.get()}, o->buffer,
                                        o->length, capacity);
    CHECK(ok == (ch < kChannelCount && current[ch] == nullptr));
    if (!ok) {
      CHECK(*o->length == 0xBEEF);
      Free(*o);
      return;
    }
    CHECK(*o->length == 0);
    current[ch] = o.get();
    owners.push_back(std::move(o));
  }

  void Release(uint8_t ch) {
    trx.ReleaseChannel(ch);
    if (ch >= kChannelCount || !current[ch]) return;
    Free(*current[ch]);
    current[ch] = nullptr;
  }

  void Reopen() {
    trx.Close();
    CHECK(trx.Open());
    for (auto*& o : current) {
      if (o) Free(*o);
      o = nullptr;
    }
  }

  void Feed(const std::vector<uint8_t>& bytes, bool wakeUp) {
    if (polled) {
      port.Receive(bytes);
      if (wakeUp)
        trx.ReceiveArrived();
      else
        trx.Poll();
      CHECK(port.incoming.empty());
      return;
    }
    // What a tick does first, then a read with bytes, then the tick's closing empty read.
    if (!wakeUp) trx.FeedLine();
    for (uint8_t b : bytes) trx.ReceiveByte(b);
    if (!bytes.empty() && trx.AnswerCountdown > 0) trx.AnswerCountdown = trx.AnswerTimeout;
    // Silence counts while the line is watched: it starts anew after bytes, and after a
    // pause as long as the limit in which nobody looked.
    if (!bytes.empty() || port.now - lastLook >= kFrameSilenceMs) quietSince = port.now;
    lastLook = port.now;
    trx.FeedLine();
    if (wakeUp) return;
    if (trx.AnswerCountdown > 0) --trx.AnswerCountdown;
    if (bytes.empty() && trx.RxState != rsHeader && port.now - quietSince >= kFrameSilenceMs)
      trx.RxState = rsHeader;
  }

  DWORD lastLook = 0;
  DWORD quietSince = 0;

  static void Arrived(void* owner) {
    Owner& o = *static_cast<Owner*>(owner);
    CHECK(o.alive);
    Side& s = *o.side;
    CHECK(s.current[o.channel] == &o);
    const uint16_t n = *o.length;
    CHECK(n >= 1 && n <= std::max<uint16_t>(o.capacity, 1));
    if (n > 1) {  // surely a data frame: its stored bytes must be the ones checked
      uint16_t crc = 0;
      CRC16Update(crc, static_cast<uint8_t>(DataFrameTag | o.channel));
      CRC16Update(crc, static_cast<uint8_t>(n - 1));
      CRC16UpdateBlock(crc, o.buffer, n + 2);
      CHECK(crc == 0);
    }
    s.log.push_back(o.channel);
    s.log.push_back(static_cast<uint8_t>(n));
    s.log.insert(s.log.end(), o.buffer, o.buffer + n);

    const uint8_t a = s.actions[s.deliveries++ % 8];
    const uint8_t param = a >> 3;
    const uint8_t other = param % kChannelCount;
    const uint16_t capacity = static_cast<uint16_t>(param * 9);
    switch (a & 7) {
      case 1:
        s.Release(o.channel);
        break;
      case 2: {
        const uint8_t ch = o.channel;
        s.Release(ch);
        s.Register(ch, capacity);
        break;
      }
      case 3:
        s.Register(other, capacity);
        break;
      case 4:
        s.Release(other);
        break;
      case 5:
        s.trx.SendFrame(o.channel, o.buffer, n);
        break;
      case 6:
        s.trx.SendCommand(other, o.buffer[0]);
        break;
      case 7: {
        // A tick or wake-up inside the callback parses nothing; a tick may only give the
        // line the frames that wait, as B's model does.
        const int32_t countdown = s.trx.AnswerCountdown;
        const uint32_t sent = s.trx.BytesSent;
        const uint8_t state = s.trx.RxState;
        s.port.now += 500;
        const bool tick = param & 1;
        if (!s.polled) {
          if (tick) s.trx.FeedLine();
        } else if (tick) {
          s.trx.Poll();
        } else {
          s.trx.ReceiveArrived();
        }
        s.port.now -= 500;
        CHECK(s.trx.RxState == state);
        CHECK(s.trx.BytesSent != sent || s.trx.AnswerCountdown == countdown);
        break;
      }
      default:
        break;
    }
  }
};

void Agree(const Side& a, const Side& b) {
  CHECK(a.trx.RxState == b.trx.RxState);
  CHECK(a.trx.AnswerCountdown == b.trx.AnswerCountdown);
  CHECK(a.trx.AwaitingAnswer == b.trx.AwaitingAnswer);
  CHECK(a.trx.CRCErrors == b.trx.CRCErrors);
  CHECK(a.trx.Timeouts == b.trx.Timeouts);
  CHECK(a.trx.BytesSent == b.trx.BytesSent);
  CHECK(a.log == b.log);
  CHECK(a.port.wire == b.port.wire);
  for (int ch = 0; ch < kChannelCount; ++ch) {
    CHECK((a.current[ch] == nullptr) == (b.current[ch] == nullptr));
    CHECK((a.trx.Buffers[ch] == nullptr) == (a.current[ch] == nullptr));
  }
  for (const auto& box : a.port.boxes) CHECK(box.rfind("FAKE:", 0) != 0);
}

void Run(Input& in) {
  const uint16_t mask = in.U16();
  uint16_t capacities[kChannelCount] = {};
  for (int ch = 0; ch < kChannelCount; ++ch)
    if (mask & (1u << ch)) capacities[ch] = in.U16() % 301;
  const int32_t timeout = static_cast<int32_t>(in.Byte() % 22) - 1;
  uint8_t actions[8];
  for (auto& a : actions) a = in.Byte();

  Side a(true, actions, timeout), b(false, actions, timeout);
  for (uint8_t ch = 0; ch < kChannelCount; ++ch)
    if (mask & (1u << ch)) {
      a.Register(ch, capacities[ch]);
      b.Register(ch, capacities[ch]);
    }

  uint8_t payload[300];
  for (int i = 0; i < 300; ++i) payload[i] = static_cast<uint8_t>(i * 37);
  while (!in.Empty()) {
    const uint8_t op = in.Byte() & 15;
    if (op < 8 || op == 14) {
      const auto bytes = in.Take(in.U16() % 701);
      a.Feed(bytes, op == 14);
      b.Feed(bytes, op == 14);
    } else if (op == 15) {  // time passes
      const DWORD ms = in.Byte();
      a.port.now += ms;
      b.port.now += ms;
    } else if (op == 8) {
      const uint8_t ch = in.Byte() % 11;
      a.Release(ch);
      b.Release(ch);
    } else if (op == 9) {
      const uint8_t ch = in.Byte() % 11;
      const uint16_t capacity = in.U16() % 301;
      a.Register(ch, capacity);
      b.Register(ch, capacity);
    } else if (op == 10) {
      const uint8_t ch = in.Byte() % 11;
      const uint16_t length = in.U16() % 301;
      a.trx.SendFrame(ch, payload, length);
      b.trx.SendFrame(ch, payload, length);
    } else if (op == 11) {
      const uint8_t ch = in.Byte() % 11;
      const uint8_t value = in.Byte();
      a.trx.SendCommand(ch, value);
      b.trx.SendCommand(ch, value);
    } else if (op == 12) {
      CHECK(a.trx.CheckTimeout() == b.trx.CheckTimeout());
    } else {
      a.Reopen();
      b.Reopen();
    }
    Agree(a, b);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  Run(in);
  return 0;
}
