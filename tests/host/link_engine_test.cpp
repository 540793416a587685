#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "link/MVR_TRX.h"
#include "tests/host/fakes/FakeSerialPlatform.h"
#include "tests/host/fakes/MemoryIniFile.h"

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kAbc = {0xF3, 0x02, 0x61, 0x62, 0x63, 0xA1, 0x3A};

// Failures that leave the device in place: ERROR_CRC and ERROR_IO_DEVICE.
constexpr DWORD kDataError = 23;
constexpr DWORD kIoDeviceError = 1117;

Bytes DataFrame(uint8_t ch, const std::string& text) {
  Bytes f = {static_cast<uint8_t>(DataFrameTag | ch), static_cast<uint8_t>(text.size() - 1)};
  f.insert(f.end(), text.begin(), text.end());
  const uint16_t crc = CRC16(f.data(), static_cast<int32_t>(f.size()));
  f.push_back(static_cast<uint8_t>(crc >> 8));
  f.push_back(static_cast<uint8_t>(crc));
  return f;
}

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A channel owner: its buffer is exactly capacity + 2 bytes, so ASan sees any overrun.
struct Client {
  Bytes buf;
  uint16_t len = 0xBEEF;
  int calls = 0;
  std::vector<Bytes> got;
  std::function<void()> onFrame;

  static void Arrived(void* owner) {
    auto* c = static_cast<Client*>(owner);
    ++c->calls;
    c->got.emplace_back(c->buf.begin(), c->buf.begin() + c->len);
    if (c->onFrame) c->onFrame();
  }
  TChannelEvent Event() { return TChannelEvent{&Arrived, this}; }
  std::string Text(size_t i) const { return std::string(got.at(i).begin(), got.at(i).end()); }
};

struct Link : ::testing::Test {
  FakeSerialPlatform p;
  TMVRtrx trx{p};

  Link() {
    trx.AnswerTimeout = 16;
    EXPECT_TRUE(trx.Open());
  }
  void TearDown() override {
    for (const auto& b : p.boxes) EXPECT_NE(b.rfind("FAKE:", 0), 0u) << b;
  }
  bool Reg(uint8_t ch, Client& c, uint16_t capacity) {
    c.buf.assign(capacity + 2u, 0xCC);
    return trx.RegisterChannel(ch, c.Event(), c.buf.data(), &c.len, capacity);
  }
  void Feed(const Bytes& b) {
    p.Receive(b);
    trx.Poll();
  }
  // The line watched for ms without a byte: one tick every 20 ms.
  void WatchQuiet(uint32_t ms) {
    for (uint32_t t = 0; t < ms; t += 20) {
      p.now += 20;
      trx.Poll();
    }
  }
  void FeedBytes(const Bytes& b, size_t from = 0, size_t to = SIZE_MAX) {
    for (size_t i = from; i < b.size() && i < to; ++i) trx.ReceiveByte(b[i]);
  }
};

TEST_F(Link, RegisterChannelRules) {
  Client a, b;
  EXPECT_TRUE(Reg(3, a, 3));
  EXPECT_EQ(a.len, 0);  // zeroed on registration
  EXPECT_FALSE(Reg(3, b, 256));
  EXPECT_EQ(b.len, 0xBEEF);
  EXPECT_FALSE(Reg(10, b, 256));
  EXPECT_FALSE(Reg(0xFF, b, 256));
  EXPECT_EQ(b.len, 0xBEEF);
  Feed(kAbc);
  EXPECT_EQ(a.calls, 1);  // the first registration stays in force
  EXPECT_EQ(b.calls, 0);

  trx.ReleaseChannel(3);
  trx.ReleaseChannel(3);  // a free channel is left alone
  EXPECT_TRUE(Reg(3, b, 256));
  Feed(kAbc);
  EXPECT_EQ(a.calls, 1);
  EXPECT_EQ(b.calls, 1);
}

TEST_F(Link, OpenFreesEveryChannelAndReleaseAboveNineDoesNothing) {
  Client c[kChannelCount], again[kChannelCount];
  for (uint8_t ch = 0; ch < kChannelCount; ++ch) ASSERT_TRUE(Reg(ch, c[ch], 8));
  trx.ReleaseChannel(10);
  trx.ReleaseChannel(0xFF);
  for (uint8_t ch = 0; ch < kChannelCount; ++ch) {
    EXPECT_FALSE(Reg(ch, again[ch], 8));
    Feed(DataFrame(ch, "x"));
    EXPECT_EQ(c[ch].calls, 1) << int(ch);
  }
  trx.Close();
  ASSERT_TRUE(trx.Open());
  for (uint8_t ch = 0; ch < kChannelCount; ++ch) EXPECT_TRUE(Reg(ch, again[ch], 8));
  Feed(DataFrame(9, "y"));
  EXPECT_EQ(c[9].calls, 1);
  EXPECT_EQ(again[9].calls, 1);
}

TEST_F(Link, SendFrameAndCommandBytes) {
  const Bytes data(300, 0x5A);
  trx.SendFrame(3, data.data(), 0);
  trx.SendFrame(10, data.data(), 3);
  trx.SendCommand(10, 0x41);
  EXPECT_TRUE(p.wire.empty());
  EXPECT_EQ(trx.BytesSent, 0u);
  EXPECT_EQ(trx.AnswerCountdown, 0);
  EXPECT_FALSE(trx.AwaitingAnswer);

  const uint8_t abc[] = {'a', 'b', 'c'};
  trx.SendFrame(3, abc, 3);
  EXPECT_EQ(p.wire, kAbc);
  EXPECT_EQ(trx.BytesSent, 7u);
  EXPECT_EQ(trx.AnswerCountdown, 16);
  EXPECT_TRUE(trx.AwaitingAnswer);

  p.wire.clear();
  trx.SendFrame(5, data.data(), 300);  // cut to 256
  ASSERT_EQ(p.wire.size(), 260u);
  EXPECT_EQ(p.wire[0], 0xF5);
  EXPECT_EQ(p.wire[1], 0xFF);
  EXPECT_EQ(Bytes(p.wire.begin() + 2, p.wire.begin() + 258), Bytes(256, 0x5A));
  EXPECT_EQ(CRC16(p.wire.data(), 260), 0);
  EXPECT_EQ(trx.BytesSent, 267u);
  p.now += 50;  // the line carries 260 bytes for 45 ms at 57600 baud

  p.wire.clear();
  trx.SendFrame(0, data.data(), 1);
  EXPECT_EQ(p.wire, DataFrame(0, "Z"));
  EXPECT_EQ(p.wire[1], 0x00);

  p.wire.clear();
  trx.SendCommand(2, 0x41);
  EXPECT_EQ(p.wire, (Bytes{0x12, 0x41, 0x53}));
  EXPECT_EQ(trx.BytesSent, 275u);

  // A closed port writes nothing, yet the counters and the supervision go on.
  trx.Close();
  p.calls.clear();
  trx.AnswerCountdown = -1;
  trx.AwaitingAnswer = false;
  trx.SendCommand(0, 0x00);
  EXPECT_TRUE(p.calls.empty());
  EXPECT_EQ(trx.BytesSent, 278u);
  EXPECT_EQ(trx.AnswerCountdown, 16);
  EXPECT_TRUE(trx.AwaitingAnswer);
}

