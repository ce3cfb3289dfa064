// boxsim: a time code box on a pseudo-terminal or a serial device, for tests,
// demonstrations and work without the hardware. It only ever reads the clock.
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tools/boxsim/boxsim_core.h"
#include "tools/boxsim/simulator.h"

namespace boxsim {
namespace {

const char kHelp[] = R"(boxsim - a simulated time code box on a serial line

Usage: boxsim [--link PATH] [--device DEV] [options]

Without --device, boxsim creates a pseudo-terminal and prints as its first
line on standard output:
    boxsim: ready on /dev/pts/N
Programs open that device (or the --link path) as the box's serial port.
Like a serial device it belongs to group dialout (when that group exists)
with mode 0660, so a service that runs in dialout can open it.

Options:
  --link PATH        make PATH a symbolic link to the line (parent folders are
                     created, an older link is replaced, the link is removed at
                     exit; a file that is not a link is never touched)
  --device DEV       use a real serial device (raw, 38400 baud 8O1) instead of
                     a pseudo-terminal
  --mode MODE        pal (25 frames/s, default), ntsc (30 frames/s) or ntsc-df
                     (30 frames/s, drop-frame flag in bit 6 of the frames byte)
  --utc              send the time of day in UTC (default: local time)
  --offset MS        add MS milliseconds (may be negative) to the time of day;
                     wraps around midnight
  --turnaround MS    wait MS milliseconds before a reply starts (default 1)
  --schedule LIST    commands at times after start: "T:command;T:command",
                     T in seconds, e.g. "10:offset +5000;20:silence on"
  --script FILE      the same from a file, one "T command" a line; blank lines
                     and lines starting with # are ignored
  --log FILE         append the log to FILE instead of standard error
  --quiet            log nothing but commands
  --stdin-quit       end when standard input reaches its end (default: go on,
                     so boxsim can run in the background with </dev/null)
  --seed N           seed for the random bytes of "garbage" (default: time)
  --help             this text

The box answers:
  hello       20 01 21     -> 10 01 11
  time query  61 0C 03 70  -> 74 0C FF SS MM HH CS   (7 bytes)
FF SS MM HH are frames, seconds, minutes and hours in packed BCD; CS is the
sum of the bytes before it, modulo 256. Requests are read as frames (header
low nibble n -> n+3 bytes); other valid frames get no answer, bytes that form
no frame are dropped. Each reply byte is paced as a 38400 baud 8O1 line sends
it (0.286 ms a byte) after the turnaround.

Commands, one a line on standard input (and in --schedule / --script):
  silence on|off      answer nothing / answer again
  freeze on|off       repeat the last time code / run again
  checksum bad|good   send wrong checksums / right ones
  garbage N           send N random bytes as the next answer
  short K             cut the next reply after K bytes
  reply HEX HEX ...   send exactly these bytes as the next answer to any request
  gap MS              pause MS ms (0 to 1000) after each reply's first byte, as
                      a USB adapter hands a reply over in pieces; gap 0 ends it
  offset MS           set the offset to MS milliseconds
  offset +MS | -MS    move the offset by MS milliseconds (a jump of the code)
  mode pal|ntsc|ntsc-df
  hangup              close the line (the pseudo-terminal's master) and end
  quit                end
Each command's effect is logged.

Log, one line per event with the local time to the millisecond:
  2026-12-06T22:41:03.123 rx 61 0C 03 70 tx 74 0C 15 30 12 22 F9 (query 22:12:30:15 ntsc)
  2026-12-06T22:41:03.300 rx 20 01 21 tx 10 01 11 (hello)
  2026-12-06T22:41:03.450 rx 61 0C 03 70 tx - (silence)
  2026-12-06T22:41:04.000 cmd offset +5000 (0 -> 5000 ms) [stdin]
The note in brackets names the exchange and any fault applied to it.

Ctrl+C, SIGTERM and SIGHUP end boxsim cleanly (link removed, exit status 0).

Examples:
  boxsim --link /etc/quorvel/dosdevices/com1
      the box on COM1 of the Linux build
  boxsim --mode ntsc-df --utc --schedule "10:offset +5000;20:silence on;25:silence off"
  boxsim --device /dev/ttyUSB0 --mode ntsc
)";

bool ParseInteger(const std::string& text, std::int64_t low, std::int64_t high,
                  std::int64_t* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long long parsed = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || parsed < low || parsed > high) return false;
  *value = parsed;
  return true;
}

bool LoadScript(const std::string& path, Options* options, std::string* error) {
  std::ifstream in(path);
  if (!in) return *error = path + ": " + strerror(errno), false;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (!ParseScriptLine(line, &options->schedule, error)) {
      *error = path + ":" + std::to_string(number) + ": " + *error;
      return false;
    }
  }
  return true;
}

