// The automation object's rules over the link engine, free of COM so that they run and are
// tested anywhere. The COM class derives from it and supplies the event delivery.
#pragma once
#include <cstdint>
#include <string>

#include "automation/EventRetry.h"
#include "link/MVR_TRX.h"

// Byte string <-> client text in the system's ANSI code page. Replaceable for tests.
using ByteToText = std::u16string (*)(uint8_t byte);
using TextToBytes = std::string (*)(const char16_t* text, size_t length);

// True for an event call's result that says the client is gone for good: its process ended
// or its machine is unreachable (RPC_E_DISCONNECTED, RPC_S_SERVER_UNAVAILABLE,
// RPC_S_CALL_FAILED, CO_E_OBJNOTCONNECTED and their kin, also as HRESULT_FROM_WIN32).
// Failures of a live sink (its handler failed, busy, rejected) are not.
bool ClientIsGone(int32_t hresult);

// True for an event call's result that says a live client refused the call for now (its
// message filter: RPC_E_CALL_REJECTED, RPC_E_SERVERCALL_RETRYLATER). Such a call is tried
// again for a while, never dropped at once.
bool CallRefused(int32_t hresult);

class TAutoServCore {
 public:
  static constexpr uint16_t kBufferCapacity = 256;

  TAutoServCore(TMVRtrx& engine, ByteToText toText, TextToBytes toBytes);
  virtual ~TAutoServCore();
  TAutoServCore(const TAutoServCore&) = delete;
  TAutoServCore& operator=(const TAutoServCore&) = delete;

  bool HasSerialConnection() const;
  void ShowSerialConnectionDlg();
  bool SendSPaket(int8_t datum);
  bool ConnectChannel(int8_t ioChannel);
  bool DisconnectChannel();
  bool SendLPaket(const char16_t* block, size_t length);

  // The engine's frame handler for the held channel.
  void OnReceive();
  void FireTimeOut();

  // Asks the client by one call on its sink whether it is still there, and lets go of it
  // when it is gone. False only for a client found gone. The call pumps messages and waits
  // as long as a live client takes to answer. A client without a sink cannot be asked: its
  // process may have died, but it counts as alive and keeps what it holds.
  bool CheckClient();
  // Every object's client in turn, from a timer: dead clients are found without waiting for
  // a frame on their channel. A run already under way further up the stack is not repeated.
  static void CheckClients();

  bool Connected() const { return FConnected; }
  uint8_t Channel() const { return FChannel; }
  // An event found the client gone: the object has let go of it and serves nobody again.
  bool ClientLost() const { return FClientLost; }

 protected:
  // Frees the channel and clears LastActive, then lets go of the client's sink. Releasing
  // the sink can pump messages, so nothing (tick, frame) may reach the object after the
  // first two steps. The COM class's destructor calls it first; safe to repeat.
  void DetachClient();

  // Event delivery; nothing happens when no sink is connected. Answers the sink's result
  // (0 when nothing was called).
  virtual int32_t RaiseReceive(const std::u16string& block) = 0;
  virtual int32_t RaiseTimeOut() = 0;
  // Lets go of the client's sink.
  virtual void ReleaseSink() {}
  // The client is gone: drop every reference it held on the object.
  virtual void DisconnectClient() {}
  // Keep the object alive across an event: the client may drop it from its handler.
  virtual void Retain() {}
  virtual void Drop() {}
  // One cheap call that goes to the client's process; answers its result (0 when no sink is
  // connected).
  virtual int32_t PingClient() { return 0; }
  // Waits ms (0: only what is due now) before a refused event is tried again; other clients'
  // calls and the timer are served meanwhile.
  virtual void PauseBeforeRetry(uint32_t ms) { (void)ms; }

 private:
  static void ReceiveThunk(void* owner);
  bool BindChannel(uint8_t channel);
  void UnbindChannel();
  void CheckDelivery(int32_t result);
  // The live object that holds the channel of this object's engine, if any.
  TAutoServCore* HolderOf(uint8_t channel) const;
  // Makes an event call, again while the client refuses it and the retry limit allows.
  template <class Call>
  int32_t CallClient(Call call);

  TMVRtrx& engine_;
  ByteToText toText_;
  TextToBytes toBytes_;
  bool FConnected = false;
  bool FClientLost = false;
  bool FDetached = false;  // serves nobody again (client lost, or being destroyed)
  bool FPinging = false;   // a CheckClient call is out
  uint8_t FChannel = 0;
  uint16_t FRxLen = 0;
  // The engine stores a data frame's CRC right behind its data.
  uint8_t FRxBuf[kBufferCapacity + 2] = {};
};

// The object that last called a send member; receives TimeOut.
extern TAutoServCore* LastActive;