TEST_F(Link, DataFrameIsDeliveredWithItsCrcBytes) {
  Client a, big;
  ASSERT_TRUE(Reg(3, a, 3));
  ASSERT_TRUE(Reg(4, big, 256));
  trx.SendCommand(3, 1);
  Feed(kAbc);
  ASSERT_EQ(a.calls, 1);
  EXPECT_EQ(a.len, 3);
  EXPECT_EQ(a.buf, (Bytes{0x61, 0x62, 0x63, 0xA1, 0x3A}));
  EXPECT_EQ(trx.AnswerCountdown, -1);
  EXPECT_EQ(trx.BytesReceived, 7u);
  EXPECT_EQ(trx.CRCErrors, 0);

  const std::string longest(256, 'q');
  Feed(DataFrame(4, longest));
  ASSERT_EQ(big.calls, 1);
  EXPECT_EQ(big.len, 256);
  EXPECT_EQ(big.Text(0), longest);
}

TEST_F(Link, FramesNobodyTakesAreSkippedWhole) {
  Client small, inner;
  ASSERT_TRUE(Reg(4, inner, 16));
  // The skipped frame carries a complete frame for channel 4 as its data: it must not be seen.
  const Bytes tail = DataFrame(4, "Z");
  const Bytes wrapped = DataFrame(3, "ww" + std::string(tail.begin(), tail.end()));
  const Bytes cases[] = {kAbc, wrapped};
  for (int capacity : {-1, 2}) {  // channel 3 free, then too small
    if (capacity >= 0) {
      ASSERT_TRUE(Reg(3, small, static_cast<uint16_t>(capacity)));
    }
    for (const Bytes& frame : cases) {
      FeedBytes(frame, 0, frame.size() - 1);
      EXPECT_EQ(trx.RxState, rsSkip);
      FeedBytes(frame, frame.size() - 1);
      EXPECT_EQ(trx.RxState, rsHeader);
    }
    Feed(DataFrame(4, "ok"));
  }
  EXPECT_EQ(small.calls, 0);
  EXPECT_EQ(small.len, 0);
  EXPECT_EQ(small.buf, Bytes(4, 0xCC));
  ASSERT_EQ(inner.calls, 2);
  EXPECT_EQ(inner.Text(1), "ok");
  EXPECT_EQ(trx.CRCErrors, 0);
}

TEST_F(Link, BadCrcIsCountedNotDelivered) {
  Client a;
  ASSERT_TRUE(Reg(3, a, 3));
  trx.SendCommand(3, 1);
  Bytes bad = kAbc;
  bad[6] = 0x3B;
  Feed(bad);
  EXPECT_EQ(trx.CRCErrors, 1);
  EXPECT_EQ(a.calls, 0);
  EXPECT_EQ(a.len, 3);
  EXPECT_EQ(a.buf, (Bytes{0x61, 0x62, 0x63, 0xA1, 0x3B}));
  EXPECT_EQ(trx.AnswerCountdown, 15);  // still running
  EXPECT_FALSE(trx.CheckTimeout());

  trx.CRCErrors = 65535;
  Feed(bad);
  EXPECT_EQ(trx.CRCErrors, 0);
  Feed(kAbc);
  EXPECT_EQ(a.calls, 1);
}

TEST_F(Link, CommandAnswers) {
  Client a, d;
  ASSERT_TRUE(Reg(2, a, 256));
  ASSERT_TRUE(Reg(4, d, 16));
  trx.SendCommand(2, 0x41);
  Feed({0x12, 0x41, 0x53});
  ASSERT_EQ(a.calls, 1);
  EXPECT_EQ(a.len, 1);
  EXPECT_EQ(a.buf[0], 0x41);
  EXPECT_EQ(trx.AnswerCountdown, -1);

  trx.SendCommand(2, 0x41);
  a.len = 7;
  a.buf[0] = 0;
  Feed({0x12, 0x41, 0x54});
  EXPECT_EQ(a.calls, 1);
  EXPECT_EQ(trx.CRCErrors, 1);
  EXPECT_EQ(a.buf[0], 0x41);
  EXPECT_EQ(a.len, 7);
  EXPECT_EQ(trx.AnswerCountdown, 15);

  // For a free channel the whole answer is dropped, even a check byte that looks like a header.
  trx.ReleaseChannel(2);
  Feed(Cat({0x12, 0x41, 0x53, 0x12, 0xE6, 0xF4}, DataFrame(4, "ok")));
  EXPECT_EQ(trx.CRCErrors, 1);
  ASSERT_EQ(d.calls, 1);
  EXPECT_EQ(d.Text(0), "ok");
}

TEST_F(Link, JunkIsDroppedAndFramesComeInOrder) {
  Client a, b;
  ASSERT_TRUE(Reg(3, a, 8));
  ASSERT_TRUE(Reg(5, b, 8));
  std::vector<std::string> order;
  a.onFrame = [&] { order.push_back("a" + a.Text(a.got.size() - 1)); };
  b.onFrame = [&] { order.push_back("b" + b.Text(b.got.size() - 1)); };
  Feed(Cat(Cat(Cat({0xFA, 0x25, 0x00, 0x1B, 0xFF, 0x1A}, kAbc), DataFrame(5, "de")),
           DataFrame(3, "f")));
  EXPECT_EQ(order, (std::vector<std::string>{"aabc", "bde", "af"}));
  EXPECT_EQ(trx.CRCErrors, 0);
}

TEST_F(Link, PartialFrameIsGivenUpOnlyAfterSilence) {
  Client outer, inner;
  ASSERT_TRUE(Reg(3, outer, 16));
  ASSERT_TRUE(Reg(4, inner, 16));
  // Parsed from its third byte on, this frame holds a complete frame for channel 4.
  const Bytes tail = DataFrame(4, "Z");
  const Bytes frame = DataFrame(3, std::string(tail.begin(), tail.end()));
  const Bytes head(frame.begin(), frame.begin() + 2), rest(frame.begin() + 2, frame.end());

  // Whether an answer is awaited (countdown running), stopped or run out: the same rule.
  for (int mode = 0; mode < 3; ++mode) {
    SCOPED_TRACE("mode " + std::to_string(mode));
    if (mode == 0) trx.SendCommand(3, 1);
    if (mode == 2) {
      trx.SendCommand(3, 1);
      for (int i = 0; i < 16; ++i) trx.Poll();
      ASSERT_EQ(trx.AnswerCountdown, 0);
    }
    const int outerBefore = outer.calls, innerBefore = inner.calls;
    Feed(head);
    for (int i = 0; i < 4; ++i) {  // 99 ms without a byte: still waiting for the rest
      p.now += i < 3 ? 25 : 24;
      trx.Poll();
      EXPECT_EQ(trx.RxState, rsData);
    }
    Feed(rest);
    EXPECT_EQ(outer.calls, outerBefore + 1);
    EXPECT_EQ(inner.calls, innerBefore);

    // 100 ms of silence: the rest is parsed as possible header bytes.
    Feed(head);
    p.now += 60;
    trx.Poll();
    EXPECT_EQ(trx.RxState, rsData);
    p.now += 40;
    trx.ReceiveArrived();  // a wake-up without data is no tick
    EXPECT_EQ(trx.RxState, rsData);
    trx.Poll();
    EXPECT_EQ(trx.RxState, rsHeader);
    Feed(rest);
    EXPECT_EQ(outer.calls, outerBefore + 1);
    EXPECT_EQ(inner.calls, innerBefore + 1);
    EXPECT_EQ(trx.CRCErrors, 0);
    p.now += 1000;
    WatchQuiet(2 * kFrameSilenceMs);  // the outer frame's CRC bytes may have started a frame
  }
  // At 110 baud three characters take longer than 100 ms: the limit follows the line rate.
  trx.Serial.SetBaudRate(0);
  Feed(head);
  p.now += 250;
  trx.Poll();
  EXPECT_EQ(trx.RxState, rsData);
  Feed(rest);
  EXPECT_EQ(outer.calls, 4);
}

