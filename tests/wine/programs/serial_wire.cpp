// Drives the link engine on the real COM1 under Wine; the device simulator sits on the
// other pty end. Each subcommand prints what the Python side checks.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "link/MVR_TRX.h"
#include "platform/RegistryIniFile.h"
#include "serial/Win32SerialPlatform.h"

namespace {

struct Channel {
  uint8_t buffer[258] = {};
  uint16_t length = 0;
  std::vector<std::vector<uint8_t>> frames;
  static void Arrived(void* self) {
    auto* c = static_cast<Channel*>(self);
    c->frames.emplace_back(c->buffer, c->buffer + c->length);
  }
};

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string s;
  char b[4];
  for (uint8_t v : bytes) {
    std::snprintf(b, sizeof b, "%02X ", v);
    s += b;
  }
  if (!s.empty()) s.pop_back();
  return s;
}

// Polls every 20 ms, as the main window's timer does, until done() or the limit.
template <class Done>
int PollUntil(TMVRtrx& trx, Done done, int limitPolls) {
  int polls = 0;
  while (!done() && polls < limitPolls) {
    Sleep(20);
    trx.Poll();
    ++polls;
  }
  return polls;
}

// Counts the device calls an idle Poll makes.
class CountingPlatform : public Win32SerialPlatform {
 public:
  long calls = 0;
  BOOL ReadFile(HANDLE h, LPVOID b, DWORD c, DWORD* n, OVERLAPPED* o) override {
    ++calls;
    return Win32SerialPlatform::ReadFile(h, b, c, n, o);
  }
  BOOL GetOverlappedResult(HANDLE h, OVERLAPPED* o, DWORD* n, BOOL w) override {
    ++calls;
    return Win32SerialPlatform::GetOverlappedResult(h, o, n, w);
  }
};

int Fail(const char* what) {
  std::printf("FAIL %s\n", what);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Fail("usage: serial_wire open|send-abc|burst|split|timeout|registry");
  const std::string cmd = argv[1];
  TMVRtrx trx(Win32SerialPlatform::Instance());
  trx.AnswerTimeout = 16;

  if (cmd == "registry") {
    {
      RegistryIniFile ini;
      trx.Serial.SetPort(2);
      trx.Serial.SetBaudRate(11);
      trx.Serial.SetDataBits(3);
      trx.Serial.SetParity(2);
      trx.Serial.SetStopBits(2);
      trx.Serial.InSize = 999999;
      trx.SaveSettings(ini);
    }
    TMVRtrx fresh(Win32SerialPlatform::Instance());
    RegistryIniFile ini;
    fresh.Serial.LoadFromIni(ini, "ComPort");
    std::printf("loaded port=%d baud=%d data=%d parity=%d stop=%d in=%d out=%d\n", fresh.Serial.Port,
                fresh.Serial.BaudRate, fresh.Serial.DataBits, fresh.Serial.Parity, fresh.Serial.StopBits,
                fresh.Serial.InSize, fresh.Serial.OutSize);
    return 0;
  }

  if (cmd == "idle-bench") {
    CountingPlatform counting;
    TMVRtrx idle(counting);
    if (!idle.Open()) return Fail("open");
    idle.Poll();  // the first Poll starts the read that then stays pending
    constexpr int kPolls = 2000;
    counting.calls = 0;
    LARGE_INTEGER f, a, b;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&a);
    for (int i = 0; i < kPolls; ++i) idle.Poll();
    QueryPerformanceCounter(&b);
    std::printf("idle poll: %.2f us, device calls per poll: %.2f\n",
                1e6 * double(b.QuadPart - a.QuadPart) / double(f.QuadPart) / kPolls,
                double(counting.calls) / kPolls);
    idle.Close();
    return 0;
  }
  if (!trx.Open()) return Fail("open");
  std::printf("open=1\n");
  Channel ch3, ch1;
  const TChannelEvent ev3{&Channel::Arrived, &ch3};
  const TChannelEvent ev1{&Channel::Arrived, &ch1};
  trx.RegisterChannel(3, ev3, ch3.buffer, &ch3.length, 256);
  trx.RegisterChannel(1, ev1, ch1.buffer, &ch1.length, 256);

  if (cmd == "open") {
    trx.Close();
    return 0;
  }
  if (cmd == "send-abc" || cmd == "split") {
    const uint8_t abc[] = {'a', 'b', 'c'};
    trx.SendFrame(3, abc, 3);
    // A split answer survives a poll boundary only while an answer is awaited, so the
    // split run sends a single frame.
    if (cmd == "send-abc") trx.SendCommand(1, 0x41);
    const size_t wantCh1 = cmd == "send-abc" ? 1 : 0;
    const int polls = PollUntil(trx, [&] { return ch3.frames.size() >= 1 && ch1.frames.size() >= wantCh1; }, 150);
    std::printf("polls=%d ch3=%s ch1=%s\n", polls, ch3.frames.empty() ? "-" : Hex(ch3.frames[0]).c_str(),
                ch1.frames.empty() ? "-" : Hex(ch1.frames[0]).c_str());
    std::printf("sent=%u received=%u crc=%u timeouts=%u\n", trx.BytesSent, trx.BytesReceived,
                trx.CRCErrors, trx.Timeouts);
    trx.Close();
    return 0;
  }
  if (cmd == "burst") {
    constexpr int kFrames = 20;
    std::vector<std::vector<uint8_t>> sent;
    for (int k = 0; k < kFrames; ++k) {
      std::vector<uint8_t> data(256);
      for (int i = 0; i < 256; ++i) data[i] = static_cast<uint8_t>(k * 7 + i);
      trx.SendFrame(1, data.data(), 256);
      sent.push_back(data);
    }
    const DWORD t0 = GetTickCount();
    const int polls = PollUntil(trx, [&] { return ch1.frames.size() >= kFrames; }, 500);
    int intact = 0;
    for (size_t k = 0; k < ch1.frames.size() && k < sent.size(); ++k) intact += ch1.frames[k] == sent[k];
    std::printf("burst frames=%zu intact_in_order=%d polls=%d ms=%lu crc=%u received=%u\n",
                ch1.frames.size(), intact, polls, GetTickCount() - t0, trx.CRCErrors, trx.BytesReceived);
    trx.Close();
    return 0;
  }
  if (cmd == "timeout") {
    trx.SendCommand(3, 0x55);
    int polls = 0;
    bool timedOut = false;
    while (!timedOut && polls < 100) {
      Sleep(20);
      trx.Poll();
      ++polls;
      timedOut = trx.CheckTimeout();
    }
    std::printf("timeout after polls=%d timeouts=%u again=%d\n", polls, trx.Timeouts, trx.CheckTimeout());
    trx.Close();
    return 0;
  }
  return Fail("unknown subcommand");
}
