#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "link/MVR_TRX.h"
#include "serial/SerialX.h"
#include "tests/host/fakes/FakeSerialPlatform.h"
#include "tests/host/fakes/MemoryIniFile.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A port with the engine's start-up settings (COM1, 57600, 8N1, 1000-byte queues).
struct PortFixture : ::testing::Test {
  FakeSerialPlatform p;
  TSerialPort port{p};
  PortFixture() { TMVRtrx::ApplyBuiltInSettings(port); }
  Bytes ReadAll() {
    Bytes out;
    uint8_t buf[260];
    for (int32_t n; (n = port.Read(buf, sizeof buf)) > 0;) out.insert(out.end(), buf, buf + n);
    return out;
  }
  // What the main loop shows: read and write errors wait for it.
  const std::vector<std::string>& Shown() {
    port.ShowPendingReports();
    return p.boxes;
  }
  bool FakeComplained() const {
    for (const auto& b : p.boxes)
      if (b.rfind("FAKE:", 0) == 0) return true;
    return false;
  }
};

DWORD DcbFlagWord(const DCB& dcb) {
  DWORD w;
  std::memcpy(&w, reinterpret_cast<const char*>(&dcb) + 8, sizeof w);
  return w;
}

struct OpenStep {
  const char* call;
  const char* tag;
};

using SerialOpen = PortFixture;
using SerialIo = PortFixture;
using SerialIni = PortFixture;

TEST_F(SerialOpen, EveryFailingStepShowsOneBoxAndClosesAgain) {
  const OpenStep steps[] = {{"CreateFileA", "Create: "},     {"SetupComm", "Setup: "},
                            {"GetCommTimeouts", "Times: "},  {"SetCommTimeouts", "Timet: "},
                            {"GetCommState", "DCBrd: "},     {"SetCommState", "DCBwr: "}};
  for (const auto& step : steps) {
    SCOPED_TRACE(step.call);
    FakeSerialPlatform fake;
    fake.failures[step.call] = 31;
    {
      TSerialPort sp(fake);
      EXPECT_FALSE(sp.Open());
      EXPECT_FALSE(sp.Active);
      ASSERT_EQ(fake.boxes.size(), 1u);
      EXPECT_EQ(fake.boxes[0],
                std::string(step.tag) + "31! A device attached to the system is not functioning");
      const bool createFailed = std::string(step.call) == "CreateFileA";
      EXPECT_EQ(fake.CallCount("CloseHandle"), createFailed ? 0u : 1u);
      if (createFailed) {
        EXPECT_EQ(sp.Handle(), INVALID_HANDLE_VALUE);
      }
      EXPECT_EQ(fake.openHandles, 0);
      // Nothing after the failed step was tried.
      EXPECT_EQ(fake.CallCount("SetCommState"), std::string(step.call) == "SetCommState" ? 1u : 0u);
      // A failed port stays silent.
      uint8_t b[4];
      EXPECT_EQ(sp.Read(b, 4), 0);
      sp.Write(b, 4);
      EXPECT_EQ(fake.boxes.size(), 1u);
      EXPECT_EQ(fake.CallCount("ReadFile") + fake.CallCount("WriteFile"), 0u);
    }
    EXPECT_EQ(fake.openHandles, 0);
  }
}

TEST_F(SerialOpen, MissingDeviceAndFailedCloseAfterSetup) {
  p.devices.erase("COM1");
  EXPECT_FALSE(port.Open());
  EXPECT_EQ(p.boxes, std::vector<std::string>{"Create: 2! File not found"});
  EXPECT_EQ(p.lastDeviceName, "COM1");

  p.boxes.clear();
  p.devices.insert("COM1");
  p.failures["SetCommState"] = 87;
  p.failures["CloseHandle"] = 5;
  EXPECT_FALSE(port.Open());
  EXPECT_FALSE(port.Active);
  EXPECT_EQ(p.boxes, (std::vector<std::string>{"DCBwr: 87! Invalid parameter",
                                               "Crese: 5! Access denied"}));
  EXPECT_EQ(p.openHandles, 1);  // only the device the system refused to close

  // A later successful open works from a clean state.
  p.failures.clear();
  p.boxes.clear();
  EXPECT_TRUE(port.Open());
  EXPECT_TRUE(p.boxes.empty());
}