// Silence is what the program saw of the line, not time it spent elsewhere: a frame half read
// before a client took 150 ms over its Receive, or before the program was not scheduled for
// 150 ms (a busy machine), is completed when its rest comes 20 ms after. A line that stays
// quiet while watched still gives the frame up.
TEST_F(Link, TimeSpentElsewhereIsNoSilence) {
  Client a, b;
  ASSERT_TRUE(Reg(3, a, 256));
  ASSERT_TRUE(Reg(4, b, 256));
  bool slowClient = true;
  a.onFrame = [&] {
    if (slowClient) p.now += 150;
  };
  const Bytes first = DataFrame(3, "first"), second = DataFrame(4, std::string(200, 'b'));
  const Bytes head(second.begin(), second.begin() + 100), rest(second.begin() + 100, second.end());
  for (int mode = 0; mode < 3; ++mode) {
    SCOPED_TRACE(mode == 0 ? "slow client, ticked" : mode == 1 ? "slow client, woken" : "not scheduled");
    slowClient = mode < 2;
    p.now += 1000;
    p.Receive(Cat(first, head));
    if (mode == 1)
      trx.ReceiveArrived();
    else
      trx.Poll();
    if (mode == 2) p.now += 150;
    p.now += 1;
    trx.Poll();  // the rest is not there yet
    EXPECT_EQ(trx.RxState, rsData);
    p.now += 20;
    trx.Poll();
    p.Receive(rest);
    trx.Poll();
    EXPECT_EQ(b.calls, mode + 1);
  }
  ASSERT_EQ(b.calls, 3);
  EXPECT_EQ(b.Text(2), std::string(200, 'b'));
  EXPECT_EQ(a.calls, 3);
  EXPECT_EQ(trx.CRCErrors, 0);

  // Watched for 100 ms without a byte: given up, and the rest is no frame.
  slowClient = false;
  p.now += 1000;
  Feed(Cat(first, head));
  for (int i = 0; i < 5; ++i) {
    p.now += 20;
    trx.Poll();
  }
  EXPECT_EQ(trx.RxState, rsHeader);
  Feed(rest);
  EXPECT_EQ(b.calls, 3);
  EXPECT_EQ(a.calls, 4);
}

// The bytes of one frame, however reads and ticks cut them, with up to 50 ms between pieces:
// unsolicited, as the first answer to a send, and as the second answer.
TEST_F(Link, FrameCutAnyWayIsDeliveredWhole) {
  Client c, other;
  ASSERT_TRUE(Reg(3, c, 256));
  ASSERT_TRUE(Reg(5, other, 8));
  const Bytes frame = DataFrame(3, "a frame cut into pieces");
  const Bytes first = DataFrame(3, "first");
  auto expectOne = [&](const std::string& what) {
    ASSERT_EQ(c.calls, 1) << what;
    EXPECT_EQ(c.Text(0), "a frame cut into pieces") << what;
    EXPECT_EQ(trx.CRCErrors, 0) << what;
    EXPECT_EQ(trx.RxState, rsHeader) << what;
  };
  // Piece arrival: through a tick's Poll or through a wake-up.
  auto deliver = [&](const Bytes& piece, bool wakeUp) {
    p.Receive(piece);
    if (wakeUp)
      trx.ReceiveArrived();
    else
      trx.Poll();
  };
  auto prepare = [&](int mode) {
    c = Client{};
    c.buf.assign(258, 0xCC);
    trx.ReleaseChannel(3);
    ASSERT_TRUE(trx.RegisterChannel(3, c.Event(), c.buf.data(), &c.len, 256));
    if (mode >= 1) trx.SendCommand(3, 1);
    if (mode == 2) {  // the first answer stops the countdown; this frame is the second
      Feed(DataFrame(5, "1st"));
      ASSERT_EQ(trx.AnswerCountdown, -1);
    }
  };
  const char* modes[] = {"unsolicited", "first answer", "second answer"};
  for (int mode = 0; mode < 3; ++mode) {
    for (bool wakeUp : {false, true}) {
      for (size_t cut = 1; cut < frame.size(); ++cut) {
        const std::string what = std::string(modes[mode]) + (wakeUp ? " woken" : " ticked") +
                                 " cut at " + std::to_string(cut);
        prepare(mode);
        deliver(Bytes(frame.begin(), frame.begin() + static_cast<long>(cut)), wakeUp);
        for (int i = 0; i < 2; ++i) {  // two silent ticks: 50 ms without a byte
          p.now += 25;
          trx.Poll();
        }
        deliver(Bytes(frame.begin() + static_cast<long>(cut), frame.end()), wakeUp);
        expectOne(what);
        p.now += 1000;
      }
      // One byte per read, a silent tick between any two.
      const std::string what =
          std::string(modes[mode]) + (wakeUp ? " woken" : " ticked") + " byte by byte";
      prepare(mode);
      for (uint8_t b : frame) {
        p.now += 30;
        trx.Poll();
        p.now += 20;
        deliver({b}, wakeUp);
      }
      expectOne(what);
      if (mode >= 1) {
        EXPECT_EQ(trx.AnswerCountdown, -1) << what;
      }
      p.now += 1000;
    }
  }
  EXPECT_EQ(other.calls, 2 * static_cast<int>(frame.size()));
}

TEST_F(Link, WakeUpsNeverCountAsSilentTicks) {
  Client a;
  ASSERT_TRUE(Reg(1, a, 4));
  trx.SendCommand(1, 1);
  for (int i = 0; i < 40; ++i) trx.ReceiveArrived();
  EXPECT_EQ(trx.AnswerCountdown, 16);
  p.Receive({0x00});
  trx.ReceiveArrived();  // bytes that come reload the countdown, as in a tick
  EXPECT_EQ(trx.AnswerCountdown, 16);
  for (int i = 0; i < 16; ++i) trx.Poll();
  EXPECT_TRUE(trx.CheckTimeout());
  EXPECT_EQ(trx.BytesReceived, 1u);
  // A wake-up delivers at once.
  trx.SendCommand(1, 7);
  p.Receive({0x11, 0x07, 0x16});
  trx.ReceiveArrived();
  ASSERT_EQ(a.calls, 1);
  EXPECT_EQ(trx.AnswerCountdown, -1);
}

TEST_F(Link, TheMainLoopWaitsForBytesOnlyWhileTheLinkIsBusy) {
  p.now = 50000;
  trx.Poll();  // a read pends
  EXPECT_EQ(trx.ArrivalEvent(), nullptr);  // idle: the tick alone polls
  trx.SendCommand(1, 1);
  EXPECT_NE(trx.ArrivalEvent(), nullptr);
  p.now += kWakeWindowMs - 1;
  EXPECT_NE(trx.ArrivalEvent(), nullptr);
  p.now += 1;
  EXPECT_EQ(trx.ArrivalEvent(), nullptr);
  // Received bytes keep it awake, a half frame until it is complete or given up.
  Feed({0xF3, 0x02});
  p.now += kWakeWindowMs;
  EXPECT_NE(trx.ArrivalEvent(), nullptr);
  WatchQuiet(2 * kFrameSilenceMs);
  EXPECT_EQ(trx.RxState, rsHeader);
  EXPECT_EQ(trx.ArrivalEvent(), nullptr);
  trx.Close();
  trx.SendCommand(1, 1);
  EXPECT_EQ(trx.ArrivalEvent(), nullptr);  // closed: no read to wait for
}

