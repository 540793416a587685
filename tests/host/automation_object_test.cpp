#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "automation/AutoServCore.h"
#include "automation/RefCount.h"
#include "link/MVR_TRX.h"
#include "tests/host/fakes/FakeSerialPlatform.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Code page 1252 as far as the tests need it: the Latin-1 range maps one to one.
std::u16string Latin1Byte(uint8_t b) { return std::u16string(1, static_cast<char16_t>(b)); }
std::string Latin1Text(const char16_t* t, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out += t[i] < 0x100 ? static_cast<char>(t[i]) : '?';
  return out;
}
// A conversion that comes out shorter than the text (as a multi-byte code page can).
std::string HalfText(const char16_t* t, size_t n) { return Latin1Text(t, n / 2); }
std::string FailingText(const char16_t*, size_t) { throw std::bad_alloc(); }

Bytes DataFrame(uint8_t ch, const Bytes& data) {
  Bytes f = {static_cast<uint8_t>(DataFrameTag | ch), static_cast<uint8_t>(data.size() - 1)};
  f.insert(f.end(), data.begin(), data.end());
  const uint16_t crc = CRC16(f.data(), static_cast<int32_t>(f.size()));
  f.push_back(static_cast<uint8_t>(crc >> 8));
  f.push_back(static_cast<uint8_t>(crc));
  return f;
}

Bytes CommandFrame(uint8_t ch, uint8_t value) {
  const uint8_t head = CommandFrameTag | ch;
  return {head, value, static_cast<uint8_t>(head ^ value)};
}

// The object as a client holds it: counted references, events recorded. It ends as the COM
// class does: DetachClient first, and the sink's release may pump messages (releaseSink).
class Obj : public TAutoServCore {
 public:
  Obj(TMVRtrx& e, TextToBytes toBytes = &Latin1Text, int* alive = nullptr)
      : TAutoServCore(e, &Latin1Byte, toBytes), alive_(alive) {
    if (alive_) ++*alive_;
  }
  ~Obj() override {
    DetachClient();
    if (alive_) --*alive_;
  }
  bool sink = true;
  int32_t sinkResult = 0;  // what the sink's Invoke answers
  int32_t pingResult = 0;  // what the call that asks the client answers
  int pings = 0;
  std::function<void()> onPing;  // runs inside the call, as the messages it pumps would
  // What the next event calls answer, in order, before sinkResult applies. A refused call
  // reaches no handler.
  std::deque<int32_t> answers;
  int calls = 0;
  std::function<void(uint32_t)> onPause;  // the wait before a refused event is tried again
  std::vector<std::u16string> received;
  int timeouts = 0;
  int sinkReleases = 0;
  int disconnects = 0;
  std::function<void()> onReceive;
  std::function<void()> releaseSink;
  RefCount refs;
  // References the client's proxies hold, dropped by DisconnectClient.
  int clientRefs = 0;

  void Release() { refs.Drop(this); }
  void AddRef() { refs.Add(); }

 protected:
  int32_t RaiseReceive(const std::u16string& block) override {
    if (!sink) return 0;
    const int32_t result = Answer();
    if (CallRefused(result)) return result;
    received.push_back(block);
    if (onReceive) onReceive();
    return result;
  }
  int32_t RaiseTimeOut() override {
    if (!sink) return 0;
    const int32_t result = Answer();
    if (!CallRefused(result)) ++timeouts;
    return result;
  }
  void PauseBeforeRetry(uint32_t ms) override {
    if (onPause) onPause(ms);
  }
  void ReleaseSink() override {
    ++sinkReleases;
    if (sink && releaseSink) releaseSink();
    sink = false;
  }
  void DisconnectClient() override {
    ++disconnects;
    while (clientRefs > 0) {
      --clientRefs;
      Release();
    }
  }
  void Retain() override { AddRef(); }
  void Drop() override { Release(); }
  int32_t PingClient() override {
    if (!sink) return 0;
    ++pings;
    if (onPing) onPing();
    return pingResult;
  }

 private:
  int32_t Answer() {
    ++calls;
    if (answers.empty()) return sinkResult;
    const int32_t result = answers.front();
    answers.pop_front();
    return result;
  }
  int* alive_;
};

struct AutoServ : ::testing::Test {
  FakeSerialPlatform p;
  TMVRtrx trx{p};

  AutoServ() {
    trx.AnswerTimeout = 16;
    EXPECT_TRUE(trx.Open());
    LastActive = nullptr;
  }
  ~AutoServ() override { LastActive = nullptr; }
  Bytes Wire() {
    Bytes w = p.wire;
    p.wire.clear();
    return w;
  }
  void Feed(const Bytes& b) {
    p.Receive(b);
    trx.Poll();
  }
  // Polls until the answer supervision has run out; true when the engine reports it.
  bool RunOut() {
    for (int i = 0; i < 16; ++i) trx.Poll();
    return trx.CheckTimeout();
  }
};

}  // namespace