TEST_F(SerialOpen, WritesLineStateTimeoutsAndQueueSizes) {
  port.SetPort(2);
  port.SetBaudRate(13);
  port.SetDataBits(3);
  port.SetParity(2);
  port.SetStopBits(2);
  port.InSize = 1234;
  port.OutSize = 4321;
  ASSERT_TRUE(port.Open());
  EXPECT_TRUE(port.Active);
  EXPECT_TRUE(p.boxes.empty());
  EXPECT_EQ(p.lastDeviceName, "COM3");
  const DCB& d = p.lastState;
  EXPECT_EQ(d.DCBlength, 28u);
  EXPECT_EQ(d.BaudRate, 128000u);
  EXPECT_EQ(DcbFlagWord(d), 0x1011u);
  EXPECT_EQ(d.ByteSize, 7);
  EXPECT_EQ(d.Parity, EVENPARITY);
  EXPECT_EQ(d.StopBits, TWOSTOPBITS);
  // What the device reported is kept.
  EXPECT_EQ(d.XonChar, 0x11);
  EXPECT_EQ(d.XoffChar, 0x13);
  EXPECT_EQ(d.XonLim, 0xA5A5);
  EXPECT_EQ(d.XoffLim, 0xA5A5);
  EXPECT_EQ(static_cast<uint8_t>(d.ErrorChar), 0xA5);
  EXPECT_EQ(static_cast<uint8_t>(d.EofChar), 0xA5);
  EXPECT_EQ(static_cast<uint8_t>(d.EvtChar), 0xA5);
  const COMMTIMEOUTS& t = p.lastTimeouts;
  EXPECT_EQ(t.ReadIntervalTimeout, MAXDWORD);
  EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(t.ReadTotalTimeoutConstant, 0u);
  EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(t.WriteTotalTimeoutConstant, 0u);
  EXPECT_EQ(p.lastInQueue, 1234u);
  EXPECT_EQ(p.lastOutQueue, 4321u);

  port.Close();
  EXPECT_FALSE(port.Active);
  EXPECT_EQ(p.openHandles, 0);
  const size_t calls = p.calls.size();
  port.Close();  // a second Close does nothing
  EXPECT_EQ(p.calls.size(), calls);
}

TEST_F(SerialOpen, EveryTableEntryReachesTheDevice) {
  const DWORD bauds[16] = {110,   300,   600,   1200,  2400,   4800,   9600,   14400,
                           19200, 38400, 56000, 57600, 115200, 128000, 230400, 256000};
  const BYTE sizes[5] = {4, 5, 6, 7, 8};
  for (uint8_t i = 0; i < 16; ++i) {
    port.SetBaudRate(i);
    port.SetDataBits(i % 5);
    port.SetParity(i % 5);
    port.SetStopBits(i % 3);
    port.SetPort(i % 4);
    ASSERT_TRUE(port.Open());
    EXPECT_EQ(p.lastState.BaudRate, bauds[i]);
    EXPECT_EQ(p.lastState.ByteSize, sizes[i % 5]);
    EXPECT_EQ(p.lastState.Parity, i % 5);
    EXPECT_EQ(p.lastState.StopBits, i % 3);
    EXPECT_EQ(p.lastDeviceName, "COM" + std::to_string(i % 4 + 1));
    port.Close();
  }
  EXPECT_EQ(p.openHandles, 0);
}

TEST_F(SerialIo, ClosedPortMakesNoSystemCall) {
  uint8_t b[8] = {1, 2, 3};
  EXPECT_EQ(port.Read(b, 8), 0);
  port.Write(b, 3);
  EXPECT_TRUE(p.calls.empty());
  ASSERT_TRUE(port.Open());
  port.Close();
  p.calls.clear();
  EXPECT_EQ(port.Read(b, 8), 0);
  port.Write(b, 3);
  EXPECT_TRUE(p.calls.empty());
  EXPECT_TRUE(p.wire.empty());
  EXPECT_TRUE(p.boxes.empty());
}

