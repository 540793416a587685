#include "link/MVR_TRX.h"

#include <algorithm>
#include <cstring>

TMVRtrx::TMVRtrx(SerialPlatform& platform) : Serial(platform) { ApplyBuiltInSettings(Serial); }

void TMVRtrx::ApplyBuiltInSettings(TSerialPort& port) {
  port.SetPort(0);
  port.SetBaudRate(11);
  port.SetDataBits(4);
  port.SetParity(0);
  port.SetStopBits(0);
  port.InSize = 1000;
  port.OutSize = 1000;
}

bool TMVRtrx::Open() {
  RxState = rsHeader;
  queues_.Clear();
  for (uint8_t ch = 0; ch < kChannelCount; ++ch) ReleaseChannel(ch);
  portAway_ = awayAtClose_ = false;
  return Serial.Open();
}

void TMVRtrx::Close() {
  // What ResumePort goes back to; the close handling's second run keeps it.
  if (portAway_ || Serial.Active) awayAtClose_ = portAway_;
  portAway_ = false;
  if (Serial.Active) Serial.Close();
}

bool TMVRtrx::ResumePort() {
  if (Serial.Active) return true;
  if (awayAtClose_) {
    awayAtClose_ = false;
    portAway_ = true;
    return false;
  }
  return Serial.Open();
}

bool TMVRtrx::LoseGoneDevice() {
  if (!Serial.Active || !Serial.DeviceGone()) return false;
  Serial.CloseQuietly();
  portAway_ = true;
  lastRetryTick_ = Serial.Platform().GetTickCount();
  return true;
}

void TMVRtrx::RetryAwayPort() {
  if (!portAway_) return;
  const uint32_t now = Serial.Platform().GetTickCount();
  if (now - lastRetryTick_ < kPortRetryMs) return;
  lastRetryTick_ = now;
  // Opened meanwhile by other means, or back now.
  if (Serial.Active || Serial.OpenQuietly()) portAway_ = false;
}

void TMVRtrx::SetupPort() {
  if (InSetup || !SetupUi) return;
  InSetup = true;
  // Once the program is ending the dialog ends at once on the quit: showing it again
  // would spin for ever.
  while (!SetupUi->Ending()) {
    if (SetupUi->Execute(Serial)) {
      // The port chosen here replaces one that is being awaited.
      portAway_ = awayAtClose_ = false;
      Serial.Close();
      SetupUi->GetSettings(Serial);
      Serial.Open();
      if (!Serial.Active && !SetupUi->AskChooseAnother()) {
        SetupUi->Terminate();
        break;
      }
    } else if (portAway_) {
      break;  // cancelled: the port that went away is still awaited
    }
    if (Serial.Active) break;
  }
  InSetup = false;
}

bool TMVRtrx::RegisterChannel(uint8_t channel, TChannelEvent callback, uint8_t* buffer,
                              uint16_t* lengthWord, uint16_t capacity) {
  if (channel >= kChannelCount || Buffers[channel] != nullptr || buffer == nullptr) return false;
  Capacities[channel] = capacity;
  Buffers[channel] = buffer;
  LengthRefs[channel] = lengthWord;
  Callbacks[channel] = callback;
  if (lengthWord) *lengthWord = 0;
  return true;
}

void TMVRtrx::ReleaseChannel(uint8_t channel) {
  if (channel >= kChannelCount || Buffers[channel] == nullptr) return;
  AbandonFrameFor(channel);
  Capacities[channel] = 0;
  Buffers[channel] = nullptr;
  LengthRefs[channel] = nullptr;
  WritePos[channel] = nullptr;
  Callbacks[channel] = TChannelEvent{};
}

void TMVRtrx::AbandonFrameFor(uint8_t channel) {
  if (FrameChannel != channel) return;
  switch (RxState) {
    case rsLength:  // how much to skip is known only from the length byte
      frameAbandoned_ = true;
      break;
    case rsData:  // BytesLeft still counts the rest of the frame
      RxState = rsSkip;
      break;
    case rsCmdValue:
      RxState = rsSkip;
      BytesLeft = 2;
      break;
    case rsCmdCheck:
      RxState = rsSkipOne;
      break;
  }
}

void TMVRtrx::Poll() {
  // Inside a callback the main loop does not wait for the write: the tick keeps the line busy.
  FeedLine();
  // A timer tick inside a callback or an error box must not parse bytes out of order.
  if (inPoll_) return;
  inPoll_ = true;
  RetryAwayPort();
  const uint32_t got = ReadAll();
  LoseGoneDevice();
  // Every tick ends with an empty read: a running countdown loses one.
  if (AnswerCountdown > 0) --AnswerCountdown;
  // A frame whose bytes keep coming survives any number of ticks; one that went quiet is
  // given up, so it cannot swallow the next good frame.
  if (got == 0 && RxState != rsHeader && Serial.Platform().GetTickCount() - quietSince_ >= SilenceLimitMs())
    RxState = rsHeader;
  inPoll_ = false;
}