TEST_F(AutoServ, ChannelOwnershipBetweenObjects) {
  Obj a(trx), b(trx);
  EXPECT_TRUE(a.ConnectChannel(3));
  EXPECT_FALSE(b.ConnectChannel(3));
  EXPECT_FALSE(b.Connected());
  // A holding object keeps its channel whatever a second call names.
  EXPECT_TRUE(a.ConnectChannel(5));
  EXPECT_EQ(a.Channel(), 3);
  EXPECT_TRUE(b.ConnectChannel(5));
  EXPECT_TRUE(a.SendLPaket(u"x", 1));
  EXPECT_EQ(Wire()[0], DataFrameTag | 3);

  EXPECT_TRUE(a.DisconnectChannel());
  EXPECT_FALSE(a.DisconnectChannel());
  EXPECT_TRUE(b.DisconnectChannel());
  Obj c(trx);
  EXPECT_TRUE(c.ConnectChannel(3));
}

TEST_F(AutoServ, RefusedChannelsLeaveTheObjectFree) {
  Obj a(trx);
  for (int8_t ch : {int8_t(10), int8_t(-1), int8_t(-128), int8_t(127)}) {
    EXPECT_FALSE(a.ConnectChannel(ch)) << int(ch);
    EXPECT_FALSE(a.Connected());
  }
  EXPECT_FALSE(a.SendLPaket(u"x", 1));
  EXPECT_FALSE(a.SendSPaket(1));
  EXPECT_FALSE(a.DisconnectChannel());
  EXPECT_TRUE(Wire().empty());
  // Boundaries that are granted.
  EXPECT_TRUE(a.ConnectChannel(9));
  Obj b(trx);
  EXPECT_TRUE(b.ConnectChannel(0));
}

TEST_F(AutoServ, SendsAndLastActive) {
  Obj a(trx), b(trx);
  // A free object answers false and sends nothing, yet becomes the last sender.
  EXPECT_FALSE(a.SendSPaket(-56));
  EXPECT_EQ(LastActive, &a);
  EXPECT_FALSE(b.SendLPaket(u"", 0));
  EXPECT_EQ(LastActive, &b);
  EXPECT_TRUE(Wire().empty());
  EXPECT_FALSE(trx.AwaitingAnswer);

  ASSERT_TRUE(a.ConnectChannel(2));
  EXPECT_TRUE(a.SendSPaket(-56));
  EXPECT_EQ(Wire(), (Bytes{0x12, 0xC8, 0xDA}));
  EXPECT_TRUE(a.SendSPaket(-1));
  EXPECT_EQ(Wire(), (Bytes{0x12, 0xFF, 0xED}));

  ASSERT_TRUE(b.ConnectChannel(3));
  EXPECT_TRUE(b.SendLPaket(u"abc", 3));
  EXPECT_EQ(Wire(), (Bytes{0xF3, 0x02, 0x61, 0x62, 0x63, 0xA1, 0x3A}));
  EXPECT_EQ(LastActive, &b);
}

TEST_F(AutoServ, BlockLengthLimits) {
  Obj a(trx);
  ASSERT_TRUE(a.ConnectChannel(1));
  std::u16string text(257, u'Z');
  EXPECT_FALSE(a.SendLPaket(text.data(), 257));
  EXPECT_TRUE(Wire().empty());
  EXPECT_EQ(LastActive, &a);

  EXPECT_TRUE(a.SendLPaket(text.data(), 256));
  const Bytes w = Wire();
  ASSERT_EQ(w.size(), 260u);
  EXPECT_EQ(w[0], 0xF1);
  EXPECT_EQ(w[1], 0xFF);
  EXPECT_EQ(w[2], 'Z');
  EXPECT_EQ(w[257], 'Z');

  // Empty text: true, yet nothing on the line and no answer awaited.
  trx.AwaitingAnswer = false;
  EXPECT_TRUE(a.SendLPaket(nullptr, 0));
  EXPECT_TRUE(Wire().empty());
  EXPECT_FALSE(trx.AwaitingAnswer);
}

TEST_F(AutoServ, ShortConversionIsPaddedWithZeros) {
  Obj a(trx, &HalfText);
  ASSERT_TRUE(a.ConnectChannel(4));
  EXPECT_TRUE(a.SendLPaket(u"abcd", 4));
  const Bytes w = Wire();
  ASSERT_EQ(w.size(), 8u);
  EXPECT_EQ(Bytes(w.begin() + 2, w.begin() + 6), (Bytes{'a', 'b', 0, 0}));
}