TEST_F(SerialIo, PendingReadIsHarvestedNeverDoubled) {
  EXPECT_EQ(port.ReadEvent(), nullptr);
  ASSERT_TRUE(port.Open());
  EXPECT_EQ(port.ReadEvent(), nullptr);  // nothing pends before the first read
  uint8_t b[260];
  for (int i = 0; i < 5; ++i) EXPECT_EQ(port.Read(b, sizeof b), 0);
  EXPECT_EQ(p.CallCount("ReadFile"), 1u);  // the rest asked the pending one
  EXPECT_NE(port.ReadEvent(), nullptr);  // a loop can wait for the bytes

  p.Receive({1, 2, 3, 4, 5});
  ASSERT_EQ(port.Read(b, 2), 2);  // the pending read completes; the rest waits in order
  EXPECT_EQ(Bytes(b, b + 2), (Bytes{1, 2}));
  EXPECT_EQ(ReadAll(), (Bytes{3, 4, 5}));

  // Queued data comes at once, drained over several reads, in order.
  Bytes big(700);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7);
  p.Receive(big);
  EXPECT_EQ(ReadAll(), big);
  EXPECT_FALSE(FakeComplained());
  EXPECT_TRUE(p.boxes.empty());

  // A read that pends needs no other wait.
  EXPECT_EQ(p.CallCount("SetCommMask"), 0u);
  EXPECT_EQ(p.CallCount("WaitCommEvent"), 0u);
  port.Close();
  EXPECT_EQ(port.ReadEvent(), nullptr);
}

// Windows answers an empty read at once: the wait for a received character stands in for
// the pending read.
TEST_F(SerialIo, EmptyReadOnWindowsArmsOneWaitForArrival) {
  p.readsPendWhenEmpty = false;
  ASSERT_TRUE(port.Open());
  uint8_t b[260];
  for (int i = 0; i < 5; ++i) EXPECT_EQ(port.Read(b, sizeof b), 0);
  EXPECT_EQ(p.CallCount("ReadFile"), 5u);  // the tick still reads, whatever the wait does
  EXPECT_EQ(p.CallCount("SetCommMask"), 1u);
  EXPECT_EQ(p.CallCount("WaitCommEvent"), 1u);  // never a second one
  const HANDLE h = port.ReadEvent();
  ASSERT_NE(h, nullptr);
  EXPECT_FALSE(p.Signalled(h));

  p.Receive({1, 2, 3});
  EXPECT_TRUE(p.Signalled(h));  // the loop wakes
  EXPECT_EQ(ReadAll(), (Bytes{1, 2, 3}));
  EXPECT_EQ(p.CallCount("WaitCommEvent"), 2u);  // harvested and armed again
  EXPECT_EQ(port.ReadEvent(), h);
  EXPECT_FALSE(p.Signalled(h));
  EXPECT_EQ(p.CallCount("SetCommMask"), 1u);

  // A frame drained in several reads, then a tick with nothing: still one wait.
  Bytes big(700, 0x33);
  p.Receive(big);
  EXPECT_EQ(ReadAll(), big);
  EXPECT_EQ(ReadAll(), Bytes{});
  EXPECT_EQ(p.CallCount("WaitCommEvent"), 3u);
  EXPECT_TRUE(p.WaitPending());
  EXPECT_EQ(port.ReadEvent(), h);
  EXPECT_FALSE(FakeComplained());
  EXPECT_TRUE(Shown().empty());

  // A set-up that reopens the port sets the mask anew.
  ASSERT_TRUE(port.Open());
  EXPECT_EQ(port.ReadEvent(), nullptr);  // nothing pends before the first read
  EXPECT_EQ(port.Read(b, sizeof b), 0);
  EXPECT_NE(port.ReadEvent(), nullptr);
  EXPECT_EQ(p.CallCount("SetCommMask"), 2u);
  port.Close();
  EXPECT_EQ(port.ReadEvent(), nullptr);
  EXPECT_EQ(p.openHandles, 0);
  EXPECT_FALSE(FakeComplained());
}

