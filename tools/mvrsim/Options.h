// The simulator's settings: command line and answer script.
#pragma once
#include <string>
#include <vector>

#include "Frames.h"

namespace mvrsim {

// One frame of an answer; Echo repeats what came in.
struct AnswerItem {
  enum Type { Echo, Data, Command } type = Echo;
  Bytes data;
  uint8_t value = 0;
};

// A script line: what it matches and how the device answers. No answers = silent.
struct Rule {
  Kind kind = Kind::Data;
  int channel = -1;          // -1: any channel
  bool anyPayload = true;    // false: data must equal `data` / value must equal `value`
  Bytes data;
  uint8_t value = 0;
  std::vector<AnswerItem> answers;
  int line = 0;
};

struct FloodPlan {
  int count = 0;  // 0: off
  int channel = 0;
  size_t length = 0;
};

struct Periodic {
  int periodMs = 0;
  AnswerItem frame;  // Data or Command
  int channel = 0;
};

struct Config {
  std::string port;
  std::string logPath;     // empty: stdout
  std::string rawLogPath;  // empty: none
  std::vector<Rule> rules;
  bool haveAnswerData = false;
  Bytes answerData;
  bool haveAnswerCmd = false;
  uint8_t answerCmd = 0;
  bool silent = false;
  int delayMs = 0;
  int garbage = 0;
  bool corruptCrc = false;
  bool corruptCheck = false;
  int splitMs = -1;  // -1: answers go out in one piece
  // Every frame sent (answers and periodic frames) in pieces of this many bytes, piecesMs
  // apart; 0: off. A real line trickles a long frame in like this.
  int piecesBytes = 0;
  int piecesMs = 0;
  FloodPlan floodStart;
  FloodPlan floodEach;
  std::vector<Periodic> unsolicited;
  Bytes sendAtStart;
  int startDelayMs = 0;  // --send and --flood wait this long after the port is open
  long exitAfterFrames = 0;  // 0: run until a signal
  int frameTimeoutMs = 0;    // 0: a started frame waits for its bytes forever
};

// Script text -> rules (appended). On error err names the line.
bool ParseScript(const std::string& text, std::vector<Rule>& rules, std::string& err);

// argv -> cfg, reading the script file if one is named. False with err on any bad option.
bool ParseArgs(int argc, const char* const* argv, Config& cfg, std::string& err);

const char* Usage();

}  // namespace mvrsim