TEST_F(AutoServ, FailingConversionFailsTheCallAfterLastActive) {
  Obj a(trx, &FailingText);
  ASSERT_TRUE(a.ConnectChannel(4));
  EXPECT_THROW(a.SendLPaket(u"ab", 2), std::bad_alloc);
  EXPECT_EQ(LastActive, &a);
  EXPECT_TRUE(Wire().empty());
}

TEST_F(AutoServ, ReceiveGivesOneCharacterPerByte) {
  Obj a(trx);
  ASSERT_TRUE(a.ConnectChannel(3));
  Feed(DataFrame(3, {0x00, 0x41, 0xE4}));
  ASSERT_EQ(a.received.size(), 1u);
  EXPECT_EQ(a.received[0], std::u16string(u"\0A\u00E4", 3));

  // A command answer is a block of one character; the CRC bytes never show.
  Feed(CommandFrame(3, 0x41));
  ASSERT_EQ(a.received.size(), 2u);
  EXPECT_EQ(a.received[1], u"A");

  Bytes full(256);
  for (int i = 0; i < 256; ++i) full[i] = static_cast<uint8_t>(i);
  Feed(DataFrame(3, full));
  ASSERT_EQ(a.received.size(), 3u);
  ASSERT_EQ(a.received[2].size(), 256u);
  EXPECT_EQ(a.received[2][255], 0xFF);
}

TEST_F(AutoServ, ReceiveGoesOnlyToTheChannelOwnerAndNeedsASink) {
  Obj a(trx), b(trx);
  ASSERT_TRUE(a.ConnectChannel(3));
  ASSERT_TRUE(b.ConnectChannel(4));
  a.sink = false;
  Feed(DataFrame(3, {'x'}));
  Feed(DataFrame(4, {'y'}));
  EXPECT_TRUE(a.received.empty());
  ASSERT_EQ(b.received.size(), 1u);
  a.sink = true;
  Feed(DataFrame(3, {'z'}));
  ASSERT_EQ(a.received.size(), 1u);
  EXPECT_EQ(a.received[0], u"z");
}

TEST_F(AutoServ, TimeOutGoesToTheLastSenderOnly) {
  Obj a(trx), b(trx);
  ASSERT_TRUE(a.ConnectChannel(1));
  ASSERT_TRUE(b.ConnectChannel(2));
  a.SendSPaket(1);
  b.SendSPaket(2);
  ASSERT_TRUE(RunOut());
  ASSERT_EQ(LastActive, &b);
  LastActive->FireTimeOut();
  EXPECT_EQ(a.timeouts, 0);
  EXPECT_EQ(b.timeouts, 1);

  // An answer in time to the earlier sender's frame: supervision is link-wide, no time-out.
  a.SendSPaket(1);
  b.SendSPaket(2);
  Feed(CommandFrame(1, 1));
  EXPECT_FALSE(RunOut());
  ASSERT_EQ(a.received.size(), 1u);

  // Without a sink the time-out goes nowhere.
  b.sink = false;
  b.SendSPaket(2);
  ASSERT_TRUE(RunOut());
  LastActive->FireTimeOut();
  EXPECT_EQ(b.timeouts, 1);
}

TEST_F(AutoServ, ReleaseAndDisconnectInsideReceive) {
  int alive = 0;
  auto* a = new Obj(trx, &Latin1Text, &alive);
  ASSERT_TRUE(a->ConnectChannel(3));
  Obj b(trx);
  ASSERT_TRUE(b.ConnectChannel(4));
  a->onReceive = [&] {
    // The client drops the object from its handler: it must survive until the event returns.
    EXPECT_TRUE(a->DisconnectChannel());
    a->Release();
    EXPECT_EQ(alive, 1);
  };
  p.Receive(DataFrame(3, {'1'}));
  p.Receive(DataFrame(3, {'2'}));
  p.Receive(DataFrame(4, {'3'}));
  trx.Poll();
  EXPECT_EQ(alive, 0);
  ASSERT_EQ(b.received.size(), 1u);
  EXPECT_EQ(b.received[0], u"3");
  Obj c(trx);
  EXPECT_TRUE(c.ConnectChannel(3));
}

TEST_F(AutoServ, DestroyedObjectIsNeverReachedAgain) {
  int alive = 0;
  auto* a = new Obj(trx, &Latin1Text, &alive);
  ASSERT_TRUE(a->ConnectChannel(3));
  a->SendSPaket(7);
  ASSERT_EQ(LastActive, a);
  a->Release();
  EXPECT_EQ(alive, 0);
  EXPECT_EQ(LastActive, nullptr);
  EXPECT_EQ(trx.Buffers[3], nullptr);
  Feed(DataFrame(3, {'x'}));  // an ASan error if the engine still wrote into the object

  // Destroyed while another object is the last sender: that one stays.
  Obj b(trx);
  b.SendSPaket(1);
  { Obj c(trx); }
  EXPECT_EQ(LastActive, &b);
}