TEST_F(SerialIo, CloseCancelsAndCollectsTheWaitForArrival) {
  p.readsPendWhenEmpty = false;
  ASSERT_TRUE(port.Open());
  uint8_t b[8];
  EXPECT_EQ(port.Read(b, 8), 0);
  ASSERT_TRUE(p.WaitPending());
  port.Close();
  EXPECT_EQ(p.CallCount("CancelIo"), 1u);
  EXPECT_FALSE(p.WaitPending());
  EXPECT_EQ(p.openHandles, 0);
  EXPECT_FALSE(FakeComplained());  // not left pending into the close

  // A device that never ends the cancelled wait: the close still ends in bounded time, and
  // the mask the device writes late belongs to a block the port still keeps.
  ASSERT_TRUE(port.Open());
  EXPECT_EQ(port.Read(b, 8), 0);
  p.ioStuck = true;
  const DWORD before = p.now;
  port.Close();
  EXPECT_GE(p.now - before, TSerialPort::kCloseWaitMs);
  EXPECT_LE(p.now - before, 2 * TSerialPort::kCloseWaitMs);
  EXPECT_EQ(p.openHandles, 0);
  p.ioStuck = false;
  ASSERT_TRUE(port.Open());
  p.CompleteStuck();
  EXPECT_EQ(port.Read(b, 8), 0);
  EXPECT_NE(port.ReadEvent(), nullptr);
  p.Receive({6});
  EXPECT_TRUE(p.Signalled(port.ReadEvent()));
  EXPECT_EQ(ReadAll(), Bytes{6});
  port.Close();
  EXPECT_EQ(p.openHandles, 0);
  EXPECT_FALSE(FakeComplained());
  EXPECT_TRUE(Shown().empty());
}

// Without the wait the link still works at the tick: no box, no retry every read.
TEST_F(SerialIo, WaitForArrivalThatFailsLeavesTheTimer) {
  p.readsPendWhenEmpty = false;
  for (const char* step : {"SetCommMask", "WaitCommEvent", "GetOverlappedResult"}) {
    SCOPED_TRACE(step);
    p.failures.clear();
    p.calls.clear();
    ASSERT_TRUE(port.Open());
    uint8_t b[8];
    if (std::string(step) == "GetOverlappedResult") {
      EXPECT_EQ(port.Read(b, 8), 0);  // armed; the wait then ends in an error
      p.failures[step] = 31;
      EXPECT_EQ(port.Read(b, 8), 0);
      p.failures.clear();
    } else {
      p.failures[step] = 87;
    }
    for (int i = 0; i < 3; ++i) EXPECT_EQ(port.Read(b, 8), 0);
    EXPECT_EQ(port.ReadEvent(), nullptr);
    EXPECT_EQ(p.CallCount(step), 1u);
    EXPECT_LE(p.CallCount("WaitCommEvent"), 1u);
    p.Receive({7, 8});
    EXPECT_EQ(ReadAll(), (Bytes{7, 8}));
    EXPECT_TRUE(Shown().empty());
    port.Close();
    EXPECT_EQ(p.openHandles, 0);
    EXPECT_FALSE(FakeComplained());
  }
}

TEST_F(SerialIo, WriteOwnsTheBytesAndKeepsTheirOrder) {
  ASSERT_TRUE(port.Open());
  p.writesPend = true;
  uint8_t b[3] = {1, 2, 3};
  port.Write(b, 3);
  std::memset(b, 0xEE, sizeof b);
  b[0] = 4;
  b[1] = 5;
  port.Write(b, 2);
  std::memset(b, 0xEE, sizeof b);
  b[0] = 6;
  port.Write(b, 1);
  std::memset(b, 0xEE, sizeof b);
  // Each completion lets the next queued write go out.
  uint8_t r[8];
  for (int i = 0; i < 4; ++i) {
    p.CompleteWrites();
    port.Read(r, sizeof r);
  }
  EXPECT_EQ(p.wire, (Bytes{1, 2, 3, 4, 5, 6}));
  EXPECT_TRUE(p.boxes.empty());
}

