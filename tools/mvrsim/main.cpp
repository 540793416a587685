// mvrsim: plays the transceiver on one end of a pty pair. One thread, one poll loop: reads are
// never held up by a delayed or split answer, and output keeps its order in one queue.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <thread>

#include "Frames.h"
#include "Options.h"
#include "Responder.h"

namespace {

using Clock = std::chrono::steady_clock;
using mvrsim::Bytes;

volatile sig_atomic_t gStop = 0;
void OnSignal(int) { gStop = 1; }

// The other side may come and go (Wine opens and closes its end; socat restarts): a read or
// write that says so only pauses the port for this long.
constexpr auto kPeerRetry = std::chrono::milliseconds(10);

class LineLog {
 public:
  ~LineLog() {
    if (f_ && f_ != stdout) std::fclose(f_);
  }
  bool Open(const std::string& path) {
    f_ = std::fopen(path.c_str(), "w");
    return f_ != nullptr;
  }
  void UseStdout() { f_ = stdout; }
  // Flushed per line: tests read the file while the simulator runs.
  void Line(const std::string& s) {
    if (!f_) return;
    std::fputs(s.c_str(), f_);
    std::fputc('\n', f_);
    std::fflush(f_);
  }

 private:
  std::FILE* f_ = nullptr;
};

struct Pending {
  mvrsim::OutChunk chunk;
  bool scheduled = false;
  Clock::time_point due;
  size_t written = 0;
};

int OpenPort(const std::string& path, LineLog& log) {
  // socat may still be creating its link when we start.
  const auto giveUp = Clock::now() + std::chrono::seconds(3);
  int fd;
  while ((fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) < 0) {
    if (errno != ENOENT || Clock::now() >= giveUp || gStop) {
      std::fprintf(stderr, "mvrsim: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  termios t{};
  if (tcgetattr(fd, &t) == 0) {
    cfmakeraw(&t);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &t) != 0)
      std::fprintf(stderr, "mvrsim: tcsetattr %s: %s\n", path.c_str(), std::strerror(errno));
  } else {
    log.Line("INFO " + path + " is not a terminal, used as it is");
  }
  return fd;
}

class Simulator {
 public:
  Simulator(const mvrsim::Config& cfg, int fd, LineLog& log, LineLog& raw)
      : cfg_(cfg), fd_(fd), log_(log), raw_(raw), responder_(cfg) {}

  int Run() {
    const auto start = Clock::now();
    lastRx_ = start;
    Enqueue(responder_.AtStart(), start);
    std::vector<Clock::time_point> nextTick;
    for (const auto& u : cfg_.unsolicited)
      nextTick.push_back(start + std::chrono::milliseconds(u.periodMs));

    sigset_t runMask;
    sigprocmask(SIG_SETMASK, nullptr, &runMask);
    sigdelset(&runMask, SIGINT);
    sigdelset(&runMask, SIGTERM);

    while (!gStop) {
      auto now = Clock::now();
      for (size_t i = 0; i < nextTick.size(); ++i) {
        if (now < nextTick[i]) continue;
        Enqueue(responder_.Unsolicited(i), now);
        const std::chrono::milliseconds period(cfg_.unsolicited[i].periodMs);
        nextTick[i] += period;
        if (nextTick[i] <= now) nextTick[i] = now + period;  // fell behind: no burst to catch up
      }
      if (cfg_.frameTimeoutMs > 0 && parser_.InFrame() &&
          now - lastRx_ >= std::chrono::milliseconds(cfg_.frameTimeoutMs))
        log_.Line("RX incomplete " + mvrsim::Hex(parser_.Reset()));

      bool blocked = false;
      if (!peerGone_ && !Flush(blocked)) return 1;
      if (cfg_.exitAfterFrames > 0 && framesSeen_ >= cfg_.exitAfterFrames && queue_.empty()) {
        log_.Line("INFO end after " + std::to_string(framesSeen_) + " frames");
        return 0;
      }

      // Sleep until the next thing that is due.
      now = Clock::now();
      Clock::time_point wake = now + std::chrono::seconds(1);
      auto earlier = [&](Clock::time_point t) {
        if (t < wake) wake = t;
      };
      if (peerGone_) earlier(now + kPeerRetry);
      if (!queue_.empty() && queue_.front().scheduled && !blocked) earlier(queue_.front().due);
      for (const auto& t : nextTick) earlier(t);
      if (cfg_.frameTimeoutMs > 0 && parser_.InFrame())
        earlier(lastRx_ + std::chrono::milliseconds(cfg_.frameTimeoutMs));
      if (wake < now) wake = now;
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wake - now).count();
      timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};

      pollfd p{peerGone_ ? -1 : fd_, static_cast<short>(POLLIN | (blocked ? POLLOUT : 0)), 0};
      const int r = ppoll(&p, 1, &ts, &runMask);
      if (r < 0 && errno != EINTR) {
        std::fprintf(stderr, "mvrsim: poll: %s\n", std::strerror(errno));
        return 1;
      }
      // While the peer is gone the port is left out of poll (it would report HUP at once)
      // and simply tried again.
      if (peerGone_ || (p.revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
        if (!ReadAll()) return 1;
      }
    }
    log_.Line("INFO stop by signal");
    return 0;
  }

 private:
  void Enqueue(std::vector<mvrsim::OutChunk> chunks, Clock::time_point arrival) {
    for (auto& c : chunks) {
      Pending p;
      p.scheduled = !c.afterPrevious;
      if (p.scheduled) p.due = arrival + std::chrono::milliseconds(c.delayMs);
      p.chunk = std::move(c);
      queue_.push_back(std::move(p));
    }
  }

  void PeerGone(const char* how) {
    if (!peerGone_) log_.Line(std::string("INFO peer gone (") + how + "), retrying");
    peerGone_ = true;
  }

  void PeerBack() {
    if (peerGone_) log_.Line("INFO peer back");
    peerGone_ = false;
  }

  // Writes what is due. blocked: the port took no more (wait for POLLOUT). False on a hard error.
  bool Flush(bool& blocked) {
    while (!queue_.empty()) {
      Pending& p = queue_.front();
      const auto now = Clock::now();
      if (!p.scheduled) {
        p.due = lastDone_ + std::chrono::milliseconds(p.chunk.delayMs);
        p.scheduled = true;
      }
      if (now < p.due) return true;
      if (p.written == 0 && !p.chunk.log.empty()) {
        log_.Line(p.chunk.log);
        p.chunk.log.clear();
      }
      const Bytes& b = p.chunk.bytes;
      const ssize_t n = write(fd_, b.data() + p.written, b.size() - p.written);
      if (n < 0) {
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
          blocked = true;
          return true;
        }
        if (errno == EIO || errno == EPIPE) {
          PeerGone("write");
          return true;
        }
        std::fprintf(stderr, "mvrsim: write: %s\n", std::strerror(errno));
        return false;
      }
      p.written += static_cast<size_t>(n);
      if (p.written == b.size()) {
        lastDone_ = Clock::now();
        queue_.pop_front();
      }
    }
    return true;
  }

