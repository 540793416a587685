#include "serial/SerialX.h"

#include <algorithm>
#include <cstring>

const char* const PortNames[4] = {"COM1", "COM2", "COM3", "COM4"};
const DWORD BaudRates[16] = {110,   300,   600,   1200,  2400,   4800,   9600,   14400,
                             19200, 38400, 56000, 57600, 115200, 128000, 230400, 256000};
const BYTE ParityCodes[5] = {NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY, SPACEPARITY};
const BYTE StopBitCodes[3] = {ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS};
const BYTE DataBitCounts[5] = {4, 5, 6, 7, 8};

namespace {

bool IsTrailingJunk(unsigned char c) { return c < 32 || c == ' ' || c == '.'; }

}  // namespace

bool ErrorMeansDeviceGone(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_INVALID_HANDLE:
    case ERROR_NOT_READY:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_BROKEN_PIPE:
    case ERROR_OPERATION_ABORTED:
    case ERROR_DEVICE_NOT_CONNECTED:
      return true;
    default:
      return false;
  }
}

std::string FormatPortError(const std::string& tag, DWORD code, const std::string& systemText) {
  std::string text = systemText;
  while (!text.empty() && IsTrailingJunk(static_cast<unsigned char>(text.back())))
    text.pop_back();
  return tag + std::to_string(code) + "! " + text;
}

std::string PortErrorText(SerialPlatform& platform, const std::string& tag) {
  const DWORD code = platform.GetLastError();
  char buffer[256] = {};
  // A system text may hold inserts such as "%1": they stay as they are, never read through
  // the missing argument array.
  const DWORD n = platform.FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, buffer, sizeof buffer, nullptr);
  const std::string systemText(buffer, std::min<DWORD>(n, sizeof buffer - 1));
  return FormatPortError(tag, code, systemText);
}

TSerialPort::IoBlock::IoBlock(SerialPlatform& platform) : event(platform) {
  event.Reset(platform.CreateEventA(nullptr, FALSE, FALSE, nullptr));
  ov.hEvent = event.Get();
}

TSerialPort::TSerialPort(SerialPlatform& platform) : platform_(platform), device_(platform) {}

TSerialPort::~TSerialPort() {
  Close();
  ReleaseIo();
}

void TSerialPort::SetPort(uint8_t index) {
  if (Port != index) Port = index;
}
void TSerialPort::SetBaudRate(uint8_t index) {
  if (BaudRate != index) BaudRate = index;
}
void TSerialPort::SetParity(uint8_t index) {
  if (Parity != index) Parity = index;
}
void TSerialPort::SetStopBits(uint8_t index) {
  if (StopBits != index) StopBits = index;
}
void TSerialPort::SetDataBits(uint8_t index) {
  if (DataBits != index) DataBits = index;
}

void TSerialPort::ReleaseIo() {
  read_.reset();
  write_.reset();
  arrival_.reset();
}

bool TSerialPort::Open() { return OpenDevice(true); }

bool TSerialPort::OpenQuietly() { return OpenDevice(false); }