TEST_F(SerialIo, CloseWithPendingIoCancelsFirst) {
  ASSERT_TRUE(port.Open());
  uint8_t b[8] = {1, 2};
  EXPECT_EQ(port.Read(b, 8), 0);  // leaves a read pending
  p.writesPend = true;
  port.Write(b, 2);
  port.Close();
  EXPECT_EQ(p.CallCount("CancelIo"), 1u);
  EXPECT_TRUE(p.boxes.empty()) << p.boxes[0];
  EXPECT_EQ(p.openHandles, 0);

  // Reopened, the old read is forgotten: a new one is issued and delivers.
  p.writesPend = false;
  ASSERT_TRUE(port.Open());
  p.Receive({7, 8});
  EXPECT_EQ(ReadAll(), (Bytes{7, 8}));
  EXPECT_FALSE(FakeComplained());
}

TEST_F(SerialIo, PersistingErrorsAreReportedOnce) {
  ASSERT_TRUE(port.Open());
  uint8_t b[8] = {};
  p.failures["ReadFile"] = 109;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(port.Read(b, 8), 0);
  EXPECT_EQ(Shown(), std::vector<std::string>{"Receive: 109! "});
  EXPECT_TRUE(port.Active);

  // A successful read re-arms the report.
  p.failures.erase("ReadFile");
  p.Receive({1});
  EXPECT_EQ(port.Read(b, 8), 1);
  p.failures["ReadFile"] = 109;
  port.Read(b, 8);
  port.Read(b, 8);
  EXPECT_EQ(Shown().size(), 2u);

  // So does reopening.
  port.Close();
  ASSERT_TRUE(port.Open());
  port.Read(b, 8);
  EXPECT_EQ(Shown().size(), 3u);

  // A pending read that ends in an error is reported the same way.
  p.failures.clear();
  port.Close();
  ASSERT_TRUE(port.Open());
  p.boxes.clear();
  EXPECT_EQ(port.Read(b, 8), 0);
  p.failures["GetOverlappedResult"] = 109;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(port.Read(b, 8), 0);
  EXPECT_EQ(Shown(), std::vector<std::string>{"Receive: 109! "});
  EXPECT_FALSE(FakeComplained());

  // Writes: one box for a failing device, then one for a short write after recovery.
  p.failures.clear();
  p.failures["WriteFile"] = 31;
  p.boxes.clear();
  port.Write(b, 3);
  port.Write(b, 3);
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(Shown()[0], "Transmit: 31! A device attached to the system is not functioning");
  p.failures.clear();
  port.Write(b, 3);
  EXPECT_EQ(p.wire.size(), 3u);
  p.shortWriteBy = 1;
  port.Write(b, 3);
  port.Write(b, 3);
  ASSERT_EQ(Shown().size(), 2u);
  EXPECT_EQ(Shown()[1].rfind("Transmit#: ", 0), 0u) << p.boxes[1];
  EXPECT_TRUE(port.Active);
}

TEST_F(SerialIo, PendingWriteThatFailsIsReported) {
  ASSERT_TRUE(port.Open());
  p.writesPend = true;
  uint8_t b[3] = {1, 2, 3};
  port.Write(b, 3);
  EXPECT_TRUE(Shown().empty());
  p.failures["GetOverlappedResult"] = 21;
  port.Write(b, 3);  // collects the failed one, then starts the next
  EXPECT_EQ(Shown(), std::vector<std::string>{"Transmit: 21! "});
  EXPECT_TRUE(port.Active);
  // The next write completes: a later failure is worth a box again.
  p.failures.clear();
  p.CompleteWrites();
  port.Read(b, 3);
  EXPECT_EQ(p.wire, (Bytes{1, 2, 3}));
  port.Write(b, 3);
  p.failures["GetOverlappedResult"] = 21;
  port.Write(b, 1);
  EXPECT_EQ(Shown(), (std::vector<std::string>{"Transmit: 21! ", "Transmit: 21! "}));
  p.failures.clear();
  port.Close();
  EXPECT_FALSE(FakeComplained());
  EXPECT_EQ(p.openHandles, 0);
}