// On Windows no read is left pending: the loop waits on the port's wait for a received
// character, and that wake-up delivers.
TEST_F(Link, WindowsLikePortWakesTheLoopWhenTheAnswerArrives) {
  Client a;
  for (const bool windowsLike : {true, false}) {
    SCOPED_TRACE(windowsLike ? "Windows" : "Wine");
    p.readsPendWhenEmpty = !windowsLike;
    trx.Close();
    ASSERT_TRUE(trx.Open());
    ASSERT_TRUE(Reg(1, a, 4));
    a.calls = 0;
    p.calls.clear();
    p.now += 1000;
    trx.Poll();
    trx.SendCommand(1, 7);
    const HANDLE h = trx.ArrivalEvent();
    ASSERT_NE(h, nullptr);
    EXPECT_FALSE(p.Signalled(h));
    p.Receive({0x11, 0x07, 0x16});
    ASSERT_TRUE(p.Signalled(h));
    trx.ReceiveArrived();
    EXPECT_EQ(a.calls, 1);
    EXPECT_EQ(trx.AnswerCountdown, -1);
    // Ready for the next answer, with never more than one wait.
    trx.SendCommand(1, 8);
    EXPECT_EQ(trx.ArrivalEvent(), h);
    EXPECT_FALSE(p.Signalled(h));
    EXPECT_EQ(p.CallCount("WaitCommEvent"), windowsLike ? 2u : 0u);
    EXPECT_EQ(p.CallCount("SetCommMask"), windowsLike ? 1u : 0u);
  }

  // A port that refuses the wait: the loop waits for messages alone, the tick delivers.
  p.readsPendWhenEmpty = false;
  p.failures["SetCommMask"] = 87;
  trx.Close();
  ASSERT_TRUE(trx.Open());
  ASSERT_TRUE(Reg(1, a, 4));
  a.calls = 0;
  p.calls.clear();
  trx.Poll();
  trx.SendCommand(1, 7);
  EXPECT_EQ(p.CallCount("SetCommMask"), 1u);
  EXPECT_EQ(trx.ArrivalEvent(), nullptr);
  p.Receive({0x11, 0x07, 0x16});
  trx.Poll();
  EXPECT_EQ(a.calls, 1);
  trx.Serial.ShowPendingReports();
  EXPECT_TRUE(p.boxes.empty());
}

TEST_F(Link, AnswerCountdownAndTimeouts) {
  EXPECT_FALSE(trx.CheckTimeout());  // nothing sent yet
  trx.SendCommand(1, 1);
  for (int i = 1; i <= 16; ++i) {
    EXPECT_FALSE(trx.CheckTimeout());
    trx.Poll();  // the fake's read pends: still exactly one empty read per Poll
    EXPECT_EQ(trx.AnswerCountdown, 16 - i);
  }
  EXPECT_TRUE(trx.CheckTimeout());
  EXPECT_EQ(trx.Timeouts, 1);
  EXPECT_FALSE(trx.CheckTimeout());
  for (int i = 0; i < 5; ++i) trx.Poll();
  EXPECT_EQ(trx.AnswerCountdown, 0);
  EXPECT_FALSE(trx.CheckTimeout());
  EXPECT_EQ(p.CallCount("ReadFile"), 1u);  // one read left pending, harvested since

  // A reply before the run-out: no time-out for that send.
  Client a;
  ASSERT_TRUE(Reg(1, a, 4));
  trx.SendCommand(1, 1);
  for (int i = 0; i < 10; ++i) trx.Poll();
  Feed({0x11, 0x01, 0x10});
  EXPECT_EQ(trx.AnswerCountdown, -1);
  for (int i = 0; i < 30; ++i) {
    trx.Poll();
    EXPECT_FALSE(trx.CheckTimeout());
  }

  // Bytes that keep coming postpone the time-out; a big burst costs one tick only.
  trx.SendCommand(1, 1);
  for (int i = 0; i < 40; ++i) {
    Feed({0x00});
    EXPECT_EQ(trx.AnswerCountdown, 15);
  }
  Feed(Bytes(600, 0x00));
  EXPECT_EQ(trx.AnswerCountdown, 15);
  for (int i = 0; i < 14; ++i) trx.Poll();
  EXPECT_FALSE(trx.CheckTimeout());
  trx.Poll();
  trx.Timeouts = 65535;
  EXPECT_TRUE(trx.CheckTimeout());
  EXPECT_EQ(trx.Timeouts, 0);
  EXPECT_EQ(trx.BytesReceived, 3u + 40u + 600u);
}

TEST_F(Link, PortErrorsWaitForTheMainLoopWhileTrafficGoesOn) {
  Client a;
  ASSERT_TRUE(Reg(3, a, 8));
  // The line breaks (errors that leave the device in place): the read fails inside Poll, the
  // write inside a client's send.
  p.failures["ReadFile"] = kDataError;
  p.failures["GetOverlappedResult"] = kDataError;
  trx.Poll();
  p.failures["WriteFile"] = kIoDeviceError;
  const uint8_t abc[] = {'a', 'b', 'c'};
  EXPECT_TRUE(trx.SendFrame(3, abc, 3));
  trx.Poll();
  EXPECT_TRUE(trx.SendFrame(3, abc, 3));
  EXPECT_TRUE(p.boxes.empty());  // both calls returned without a box
  EXPECT_TRUE(trx.AwaitingAnswer);
  EXPECT_EQ(trx.AnswerCountdown, 16);
  EXPECT_TRUE(trx.Serial.HasPendingReports());

  // The main loop shows them, each once. While the first is open the user reopens the port
  // (the set-up dialog): reception and sending work at once; a second show request waits.
  int opened = 0;
  p.onBox = [&] {
    if (++opened != 1) return;
    p.failures.clear();
    ASSERT_TRUE(trx.Serial.Open());
    Feed(kAbc);
    EXPECT_EQ(a.calls, 1);
    p.wire.clear();
    EXPECT_TRUE(trx.SendCommand(3, 1));
    EXPECT_EQ(p.wire, (Bytes{0x13, 0x01, 0x12}));
    trx.Serial.ShowPendingReports();
    EXPECT_EQ(p.boxes.size(), 1u);
  };
  trx.Serial.ShowPendingReports();
  EXPECT_EQ(p.boxes, (std::vector<std::string>{"Receive: 23! ", "Transmit: 1117! "}));
  EXPECT_FALSE(trx.Serial.HasPendingReports());
  trx.Serial.ShowPendingReports();
  EXPECT_EQ(p.boxes.size(), 2u);
}

// The set-up dialog as a script: each Execute answers OK or Cancel in turn.
struct ScriptedUi : PortSetupUi {
  TMVRtrx* trx;
  std::vector<bool> ok;
  std::vector<uint8_t> ports;
  std::vector<bool> another;
  bool reenter = false;
  bool ending = false;
  bool endDuringDialog = false;  // the program is told to end while the dialog is up
  std::function<void()> whileShown;  // what the dialog's modal loop runs meanwhile
  int executes = 0, gets = 0, asks = 0, terminates = 0;