bool ApplyOption(const std::string& name, const std::string& value,
                 Options* options, std::string* error) {
  std::int64_t number = 0;
  if (name == "--link") {
    options->link = value;
  } else if (name == "--device") {
    options->device = value;
  } else if (name == "--log") {
    options->logFile = value;
  } else if (name == "--mode") {
    if (!ParseMode(value, &options->box.mode))
      return *error = "--mode takes pal, ntsc or ntsc-df", false;
  } else if (name == "--offset") {
    if (!ParseInteger(value, -10 * kMsPerDay, 10 * kMsPerDay, &number))
      return *error = "--offset takes milliseconds (up to 10 days)", false;
    options->box.offsetMs = number;
  } else if (name == "--turnaround") {
    if (!ParseInteger(value, 0, 10000, &number))
      return *error = "--turnaround takes 0 to 10000 milliseconds", false;
    options->turnaroundMs = number;
  } else if (name == "--seed") {
    if (!ParseInteger(value, 0, UINT32_MAX, &number))
      return *error = "--seed takes a number", false;
    options->seed = static_cast<std::uint32_t>(number);
    options->haveSeed = true;
  } else if (name == "--schedule") {
    if (!ParseSchedule(value, &options->schedule, error))
      return *error = "--schedule: " + *error, false;
  } else if (name == "--script") {
    return LoadScript(value, options, error);
  } else {
    return *error = "unknown option " + name + " (see --help)", false;
  }
  return true;
}

enum class ArgsResult { kRun, kHelp, kError };

ArgsResult ParseArgs(int argc, char** argv, Options* options,
                     std::string* error) {
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    if (name == "--help" || name == "-h") return ArgsResult::kHelp;
    if (name == "--utc") {
      options->utc = true;
    } else if (name == "--quiet") {
      options->quiet = true;
    } else if (name == "--stdin-quit") {
      options->stdinQuit = true;
    } else {
      std::string value;
      const std::size_t equals = name.find('=');
      if (equals != std::string::npos) {
        value = name.substr(equals + 1);
        name = name.substr(0, equals);
      } else if (i + 1 < argc) {
        value = argv[++i];
      } else {
        *error = name + " needs a value (see --help)";
        return ArgsResult::kError;
      }
      if (!ApplyOption(name, value, options, error)) return ArgsResult::kError;
    }
  }
  std::stable_sort(options->schedule.begin(), options->schedule.end(),
                   [](const ScheduledCommand& a, const ScheduledCommand& b) {
                     return a.atMs < b.atMs;
                   });
  return ArgsResult::kRun;
}

int Main(int argc, char** argv) {
  Options options;
  std::string error;
  switch (ParseArgs(argc, argv, &options, &error)) {
    case ArgsResult::kHelp:
      fputs(kHelp, stdout);
      return 0;
    case ArgsResult::kError:
      fprintf(stderr, "boxsim: %s\n", error.c_str());
      return 2;
    case ArgsResult::kRun:
      break;
  }
  return RunSimulator(options);
}

}  // namespace
}  // namespace boxsim

int main(int argc, char** argv) { return boxsim::Main(argc, argv); }