TEST_F(SerialIo, NestedWriteKeepsItsOwnBytes) {
  ASSERT_TRUE(port.Open());
  p.writesPend = true;
  const uint8_t first[4] = {1, 2, 3, 4}, nested[2] = {7, 8};
  ASSERT_TRUE(port.Write(first, 4));
  // The first write completes short; while its box is open another client writes.
  p.shortWriteBy = 1;
  p.CompleteWrites();
  p.onBox = [&] {
    p.onBox = nullptr;
    p.shortWriteBy = 0;
    port.Write(nested, 2);
  };
  uint8_t r[8];
  port.Read(r, sizeof r);
  EXPECT_TRUE(p.boxes.empty());  // never shown from inside the call
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(p.boxes[0].rfind("Transmit#: ", 0), 0u) << p.boxes[0];
  EXPECT_EQ(port.UnsentBytes(), 2u);  // the nested write still owns its two bytes
  p.CompleteWrites();
  port.Read(r, sizeof r);
  EXPECT_EQ(port.UnsentBytes(), 0u);
  EXPECT_EQ(p.wire, (Bytes{1, 2, 3, 4, 7, 8}));
  // A later short write is reported again: the nested one completed in full.
  p.shortWriteBy = 1;
  port.Write(first, 4);
  p.CompleteWrites();
  port.Read(r, sizeof r);
  port.Read(r, sizeof r);
  EXPECT_EQ(Shown().size(), 2u);
  EXPECT_FALSE(FakeComplained());
}

TEST_F(SerialIo, SendQueueIsBoundedPerChannel) {
  FakeSerialPlatform fp;
  TMVRtrx trx(fp);
  trx.AnswerTimeout = 16;
  ASSERT_TRUE(trx.Open());
  fp.writesPend = true;  // the device takes nothing (an unplugged adapter)
  const Bytes block(256, 0x33);
  int accepted = 0;
  while (trx.SendFrame(1, block.data(), 256)) ++accepted;
  // One frame is the port's write in flight; the channel's queue holds the rest, a burst of
  // 300 with room to spare.
  EXPECT_EQ(accepted, 1 + static_cast<int>(TChannelQueues::kBytesPerChannel / 260));
  EXPECT_GE(accepted, 300);
  EXPECT_EQ(trx.Serial.UnsentBytes(), 260u);
  EXPECT_EQ(trx.Backlog(1), static_cast<uint32_t>(accepted - 1) * 260);
  EXPECT_EQ(trx.BytesSent, 260u);  // what went to the port, not what waits
  // Refused sends queue nothing and arm nothing; another channel is not held up.
  trx.AnswerCountdown = -1;
  EXPECT_FALSE(trx.SendFrame(1, block.data(), 1));
  EXPECT_FALSE(trx.SendCommand(1, 0x41));
  EXPECT_EQ(trx.Backlog(1), static_cast<uint32_t>(accepted - 1) * 260);
  EXPECT_TRUE(trx.SendFrame(2, block.data(), 256));
  EXPECT_TRUE(trx.SendCommand(3, 0x41));
  EXPECT_EQ(trx.AnswerCountdown, -1);
  EXPECT_EQ(trx.BytesSent, 260u);
  // Once the device takes the bytes, all go out, each in its time on the line.
  for (int i = 0; i < accepted + 2; ++i) {
    fp.now += 46;
    fp.CompleteWrites();
    trx.Poll();
  }
  EXPECT_EQ(trx.Serial.UnsentBytes(), 0u);
  EXPECT_EQ(trx.Backlog(1), 0u);
  EXPECT_EQ(fp.wire.size(), static_cast<size_t>(accepted) * 260 + 260 + 3);
  EXPECT_EQ(trx.BytesSent, fp.wire.size());
  EXPECT_TRUE(trx.SendFrame(1, block.data(), 256));
  EXPECT_TRUE(fp.boxes.empty());
  trx.Close();
}

TEST_F(SerialIo, CloseGivesUpOnIoThatNeverEnds) {
  ASSERT_TRUE(port.Open());
  uint8_t b[8] = {1, 2};
  EXPECT_EQ(port.Read(b, 8), 0);  // a read pending
  p.writesPend = true;
  ASSERT_TRUE(port.Write(b, 2));  // and a write
  p.ioStuck = true;
  const DWORD before = p.now;
  port.Close();
  EXPECT_FALSE(port.Active);
  EXPECT_GE(p.now - before, TSerialPort::kCloseWaitMs);
  EXPECT_LE(p.now - before, 2 * TSerialPort::kCloseWaitMs);
  EXPECT_EQ(p.openHandles, 0);  // the device and both events are closed all the same
  EXPECT_FALSE(FakeComplained());

  // Reopened, the port works with new blocks; the device finishing the old I/O late writes
  // into blocks the port still keeps (ASan would see freed ones).
  p.ioStuck = false;
  p.writesPend = false;
  ASSERT_TRUE(port.Open());
  p.CompleteStuck();
  p.Receive({7, 8});
  EXPECT_EQ(ReadAll(), (Bytes{7, 8}));
  EXPECT_EQ(p.wire, (Bytes{1, 2}));

  // I/O that ends when cancelled costs no wait.
  EXPECT_EQ(port.Read(b, 8), 0);
  const DWORD t = p.now;
  port.Close();
  EXPECT_EQ(p.now, t);
  EXPECT_EQ(p.openHandles, 0);
  EXPECT_FALSE(FakeComplained());
}