  explicit ScriptedUi(TMVRtrx& t) : trx(&t) {}
  bool Execute(TSerialPort&) override {
    if (executes >= static_cast<int>(ok.size())) throw std::runtime_error("dialog shown again");
    ++executes;
    if (reenter) trx->SetupPort();  // a client's call while the dialog runs
    if (whileShown) whileShown();
    if (endDuringDialog) {
      trx->Close();  // the main window's close handling
      ending = true;
      return false;  // the quit ends the dialog's modal loop
    }
    return ok[executes - 1];
  }
  void GetSettings(TSerialPort& port) override { port.SetPort(ports.at(gets++)); }
  bool AskChooseAnother() override { return another.at(asks++); }
  void Terminate() override { ++terminates; }
  bool Ending() const override { return ending; }
};

TEST_F(Link, SetupPortLoop) {
  trx.SetupPort();  // no dialog: nothing happens
  EXPECT_TRUE(trx.IsOpen());

  ScriptedUi ui(trx);
  trx.SetupUi = &ui;
  ui.reenter = true;
  ui.ok = {true};
  ui.ports = {1};
  trx.SetupPort();
  EXPECT_EQ(ui.executes, 1);  // the nested call returned at once
  EXPECT_TRUE(trx.IsOpen());
  EXPECT_EQ(p.lastDeviceName, "COM2");
  EXPECT_FALSE(trx.InSetup);

  // OK with a port that can't open: Yes shows the dialog again.
  ui = ScriptedUi(trx);
  p.devices.erase("COM3");
  ui.ok = {true, true};
  ui.ports = {2, 0};
  ui.another = {true};
  trx.SetupPort();
  EXPECT_EQ(ui.executes, 2);
  EXPECT_EQ(ui.asks, 1);
  EXPECT_EQ(ui.terminates, 0);
  EXPECT_TRUE(trx.IsOpen());
  EXPECT_EQ(p.lastDeviceName, "COM1");
  EXPECT_EQ(p.boxes, std::vector<std::string>{"Create: 2! File not found"});

  // No: the program is asked to end and the loop ends with the port closed.
  ui = ScriptedUi(trx);
  ui.ok = {true};
  ui.ports = {2};
  ui.another = {false};
  trx.SetupPort();
  EXPECT_EQ(ui.executes, 1);
  EXPECT_EQ(ui.terminates, 1);
  EXPECT_FALSE(trx.IsOpen());

  // Cancel while closed shows the dialog again; Cancel while open ends at once.
  ui = ScriptedUi(trx);
  ui.ok = {false, false, true, false};
  ui.ports = {3};
  trx.SetupPort();
  EXPECT_EQ(ui.executes, 3);
  EXPECT_TRUE(trx.IsOpen());
  const size_t closes = p.CallCount("CloseHandle");
  trx.SetupPort();
  EXPECT_EQ(ui.executes, 4);
  EXPECT_TRUE(trx.IsOpen());
  EXPECT_EQ(p.CallCount("CloseHandle"), closes);
  EXPECT_FALSE(trx.InSetup);
}

TEST_F(Link, SetupPortEndsWithTheProgram) {
  // Told to end while the dialog is up: the port is closed, the dialog ends, and the loop
  // must not show it again (it would end at once on the quit, for ever).
  ScriptedUi ui(trx);
  trx.SetupUi = &ui;
  ui.ok = {false};
  ui.endDuringDialog = true;
  trx.SetupPort();
  EXPECT_EQ(ui.executes, 1);
  EXPECT_FALSE(trx.IsOpen());
  EXPECT_FALSE(trx.InSetup);
  // Once ending, a client's set-up request shows nothing.
  ui.endDuringDialog = false;
  trx.SetupPort();
  EXPECT_EQ(ui.executes, 1);
  EXPECT_EQ(ui.terminates, 0);
}

TEST_F(Link, ChannelReleasedMidFrameGetsNothingMore) {
  Client a, other, watch;
  ASSERT_TRUE(Reg(5, watch, 16));
  const Bytes frames[] = {kAbc, {0x13, 0x41, 0x52}};
  for (const Bytes& frame : frames) {
    for (size_t split = 1; split < frame.size(); ++split) {
      for (bool reRegister : {false, true}) {
        SCOPED_TRACE("split " + std::to_string(split) + (reRegister ? " re-registered" : ""));
        ASSERT_TRUE(Reg(3, a, 8));
        FeedBytes(frame, 0, split);
        const Bytes bufBefore = a.buf;
        const uint16_t lenBefore = a.len;
        trx.ReleaseChannel(3);
        if (reRegister) {
          ASSERT_TRUE(Reg(3, other, 8));
        }
        FeedBytes(frame, split);
        EXPECT_EQ(trx.RxState, rsHeader);
        EXPECT_EQ(a.buf, bufBefore);
        EXPECT_EQ(a.len, lenBefore);
        EXPECT_EQ(a.calls, 0);
        EXPECT_EQ(other.calls, 0);
        if (reRegister) {
          EXPECT_EQ(other.buf, Bytes(10, 0xCC));
          EXPECT_EQ(other.len, 0);
          trx.ReleaseChannel(3);
        }
        EXPECT_EQ(trx.CRCErrors, 0);
      }
    }
  }
  // Open frees the channel just the same.
  ASSERT_TRUE(Reg(3, a, 8));
  FeedBytes(kAbc, 0, 3);
  const Bytes bufBefore = a.buf;
  trx.Close();
  ASSERT_TRUE(trx.Open());
  FeedBytes(kAbc, 3);
  EXPECT_EQ(a.buf, bufBefore);
  EXPECT_EQ(a.calls, 0);
  ASSERT_TRUE(Reg(5, watch, 16));
  Feed(DataFrame(5, "still in step"));
  EXPECT_EQ(watch.calls, 1);
}

TEST_F(Link, NestedPollInsideCallbackDoesNothing) {
  Client a;
  ASSERT_TRUE(Reg(3, a, 8));
  trx.SendCommand(3, 1);
  size_t nestedCalls = 0;
  a.onFrame = [&] {
    if (a.calls != 1) return;
    p.Receive(DataFrame(3, "third"));  // arrives while the callback runs
    const size_t before = p.calls.size();
    const int32_t countdown = trx.AnswerCountdown;
    trx.Poll();  // a timer tick from the client's nested message loop
    nestedCalls = p.calls.size() - before;
    EXPECT_EQ(trx.AnswerCountdown, countdown);
  };
  Feed(Cat(kAbc, DataFrame(3, "de")));
  EXPECT_EQ(nestedCalls, 0u);
  ASSERT_EQ(a.calls, 3);
  EXPECT_EQ(a.Text(0), "abc");
  EXPECT_EQ(a.Text(1), "de");
  EXPECT_EQ(a.Text(2), "third");
}

TEST_F(Link, CallbackMayReleaseRegisterOrSend) {
  Client a, b;
  ASSERT_TRUE(Reg(3, a, 8));
  a.onFrame = [&] {
    trx.ReleaseChannel(3);
    EXPECT_TRUE(Reg(4, b, 8));
  };
  Feed(Cat(Cat(kAbc, DataFrame(3, "de")), DataFrame(4, "fg")));
  EXPECT_EQ(a.calls, 1);
  EXPECT_EQ(a.buf, (Bytes{0x61, 0x62, 0x63, 0xA1, 0x3A, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC}));
  EXPECT_EQ(a.len, 3);
  ASSERT_EQ(b.calls, 1);
  EXPECT_EQ(b.Text(0), "fg");

  // A callback that answers at once.
  const uint8_t reply[] = {'o', 'k'};
  b.onFrame = [&] { trx.SendFrame(4, reply, 2); };
  trx.AnswerCountdown = -1;
  p.wire.clear();
  Feed(DataFrame(4, "hi"));
  EXPECT_EQ(p.wire, DataFrame(4, "ok"));
  EXPECT_TRUE(trx.AwaitingAnswer);
  EXPECT_EQ(trx.AnswerCountdown, 15);
  EXPECT_TRUE(Reg(3, a, 8));
}

