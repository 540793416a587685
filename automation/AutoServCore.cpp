#include "automation/AutoServCore.h"

#include <cstring>

TAutoServCore* LastActive = nullptr;

TAutoServCore::TAutoServCore(TMVRtrx& engine, ByteToText toText, TextToBytes toBytes)
    : engine_(engine), toText_(toText), toBytes_(toBytes) {}

TAutoServCore::~TAutoServCore() {
  // The engine and the timer must never reach a destroyed object. Engine::Open releases
  // every channel, so only a registration that is still ours is given back.
  if (FConnected && engine_.Buffers[FChannel] == FRxBuf) engine_.ReleaseChannel(FChannel);
  if (LastActive == this) LastActive = nullptr;
}

bool TAutoServCore::HasSerialConnection() const { return engine_.IsOpen(); }

void TAutoServCore::ShowSerialConnectionDlg() { engine_.SetupPort(); }

bool TAutoServCore::SendSPaket(int8_t datum) {
  LastActive = this;
  if (!FConnected) return false;
  engine_.SendCommand(FChannel, static_cast<uint8_t>(datum));
  return true;
}

bool TAutoServCore::ConnectChannel(int8_t ioChannel) {
  if (!FConnected) {
    FChannel = static_cast<uint8_t>(ioChannel);
    FConnected = engine_.RegisterChannel(FChannel, TChannelEvent{&ReceiveThunk, this}, FRxBuf,
                                         &FRxLen, kBufferCapacity);
  }
  return FConnected;
}

bool TAutoServCore::DisconnectChannel() {
  const bool was = FConnected;
  if (FConnected) {
    FConnected = false;
    if (engine_.Buffers[FChannel] == FRxBuf) engine_.ReleaseChannel(FChannel);
  }
  return was;
}

bool TAutoServCore::SendLPaket(const char16_t* block, size_t length) {
  LastActive = this;
  if (!FConnected || length > kBufferCapacity) return false;
  uint8_t frame[kBufferCapacity] = {};  // a shorter conversion leaves zeros, never garbage
  if (length > 0) {
    const std::string bytes = toBytes_(block, length);
    std::memcpy(frame, bytes.data(), bytes.size() < length ? bytes.size() : length);
  }
  engine_.SendFrame(FChannel, frame, static_cast<uint16_t>(length));
  return true;
}

void TAutoServCore::ReceiveThunk(void* owner) { static_cast<TAutoServCore*>(owner)->OnReceive(); }

void TAutoServCore::OnReceive() {
  std::u16string text;
  const uint16_t n = FRxLen <= kBufferCapacity ? FRxLen : kBufferCapacity;
  text.reserve(n);
  for (uint16_t i = 0; i < n; ++i) text += toText_(FRxBuf[i]);
  Retain();
  RaiseReceive(text);
  Drop();
}

void TAutoServCore::FireTimeOut() {
  Retain();
  RaiseTimeOut();
  Drop();
}