TEST_F(SerialOpen, OpenOfAnOpenPortClosesItFirst) {
  ASSERT_TRUE(port.Open());
  uint8_t b[8] = {1, 2};
  EXPECT_EQ(port.Read(b, 8), 0);  // pending I/O on the first handle
  p.writesPend = true;
  ASSERT_TRUE(port.Write(b, 2));
  EXPECT_TRUE(port.Open());
  EXPECT_TRUE(p.boxes.empty()) << p.boxes[0];
  EXPECT_EQ(p.CallCount("CancelIo"), 1u);
  EXPECT_EQ(p.openHandles, 3);  // one device, two events
  p.writesPend = false;
  p.Receive({5});
  EXPECT_EQ(ReadAll(), Bytes{5});
  port.Close();
  EXPECT_EQ(p.openHandles, 0);
  EXPECT_FALSE(FakeComplained());
}

TEST_F(SerialOpen, SystemTextInsertsAreNotExpanded) {
  p.failures["CreateFileA"] = 1234;  // its system text holds "%1"
  EXPECT_FALSE(port.Open());
  EXPECT_EQ(p.boxes, std::vector<std::string>{"Create: 1234! Port %1 is gone"});
}

TEST(SerialErrorText, TrailingJunkIsTrimmed) {
  EXPECT_EQ(FormatPortError("Create: ", 2, "File not found.\r\n"), "Create: 2! File not found");
  EXPECT_EQ(FormatPortError("Close: ", 6, "Bad handle . .\t\r\n "), "Close: 6! Bad handle");
  EXPECT_EQ(FormatPortError("Setup: ", 5, "e.g. this.\n"), "Setup: 5! e.g. this");
  EXPECT_EQ(FormatPortError("Receive: ", 109, ""), "Receive: 109! ");
  EXPECT_EQ(FormatPortError("Timet: ", 1, "...\r\n"), "Timet: 1! ");
  EXPECT_EQ(FormatPortError("DCBrd: ", 4294967295u, "x"), "DCBrd: 4294967295! x");
  // Characters above 127 are text, not junk.
  EXPECT_EQ(FormatPortError("X: ", 1, "Gr\xFC\xDF"), "X: 1! Gr\xFC\xDF");
}

TEST_F(SerialIni, EmptyStoreGivesStoreDefaults) {
  MemoryIniFile ini;
  port.SetPort(3);
  port.SetParity(4);
  port.InSize = 5000;
  port.LoadFromIni(ini, "ComPort");
  EXPECT_EQ(port.Port, 0);
  EXPECT_EQ(port.BaudRate, 6);  // 9600, not the engine's 57600
  EXPECT_EQ(port.DataBits, 4);
  EXPECT_EQ(port.Parity, 0);
  EXPECT_EQ(port.StopBits, 0);
  EXPECT_EQ(port.InSize, 1000);
  EXPECT_EQ(port.OutSize, 1000);
  EXPECT_TRUE(ini.sections.empty());
}