void TMVRtrx::ReceiveArrived() {
  if (inPoll_) return;
  inPoll_ = true;
  ReadAll();
  LoseGoneDevice();
  inPoll_ = false;
}

HANDLE TMVRtrx::LineEvent() { return queues_.Empty() ? nullptr : Serial.WriteEvent(); }

void TMVRtrx::FeedLine() {
  // Frames that wait while the port's device is away never leave: the line is gone. A read
  // may just have found it gone: no write tries it again (and shows a second box).
  if (LoseGoneDevice() || portAway_) {
    queues_.Clear();
    return;
  }
  uint8_t frame[kMaxFrameSize];
  // A closed port takes every waiting frame at once and writes nothing, as it does a new one:
  // counted and supervised, so its client hears of it by the time-out.
  while (!queues_.Empty() && (!Serial.Active || (LineHasRoom() && Serial.ReadyToWrite())))
    Transmit(frame, queues_.Pop(frame));
}

bool TMVRtrx::LineHasRoom() { return LineDueUs(Serial.Platform().GetTickCount()) <= kLineLeadMs * 1000u; }

uint64_t TMVRtrx::LineDueUs(uint32_t now) const {
  const uint64_t gone = uint64_t{now - linePacedAt_} * 1000u;
  return lineDueUs_ > gone ? lineDueUs_ - gone : 0;
}

uint32_t TMVRtrx::LineTimeUs(uint16_t size) const {
  // Half bits: start, data, parity and 1, 1.5 or 2 stop bits.
  const uint32_t halfBits = 2 * (1 + DataBitCounts[std::min<uint8_t>(Serial.DataBits, 4)]) +
                            (Serial.Parity == 0 ? 0 : 2) + 2 + std::min<uint8_t>(Serial.StopBits, 2);
  return static_cast<uint32_t>(uint64_t{size} * halfBits * 500000u / BaudRates[Serial.BaudRate & 15]);
}

HANDLE TMVRtrx::ArrivalEvent() {
  const uint32_t now = Serial.Platform().GetTickCount();
  const bool busy = RxState != rsHeader || now - lastSendTick_ < kWakeWindowMs ||
                    now - lastByteTick_ < kWakeWindowMs;
  return busy ? Serial.ReadEvent() : nullptr;
}

uint32_t TMVRtrx::ReadAll() {
  uint8_t buffer[kMaxFrameSize];
  uint32_t total = 0;
  for (;;) {
    const int32_t n = Serial.Read(buffer, sizeof buffer);
    if (n <= 0) break;
    total += static_cast<uint32_t>(n);
    lastByteTick_ = Serial.Platform().GetTickCount();
    BytesReceived += static_cast<uint32_t>(n);
    ReceiveBlock(buffer, buffer + n);
    if (AnswerCountdown > 0) AnswerCountdown = AnswerTimeout;
  }
  // The line counts as quiet only while it was watched: after bytes, and after a pause in
  // which nobody looked (a client slow to take its Receive, the program not scheduled on a
  // busy machine), its silence starts now.
  const uint32_t now = Serial.Platform().GetTickCount();
  if (total > 0 || now - lastLook_ >= SilenceLimitMs()) quietSince_ = now;
  lastLook_ = now;
  // Reading collects a finished write: the line must not wait for the next wake-up.
  FeedLine();
  return total;
}

// At slow line rates three characters take longer than the fixed limit.
uint32_t TMVRtrx::SilenceLimitMs() const {
  const uint32_t baud = BaudRates[Serial.BaudRate & 15];
  return std::max<uint32_t>(kFrameSilenceMs, 30000u / baud);
}

// ReceiveByte for a block, with the bulk of a frame taken in runs: the data bytes before a
// frame's last byte and the bytes of a skipped frame can neither end a frame nor call out.
void TMVRtrx::ReceiveBlock(const uint8_t* p, const uint8_t* end) {
  while (p < end) {
    if (RxState == rsData && BytesLeft > 1) {
      const size_t run = std::min<size_t>(BytesLeft - 1u, static_cast<size_t>(end - p));
      uint8_t*& out = WritePos[FrameChannel];
      std::memcpy(out, p, run);
      out += run;
      uint16_t crc = FrameCRC;
      for (const uint8_t* q = p + run; p < q; ++p) CRC16Update(crc, *p);
      FrameCRC = crc;
      BytesLeft = static_cast<uint16_t>(BytesLeft - run);
    } else if (RxState == rsSkip && BytesLeft > 0) {
      const size_t run = std::min<size_t>(BytesLeft, static_cast<size_t>(end - p));
      p += run;
      BytesLeft = static_cast<uint16_t>(BytesLeft - run);
      if (BytesLeft == 0) RxState = rsHeader;
    } else {
      ReceiveByte(*p++);
    }
  }
}

void TMVRtrx::Deliver(uint8_t channel) {
  AnswerCountdown = -1;
  // Copy first: the callback may release the channel or register it anew.
  const TChannelEvent callback = Callbacks[channel];
  callback();
}

