// The serial port object: one of COM1..COM4 with its line settings held as table indices,
// opened for overlapped I/O so that reads never wait and writes don't wait to complete.
#pragma once
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/SettingsStore.h"
#include "serial/PortHandle.h"
#include "serial/SerialPlatform.h"

extern const char* const PortNames[4];
extern const DWORD BaudRates[16];
extern const BYTE ParityCodes[5];
extern const BYTE StopBitCodes[3];
extern const BYTE DataBitCounts[5];

// Whether a failed read or write means the device itself is gone (an adapter pulled, its hub
// reset): Windows' removal errors, and what Wine answers once the pty behind the port has
// closed (reads end with ERROR_BROKEN_PIPE, writes fail with ERROR_NOT_READY).
bool ErrorMeansDeviceGone(DWORD error);

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

  // Opens with the current settings; an open port is closed first. Each failed step shows its
  // box only after everything is let go again, so a set-up run from inside the box finds the
  // port closed and the device free.
  bool Open();
  // Open without any box: the quiet attempts while a device that went away is awaited.
  bool OpenQuietly();
  // Copies up to count bytes that have already arrived; 0 when nothing has, when closed,
  // or after an error. Never waits.
  int32_t Read(void* buffer, int32_t count);
  // Queues count bytes for transmission and returns at once; the caller's buffer is free
  // again on return. The engine writes only when ReadyToWrite, so at most one frame waits
  // here and the engine's channel queues hold the rest.
  bool Write(const void* buffer, int32_t count);
  // Open, and no write in flight or waiting (a finished one is collected first).
  bool ReadyToWrite();
  // The event set when the write in flight completes; nullptr when none is in flight.
  HANDLE WriteEvent() const;
  // Cancels pending I/O, waits for it at most kCloseWaitMs, and closes the device.
  void Close();
  // Close without the box for a refused close: a device that is gone has had its box.
  void CloseQuietly();

  // A read or write failed with an error that means the device is gone (the port stays
  // open until its owner closes it); cleared by the next open.
  bool DeviceGone() const { return deviceGone_; }

  // A failed read or write is not shown from inside the call (a client's send, a Poll): its
  // box waits here until the main loop shows it, so the call returns at once and polling
  // and the other clients go on while the box is open.
  bool HasPendingReports() const { return !reports_.empty(); }
  // Shows the waiting boxes one after the other; a call made while one is open returns.
  void ShowPendingReports();

  // The event set when bytes arrive, for a loop to wait on: the pending read's, or, on a
  // device that answers an empty read at once (Windows), the pending wait for a received
  // character. nullptr when neither pends (closed, or that wait could not be set up).
  HANDLE ReadEvent() const;

  // Bytes handed to Write that the device has not completed yet.
  size_t UnsentBytes() const;
  static constexpr DWORD kCloseWaitMs = 1000;

  void LoadFromIni(SettingsStore& ini, const std::string& section);
  void SaveToIni(SettingsStore& ini, const std::string& section) const;

  SerialPlatform& Platform() { return platform_; }
  // The device handle: the invalid value after a failed device open, nullptr when closed.
  HANDLE Handle() const { return device_.Get(); }

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

  // An OVERLAPPED and the bytes a read fills or a write sends. A pending operation keeps
  // using both after the call that started it has returned, so they live on the heap: one
  // that Close had to give up on is kept until the port object ends.
  struct IoBlock {
    explicit IoBlock(SerialPlatform& platform);
    OVERLAPPED ov{};
    PortHandle event;  // ov.hEvent
    std::vector<uint8_t> bytes;
    DWORD events = 0;  // what a pending WaitCommEvent writes
    bool pending = false;
  };

  bool OpenDevice(bool showErrors);
  // Lets go of the device and its I/O after a failed step, then shows what failed.
  bool OpenFailed(const char* tag, bool showErrors);
  // Closes the device; the text of the "Close: " box when the system refused, else empty.
  std::string Shut();
  void CancelPendingIo();
  void SetLineState(DCB& dcb) const;
  void ReleaseIo();
  // Collects or abandons io after CancelIo; false when it had to be abandoned.
  bool SettleCancelled(IoBlock& io, DWORD deadline);
  // Arms the wait for a received character after a read found nothing; at most one pends.
  void ArmArrivalWait();
  void CollectArrivalWait();
  void StartNextWrite();
  void CollectWrite();
  void FinishWrite(DWORD written, DWORD wanted);
  void NoteDeviceGone();
  void ReportReadError();
  void ReportWriteError(const char* tag);
  void QueueReport(const char* tag);

  SerialPlatform& platform_;
  PortHandle device_;
  bool deviceGone_ = false;
  // Reads and writes each own their block: the read's completion would overwrite a shared
  // OVERLAPPED.
  std::unique_ptr<IoBlock> read_;
  std::unique_ptr<IoBlock> write_;
  std::unique_ptr<IoBlock> arrival_;  // the WaitCommEvent, made when first needed
  bool arrivalMaskSet_ = false;
  // The wait failed once: until the port is reopened the timer alone polls.
  bool arrivalOff_ = false;
  std::vector<std::unique_ptr<IoBlock>> abandoned_;
  DWORD readFilled_ = 0;  // bytes of read_ not yet handed out
  DWORD readOffset_ = 0;
  std::vector<uint8_t> writeQueued_;
  // A persisting error is reported once until the port is reopened or the call succeeds
  // again.
  bool readErrorShown_ = false;
  bool writeErrorShown_ = false;
  std::deque<std::string> reports_;
  bool showingReports_ = false;
};

// Builds the error box text: tag, number, "! ", the system's text with trailing blanks,
// dots and control characters removed.
std::string FormatPortError(const std::string& tag, DWORD code, const std::string& systemText);

// The error box text for the platform's last error.
std::string PortErrorText(SerialPlatform& platform, const std::string& tag);