TEST_F(SerialIni, StoredValuesAreClamped) {
  struct Case {
    const char* name;
    const char* text;
    int expected;
  };
  const Case cases[] = {
      {"ComPort", "0", 0},         {"ComPort", "-7", 0},          {"ComPort", "3", 2},
      {"ComPort", "9", 3},         {"ComPort", "-2147483648", 0}, {"ComPort", "2147483647", 3},
      {"BaudRate", "99", 15},      {"BaudRate", "-3", 0},         {"BaudRate", "-2147483648", 0},
      {"BaudRate", "256", 15},     {"DataBits", "7", 4},          {"DataBits", "-1", 0},
      {"Parity", "abc", 0},        {"Parity", "3", 3},            {"Parity", "260", 4},
      {"StopBits", "5", 2},        {"StopBits", "-1", 0},         {"InSize", "500", 1000},
      {"InSize", "100000", 60000}, {"InSize", "-2147483648", 1000}, {"InSize", "4096", 4096},
      {"OutSize", "2147483647", 60000}, {"OutSize", "0", 1000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + "=" + c.text);
    MemoryIniFile ini;
    ini.Set("ComPort", c.name, c.text);
    port.SetParity(2);  // so a text that is no number visibly falls back to 0
    port.LoadFromIni(ini, "ComPort");
    const std::string n = c.name;
    const int got = n == "ComPort"    ? port.Port
                    : n == "BaudRate" ? port.BaudRate
                    : n == "DataBits" ? port.DataBits
                    : n == "Parity"   ? port.Parity
                    : n == "StopBits" ? port.StopBits
                    : n == "InSize"   ? port.InSize
                                      : port.OutSize;
    EXPECT_EQ(got, c.expected);
  }
}

TEST_F(SerialIni, SaveWritesIndicesAndLoadFindsThemAgain) {
  MemoryIniFile ini;
  port.SetPort(2);
  port.SetDataBits(3);
  port.SetParity(1);
  port.SetStopBits(2);
  port.InSize = 70000;  // not clamped on saving
  port.OutSize = 999;
  port.SaveToIni(ini, "ComPort");
  EXPECT_EQ(*ini.Get("ComPort", "ComPort"), "3");
  EXPECT_EQ(*ini.Get("ComPort", "BaudRate"), "11");
  EXPECT_EQ(*ini.Get("ComPort", "InSize"), "70000");
  EXPECT_EQ(*ini.Get("ComPort", "OutSize"), "999");
  EXPECT_EQ(ini.writtenNames["databits"], "Databits");
  EXPECT_EQ(ini.writtenNames["stopbits"], "Stopbits");
  EXPECT_EQ(ini.writtenNames.size(), 7u);

  FakeSerialPlatform other;
  TSerialPort loaded(other);
  loaded.LoadFromIni(ini, "ComPort");
  EXPECT_EQ(loaded.Port, 2);
  EXPECT_EQ(loaded.BaudRate, 11);
  EXPECT_EQ(loaded.DataBits, 3);
  EXPECT_EQ(loaded.Parity, 1);
  EXPECT_EQ(loaded.StopBits, 2);
  EXPECT_EQ(loaded.InSize, 60000);
  EXPECT_EQ(loaded.OutSize, 1000);
  EXPECT_TRUE(other.calls.empty());  // the device is not touched
}

TEST_F(SerialIni, StoreErrorStopsAtThatValue) {
  MemoryIniFile ini;
  ini.Set("ComPort", "ComPort", "2");
  ini.Set("ComPort", "BaudRate", "3");
  ini.Set("ComPort", "DataBits", "1");
  ini.Set("ComPort", "Parity", "4");
  ini.Set("ComPort", "StopBits", "2");
  ini.Set("ComPort", "InSize", "2000");
  ini.failOn = "Parity";
  EXPECT_THROW(port.LoadFromIni(ini, "ComPort"), SettingsStoreError);
  EXPECT_EQ(port.Port, 1);
  EXPECT_EQ(port.BaudRate, 3);
  EXPECT_EQ(port.DataBits, 1);
  EXPECT_EQ(port.Parity, 0);
  EXPECT_EQ(port.StopBits, 0);
  EXPECT_EQ(port.InSize, 1000);

  MemoryIniFile out;
  out.failOn = "Stopbits";
  EXPECT_THROW(port.SaveToIni(out, "ComPort"), SettingsStoreError);
  EXPECT_NE(out.Get("ComPort", "Parity"), nullptr);
  EXPECT_EQ(out.Get("ComPort", "StopBits"), nullptr);
  EXPECT_EQ(out.Get("ComPort", "InSize"), nullptr);
}

}  // namespace
