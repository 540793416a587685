#include "Options.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace mvrsim {

namespace {

bool ParseLong(const std::string& s, long min, long max, long& out) {
  if (s.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(s.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < min || v > max) return false;
  out = v;
  return true;
}

bool ParseInt(const std::string& s, int min, int max, int& out) {
  long v = 0;
  if (!ParseLong(s, min, max, v)) return false;
  out = static_cast<int>(v);
  return true;
}

bool ParseData(const std::string& s, Bytes& out) {
  return ParseHex(s, out) && !out.empty() && out.size() <= kMaxData;
}

bool ParseByte(const std::string& s, uint8_t& out) {
  Bytes b;
  if (!ParseHex(s, b) || b.size() != 1) return false;
  out = b[0];
  return true;
}

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t pos = s.find(sep, start);
    parts.push_back(s.substr(start, pos == std::string::npos ? std::string::npos : pos - start));
    if (pos == std::string::npos) return parts;
    start = pos + 1;
  }
}

std::string Trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

// "data 61 62" / "cmd 41" / "echo" / "silent" (silent -> no item, returns true with none set).
bool ParseAnswer(const std::string& text, std::vector<AnswerItem>& items, bool& silent) {
  std::istringstream in(text);
  std::string word;
  in >> word;
  std::string rest;
  std::getline(in, rest);
  rest = Trim(rest);
  AnswerItem item;
  if (word == "silent" && rest.empty()) {
    silent = true;
    return true;
  }
  if (word == "echo" && rest.empty()) {
    item.type = AnswerItem::Echo;
  } else if (word == "data") {
    item.type = AnswerItem::Data;
    if (!ParseData(rest, item.data)) return false;
  } else if (word == "cmd") {
    item.type = AnswerItem::Command;
    if (!ParseByte(rest, item.value)) return false;
  } else {
    return false;
  }
  items.push_back(std::move(item));
  return true;
}

bool ParseRule(const std::string& line, Rule& rule) {
  const size_t arrow = line.find("->");
  if (arrow == std::string::npos) return false;
  std::istringstream in(line.substr(0, arrow));
  std::string kind, channel;
  in >> kind >> channel;
  std::string pattern;
  std::getline(in, pattern);
  pattern = Trim(pattern);
  if (kind == "data")
    rule.kind = Kind::Data;
  else if (kind == "cmd")
    rule.kind = Kind::Command;
  else
    return false;
  if (channel != "*" && !ParseInt(channel, 0, kChannels - 1, rule.channel)) return false;
  rule.anyPayload = pattern.empty() || pattern == "*";
  if (!rule.anyPayload) {
    if (rule.kind == Kind::Data ? !ParseData(pattern, rule.data) : !ParseByte(pattern, rule.value))
      return false;
  }
  bool silent = false;
  const std::vector<std::string> answers = Split(line.substr(arrow + 2), ';');
  for (const std::string& a : answers)
    if (!ParseAnswer(a, rule.answers, silent)) return false;
  // "silent" stands alone; mixing it with frames is a typo, not a wish.
  return silent ? answers.size() == 1 : !rule.answers.empty();
}

// COUNT:CHANNEL:LEN
bool ParseFlood(const std::string& s, FloodPlan& f) {
  const auto p = Split(s, ':');
  int len = 0;
  if (p.size() != 3 || !ParseInt(p[0], 1, 1000000, f.count) ||
      !ParseInt(p[1], 0, kChannels - 1, f.channel) ||
      !ParseInt(p[2], 1, static_cast<int>(kMaxData), len))
    return false;
  f.length = static_cast<size_t>(len);
  return true;
}

// MS:data:CH:HEX or MS:cmd:CH:VAL
bool ParsePeriodic(const std::string& s, Periodic& u) {
  const auto p = Split(s, ':');
  if (p.size() != 4 || !ParseInt(p[0], 1, INT_MAX, u.periodMs) ||
      !ParseInt(p[2], 0, kChannels - 1, u.channel))
    return false;
  if (p[1] == "data") {
    u.frame.type = AnswerItem::Data;
    return ParseData(p[3], u.frame.data);
  }
  if (p[1] == "cmd") {
    u.frame.type = AnswerItem::Command;
    return ParseByte(p[3], u.frame.value);
  }
  return false;
}

}  // namespace

bool ParseScript(const std::string& text, std::vector<Rule>& rules, std::string& err) {
  std::istringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    line = Trim(line.substr(0, line.find('#')));
    if (line.empty()) continue;
    Rule rule;
    rule.line = number;
    if (!ParseRule(line, rule)) {
      err = "script line " + std::to_string(number) + ": cannot read \"" + line + "\"";
      return false;
    }
    rules.push_back(std::move(rule));
  }
  return true;
}