TEST_F(AutoServ, ChannelTakenOverAfterReopenIsNotReleasedByTheOldOwner) {
  Obj b(trx);
  {
    Obj a(trx);
    ASSERT_TRUE(a.ConnectChannel(3));
    // Reopening the port frees every channel; another object takes channel 3.
    trx.Close();
    ASSERT_TRUE(trx.Open());
    ASSERT_TRUE(b.ConnectChannel(3));
    EXPECT_TRUE(a.DisconnectChannel());
    EXPECT_NE(trx.Buffers[3], nullptr);
  }
  EXPECT_NE(trx.Buffers[3], nullptr);
  Feed(DataFrame(3, {'k'}));
  ASSERT_EQ(b.received.size(), 1u);
}

TEST_F(AutoServ, HasSerialConnectionFollowsThePort) {
  Obj a(trx);
  EXPECT_TRUE(a.HasSerialConnection());
  trx.Close();
  EXPECT_FALSE(a.HasSerialConnection());
  a.ShowSerialConnectionDlg();  // without a set-up UI the engine does nothing
  EXPECT_FALSE(a.HasSerialConnection());
}

TEST(ClientIsGone, TellsADeadClientFromAFailingSink) {
  // The client process or its machine is gone, or its sink was disconnected.
  for (uint32_t hr : {0x80010108u /* RPC_E_DISCONNECTED */, 0x800706BAu /* RPC_S_SERVER_UNAVAILABLE */,
                      0x800706BEu /* RPC_S_CALL_FAILED */, 0x800706BFu /* RPC_S_CALL_FAILED_DNE */,
                      0x800401FDu /* CO_E_OBJNOTCONNECTED */, 0x80010007u /* RPC_E_SERVER_DIED */,
                      0x80010012u /* RPC_E_SERVER_DIED_DNE */, 0x80010008u /* RPC_E_CLIENT_DIED */,
                      0x80010006u /* RPC_E_CONNECTION_TERMINATED */, 0x80010114u /* RPC_E_INVALID_OBJECT */,
                      0x8007006Du /* ERROR_BROKEN_PIPE */, 0x800706D9u /* EPT_S_NOT_REGISTERED */})
    EXPECT_TRUE(ClientIsGone(static_cast<int32_t>(hr))) << std::hex << hr;
  // A live sink that failed, is busy or refused: the client is still there.
  for (uint32_t hr : {0x00000000u, 0x00000001u, 0x80004005u /* E_FAIL */, 0x80020009u /* DISP_E_EXCEPTION */,
                      0x80020003u /* DISP_E_MEMBERNOTFOUND */, 0x80010001u /* RPC_E_CALL_REJECTED */,
                      0x8001010Au /* RPC_E_SERVERCALL_RETRYLATER */, 0x80010005u /* RPC_E_CANTCALLOUT_INEXTERNALCALL */,
                      0x8007000Eu /* E_OUTOFMEMORY */, 0x800706BBu /* RPC_S_SERVER_TOO_BUSY */,
                      0x000006BAu /* the bare Win32 number is no failure HRESULT */})
    EXPECT_FALSE(ClientIsGone(static_cast<int32_t>(hr))) << std::hex << hr;
}

TEST_F(AutoServ, ADeadClientsObjectLetsGoOfEverythingAtItsFirstFrame) {
  int alive = 0;
  auto* dead = new Obj(trx, &Latin1Text, &alive);
  dead->AddRef();  // the client's proxy holds the object, the test's reference is the other
  dead->clientRefs = 1;
  ASSERT_TRUE(dead->ConnectChannel(3));
  dead->SendSPaket(1);
  Wire();
  ASSERT_EQ(LastActive, dead);
  dead->sinkResult = static_cast<int32_t>(0x800706BAu);  // RPC_S_SERVER_UNAVAILABLE
  Obj other(trx);
  ASSERT_TRUE(other.ConnectChannel(4));
  // Two frames for the dead client and one for another in one read: the second frame finds
  // its channel free and is dropped, the other client gets its own.
  p.Receive(DataFrame(3, {'a'}));
  p.Receive(DataFrame(3, {'b'}));
  p.Receive(DataFrame(4, {'c'}));
  trx.Poll();
  EXPECT_EQ(dead->received.size(), 1u);
  EXPECT_TRUE(dead->ClientLost());
  EXPECT_FALSE(dead->Connected());
  EXPECT_EQ(trx.Buffers[3], nullptr);
  EXPECT_EQ(LastActive, nullptr);
  EXPECT_EQ(dead->sinkReleases, 1);
  EXPECT_EQ(dead->disconnects, 1);
  ASSERT_EQ(other.received.size(), 1u);
  EXPECT_EQ(other.received[0], u"c");
  EXPECT_EQ(alive, 1);  // only the test's reference is left

  // Never called again: no channel, no time-out, no event.
  EXPECT_FALSE(dead->ConnectChannel(5));
  EXPECT_FALSE(dead->SendSPaket(1));
  dead->FireTimeOut();
  EXPECT_EQ(dead->timeouts, 0);
  Obj next(trx);
  EXPECT_TRUE(next.ConnectChannel(3));
  Feed(DataFrame(3, {'n'}));
  ASSERT_EQ(next.received.size(), 1u);
  EXPECT_EQ(dead->received.size(), 1u);
  dead->Release();
  EXPECT_EQ(alive, 0);
}

