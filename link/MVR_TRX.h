// The link engine: owns the serial port, the ten channel registrations, the receive state
// machine, the link-wide answer supervision and the line counters. Passive: the main
// window's timer drives it through Poll and CheckTimeout.
#pragma once
#include <cstdint>

#include "link/CRCs.h"
#include "link/ChannelQueues.h"
#include "link/Frames.h"
#include "platform/SettingsStore.h"
#include "serial/PortSetupUi.h"
#include "serial/SerialX.h"

// A partly received frame is given up only after the line has been this quiet.
constexpr uint32_t kFrameSilenceMs = 100;
// For this long after the last send or received byte, arriving bytes wake the main loop.
constexpr uint32_t kWakeWindowMs = 1000;
// A port whose device went away is tried again this often, quietly.
constexpr uint32_t kPortRetryMs = 1000;
// Frames go to the port at the pace of the line's rate, each at most this long before the
// line is free: a tick apart, so the tick keeps the line busy, while a port that buffers
// (a pty, a USB adapter) holds next to nothing and the channel queues keep their turns.
constexpr uint32_t kLineLeadMs = 25;

enum : uint8_t {
  rsHeader = 0,
  rsLength = 1,
  rsData = 2,
  rsSkip = 15,
  rsCmdValue = 16,
  rsCmdCheck = 17,
  rsSkipOne = 31,
};

// A callback without arguments bound to its owner.
struct TChannelEvent {
  void (*Code)(void* owner) = nullptr;
  void* Owner = nullptr;
  void operator()() const {
    if (Code) Code(Owner);
  }
};

class TMVRtrx {
 public:
  explicit TMVRtrx(SerialPlatform& platform);
  // The built-in line settings: COM1, 57600 baud, 8N1, 1000-byte queues.
  static void ApplyBuiltInSettings(TSerialPort& port);
  TMVRtrx(const TMVRtrx&) = delete;
  TMVRtrx& operator=(const TMVRtrx&) = delete;

  bool Open();
  bool IsOpen() const { return Serial.Active; }
  // Also stops the attempts to get back a port that went away.
  void Close();
  // Opens the port again after an end the user took back, keeping every channel; a port
  // that is open already (a set-up ran meanwhile) stays as it is, and one that was away
  // when the end began is awaited again.
  bool ResumePort();
  // The port's device went away (an adapter pulled) and the port is closed: every Poll
  // tries to open it again with the same settings, at most once per kPortRetryMs and
  // without a box, until it opens, a set-up or stored settings replace it, or Close.
  // Channels, counters and the answer supervision stay; sends answer false meanwhile.
  bool PortAway() const { return portAway_; }
  void SetupPort();
  bool RegisterChannel(uint8_t channel, TChannelEvent callback, uint8_t* buffer,
                       uint16_t* lengthWord, uint16_t capacity);
  void ReleaseChannel(uint8_t channel);
  // The timer tick: reads everything that has arrived; a tick that brings nothing counts down
  // the answer supervision and gives up a partial frame after a real silence.
  void Poll();
  // The port's read has completed: reads and delivers what has arrived. Never a silent tick.
  void ReceiveArrived();
  // The event the main loop waits on besides messages, so that answers are delivered when
  // they arrive: while the link is busy (a send or a received byte within kWakeWindowMs, or
  // a frame half received). nullptr otherwise: an idle link is polled by the tick alone,
  // which keeps the idle loop as cheap as a plain message wait.
  HANDLE ArrivalEvent();
  // The event of the port's write in flight while frames wait for the line; the main loop
  // calls FeedLine when it is set. nullptr when nothing waits.
  HANDLE LineEvent();
  // Hands the waiting frames to the port, in turn, as long as it takes them.
  void FeedLine();
  bool CheckTimeout();
  // A frame waits in its channel's queue until the line takes it; its answer countdown and
  // BytesSent start when it goes to the port. False when the channel's own backlog is full
  // (TChannelQueues::kBytesPerChannel) or the port is away: then nothing is queued or counted.
  bool SendFrame(uint8_t channel, const uint8_t* data, uint16_t length);
  bool SendCommand(uint8_t channel, uint8_t value);
  // Bytes of the channel's frames that wait for the line.
  uint32_t Backlog(uint8_t channel) const { return queues_.Backlog(channel); }
  bool LoadSettings(SettingsStore& ini);
  void SaveSettings(SettingsStore& ini);

  // Feeds one received byte to the receive state machine.
  void ReceiveByte(uint8_t b);

  // The dialog, question and end request used by SetupPort; set by the program.
  PortSetupUi* SetupUi = nullptr;

  TSerialPort Serial;
  uint8_t RxState = rsHeader;
  uint8_t* Buffers[kChannelCount] = {};
  uint16_t* LengthRefs[kChannelCount] = {};
  uint8_t* WritePos[kChannelCount] = {};
  uint16_t Capacities[kChannelCount] = {};
  TChannelEvent Callbacks[kChannelCount] = {};
  uint16_t FrameLength = 0;
  uint16_t BytesLeft = 0;
  uint8_t FrameChannel = 0;
  uint16_t FrameCRC = 0;
  int32_t AnswerCountdown = 0;
  int32_t AnswerTimeout = -1;
  bool InSetup = false;
  bool AwaitingAnswer = false;
  uint32_t BytesSent = 0;
  uint32_t BytesReceived = 0;
  uint16_t CRCErrors = 0;
  uint16_t Timeouts = 0;

 private:
  // Drops the rest of a frame whose channel was released while it was coming in.
  void AbandonFrameFor(uint8_t channel);
  void Deliver(uint8_t channel);
  void ReceiveBlock(const uint8_t* p, const uint8_t* end);
  // Reads and parses until the port has nothing more; returns the bytes read.
  uint32_t ReadAll();
  uint32_t SilenceLimitMs() const;
  // A read or write found the device gone: closes the port quietly (its box waits for the
  // main loop like any port error) and starts awaiting it. True when it did.
  bool LoseGoneDevice();
  void RetryAwayPort();
  bool Queue(uint8_t channel, const uint8_t* frame, uint16_t size);
  void Transmit(const uint8_t* frame, uint16_t size);
  // The line is free, or will be within kLineLeadMs.
  bool LineHasRoom();
  uint64_t LineDueUs(uint32_t now) const;
  // How long the line carries size bytes at the port's rate and character format.
  uint32_t LineTimeUs(uint16_t size) const;

  bool inPoll_ = false;
  bool portAway_ = false;
  bool awayAtClose_ = false;  // what ResumePort goes back to
  uint32_t lastRetryTick_ = 0;
  uint32_t lastByteTick_ = 0;  // when the last byte was read
  uint32_t lastLook_ = 0;      // when the port was last read
  uint32_t quietSince_ = 0;    // since when the watched line has brought nothing
  uint32_t lastSendTick_ = 0;
  // The line time the frames given to the port still take, as of the tick linePacedAt_.
  uint64_t lineDueUs_ = 0;
  uint32_t linePacedAt_ = 0;
  // The channel of the data frame whose length byte is awaited was released meanwhile.
  bool frameAbandoned_ = false;
  TChannelQueues queues_;
};
