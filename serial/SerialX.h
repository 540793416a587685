// The serial port object: one of COM1..COM4 with its line settings held as table indices,
// opened for overlapped I/O so that reads never wait and writes don't wait to complete.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/SettingsStore.h"
#include "serial/SerialPlatform.h"

extern const char* const PortNames[4];
extern const DWORD BaudRates[16];
extern const BYTE ParityCodes[5];
extern const BYTE StopBitCodes[3];
extern const BYTE DataBitCounts[5];

// The whole DCB flag word written at Open: fBinary, DTR and RTS enabled, nothing else.
constexpr DWORD kDcbFlagWord = 0x1011;

class TSerialPort {
 public:
  explicit TSerialPort(SerialPlatform& platform);
  ~TSerialPort();
  TSerialPort(const TSerialPort&) = delete;
  TSerialPort& operator=(const TSerialPort&) = delete;

  void SetPort(uint8_t index);
  void SetBaudRate(uint8_t index);
  void SetParity(uint8_t index);
  void SetStopBits(uint8_t index);
  void SetDataBits(uint8_t index);

  bool Open();
  // Copies up to count bytes that have already arrived; 0 when nothing has, when closed,
  // or after an error. Never waits.
  int32_t Read(void* buffer, int32_t count);
  // Queues count bytes for transmission and returns at once; the caller's buffer is free
  // again on return.
  void Write(const void* buffer, int32_t count);
  void Close();

  void LoadFromIni(SettingsStore& ini, const std::string& section);
  void SaveToIni(SettingsStore& ini, const std::string& section) const;

  SerialPlatform& Platform() { return platform_; }

  HANDLE Handle = nullptr;
  uint8_t Port = 0;
  uint8_t BaudRate = 0;
  uint8_t Parity = 0;
  uint8_t StopBits = 0;
  uint8_t DataBits = 0;
  int32_t InSize = 0;
  int32_t OutSize = 0;
  bool Active = false;

 private:
  static constexpr DWORD kReadChunk = 260;

  void ReleaseEvents();
  void StartNextWrite();
  void CollectWrite();
  void ReportReadError();
  void ReportWriteError(const char* tag);

  SerialPlatform& platform_;
  // Reads and writes each own their OVERLAPPED and buffer: a pending operation keeps
  // writing into them after the call that started it has returned.
  OVERLAPPED readOverlapped_{};
  OVERLAPPED writeOverlapped_{};
  bool readPending_ = false;
  bool writePending_ = false;
  uint8_t readBuffer_[kReadChunk] = {};
  DWORD readFilled_ = 0;  // bytes of readBuffer_ not yet handed out
  DWORD readOffset_ = 0;
  std::vector<uint8_t> writeInFlight_;
  std::vector<uint8_t> writeQueued_;
  // A persisting error is shown once until the port is reopened or the call succeeds again.
  bool readErrorShown_ = false;
  bool writeErrorShown_ = false;
};

// Builds the error box text: tag, number, "! ", the system's text with trailing blanks,
// dots and control characters removed.
std::string FormatPortError(const std::string& tag, DWORD code, const std::string& systemText);

// Shows the error box for the platform's last error.
void ShowPortError(SerialPlatform& platform, const std::string& tag);