bool ParseArgs(int argc, const char* const* argv, Config& cfg, std::string& err) {
  for (int i = 1; i < argc; ++i) {
    std::string opt = argv[i];
    std::string val;
    bool inlineVal = false;
    const size_t eq = opt.find('=');
    if (opt.rfind("--", 0) == 0 && eq != std::string::npos) {
      val = opt.substr(eq + 1);
      opt = opt.substr(0, eq);
      inlineVal = true;
    }
    auto flag = [&](bool& target) {
      target = true;
      return !inlineVal;
    };
    auto value = [&]() {
      if (inlineVal) return true;
      if (i + 1 >= argc) return false;
      val = argv[++i];
      return true;
    };
    bool ok = true;
    if (opt == "--silent") {
      ok = flag(cfg.silent);
    } else if (opt == "--corrupt-crc") {
      ok = flag(cfg.corruptCrc);
    } else if (opt == "--corrupt-check") {
      ok = flag(cfg.corruptCheck);
    } else if (opt == "--port" || opt == "--log" || opt == "--raw-log" || opt == "--script" ||
               opt == "--answer-data" || opt == "--answer-cmd" || opt == "--delay" ||
               opt == "--garbage" || opt == "--split" || opt == "--flood" ||
               opt == "--flood-on-frame" || opt == "--unsolicited" || opt == "--send" ||
               opt == "--start-delay" || opt == "--pieces" ||
               opt == "--exit-after-frames" || opt == "--frame-timeout") {
      if (!value()) {
        err = opt + " needs a value";
        return false;
      }
      if (opt == "--port") {
        cfg.port = val;
      } else if (opt == "--log") {
        cfg.logPath = val;
      } else if (opt == "--raw-log") {
        cfg.rawLogPath = val;
      } else if (opt == "--script") {
        std::ifstream f(val);
        if (!f) {
          err = "cannot read script " + val;
          return false;
        }
        std::stringstream text;
        text << f.rdbuf();
        if (!ParseScript(text.str(), cfg.rules, err)) return false;
      } else if (opt == "--answer-data") {
        ok = ParseData(val, cfg.answerData);
        cfg.haveAnswerData = true;
      } else if (opt == "--answer-cmd") {
        ok = ParseByte(val, cfg.answerCmd);
        cfg.haveAnswerCmd = true;
      } else if (opt == "--delay") {
        ok = ParseInt(val, 0, 3600000, cfg.delayMs);
      } else if (opt == "--garbage") {
        ok = ParseInt(val, 0, 1000000, cfg.garbage);
      } else if (opt == "--split") {
        ok = ParseInt(val, 0, 3600000, cfg.splitMs);
      } else if (opt == "--pieces") {
        const auto parts = Split(val, ':');
        ok = parts.size() == 2 && ParseInt(parts[0], 1, static_cast<int>(kMaxData) + 4,
                                           cfg.piecesBytes) &&
             ParseInt(parts[1], 0, 3600000, cfg.piecesMs);
      } else if (opt == "--flood") {
        ok = ParseFlood(val, cfg.floodStart);
      } else if (opt == "--flood-on-frame") {
        ok = ParseFlood(val, cfg.floodEach);
      } else if (opt == "--unsolicited") {
        Periodic u;
        ok = ParsePeriodic(val, u);
        cfg.unsolicited.push_back(std::move(u));
      } else if (opt == "--send") {
        ok = ParseHex(val, cfg.sendAtStart) && !cfg.sendAtStart.empty();
      } else if (opt == "--start-delay") {
        ok = ParseInt(val, 0, 3600000, cfg.startDelayMs);
      } else if (opt == "--exit-after-frames") {
        ok = ParseLong(val, 1, LONG_MAX, cfg.exitAfterFrames);
      } else if (opt == "--frame-timeout") {
        ok = ParseInt(val, 1, 3600000, cfg.frameTimeoutMs);
      }
    } else {
      err = "unknown option " + opt;
      return false;
    }
    if (!ok) {
      err = "bad value for " + opt + (val.empty() ? "" : ": " + val);
      return false;
    }
  }
  if (cfg.port.empty()) {
    err = "--port is required";
    return false;
  }
  return true;
}

const char* Usage() {
  return "usage: mvrsim --port PTY [options]\n"
         "  --script FILE           answer rules (see README.md)\n"
         "  --answer-data HEX       answer every data frame with these bytes\n"
         "  --answer-cmd HEX        answer every command frame with this value\n"
         "  --silent                never answer\n"
         "  --delay MS              wait before each answer\n"
         "  --garbage N             send N bytes that start no frame before each answer frame\n"
         "  --corrupt-crc           flip the last CRC byte of data answers\n"
         "  --corrupt-check         flip the check byte of command answers\n"
         "  --split MS              send each answer frame in two halves, MS apart\n"
         "  --pieces N:MS           send every answer and periodic frame N bytes at a time, MS apart\n"
         "  --flood COUNT:CH:LEN    send COUNT data frames of LEN bytes on CH at start\n"
         "  --flood-on-frame COUNT:CH:LEN   same, after each intact received frame\n"
         "  --unsolicited MS:data:CH:HEX | MS:cmd:CH:VAL   send a frame every MS (repeatable)\n"
         "  --send HEX              write these raw bytes once the port is open\n"
         "  --start-delay MS        hold --send and --flood this long after opening\n"
         "  --exit-after-frames N   end after N received frames, once answers are out\n"
         "  --frame-timeout MS      drop a started frame when no byte came for MS\n"
         "  --log FILE              decoded log (default stdout)\n"
         "  --raw-log FILE          received bytes in hex, one read per line\n";
}

}  // namespace mvrsim
