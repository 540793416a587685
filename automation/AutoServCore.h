// The automation object's rules over the link engine, free of COM so that they run and are
// tested anywhere. The COM class derives from it and supplies the event delivery.
#pragma once
#include <cstdint>
#include <string>

#include "link/MVR_TRX.h"

// Byte string <-> client text in the system's ANSI code page. Replaceable for tests.
using ByteToText = std::u16string (*)(uint8_t byte);
using TextToBytes = std::string (*)(const char16_t* text, size_t length);

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

  bool Connected() const { return FConnected; }
  uint8_t Channel() const { return FChannel; }

 protected:
  // Event delivery; nothing happens when no sink is connected.
  virtual void RaiseReceive(const std::u16string& block) = 0;
  virtual void RaiseTimeOut() = 0;
  // Keep the object alive across an event: the client may drop it from its handler.
  virtual void Retain() {}
  virtual void Drop() {}

 private:
  static void ReceiveThunk(void* owner);

  TMVRtrx& engine_;
  ByteToText toText_;
  TextToBytes toBytes_;
  bool FConnected = false;
  uint8_t FChannel = 0;
  uint16_t FRxLen = 0;
  // The engine stores a data frame's CRC right behind its data.
  uint8_t FRxBuf[kBufferCapacity + 2] = {};
};

// The object that last called a send member; receives TimeOut.
extern TAutoServCore* LastActive;