// A set-up run from inside a box of a failing open (a client's ShowSerialConnectionDlg)
// finds the port closed and the device free: nothing of the failed open is left behind.
TEST_F(Link, SetupFromInsideAFailedOpensBoxGetsThePort) {
  Client a;
  ScriptedUi ui(trx);
  trx.SetupUi = &ui;
  ui.ok = {true};
  ui.ports = {0};
  trx.Close();
  p.failures["SetCommState"] = 87;
  p.onBox = [&] {
    p.onBox = nullptr;
    p.failures.clear();
    EXPECT_EQ(p.openHandles, 0);  // the box comes after everything was let go
    trx.SetupPort();
    EXPECT_TRUE(trx.IsOpen());
  };
  EXPECT_TRUE(trx.ResumePort());  // what the set-up made of the port
  EXPECT_EQ(p.boxes, std::vector<std::string>{"DCBwr: 87! Invalid parameter"});
  EXPECT_EQ(ui.executes, 1);
  EXPECT_EQ(p.openHandles, 3);  // the set-up's device and its two events
  ASSERT_TRUE(Reg(3, a, 8));
  Feed(kAbc);
  EXPECT_EQ(a.calls, 1);
  trx.Close();
  EXPECT_EQ(p.openHandles, 0);
}

// The device behind the port vanishes (an adapter pulled) and comes back under its name.
struct PortAway : Link {
  // As Wine answers once the pty behind the port has closed: reads end with 109, writes
  // fail with 21, and an open finds a stub device whose calls fail with 1.
  void Unplug() {
    p.failures = {{"ReadFile", ERROR_BROKEN_PIPE},
                  {"GetOverlappedResult", ERROR_BROKEN_PIPE},
                  {"WriteFile", ERROR_NOT_READY},
                  {"SetupComm", 1}};
  }
  void Plug() { p.failures.clear(); }
  // The main window's ticks for ms milliseconds.
  void Run(uint32_t ms) {
    for (uint32_t t = 0; t < ms; t += 20) {
      p.now += 20;
      trx.Poll();
    }
  }
  std::vector<std::string> Shown() {
    trx.Serial.ShowPendingReports();
    return p.boxes;
  }
};

TEST_F(PortAway, ErrorsThatMeanTheDeviceIsGone) {
  const DWORD gone[] = {ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE,     ERROR_NOT_READY,
                        ERROR_BAD_COMMAND,   ERROR_GEN_FAILURE,        ERROR_BROKEN_PIPE,
                        ERROR_OPERATION_ABORTED, ERROR_DEVICE_NOT_CONNECTED};
  const DWORD staying[] = {1, kDataError, ERROR_INVALID_PARAMETER, kIoDeviceError, 121};
  const uint8_t abc[] = {'a', 'b', 'c'};
  for (const bool onWrite : {false, true}) {
    for (const DWORD error : gone) {
      SCOPED_TRACE((onWrite ? "write " : "read ") + std::to_string(error));
      EXPECT_TRUE(ErrorMeansDeviceGone(error));
      ASSERT_TRUE(trx.Open());
      p.boxes.clear();
      trx.Poll();  // a read pends
      const uint32_t sent = trx.BytesSent;
      if (onWrite) {
        p.failures = {{"WriteFile", error}};
        EXPECT_FALSE(trx.SendFrame(3, abc, 3));  // the bytes never left
        EXPECT_EQ(trx.BytesSent, sent);
      } else {
        p.failures = {{"GetOverlappedResult", error}};
        trx.Poll();
      }
      EXPECT_TRUE(trx.PortAway());
      EXPECT_FALSE(trx.IsOpen());
      EXPECT_EQ(p.openHandles, 0);
      EXPECT_EQ(Shown().size(), 1u);
      p.failures.clear();
    }
    for (const DWORD error : staying) {
      SCOPED_TRACE((onWrite ? "write " : "read ") + std::to_string(error));
      EXPECT_FALSE(ErrorMeansDeviceGone(error));
      ASSERT_TRUE(trx.Open());
      p.boxes.clear();
      trx.Poll();
      p.failures = {{onWrite ? "WriteFile" : "GetOverlappedResult", error}};
      if (onWrite) {
        EXPECT_TRUE(trx.SendFrame(3, abc, 3));
      }
      trx.Poll();
      EXPECT_FALSE(trx.PortAway());
      EXPECT_TRUE(trx.IsOpen());
      EXPECT_EQ(Shown().size(), 1u);
      p.failures.clear();
    }
  }
}

TEST_F(PortAway, RetriedQuietlyOnceASecondAndBackWithEverything) {
  Client a, b;
  ASSERT_TRUE(Reg(3, a, 8));
  ASSERT_TRUE(Reg(4, b, 8));
  Feed(kAbc);
  const uint8_t hi[] = {'h', 'i'};
  ASSERT_TRUE(trx.SendFrame(4, hi, 2));
  // Half a frame comes, then the adapter is pulled.
  Feed(Bytes(kAbc.begin(), kAbc.begin() + 4));
  const uint32_t sent = trx.BytesSent, received = trx.BytesReceived;
  Unplug();
  trx.Poll();
  EXPECT_TRUE(trx.PortAway());
  EXPECT_FALSE(trx.IsOpen());
  EXPECT_TRUE(p.boxes.empty());  // the one box waits for the main loop

  // Away: sends answer false and change nothing; channels and counters stay.
  p.wire.clear();
  trx.AnswerCountdown = -1;
  EXPECT_FALSE(trx.SendFrame(3, hi, 2));
  EXPECT_FALSE(trx.SendCommand(4, 1));
  EXPECT_TRUE(p.wire.empty());
  EXPECT_EQ(trx.BytesSent, sent);
  EXPECT_EQ(trx.BytesReceived, received);
  EXPECT_EQ(trx.AnswerCountdown, -1);
  EXPECT_EQ(trx.Buffers[3], a.buf.data());
  EXPECT_EQ(trx.Buffers[4], b.buf.data());

  // At most one quiet attempt a second, each one leaving no handle behind.
  p.calls.clear();
  Run(980);
  EXPECT_EQ(p.CallCount("CreateFileA"), 0u);
  for (int second = 1; second <= 10; ++second) {
    Run(1000);
    EXPECT_EQ(p.CallCount("CreateFileA"), static_cast<size_t>(second));
    EXPECT_EQ(p.openHandles, 0);
  }
  EXPECT_EQ(p.lastDeviceName, "COM1");
  EXPECT_EQ(Shown(), std::vector<std::string>{"Receive: 109! "});

  // Back under its name: opened with the stored settings at the next attempt.
  trx.Serial.SetBaudRate(6);  // what the engine holds is what the next open uses
  Plug();
  Run(1000);
  EXPECT_TRUE(trx.IsOpen());
  EXPECT_FALSE(trx.PortAway());
  EXPECT_EQ(p.lastState.BaudRate, 9600u);
  EXPECT_EQ(p.CallCount("CreateFileA"), 11u);
  // Every channel receives and sends again; nothing from before the loss comes twice, and
  // the half frame does not swallow the first new one.
  Feed(Cat(DataFrame(3, "new"), DataFrame(4, "too")));
  ASSERT_EQ(a.calls, 2);
  EXPECT_EQ(a.Text(0), "abc");
  EXPECT_EQ(a.Text(1), "new");
  ASSERT_EQ(b.calls, 1);
  EXPECT_EQ(b.Text(0), "too");
  p.wire.clear();
  EXPECT_TRUE(trx.SendFrame(3, hi, 2));
  EXPECT_EQ(p.wire, DataFrame(3, "hi"));
  Run(5000);
  EXPECT_EQ(p.CallCount("CreateFileA"), 11u);
  EXPECT_EQ(Shown().size(), 1u);
}

