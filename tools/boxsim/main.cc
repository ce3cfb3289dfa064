// boxsim: a time code box on a pseudo-terminal or a serial device, for tests,
// demonstrations and work without the hardware. It only ever reads the clock.
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "tools/boxsim/boxsim_core.h"
#include "tools/boxsim/serial_line.h"

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

struct Options {
  std::string link;
  std::string device;
  std::string logFile;
  BoxOptions box;
  bool utc = false;
  bool quiet = false;
  bool stdinQuit = false;
  std::int64_t turnaroundMs = 1;
  std::uint32_t seed = 0;
  bool haveSeed = false;
  std::vector<ScheduledCommand> schedule;
};

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

// ---- Clock and log --------------------------------------------------------

struct WallTime {
  tm fields;
  int millisecond;
};

WallTime ReadWallTime(bool utc) {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  WallTime wall;
  if (utc)
    gmtime_r(&now.tv_sec, &wall.fields);
  else
    localtime_r(&now.tv_sec, &wall.fields);
  wall.millisecond = static_cast<int>(now.tv_nsec / 1000000);
  return wall;
}

TimeOfDay ToTimeOfDay(const WallTime& wall) {
  // A leap second reads as the last second of its minute.
  return {wall.fields.tm_hour, wall.fields.tm_min,
          std::min(wall.fields.tm_sec, 59), wall.millisecond};
}

class Logger {
 public:
  Logger(FILE* out, bool quiet) : out_(out), quiet_(quiet) {}

  void LogEvent(const std::string& text) {
    if (!quiet_) Write(text);
  }
  void LogCommand(const std::string& text) { Write("cmd " + text); }

 private:
  void Write(const std::string& text) {
    const WallTime wall = ReadWallTime(false);
    char stamp[40];
    strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &wall.fields);
    fprintf(out_, "%s.%03d %s\n", stamp, wall.millisecond, text.c_str());
    fflush(out_);
  }

  FILE* out_;
  bool quiet_;
};

// ---- The running simulator ------------------------------------------------

volatile sig_atomic_t g_stopSignal = 0;

void OnStopSignal(int signal) { g_stopSignal = signal; }

// The stop signals are blocked except while waiting in ppoll, so none is
// lost between a check of the flag and the wait.
sigset_t BlockStopSignals() {
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigset_t blocked, previous;
  sigemptyset(&blocked);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    sigaction(signal, &action, nullptr);
    sigaddset(&blocked, signal);
  }
  signal(SIGPIPE, SIG_IGN);
  sigprocmask(SIG_BLOCK, &blocked, &previous);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigdelset(&previous, signal);
  return previous;
}

// A partial request left this long on a quiet line is given up.
constexpr std::int64_t kPartialFrameTimeoutNs = 20 * 1000000LL;

class Simulator {
 public:
  Simulator(const Options& options, SerialLine* line, Logger* log)
      : options_(options),
        line_(line),
        log_(log),
        random_(options.haveSeed ? options.seed
                                 : static_cast<std::uint32_t>(time(nullptr))),
        box_(options.box,
             [this] { return static_cast<std::uint8_t>(random_() & 0xFF); }) {}

  int Run(const sigset_t& waitMask);

 private:
  bool Running() const { return !stopped_ && g_stopSignal == 0; }
  int WaitTimeoutMs(std::int64_t nowNs) const;
  void ReadLine(std::int64_t nowNs);
  void HandleEvents(const std::vector<RequestParser::Event>& events,
                    std::int64_t nowNs);
  void Reply(const Bytes& request, std::int64_t receivedNs);
  void ReadStdin();
  void RunDueSchedule(std::int64_t nowNs);
  void Execute(const std::string& text, const char* source);

  const Options& options_;
  SerialLine* line_;
  Logger* log_;
  std::mt19937 random_;
  SimulatedBox box_;
  RequestParser parser_;
  std::int64_t startNs_ = MonotonicNs();
  std::int64_t lastRxNs_ = 0;
  std::size_t nextScheduled_ = 0;
  bool stdinOpen_ = true;
  std::string stdinBuffer_;
  bool stopped_ = false;
  bool lineHungUp_ = false;
};

int Simulator::Run(const sigset_t& waitMask) {
  while (Running()) {
    const std::int64_t nowNs = MonotonicNs();
    RunDueSchedule(nowNs);
    if (!Running()) break;
    pollfd fds[2] = {{line_->fd(), POLLIN, 0}, {0, POLLIN, 0}};
    const nfds_t count = stdinOpen_ ? 2 : 1;
    const int timeoutMs = WaitTimeoutMs(nowNs);
    timespec timeout = {timeoutMs / 1000, (timeoutMs % 1000) * 1000000L};
    const int ready =
        ppoll(fds, count, timeoutMs < 0 ? nullptr : &timeout, &waitMask);
    if (ready < 0 && errno != EINTR) {
      log_->LogEvent(std::string("poll failed: ") + strerror(errno));
      return 1;
    }
    if (ready <= 0) {
      if (parser_.HasPartial() &&
          MonotonicNs() - lastRxNs_ >= kPartialFrameTimeoutNs)
        HandleEvents(parser_.Flush(), MonotonicNs());
      continue;
    }
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) ReadLine(MonotonicNs());
    if (count > 1 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)))
      ReadStdin();
  }
  if (g_stopSignal != 0)
    log_->LogEvent(std::string("stop on signal ") + strsignal(g_stopSignal));
  return 0;
}

