// The simulator's command language: one command a line on its standard
// input, a schedule of timed commands on its command line or in a script.
// All of it is pure parsing, callable on any text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/boxsim/box_time_code.h"

namespace boxsim {

enum class CommandKind {
  kSilence,   // flag
  kFreeze,    // flag
  kChecksum,  // flag: true = bad
  kGarbage,   // number: byte count
  kShort,     // number: bytes kept
  kReply,     // bytes
  kGap,       // number: ms after each reply's first byte
  kOffset,    // number, relative
  kMode,      // mode
  kHangup,
  kQuit,
};

struct Command {
  CommandKind kind = CommandKind::kQuit;
  bool flag = false;
  std::int64_t number = 0;
  bool relative = false;
  Bytes bytes;
  Mode mode = Mode::kPal;
};

// Parses one command line ("silence on", "offset +5000", ...). On failure
// returns false and puts the reason into *error.
bool ParseCommand(const std::string& line, Command* command,
                  std::string* error);

struct ScheduledCommand {
  std::int64_t atMs;  // after start
  std::string text;
  Command command;
};

// "T:command;T:command", T in seconds (fractions to the millisecond).
bool ParseSchedule(const std::string& text,
                   std::vector<ScheduledCommand>* schedule, std::string* error);

// One line of a script file: "T command"; blank lines and lines starting
// with '#' give no entry but succeed.
bool ParseScriptLine(const std::string& line,
                     std::vector<ScheduledCommand>* schedule,
                     std::string* error);

// Seconds with up to three decimals, as milliseconds; no sign allowed.
bool ParseSeconds(const std::string& text, std::int64_t* milliseconds);

}  // namespace boxsim