// Frames wait for the line when a read finds the device gone: no write tries the device
// again (one box, not a second one for a write), and none of them goes out once it is back.
TEST_F(PortAway, FramesWaitingWhenTheDeviceGoesNeverLeave) {
  const Bytes block(256, 0x42);
  trx.Poll();  // a read pends
  ASSERT_TRUE(trx.SendFrame(3, block.data(), 256));  // on the line for 45 ms
  ASSERT_TRUE(trx.SendFrame(3, block.data(), 256));  // these wait for it
  ASSERT_TRUE(trx.SendCommand(4, 1));
  p.wire.clear();
  const uint32_t sent = trx.BytesSent;
  Unplug();
  p.now += 30;  // the line has room for the next frame now
  trx.ReceiveArrived();  // the read's wake-up: it finds the device gone first
  EXPECT_TRUE(trx.PortAway());
  EXPECT_EQ(trx.Backlog(3) + trx.Backlog(4), 0u);
  EXPECT_EQ(trx.BytesSent, sent);
  EXPECT_EQ(Shown(), std::vector<std::string>{"Receive: 109! "});
  Plug();
  Run(1100);
  ASSERT_TRUE(trx.IsOpen());
  EXPECT_TRUE(p.wire.empty());
  EXPECT_EQ(Shown().size(), 1u);
}

TEST_F(PortAway, SetupCloseAndStoredSettingsReplaceTheAttempts) {
  ScriptedUi ui(trx);
  trx.SetupUi = &ui;
  Unplug();
  trx.Poll();
  ASSERT_TRUE(trx.PortAway());

  // Cancelled: the port is still awaited, and the attempts went on while the dialog was up.
  ui.ok = {false};
  ui.whileShown = [&] { Run(2000); };
  p.calls.clear();
  trx.SetupPort();
  EXPECT_EQ(ui.executes, 1);
  EXPECT_TRUE(trx.PortAway());
  EXPECT_EQ(p.CallCount("CreateFileA"), 2u);

  // Back while the dialog is up, then cancelled: open, the loop ends.
  ui = ScriptedUi(trx);
  ui.ok = {false};
  ui.whileShown = [&] {
    Plug();
    Run(1000);
  };
  trx.SetupPort();
  EXPECT_EQ(ui.executes, 1);
  EXPECT_TRUE(trx.IsOpen());
  EXPECT_FALSE(trx.PortAway());

  // Another port chosen while away replaces the one awaited.
  Unplug();
  trx.Poll();
  ASSERT_TRUE(trx.PortAway());
  Plug();
  p.devices.erase("COM1");
  ui = ScriptedUi(trx);
  ui.ok = {true};
  ui.ports = {1};
  trx.SetupPort();
  EXPECT_TRUE(trx.IsOpen());
  EXPECT_EQ(p.lastDeviceName, "COM2");
  EXPECT_FALSE(trx.PortAway());
  p.calls.clear();
  Run(3000);
  EXPECT_EQ(p.CallCount("CreateFileA"), 0u);

  // The program's end stops the attempts; an end the user takes back awaits the port again.
  Unplug();
  trx.Poll();
  ASSERT_TRUE(trx.PortAway());
  trx.Close();
  trx.Close();  // the close handling runs again after the loop
  EXPECT_FALSE(trx.PortAway());
  Run(3000);
  EXPECT_EQ(p.CallCount("CreateFileA"), 0u);
  EXPECT_FALSE(trx.ResumePort());
  EXPECT_TRUE(trx.PortAway());
  EXPECT_EQ(p.CallCount("CreateFileA"), 0u);  // quietly, at the next attempt
  Plug();
  Run(1000);
  EXPECT_TRUE(trx.IsOpen());

  // Stored settings loaded meanwhile replace it too.
  Unplug();
  trx.Poll();
  ASSERT_TRUE(trx.PortAway());
  Plug();
  p.devices.insert("COM1");
  MemoryIniFile ini;
  EXPECT_TRUE(trx.LoadSettings(ini));
  EXPECT_FALSE(trx.PortAway());
  EXPECT_EQ(p.lastDeviceName, "COM1");
  trx.Close();
  EXPECT_EQ(p.openHandles, 0);
  EXPECT_EQ(Shown(), (std::vector<std::string>{"Receive: 109! "}));
}

// The frames on a wire, in order: channel and, for data frames, the block number carried in
// the first two data bytes (-1 for a command).
std::vector<std::pair<int, int>> WireFrames(const Bytes& wire) {
  std::vector<std::pair<int, int>> frames;
  for (size_t i = 0; i + 1 < wire.size();) {
    const uint16_t size = FrameSize(wire[i], wire[i + 1]);
    if (i + size > wire.size()) break;
    const bool data = (wire[i] & 0xF0) == DataFrameTag;
    frames.emplace_back(wire[i] & 0x0F, data ? wire[i + 2] | wire[i + 3] << 8 : -1);
    i += size;
  }
  return frames;
}

// Nine channels burst 300 full blocks each while a tenth sends a command now and then: the
// line takes the busy channels in turn, each channel's blocks in their order, and a command
// waits behind the write in flight and at most one frame of each other channel. The next
// frame goes out when the write is done, without waiting for a tick.
TEST_F(Link, BusyChannelsTakeTheLineInTurn) {
  p.writesPend = true;
  Bytes block(256, 0x20);
  for (uint8_t ch = 0; ch < 9; ++ch)
    for (int i = 0; i < 300; ++i) {
      block[0] = static_cast<uint8_t>(i);
      block[1] = static_cast<uint8_t>(i >> 8);
      ASSERT_TRUE(trx.SendFrame(ch, block.data(), 256)) << int(ch) << " " << i;
    }
  std::vector<size_t> commandsAt;  // frames on the wire when each command was sent
  for (int step = 0;; ++step) {
    if (step % 97 == 5) {
      commandsAt.push_back(WireFrames(p.wire).size());
      ASSERT_TRUE(trx.SendCommand(9, static_cast<uint8_t>(commandsAt.size())));
    }
    const HANDLE h = trx.LineEvent();
    if (!h) break;
    EXPECT_FALSE(p.Signalled(h));
    p.now += 46;  // a full frame's time on the line at 57600 baud
    p.CompleteWrites();
    ASSERT_TRUE(p.Signalled(h));
    trx.FeedLine();
  }
  p.CompleteWrites();
  EXPECT_EQ(trx.LineEvent(), nullptr);  // nothing waits: the loop does not wait on the port

  const auto frames = WireFrames(p.wire);
  ASSERT_EQ(frames.size(), 2700 + commandsAt.size());
  EXPECT_EQ(trx.BytesSent, p.wire.size());
  int next[9] = {};
  size_t command = 0;
  for (size_t k = 0; k < frames.size(); ++k) {
    const int ch = frames[k].first;
    if (ch < 9) {
      EXPECT_EQ(frames[k].second, next[ch]++) << "channel " << ch;
      continue;
    }
    ASSERT_LT(command, commandsAt.size());
    // Between its send and its turn: the write that was in flight, then one frame per channel.
    std::set<int> before;
    for (size_t j = commandsAt[command]; j < k; ++j)
      EXPECT_TRUE(before.insert(frames[j].first).second) << "command " << command << " waited twice for "
                                                         << frames[j].first;
    EXPECT_LE(k - commandsAt[command], 9u);
    // A channel that sends now and then goes right after the frame on the line.
    EXPECT_LE(k - commandsAt[command], 1u) << "command " << command;
    ++command;
  }
  EXPECT_EQ(command, commandsAt.size());
  EXPECT_GE(command, 20u);
}