TEST_F(AutoServ, ADeadClientFoundByItsTimeOutEndsWithTheEvent) {
  int alive = 0;
  auto* dead = new Obj(trx, &Latin1Text, &alive);
  dead->clientRefs = 1;  // held only by the client's proxy
  ASSERT_TRUE(dead->ConnectChannel(2));
  dead->SendSPaket(9);
  dead->sinkResult = static_cast<int32_t>(0x80010108u);  // RPC_E_DISCONNECTED
  ASSERT_TRUE(RunOut());
  ASSERT_EQ(LastActive, dead);
  LastActive->FireTimeOut();
  EXPECT_EQ(alive, 0);  // the proxy's reference dropped; destroyed once the event returned
  EXPECT_EQ(LastActive, nullptr);
  EXPECT_EQ(trx.Buffers[2], nullptr);
  Feed(DataFrame(2, {'x'}));  // an ASan error if anything still reached it
}

TEST_F(AutoServ, AFailingButLiveSinkKeepsItsChannel) {
  Obj a(trx);
  ASSERT_TRUE(a.ConnectChannel(3));
  a.sinkResult = static_cast<int32_t>(0x80020009u);  // DISP_E_EXCEPTION: the handler failed
  Feed(DataFrame(3, {'1'}));
  Feed(DataFrame(3, {'2'}));
  EXPECT_EQ(a.received.size(), 2u);
  EXPECT_FALSE(a.ClientLost());
  EXPECT_TRUE(a.Connected());
  EXPECT_EQ(a.sinkReleases, 0);
}

constexpr int32_t kRejected = static_cast<int32_t>(0x80010001u);    // RPC_E_CALL_REJECTED
constexpr int32_t kRetryLater = static_cast<int32_t>(0x8001010Au);  // RPC_E_SERVERCALL_RETRYLATER

TEST(EventRetry, AtOnceThenEveryStepUntilTheLimit) {
  EXPECT_TRUE(CallRefused(kRejected));
  EXPECT_TRUE(CallRefused(kRetryLater));
  for (uint32_t hr : {0x00000000u, 0x80004005u, 0x80020009u, 0x80010108u, 0x800706BBu})
    EXPECT_FALSE(CallRefused(static_cast<int32_t>(hr))) << std::hex << hr;
  EXPECT_EQ(EventRetryDelay(0), 0);
  EXPECT_EQ(EventRetryDelay(kEventRetryAtOnceMs - 1), 0);
  EXPECT_EQ(EventRetryDelay(kEventRetryAtOnceMs), static_cast<int32_t>(kEventRetryStepMs));
  EXPECT_GE(kEventRetryStepMs, 100u);  // IMessageFilter: below 100 means at once
  EXPECT_EQ(EventRetryDelay(kEventRetryLimitMs - 1), static_cast<int32_t>(kEventRetryStepMs));
  EXPECT_EQ(EventRetryDelay(kEventRetryLimitMs), -1);
  EXPECT_EQ(EventRetryDelay(0xFFFFFFFFu), -1);
}