  // Reads until the port has nothing more. False on a hard error.
  bool ReadAll() {
    uint8_t buf[4096];
    for (;;) {
      const ssize_t n = read(fd_, buf, sizeof buf);
      if (n > 0) {
        PeerBack();
        Received(buf, static_cast<size_t>(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        PeerBack();
        return true;
      }
      if (n == 0 || errno == EIO) {
        PeerGone(n == 0 ? "end of file" : "EIO");
        return true;
      }
      std::fprintf(stderr, "mvrsim: read: %s\n", std::strerror(errno));
      return false;
    }
  }

  void Received(const uint8_t* p, size_t n) {
    const auto now = Clock::now();
    lastRx_ = now;
    raw_.Line(mvrsim::Hex(p, n));
    events_.clear();
    parser_.Feed(p, n, events_);
    for (const auto& e : events_) {
      if (e.type == mvrsim::RxEvent::Skipped) {
        log_.Line("RX skip " + mvrsim::Hex(e.skipped));
        continue;
      }
      log_.Line("RX " + mvrsim::Describe(e.frame));
      ++framesSeen_;
      Enqueue(responder_.Answer(e.frame), now);
    }
  }

  const mvrsim::Config& cfg_;
  int fd_;
  LineLog& log_;
  LineLog& raw_;
  mvrsim::Responder responder_;
  mvrsim::FrameParser parser_;
  std::vector<mvrsim::RxEvent> events_;
  std::deque<Pending> queue_;
  Clock::time_point lastDone_{};
  Clock::time_point lastRx_{};
  bool peerGone_ = false;
  long framesSeen_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(mvrsim::Usage(), stdout);
      return 0;
    }
  }
  mvrsim::Config cfg;
  std::string err;
  if (!mvrsim::ParseArgs(argc, argv, cfg, err)) {
    std::fprintf(stderr, "mvrsim: %s\n%s", err.c_str(), mvrsim::Usage());
    return 2;
  }

  // Signals stay blocked except inside ppoll, so a stop request cannot slip in between the
  // check and the wait.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  LineLog log, raw;
  if (cfg.logPath.empty()) {
    log.UseStdout();
  } else if (!log.Open(cfg.logPath)) {
    std::fprintf(stderr, "mvrsim: cannot write %s: %s\n", cfg.logPath.c_str(),
                 std::strerror(errno));
    return 1;
  }
  if (!cfg.rawLogPath.empty() && !raw.Open(cfg.rawLogPath)) {
    std::fprintf(stderr, "mvrsim: cannot write %s: %s\n", cfg.rawLogPath.c_str(),
                 std::strerror(errno));
    return 1;
  }

  const int fd = OpenPort(cfg.port, log);
  if (fd < 0) return 1;
  log.Line("INFO open " + cfg.port);
  const int rc = Simulator(cfg, fd, log, raw).Run();
  close(fd);
  return rc;
}