int Simulator::WaitTimeoutMs(std::int64_t nowNs) const {
  std::int64_t waitNs = -1;
  auto consider = [&](std::int64_t deadlineNs) {
    const std::int64_t untilNs = std::max<std::int64_t>(0, deadlineNs - nowNs);
    if (waitNs < 0 || untilNs < waitNs) waitNs = untilNs;
  };
  if (nextScheduled_ < options_.schedule.size())
    consider(startNs_ + options_.schedule[nextScheduled_].atMs * 1000000);
  if (parser_.HasPartial()) consider(lastRxNs_ + kPartialFrameTimeoutNs);
  if (lineHungUp_) consider(nowNs + 10 * 1000000LL);
  if (waitNs < 0) return -1;
  return static_cast<int>((waitNs + 999999) / 1000000);
}

void Simulator::ReadLine(std::int64_t nowNs) {
  std::uint8_t buffer[256];
  const ssize_t count = read(line_->fd(), buffer, sizeof buffer);
  if (count > 0) {
    lineHungUp_ = false;
    lastRxNs_ = nowNs;
    HandleEvents(parser_.Feed(buffer, static_cast<std::size_t>(count)), nowNs);
    return;
  }
  if (count < 0 && (errno == EAGAIN || errno == EINTR)) return;
  // Nobody has the other side open (a device whose peer went away): look
  // again shortly instead of spinning on the hang-up.
  if (!lineHungUp_)
    log_->LogEvent("line hung up: " +
                   std::string(count == 0 ? "end of input" : strerror(errno)));
  lineHungUp_ = true;
  struct timespec pause = {0, 10 * 1000000L};
  nanosleep(&pause, nullptr);
}

void Simulator::HandleEvents(const std::vector<RequestParser::Event>& events,
                             std::int64_t nowNs) {
  for (const RequestParser::Event& event : events) {
    if (event.complete)
      Reply(event.bytes, nowNs);
    else
      log_->LogEvent("rx " + HexBytes(event.bytes) + " tx - (not a frame)");
  }
}

void Simulator::Reply(const Bytes& request, std::int64_t receivedNs) {
  const Answer answer =
      box_.Respond(request, ToTimeOfDay(ReadWallTime(options_.utc)));
  std::string note = answer.note;
  if (!answer.tx.empty() &&
      !line_->WritePaced(answer.tx.data(), answer.tx.size(), receivedNs,
                         options_.turnaroundMs * 1000000))
    note += std::string(", write failed: ") + strerror(errno);
  log_->LogEvent("rx " + HexBytes(request) + " tx " + HexBytes(answer.tx) +
                 " (" + note + ")");
}

void Simulator::ReadStdin() {
  char buffer[512];
  const ssize_t count = read(0, buffer, sizeof buffer);
  if (count < 0 && errno == EINTR) return;
  if (count <= 0) {
    stdinOpen_ = false;
    if (!stdinBuffer_.empty()) Execute(stdinBuffer_, "stdin");
    stdinBuffer_.clear();
    if (options_.stdinQuit) {
      log_->LogCommand("quit (end of standard input)");
      stopped_ = true;
    }
    return;
  }
  stdinBuffer_.append(buffer, static_cast<std::size_t>(count));
  std::size_t newline;
  while (Running() &&
         (newline = stdinBuffer_.find('\n')) != std::string::npos) {
    const std::string line = stdinBuffer_.substr(0, newline);
    stdinBuffer_.erase(0, newline + 1);
    if (line.find_first_not_of(" \t\r") != std::string::npos)
      Execute(line, "stdin");
  }
}

void Simulator::RunDueSchedule(std::int64_t nowNs) {
  while (Running() && nextScheduled_ < options_.schedule.size() &&
         startNs_ + options_.schedule[nextScheduled_].atMs * 1000000 <= nowNs) {
    Execute(options_.schedule[nextScheduled_].text, "schedule");
    ++nextScheduled_;
  }
}

void Simulator::Execute(const std::string& text, const char* source) {
  Command command;
  std::string error;
  if (!ParseCommand(text, &command, &error)) {
    log_->LogCommand("error: \"" + text + "\": " + error + " [" + source + "]");
    return;
  }
  log_->LogCommand(box_.Apply(command) + " [" + source + "]");
  if (command.kind == CommandKind::kHangup) {
    line_->Close();
    stopped_ = true;
  } else if (command.kind == CommandKind::kQuit) {
    stopped_ = true;
  }
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
  FILE* logOut = stderr;
  if (!options.logFile.empty()) {
    logOut = fopen(options.logFile.c_str(), "a");
    if (logOut == nullptr) {
      fprintf(stderr, "boxsim: %s: %s\n", options.logFile.c_str(),
              strerror(errno));
      return 1;
    }
  }
  const sigset_t waitMask = BlockStopSignals();
  SerialLine line;
  const bool opened = options.device.empty()
                          ? line.OpenPseudoTerminal(&error)
                          : line.OpenDevice(options.device, &error);
  if (!opened ||
      (!options.link.empty() && !line.Publish(options.link, &error))) {
    fprintf(stderr, "boxsim: %s\n", error.c_str());
    return 1;
  }
  printf("boxsim: ready on %s\n", line.name().c_str());
  fflush(stdout);
  Logger log(logOut, options.quiet);
  log.LogEvent(std::string("start on ") + line.name() + ", mode " +
               ModeName(options.box.mode) + ", " +
               (options.utc ? "utc" : "local time") + ", offset " +
               std::to_string(options.box.offsetMs) + " ms, turnaround " +
               std::to_string(options.turnaroundMs) + " ms");
  Simulator simulator(options, &line, &log);
  const int status = simulator.Run(waitMask);
  line.Close();
  if (logOut != stderr) fclose(logOut);
  return status;
}

}  // namespace
}  // namespace boxsim

int main(int argc, char** argv) { return boxsim::Main(argc, argv); }