TEST_F(Link, AnswerIsAwaitedFromWhenTheFrameGoesToTheLine) {
  p.writesPend = true;  // the device takes the first frame and then nothing for a while
  const uint8_t abc[] = {'a', 'b', 'c'};
  ASSERT_TRUE(trx.SendFrame(3, abc, 3));  // the line is free: out at once
  EXPECT_EQ(trx.AnswerCountdown, 16);
  EXPECT_EQ(trx.BytesSent, 7u);
  for (int i = 0; i < 16; ++i) trx.Poll();
  EXPECT_TRUE(trx.CheckTimeout());

  ASSERT_TRUE(trx.SendCommand(2, 0x41));  // waits behind the write in flight
  EXPECT_EQ(trx.BytesSent, 7u);
  EXPECT_FALSE(trx.AwaitingAnswer);
  for (int i = 0; i < 40; ++i) trx.Poll();
  EXPECT_FALSE(trx.CheckTimeout());  // a frame that has not gone out misses no answer
  EXPECT_EQ(trx.Timeouts, 1);
  p.CompleteWrites();
  trx.FeedLine();
  EXPECT_EQ(trx.AnswerCountdown, 16);
  EXPECT_TRUE(trx.AwaitingAnswer);
  EXPECT_EQ(trx.BytesSent, 10u);
  p.CompleteWrites();
  EXPECT_EQ(p.wire, Cat(kAbc, {0x12, 0x41, 0x53}));

  // Frames that wait when the port closes are taken as a closed port takes any: counted and
  // awaited, written nowhere, and never to the port opened again.
  ASSERT_TRUE(trx.SendCommand(2, 0x01));
  ASSERT_TRUE(trx.SendCommand(2, 0x02));
  trx.AnswerCountdown = -1;
  trx.Close();
  trx.Poll();
  EXPECT_EQ(trx.Backlog(2), 0u);
  EXPECT_EQ(trx.BytesSent, 16u);
  EXPECT_EQ(trx.AnswerCountdown, 15);
  ASSERT_TRUE(trx.ResumePort());
  p.CompleteWrites();
  trx.Poll();
  EXPECT_EQ(p.wire, Cat(kAbc, {0x12, 0x41, 0x53}));  // the write in flight was cancelled
}

// Frames go to the port at the pace of the line: on a port that takes everything at once (a
// pty, a USB adapter) the next frame goes out when the one before has had its time on the
// line, less kLineLeadMs, so the line never idles while frames wait and the port never holds
// more than that lead. The character format counts: 8N1 is 10 bits, 7E2 11 bits.
TEST_F(Link, FramesGoToThePortAtTheLinesPace) {
  const Bytes block(256, 0x41);
  struct Format {
    uint8_t baud, dataBits, parity, stopBits;
    double msPerFrame;
  };
  const Format formats[] = {{11, 4, 0, 0, 260 * 10 * 1000.0 / 57600},
                            {15, 4, 0, 0, 260 * 10 * 1000.0 / 256000},
                            {6, 3, 2, 2, 260 * 11 * 1000.0 / 9600},
                            {11, 4, 1, 1, 260 * 11.5 * 1000.0 / 57600}};
  for (const Format& f : formats) {
    SCOPED_TRACE("baud index " + std::to_string(f.baud));
    trx.Serial.SetBaudRate(f.baud);
    trx.Serial.SetDataBits(f.dataBits);
    trx.Serial.SetParity(f.parity);
    trx.Serial.SetStopBits(f.stopBits);
    ASSERT_TRUE(trx.Open());
    p.wire.clear();
    p.now += 100000;
    const DWORD start = p.now;
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(trx.SendFrame(1, block.data(), 256));
    EXPECT_LT(p.wire.size(), 20u * 260);  // the first at once, the others wait their time
    EXPECT_EQ(trx.LineEvent(), nullptr);  // the write is done: the tick paces the rest
    std::vector<double> out;  // when each frame went to the port
    size_t seen = 0;
    for (; seen < p.wire.size(); seen += 260) out.push_back(0);
    while (trx.Backlog(1) > 0) {
      p.now += 20;
      trx.Poll();
      for (; seen < p.wire.size(); seen += 260) out.push_back(p.now - start);
    }
    ASSERT_EQ(out.size(), 20u);
    for (size_t k = 1; k < out.size(); ++k) {
      const double due = k * f.msPerFrame;  // when frame k - 1 has left the line
      EXPECT_GE(out[k], due - kLineLeadMs - 1) << k;
      EXPECT_LE(out[k], due) << k;  // before the line went idle
    }
  }
}

// A channel cannot take more than its share by sending more, or smaller: against a channel of
// full frames, one that queues 2000 commands gets one full frame's bytes between two of the
// other's frames, and both keep their order.
TEST_F(Link, NoChannelTakesMoreThanItsShare) {
  p.writesPend = true;
  Bytes block(256, 0x20);
  for (int i = 0; i < 20; ++i) {
    block[0] = static_cast<uint8_t>(i);
    ASSERT_TRUE(trx.SendFrame(0, block.data(), 256));
  }
  for (int i = 0; i < 2000; ++i) ASSERT_TRUE(trx.SendCommand(1, static_cast<uint8_t>(i)));
  while (trx.LineEvent()) {
    p.now += 46;
    p.CompleteWrites();
    trx.FeedLine();
  }
  p.CompleteWrites();
  const auto frames = WireFrames(p.wire);
  ASSERT_EQ(frames.size(), 2020u);
  int blocks = 0, commands = 0, commandsBetween = 0;
  for (const auto& f : frames) {
    if (f.first == 0) {
      EXPECT_EQ(f.second & 0xFF, blocks++);
      if (blocks > 1 && blocks <= 20) {
        EXPECT_LE(commandsBetween * 3, kMaxFrameSize + 3) << "before block " << blocks - 1;
      }
      commandsBetween = 0;
    } else {
      ++commands;
      ++commandsBetween;
    }
  }
  EXPECT_EQ(blocks, 20);
  EXPECT_EQ(commands, 2000);
  // Every command in its order: the wire holds them as sent.
  uint8_t expected = 0;
  for (size_t i = 0; i + 2 < p.wire.size();) {
    const uint16_t size = FrameSize(p.wire[i], p.wire[i + 1]);
    if (p.wire[i] == 0x11) {
      EXPECT_EQ(p.wire[i + 1], expected++);
    }
    i += size;
  }
}

}  // namespace
