#include "automation/AutoServCore.h"

#include <cstring>
#include <vector>

TAutoServCore* LastActive = nullptr;

namespace {
// Every object alive, for the check of their clients.
std::vector<TAutoServCore*>& LiveObjects() {
  static std::vector<TAutoServCore*> objects;
  return objects;
}
}  // namespace

bool ClientIsGone(int32_t hresult) {
  switch (static_cast<uint32_t>(hresult)) {
    case 0x80010006u:  // RPC_E_CONNECTION_TERMINATED
    case 0x80010007u:  // RPC_E_SERVER_DIED
    case 0x80010008u:  // RPC_E_CLIENT_DIED
    case 0x80010012u:  // RPC_E_SERVER_DIED_DNE
    case 0x80010108u:  // RPC_E_DISCONNECTED
    case 0x80010114u:  // RPC_E_INVALID_OBJECT
    case 0x800401FDu:  // CO_E_OBJNOTCONNECTED
    case 0x8007006Du:  // HRESULT_FROM_WIN32(ERROR_BROKEN_PIPE)
    case 0x800706BAu:  // HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE)
    case 0x800706BEu:  // HRESULT_FROM_WIN32(RPC_S_CALL_FAILED)
    case 0x800706BFu:  // HRESULT_FROM_WIN32(RPC_S_CALL_FAILED_DNE)
    case 0x800706D9u:  // HRESULT_FROM_WIN32(EPT_S_NOT_REGISTERED)
      return true;
    default:
      return false;
  }
}

bool CallRefused(int32_t hresult) {
  switch (static_cast<uint32_t>(hresult)) {
    case 0x80010001u:  // RPC_E_CALL_REJECTED
    case 0x8001010Au:  // RPC_E_SERVERCALL_RETRYLATER
      return true;
    default:
      return false;
  }
}

TAutoServCore::TAutoServCore(TMVRtrx& engine, ByteToText toText, TextToBytes toBytes)
    : engine_(engine), toText_(toText), toBytes_(toBytes) {
  LiveObjects().push_back(this);
}

TAutoServCore::~TAutoServCore() {
  // The engine, the timer and the client check must never reach a destroyed object.
  UnbindChannel();
  if (LastActive == this) LastActive = nullptr;
  auto& live = LiveObjects();
  for (auto it = live.begin(); it != live.end(); ++it) {
    if (*it == this) {
      live.erase(it);
      break;
    }
  }
}

bool TAutoServCore::BindChannel(uint8_t channel) {
  FConnected = engine_.RegisterChannel(channel, TChannelEvent{&ReceiveThunk, this}, FRxBuf, &FRxLen,
                                       kBufferCapacity);
  return FConnected;
}

void TAutoServCore::UnbindChannel() {
  // Engine::Open releases every channel, so only a registration still ours is given back.
  if (FConnected && engine_.Buffers[FChannel] == FRxBuf) engine_.ReleaseChannel(FChannel);
  FConnected = false;
}

void TAutoServCore::DetachClient() {
  FDetached = true;
  UnbindChannel();
  if (LastActive == this) LastActive = nullptr;
  ReleaseSink();
}

void TAutoServCore::CheckDelivery(int32_t result) {
  if (FClientLost || !ClientIsGone(result)) return;
  // A dead client's object would hold its channel for ever: nobody will release it.
  FClientLost = true;
  DetachClient();
  DisconnectClient();
}

bool TAutoServCore::HasSerialConnection() const { return engine_.IsOpen(); }

void TAutoServCore::ShowSerialConnectionDlg() { engine_.SetupPort(); }

bool TAutoServCore::SendSPaket(int8_t datum) {
  LastActive = this;
  if (!FConnected) return false;
  return engine_.SendCommand(FChannel, static_cast<uint8_t>(datum));
}

bool TAutoServCore::ConnectChannel(int8_t ioChannel) {
  if (FConnected || FClientLost) return FConnected;
  const uint8_t channel = static_cast<uint8_t>(ioChannel);
  FChannel = channel;
  if (BindChannel(channel)) return true;
  // A client that died keeps its channel until somebody notices: ask the holder's client now.
  TAutoServCore* holder = HolderOf(channel);
  if (!holder) return false;
  Retain();
  holder->CheckClient();
  // The check pumped messages: this object may have got a channel or lost its client, and
  // the holder may have let go by itself.
  if (!FConnected && !FClientLost) {
    FChannel = channel;
    BindChannel(channel);
  }
  const bool connected = FConnected;
  Drop();
  return connected;
}

TAutoServCore* TAutoServCore::HolderOf(uint8_t channel) const {
  if (channel >= kChannelCount) return nullptr;
  for (TAutoServCore* o : LiveObjects())
    if (o != this && &o->engine_ == &engine_ && o->FConnected && o->FChannel == channel &&
        engine_.Buffers[channel] == o->FRxBuf)
      return o;
  return nullptr;
}

bool TAutoServCore::CheckClient() {
  if (FClientLost) return false;
  if (FDetached || FPinging) return true;  // ending anyway, or being asked further up the stack
  Retain();
  FPinging = true;
  const int32_t result = PingClient();
  FPinging = false;
  CheckDelivery(result);
  const bool alive = !FClientLost;
  Drop();
  return alive;
}

void TAutoServCore::CheckClients() {
  static bool running = false;
  if (running) return;
  struct Running {
    Running() { running = true; }
    ~Running() { running = false; }
  } guard;
  // Each kept alive while the others are asked: every call pumps messages, in which clients
  // come and go.
  std::vector<TAutoServCore*> objects;
  objects.reserve(LiveObjects().size());
  for (TAutoServCore* o : LiveObjects()) {
    if (o->FDetached) continue;
    o->Retain();
    objects.push_back(o);
  }
  for (TAutoServCore* o : objects) o->CheckClient();
  for (TAutoServCore* o : objects) o->Drop();
}

bool TAutoServCore::DisconnectChannel() {
  const bool was = FConnected;
  UnbindChannel();
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
  return engine_.SendFrame(FChannel, frame, static_cast<uint16_t>(length));
}

template <class Call>
int32_t TAutoServCore::CallClient(Call call) {
  SerialPlatform& clock = engine_.Serial.Platform();
  const uint32_t start = clock.GetTickCount();
  for (;;) {
    const int32_t result = call();
    if (!CallRefused(result) || FClientLost) return result;
    const int32_t delay = EventRetryDelay(clock.GetTickCount() - start);
    if (delay < 0) return result;
    PauseBeforeRetry(static_cast<uint32_t>(delay));
  }
}

void TAutoServCore::ReceiveThunk(void* owner) { static_cast<TAutoServCore*>(owner)->OnReceive(); }

void TAutoServCore::OnReceive() {
  if (FClientLost) return;
  std::u16string text;
  const uint16_t n = FRxLen <= kBufferCapacity ? FRxLen : kBufferCapacity;
  text.reserve(n);
  for (uint16_t i = 0; i < n; ++i) text += toText_(FRxBuf[i]);
  Retain();
  CheckDelivery(CallClient([&] { return RaiseReceive(text); }));
  Drop();
}

void TAutoServCore::FireTimeOut() {
  if (FClientLost) return;
  Retain();
  CheckDelivery(CallClient([&] { return RaiseTimeOut(); }));
  Drop();
}