void TMVRtrx::ReceiveByte(uint8_t b) {
  const uint8_t ch = FrameChannel;
  switch (RxState) {
    case rsHeader:
      FrameChannel = b & 0x0F;
      if (FrameChannel >= kChannelCount) break;
      if ((b & 0xF0) == DataFrameTag) {
        FrameCRC = 0;
        frameAbandoned_ = false;
        CRC16Update(FrameCRC, b);
        RxState = rsLength;
      } else if ((b & 0xF0) == CommandFrameTag) {
        RxState = rsCmdValue;
      }
      break;
    case rsLength:
      FrameLength = static_cast<uint16_t>(b + 1);
      BytesLeft = static_cast<uint16_t>(b + 3);
      CRC16Update(FrameCRC, b);
      if (frameAbandoned_ || Buffers[ch] == nullptr || Capacities[ch] < FrameLength) {
        RxState = rsSkip;
      } else {
        WritePos[ch] = Buffers[ch];
        if (LengthRefs[ch]) *LengthRefs[ch] = 0;
        RxState = rsData;
      }
      break;
    case rsData:
      *WritePos[ch]++ = b;
      CRC16Update(FrameCRC, b);
      if (--BytesLeft == 0) {
        if (LengthRefs[ch]) *LengthRefs[ch] = FrameLength;
        RxState = rsHeader;
        if (FrameCRC == 0)
          Deliver(ch);
        else
          ++CRCErrors;
      }
      break;
    case rsSkip:
      if (--BytesLeft == 0) RxState = rsHeader;
      break;
    case rsCmdValue:
      if (Buffers[ch] == nullptr) {
        RxState = rsSkipOne;
      } else {
        Buffers[ch][0] = b;
        RxState = rsCmdCheck;
      }
      break;
    case rsCmdCheck:
      RxState = rsHeader;
      if (b == ((ch | CommandFrameTag) ^ Buffers[ch][0])) {
        if (LengthRefs[ch]) *LengthRefs[ch] = 1;
        Deliver(ch);
      } else {
        ++CRCErrors;
      }
      break;
    case rsSkipOne:
    default:
      RxState = rsHeader;
      break;
  }
}

bool TMVRtrx::CheckTimeout() {
  if (!AwaitingAnswer || AnswerCountdown != 0) return false;
  ++Timeouts;
  AwaitingAnswer = false;
  return true;
}

bool TMVRtrx::SendFrame(uint8_t channel, const uint8_t* data, uint16_t length) {
  if (channel >= kChannelCount || length == 0) return true;
  if (portAway_) return false;
  if (length > kMaxFrameData) length = kMaxFrameData;
  uint8_t frame[kMaxFrameSize];
  frame[0] = static_cast<uint8_t>(DataFrameTag | channel);
  frame[1] = static_cast<uint8_t>(length - 1);
  std::memcpy(frame + 2, data, length);
  const uint16_t crc = CRC16(frame, length + 2);
  frame[length + 2] = static_cast<uint8_t>(crc >> 8);
  frame[length + 3] = static_cast<uint8_t>(crc & 0xFF);
  return Queue(channel, frame, static_cast<uint16_t>(length + 4));
}

bool TMVRtrx::SendCommand(uint8_t channel, uint8_t value) {
  if (channel >= kChannelCount) return true;
  if (portAway_) return false;
  const uint8_t header = static_cast<uint8_t>(CommandFrameTag | channel);
  const uint8_t frame[kCommandFrameSize] = {header, value, static_cast<uint8_t>(value ^ header)};
  return Queue(channel, frame, kCommandFrameSize);
}

bool TMVRtrx::Queue(uint8_t channel, const uint8_t* frame, uint16_t size) {
  FeedLine();
  if (portAway_ || !queues_.Push(channel, frame, size)) return false;
  FeedLine();
  // A write that found the device gone: this frame never left either.
  return !portAway_;
}

// The frame goes to the line now: its answer is awaited from here on.
void TMVRtrx::Transmit(const uint8_t* frame, uint16_t size) {
  Serial.Write(frame, size);
  if (LoseGoneDevice()) {  // the bytes never left
    queues_.Clear();
    return;
  }
  const uint32_t now = Serial.Platform().GetTickCount();
  // The line carries the frame once the frames before it have left (a closed port, nothing).
  if (Serial.Active) {
    lineDueUs_ = LineDueUs(now) + LineTimeUs(size);
    linePacedAt_ = now;
  }
  lastSendTick_ = now;
  AnswerCountdown = AnswerTimeout;
  AwaitingAnswer = true;
  BytesSent += size;
}

bool TMVRtrx::LoadSettings(SettingsStore& ini) {
  portAway_ = awayAtClose_ = false;
  Serial.Close();
  Serial.LoadFromIni(ini, "ComPort");
  return Serial.Open();
}

void TMVRtrx::SaveSettings(SettingsStore& ini) { Serial.SaveToIni(ini, "ComPort"); }