// A busy client's message filter refuses events now and then: each is tried again until the
// client takes it, every frame reaches it once and in order, and the other clients' frames
// follow. Refused beyond the limit, the event is given up and the next one is tried afresh.
TEST_F(AutoServ, RefusedEventsAreTriedAgainForABoundedTime) {
  Obj busy(trx), other(trx);
  ASSERT_TRUE(busy.ConnectChannel(3));
  ASSERT_TRUE(other.ConnectChannel(4));
  std::vector<uint32_t> pauses;
  busy.onPause = [&](uint32_t ms) {
    pauses.push_back(ms);
    p.now += ms > 0 ? ms : 1;
    trx.Poll();  // the timer ticks meanwhile: it must not deliver out of turn
  };
  busy.answers = {kRejected, kRejected, 0, kRetryLater, 0, kRejected};
  p.Receive(DataFrame(3, {'1'}));
  p.Receive(DataFrame(3, {'2'}));
  p.Receive(DataFrame(4, {'x'}));
  p.Receive(DataFrame(3, {'3'}));
  trx.Poll();
  EXPECT_EQ(busy.received, (std::vector<std::u16string>{u"1", u"2", u"3"}));
  EXPECT_EQ(busy.calls, 7);
  EXPECT_EQ(pauses, (std::vector<uint32_t>{0, 0, 0, 0}));
  ASSERT_EQ(other.received.size(), 1u);
  EXPECT_TRUE(busy.Connected());
  EXPECT_FALSE(busy.ClientLost());

  // A client that refuses for good: tried until the limit, then the event is given up.
  pauses.clear();
  busy.calls = 0;
  busy.sinkResult = kRetryLater;
  const DWORD start = p.now;
  Feed(DataFrame(3, {'4'}));
  EXPECT_GE(p.now - start, kEventRetryLimitMs);
  EXPECT_LT(p.now - start, kEventRetryLimitMs + kEventRetryStepMs + 1);
  EXPECT_EQ(busy.received.size(), 3u);
  EXPECT_GT(busy.calls, static_cast<int>(kEventRetryLimitMs / kEventRetryStepMs));
  EXPECT_EQ(pauses.back(), kEventRetryStepMs);
  EXPECT_TRUE(busy.Connected());  // refusing is no death
  // TimeOut likewise; a client that takes the call again gets it at once.
  busy.sinkResult = 0;
  busy.answers = {kRejected};
  ASSERT_TRUE(busy.SendSPaket(1));
  ASSERT_TRUE(RunOut());
  LastActive->FireTimeOut();
  EXPECT_EQ(busy.timeouts, 1);
  Feed(DataFrame(3, {'5'}));
  EXPECT_EQ(busy.received.back(), u"5");
}

// A client found gone while its refused event waits for the next try is not tried again.
TEST_F(AutoServ, AClientGoneWhileRetriedIsLetGo) {
  Obj a(trx);
  ASSERT_TRUE(a.ConnectChannel(3));
  a.answers = {kRejected, static_cast<int32_t>(0x80010108u)};  // then RPC_E_DISCONNECTED
  a.onPause = [&](uint32_t) { p.now += 1; };
  Feed(DataFrame(3, {'1'}));
  EXPECT_EQ(a.calls, 2);
  EXPECT_TRUE(a.ClientLost());
  EXPECT_EQ(trx.Buffers[3], nullptr);
}

TEST_F(AutoServ, DestructionFreesChannelAndLastActiveBeforeTheSinkIsReleased) {
  int alive = 0;
  auto* a = new Obj(trx, &Latin1Text, &alive);
  ASSERT_TRUE(a->ConnectChannel(3));
  a->SendSPaket(1);
  ASSERT_TRUE(RunOut());
  // Releasing the sink pumps messages: a frame for its channel and the time-out tick come in.
  bool pumped = false;
  a->releaseSink = [&] {
    p.Receive(DataFrame(3, {'x'}));
    trx.Poll();
    if (LastActive) LastActive->FireTimeOut();
    pumped = true;
    EXPECT_TRUE(a->received.empty());
    EXPECT_EQ(a->timeouts, 0);
  };
  a->Release();  // a second delete here would be an ASan error
  EXPECT_TRUE(pumped);
  EXPECT_EQ(alive, 0);
  EXPECT_EQ(LastActive, nullptr);
  EXPECT_EQ(trx.Buffers[3], nullptr);
}

TEST(RefCountTest, ReferencesTakenDuringDestructionAreHarmless) {
  struct Counted {
    RefCount refs;
    int* deletes;
    explicit Counted(int* d) : deletes(d) {}
    ~Counted() {
      // Something reaches the object while it is being destroyed.
      EXPECT_EQ(refs.Add(), 0u);
      EXPECT_EQ(refs.Drop(this), 0u);
      ++*deletes;
    }
  };
  int deletes = 0;
  auto* c = new Counted(&deletes);
  EXPECT_EQ(c->refs.Add(), 2u);
  EXPECT_EQ(c->refs.Drop(c), 1u);
  EXPECT_EQ(c->refs.Drop(c), 0u);
  EXPECT_EQ(deletes, 1);
}

TEST_F(AutoServ, ADeclinedEndReopensOnlyAClosedPortAndKeepsTheChannels) {
  Obj a(trx);
  ASSERT_TRUE(a.ConnectChannel(3));
  // The close handling closed the port; the user declined the end.
  trx.Close();
  EXPECT_TRUE(trx.ResumePort());
  EXPECT_TRUE(trx.IsOpen());
  Feed(DataFrame(3, {'a'}));
  ASSERT_EQ(a.received.size(), 1u);

  // A client's set-up ran during the question and opened the port already: it stays as it is.
  trx.Close();
  ASSERT_TRUE(trx.Serial.Open());
  const HANDLE handle = trx.Serial.Handle();
  const size_t opens = p.CallCount("CreateFileA");
  const int handles = p.openHandles;
  EXPECT_TRUE(trx.ResumePort());
  EXPECT_EQ(p.CallCount("CreateFileA"), opens);
  EXPECT_EQ(trx.Serial.Handle(), handle);
  EXPECT_EQ(p.openHandles, handles);
  Feed(DataFrame(3, {'b'}));
  ASSERT_EQ(a.received.size(), 2u);
  EXPECT_EQ(a.received[1], u"b");
}