bool TSerialPort::OpenDevice(bool showErrors) {
  // Opening twice would leave the first device open (and the port locked) and tear down the
  // events under its pending I/O.
  Close();
  // A set-up run from inside Close's box has opened the port already, with these settings.
  if (Active) return true;
  readFilled_ = readOffset_ = 0;
  writeQueued_.clear();
  readErrorShown_ = writeErrorShown_ = false;
  arrivalMaskSet_ = arrivalOff_ = false;
  deviceGone_ = false;
  read_ = std::make_unique<IoBlock>(platform_);
  read_->bytes.resize(kReadChunk);
  write_ = std::make_unique<IoBlock>(platform_);

  auto fail = [&](const char* tag) { return OpenFailed(tag, showErrors); };
  device_.Reset(platform_.CreateFileA(PortNames[Port & 3], GENERIC_READ | GENERIC_WRITE, 0,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
  const HANDLE h = device_.Get();
  if (!device_.IsOpen()) return fail("Create: ");
  if (!platform_.SetupComm(h, static_cast<DWORD>(InSize), static_cast<DWORD>(OutSize)))
    return fail("Setup: ");
  COMMTIMEOUTS timeouts{};
  if (!platform_.GetCommTimeouts(h, &timeouts)) return fail("Times: ");
  // A read returns at once with what has arrived, even nothing; writes have no time-out.
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 0;
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = 0;
  if (!platform_.SetCommTimeouts(h, &timeouts)) return fail("Timet: ");
  DCB dcb{};
  if (!platform_.GetCommState(h, &dcb)) return fail("DCBrd: ");
  SetLineState(dcb);
  if (!platform_.SetCommState(h, &dcb)) return fail("DCBwr: ");
  Active = true;
  return true;
}

// XON/XOFF limits and characters and the special characters stay as the device has them.
void TSerialPort::SetLineState(DCB& dcb) const {
  dcb.DCBlength = sizeof(DCB);
  dcb.BaudRate = BaudRates[BaudRate & 15];
  // Binary, DTR and RTS raised while open, and every other flag off: no parity check, no
  // CTS, DSR or XON/XOFF flow control, no character replaced or dropped, no abort on error.
  dcb.fBinary = 1;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fParity = dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fDsrSensitivity = 0;
  dcb.fTXContinueOnXoff = dcb.fOutX = dcb.fInX = 0;
  dcb.fErrorChar = dcb.fNull = dcb.fAbortOnError = dcb.fDummy2 = 0;
  dcb.ByteSize = DataBitCounts[std::min<uint8_t>(DataBits, 4)];
  dcb.Parity = ParityCodes[std::min<uint8_t>(Parity, 4)];
  dcb.StopBits = StopBitCodes[std::min<uint8_t>(StopBits, 2)];
}

// The texts are made while the last error is the failed step's; the boxes come last, when a
// set-up run from inside one of them can open the port afresh.
bool TSerialPort::OpenFailed(const char* tag, bool showErrors) {
  std::vector<std::string> texts;
  if (showErrors) texts.push_back(PortErrorText(platform_, tag));
  if (!device_.Close() && showErrors) texts.push_back(PortErrorText(platform_, "Crese: "));
  ReleaseIo();
  for (const auto& text : texts) platform_.ShowErrorBox(text);
  // What such a set-up made of the port.
  return Active;
}

// Called while the last error is the failed call's.
void TSerialPort::NoteDeviceGone() {
  if (ErrorMeansDeviceGone(platform_.GetLastError())) deviceGone_ = true;
}

void TSerialPort::ReportReadError() {
  NoteDeviceGone();
  if (readErrorShown_) return;
  readErrorShown_ = true;
  QueueReport("Receive: ");
}

void TSerialPort::ReportWriteError(const char* tag) {
  NoteDeviceGone();
  if (writeErrorShown_) return;
  writeErrorShown_ = true;
  QueueReport(tag);
}

// The text is made now, while the last error is this call's.
void TSerialPort::QueueReport(const char* tag) {
  std::string text = PortErrorText(platform_, tag);
  // A line that breaks again and again while nobody clicks needs each box only once.
  for (const auto& waiting : reports_)
    if (waiting == text) return;
  reports_.push_back(std::move(text));
}

void TSerialPort::ShowPendingReports() {
  if (showingReports_) return;
  showingReports_ = true;
  while (!reports_.empty()) {
    const std::string text = std::move(reports_.front());
    reports_.pop_front();
    platform_.ShowErrorBox(text);
  }
  showingReports_ = false;
}

int32_t TSerialPort::Read(void* buffer, int32_t count) {
  if (!Active || count <= 0) return 0;
  CollectWrite();
  if (!Active) return 0;

  if (readFilled_ == 0) {
    CollectArrivalWait();
    IoBlock& io = *read_;
    DWORD n = 0;
    if (io.pending) {
      // Harvest the read that an earlier call left pending; never start a second one.
      if (!platform_.GetOverlappedResult(device_.Get(), &io.ov, &n, FALSE)) {
        if (platform_.GetLastError() == ERROR_IO_INCOMPLETE) return 0;
        io.pending = false;
        ReportReadError();
        return 0;
      }
      io.pending = false;
    } else if (!platform_.ReadFile(device_.Get(), io.bytes.data(), kReadChunk, &n, &io.ov)) {
      if (platform_.GetLastError() == ERROR_IO_PENDING) {
        io.pending = true;
        return 0;
      }
      ReportReadError();
      return 0;
    } else if (n == 0) {
      // Windows answers an empty read at once, so no read is left to wake a loop.
      readErrorShown_ = false;
      ArmArrivalWait();
      return 0;
    }
    readErrorShown_ = false;
    readFilled_ = std::min<DWORD>(n, kReadChunk);
    readOffset_ = 0;
  }

  const DWORD take = std::min<DWORD>(readFilled_, static_cast<DWORD>(count));
  std::memcpy(buffer, read_->bytes.data() + readOffset_, take);
  readOffset_ += take;
  readFilled_ -= take;
  return static_cast<int32_t>(take);
}

HANDLE TSerialPort::ReadEvent() const {
  if (!Active) return nullptr;
  if (read_ && read_->pending) return read_->ov.hEvent;
  if (arrival_ && arrival_->pending) return arrival_->ov.hEvent;
  return nullptr;
}

// A wait that cannot be set up or fails costs nothing but the wake-up: no box, the tick
// still reads.
void TSerialPort::ArmArrivalWait() {
  if (arrivalOff_ || (arrival_ && arrival_->pending)) return;
  if (!arrival_) arrival_ = std::make_unique<IoBlock>(platform_);
  if (!arrival_->event.IsOpen()) {
    arrivalOff_ = true;
    return;
  }
  if (!arrivalMaskSet_) {
    if (!platform_.SetCommMask(device_.Get(), EV_RXCHAR)) {
      arrivalOff_ = true;
      return;
    }
    arrivalMaskSet_ = true;
  }
  arrival_->events = 0;
  // Done at once (a character came since the read) still sets the event: harvested like a
  // pending one.
  if (platform_.WaitCommEvent(device_.Get(), &arrival_->events, &arrival_->ov) ||
      platform_.GetLastError() == ERROR_IO_PENDING)
    arrival_->pending = true;
  else
    arrivalOff_ = true;
}

void TSerialPort::CollectArrivalWait() {
  if (!arrival_ || !arrival_->pending) return;
  DWORD n = 0;
  if (platform_.GetOverlappedResult(device_.Get(), &arrival_->ov, &n, FALSE)) {
    arrival_->pending = false;
  } else if (platform_.GetLastError() != ERROR_IO_INCOMPLETE) {
    // Re-arming a wait that keeps failing would wake the loop for nothing.
    arrival_->pending = false;
    arrivalOff_ = true;
  }
}

size_t TSerialPort::UnsentBytes() const {
  return writeQueued_.size() + (write_ && write_->pending ? write_->bytes.size() : 0);
}

bool TSerialPort::Write(const void* buffer, int32_t count) {
  if (!Active || count <= 0) return true;
  CollectWrite();
  if (!Active) return true;
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  writeQueued_.insert(writeQueued_.end(), bytes, bytes + count);
  StartNextWrite();
  return true;
}

bool TSerialPort::ReadyToWrite() {
  if (!Active) return false;
  CollectWrite();
  return Active && write_ && !write_->pending && writeQueued_.empty();
}

HANDLE TSerialPort::WriteEvent() const {
  return Active && write_ && write_->pending ? write_->ov.hEvent : nullptr;
}

// Finishes the write in flight if the device has completed it.
void TSerialPort::CollectWrite() {
  if (!write_ || !write_->pending) return;
  DWORD n = 0;
  if (platform_.GetOverlappedResult(device_.Get(), &write_->ov, &n, FALSE)) {
    FinishWrite(n, static_cast<DWORD>(write_->bytes.size()));
  } else if (platform_.GetLastError() != ERROR_IO_INCOMPLETE) {
    write_->pending = false;
    write_->bytes.clear();
    ReportWriteError("Transmit: ");
  }
  StartNextWrite();
}

// The write's bytes are let go before anything is reported: a report may run other code
// that writes again.
void TSerialPort::FinishWrite(DWORD written, DWORD wanted) {
  write_->pending = false;
  write_->bytes.clear();
  if (written != wanted)
    ReportWriteError("Transmit#: ");
  else
    writeErrorShown_ = false;
}

// One write in flight at a time keeps the bytes in the order of the Write calls.
void TSerialPort::StartNextWrite() {
  while (Active && write_ && !write_->pending && !writeQueued_.empty()) {
    IoBlock& io = *write_;
    io.bytes.swap(writeQueued_);
    writeQueued_.clear();
    DWORD n = 0;
    const DWORD size = static_cast<DWORD>(io.bytes.size());
    if (platform_.WriteFile(device_.Get(), io.bytes.data(), size, &n, &io.ov)) {
      FinishWrite(n, size);
    } else if (platform_.GetLastError() == ERROR_IO_PENDING) {
      io.pending = true;
    } else {
      io.bytes.clear();
      ReportWriteError("Transmit: ");
    }
  }
}

bool TSerialPort::SettleCancelled(IoBlock& io, DWORD deadline) {
  DWORD n = 0;
  for (;;) {
    if (platform_.GetOverlappedResult(device_.Get(), &io.ov, &n, FALSE) ||
        platform_.GetLastError() != ERROR_IO_INCOMPLETE) {
      io.pending = false;
      return true;
    }
    const DWORD now = platform_.GetTickCount();
    const LONG left = static_cast<LONG>(deadline - now);
    if (left <= 0) return false;
    platform_.WaitForSingleObject(io.ov.hEvent, static_cast<DWORD>(left));
  }
}

void TSerialPort::Close() {
  // The box comes after the port is all closed: a set-up run from inside it may open again.
  const std::string error = Shut();
  if (!error.empty()) platform_.ShowErrorBox(error);
}

void TSerialPort::CloseQuietly() { Shut(); }

std::string TSerialPort::Shut() {
  Active = false;
  if (!device_.IsOpen()) return {};
  CancelPendingIo();
  readFilled_ = readOffset_ = 0;
  writeQueued_.clear();
  std::string error;
  if (!device_.Close()) error = PortErrorText(platform_, "Close: ");
  // The event of an abandoned block is closed too: the system keeps its own reference for
  // as long as the I/O needs it.
  for (auto& io : abandoned_) {
    io->event.Close();
    io->ov.hEvent = nullptr;
  }
  ReleaseIo();
  return error;
}

// A pending operation writes into its OVERLAPPED during CloseHandle: cancel and collect it
// first. A device that does not finish cancelled I/O (an unplugged adapter) must not hang
// the program: after a bounded wait the handle is closed all the same, and the blocks that
// I/O still owns are kept.
void TSerialPort::CancelPendingIo() {
  const bool anyPending = (read_ && read_->pending) || (write_ && write_->pending) ||
                          (arrival_ && arrival_->pending);
  if (!anyPending) return;
  platform_.CancelIo(device_.Get());
  const DWORD deadline = platform_.GetTickCount() + kCloseWaitMs;
  for (std::unique_ptr<IoBlock>* io : {&read_, &write_, &arrival_}) {
    if (!*io || !(*io)->pending || SettleCancelled(**io, deadline)) continue;
    abandoned_.push_back(std::move(*io));
  }
}

void TSerialPort::LoadFromIni(SettingsStore& ini, const std::string& section) {
  auto clamp = [](int64_t v, int64_t lo, int64_t hi) {
    return static_cast<int32_t>(std::max(lo, std::min(hi, v)));
  };
  SetPort(static_cast<uint8_t>(
      clamp(static_cast<int64_t>(ini.ReadInteger(section, "ComPort", 1)) - 1, 0, 3)));
  SetBaudRate(static_cast<uint8_t>(clamp(ini.ReadInteger(section, "BaudRate", 6), 0, 15)));
  SetDataBits(static_cast<uint8_t>(clamp(ini.ReadInteger(section, "DataBits", 4), 0, 4)));
  SetParity(static_cast<uint8_t>(clamp(ini.ReadInteger(section, "Parity", 0), 0, 4)));
  SetStopBits(static_cast<uint8_t>(clamp(ini.ReadInteger(section, "StopBits", 0), 0, 2)));
  InSize = clamp(ini.ReadInteger(section, "InSize", 1000), 1000, 60000);
  OutSize = clamp(ini.ReadInteger(section, "OutSize", 1000), 1000, 60000);
}

void TSerialPort::SaveToIni(SettingsStore& ini, const std::string& section) const {
  ini.WriteInteger(section, "ComPort", Port + 1);
  ini.WriteInteger(section, "BaudRate", BaudRate);
  ini.WriteInteger(section, "Databits", DataBits);
  ini.WriteInteger(section, "Parity", Parity);
  ini.WriteInteger(section, "Stopbits", StopBits);
  ini.WriteInteger(section, "InSize", InSize);
  ini.WriteInteger(section, "OutSize", OutSize);
}