// An adapter pulled and plugged in again: clients are told the port is gone, their sends are
// refused, and they get their frames again without doing anything.
TEST_F(AutoServ, ClientsKeepTheirChannelsWhileThePortIsAway) {
  Obj a(trx), b(trx);
  ASSERT_TRUE(a.ConnectChannel(3));
  ASSERT_TRUE(b.ConnectChannel(4));
  EXPECT_TRUE(a.SendSPaket(1));
  Feed(CommandFrame(3, 1));
  trx.Poll();  // a read pends
  p.failures["GetOverlappedResult"] = ERROR_BROKEN_PIPE;
  p.failures["SetupComm"] = 1;
  trx.Poll();
  EXPECT_FALSE(a.HasSerialConnection());
  const uint32_t sent = trx.BytesSent;
  EXPECT_FALSE(b.SendLPaket(u"abc", 3));
  EXPECT_FALSE(b.SendSPaket(2));
  EXPECT_EQ(LastActive, &b);
  EXPECT_EQ(trx.BytesSent, sent);
  EXPECT_EQ(Wire().size(), 3u);  // only the command sent before the loss
  EXPECT_TRUE(a.Connected() && b.Connected());

  p.failures.clear();
  for (int i = 0; i < 60; ++i) {
    p.now += 20;
    trx.Poll();
  }
  EXPECT_TRUE(a.HasSerialConnection());
  EXPECT_TRUE(b.SendLPaket(u"abc", 3));
  Feed(DataFrame(4, {'a', 'b', 'c'}));
  Feed(CommandFrame(3, 9));
  ASSERT_EQ(a.received.size(), 2u);
  EXPECT_EQ(a.received[1], u"\x09");
  ASSERT_EQ(b.received.size(), 1u);
  EXPECT_EQ(b.received[0], u"abc");
}

constexpr int32_t kServerUnavailable = static_cast<int32_t>(0x800706BAu);  // the client's process is gone

TEST_F(AutoServ, AChannelHeldByADeadClientIsFreedWhenAnotherAsksForIt) {
  int alive = 0;
  auto* dead = new Obj(trx, &Latin1Text, &alive);
  dead->clientRefs = 1;  // held only by the dead client's proxies
  ASSERT_TRUE(dead->ConnectChannel(3));
  dead->SendSPaket(1);
  Wire();
  dead->pingResult = kServerUnavailable;
  Obj taker(trx);
  // No frame came for the dead client: asking for its channel finds it gone.
  EXPECT_TRUE(taker.ConnectChannel(3));
  EXPECT_EQ(alive, 0);  // its sink, its channel and every reference it held are let go
  EXPECT_EQ(LastActive, nullptr);
  Feed(DataFrame(3, {'x'}));
  ASSERT_EQ(taker.received.size(), 1u);
  EXPECT_EQ(taker.received[0], u"x");
}

TEST_F(AutoServ, ALiveBusyOrSinklessHolderKeepsItsChannel) {
  Obj holder(trx), taker(trx);
  ASSERT_TRUE(holder.ConnectChannel(3));
  // Answered, failed in its handler, busy, refused: the client is there.
  for (uint32_t hr : {0x00000000u, 0x80004001u /* E_NOTIMPL */, 0x80010001u /* RPC_E_CALL_REJECTED */,
                      0x8001010Au /* RPC_E_SERVERCALL_RETRYLATER */, 0x80010005u /* RPC_E_CANTCALLOUT_INEXTERNALCALL */}) {
    holder.pingResult = static_cast<int32_t>(hr);
    EXPECT_FALSE(taker.ConnectChannel(3)) << std::hex << hr;
    EXPECT_TRUE(holder.Connected());
    EXPECT_FALSE(holder.ClientLost());
  }
  EXPECT_EQ(holder.pings, 5);
  // Without a sink nothing can be asked: it keeps the channel, dead or alive.
  holder.sink = false;
  holder.pingResult = kServerUnavailable;
  EXPECT_FALSE(taker.ConnectChannel(3));
  EXPECT_TRUE(holder.Connected());
  EXPECT_EQ(holder.pings, 5);
  // A free channel or one out of range asks nobody.
  Obj other(trx);
  EXPECT_TRUE(other.ConnectChannel(4));
  EXPECT_FALSE(taker.ConnectChannel(10));
  EXPECT_EQ(holder.pings, 5);
}

TEST_F(AutoServ, WhatHappensWhileTheHolderIsAskedCounts) {
  Obj holder(trx), taker(trx), third(trx);
  ASSERT_TRUE(holder.ConnectChannel(3));
  // The holder's client lets go of its channel before it answers: the taker gets it.
  holder.onPing = [&] { EXPECT_TRUE(holder.DisconnectChannel()); };
  EXPECT_TRUE(taker.ConnectChannel(3));
  EXPECT_TRUE(taker.DisconnectChannel());
  ASSERT_TRUE(holder.ConnectChannel(3));

  // A second request while the holder is being asked asks nobody again and is refused; the
  // dead holder's channel then goes to the first.
  holder.pingResult = kServerUnavailable;
  holder.onPing = [&] { EXPECT_FALSE(third.ConnectChannel(3)); };
  EXPECT_TRUE(taker.ConnectChannel(3));
  EXPECT_EQ(holder.pings, 2);
  EXPECT_TRUE(holder.ClientLost());
  EXPECT_FALSE(third.Connected());
}

TEST_F(AutoServ, ATakerThatIsGoneOrTookAnotherChannelMeanwhileGetsNoSecond) {
  Obj holder(trx), taker(trx);
  ASSERT_TRUE(holder.ConnectChannel(3));
  holder.pingResult = kServerUnavailable;
  // The taker's own client is found gone while the holder is asked (by the check, from a
  // tick inside that call).
  int alive = 0;
  auto* gone = new Obj(trx, &Latin1Text, &alive);
  gone->pingResult = kServerUnavailable;
  holder.onPing = [&] { TAutoServCore::CheckClients(); };
  EXPECT_FALSE(gone->ConnectChannel(3));
  EXPECT_TRUE(gone->ClientLost());
  EXPECT_EQ(trx.Buffers[3], nullptr);  // freed, but not taken by an object that serves nobody
  gone->Release();
  EXPECT_EQ(alive, 0);

  // Another client thread of the taker took a channel meanwhile: it keeps that one.
  Obj holder2(trx);
  ASSERT_TRUE(holder2.ConnectChannel(6));
  holder2.pingResult = kServerUnavailable;
  holder2.onPing = [&] { EXPECT_TRUE(taker.ConnectChannel(7)); };
  EXPECT_TRUE(taker.ConnectChannel(6));
  EXPECT_EQ(taker.Channel(), 7);
  EXPECT_EQ(trx.Buffers[6], nullptr);
}

TEST_F(AutoServ, TheTakerReleasedByItsClientWhileTheHolderIsAskedEndsAfterwards) {
  int alive = 0;
  auto* taker = new Obj(trx, &Latin1Text, &alive);
  Obj holder(trx);
  ASSERT_TRUE(holder.ConnectChannel(3));
  holder.pingResult = kServerUnavailable;
  holder.onPing = [&] { taker->Release(); };  // the client's last reference, from another thread
  EXPECT_TRUE(taker->ConnectChannel(3));       // an ASan error if it ended inside the call
  EXPECT_EQ(alive, 0);
  EXPECT_EQ(trx.Buffers[3], nullptr);
}

TEST_F(AutoServ, TheRegularCheckLetsGoOfEveryDeadClientAndOnlyThose) {
  int alive = 0;
  auto* dead1 = new Obj(trx, &Latin1Text, &alive);
  auto* dead2 = new Obj(trx, &Latin1Text, &alive);
  auto* live = new Obj(trx, &Latin1Text, &alive);
  auto* quiet = new Obj(trx, &Latin1Text, &alive);  // no sink: cannot be asked
  for (Obj* o : {dead1, dead2, live, quiet}) o->clientRefs = 1;
  ASSERT_TRUE(dead1->ConnectChannel(1));
  ASSERT_TRUE(live->ConnectChannel(2));
  dead1->pingResult = dead2->pingResult = kServerUnavailable;
  live->pingResult = static_cast<int32_t>(0x80010001u);  // busy
  quiet->sink = false;
  // While the first is asked, the check is started again from a nested tick (it must not
  // run twice) and the live client drops its object (which stays whole until the check is
  // done with it).
  int livePings = 0;
  live->onPing = [&] { ++livePings; };
  bool nested = false;
  dead1->onPing = [&] {
    TAutoServCore::CheckClients();
    nested = true;
    live->clientRefs = 0;
    live->Release();
  };
  TAutoServCore::CheckClients();
  EXPECT_TRUE(nested);
  EXPECT_EQ(livePings, 1);
  EXPECT_EQ(alive, 1);  // the dead ones and the dropped one are gone; the quiet one is left
  EXPECT_EQ(trx.Buffers[1], nullptr);
  EXPECT_EQ(trx.Buffers[2], nullptr);
  EXPECT_EQ(quiet->pings, 0);
  quiet->clientRefs = 0;
  quiet->Release();
  EXPECT_EQ(alive, 0);
}
