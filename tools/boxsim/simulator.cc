#include "tools/boxsim/simulator.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "tools/boxsim/serial_line.h"

namespace boxsim {
namespace {

// ---- Clock and log --------------------------------------------------------

// The same reading of the PC clock as the service's, local or UTC.
platform::SYSTEMTIME ReadWallTime(bool utc) {
  platform::SYSTEMTIME now;
  if (utc)
    platform::GetSystemTime(&now);
  else
    platform::GetLocalTime(&now);
  return now;
}

TimeOfDay ToTimeOfDay(const platform::SYSTEMTIME& wall) {
  // A leap second reads as the last second of its minute.
  return {wall.wHour, wall.wMinute, std::min<int>(wall.wSecond, 59),
          wall.wMilliseconds};
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
    const platform::SYSTEMTIME wall = ReadWallTime(false);
    fprintf(out_, "%04u-%02u-%02uT%02u:%02u:%02u.%03u %s\n", wall.wYear,
            wall.wMonth, wall.wDay, wall.wHour, wall.wMinute, wall.wSecond,
            wall.wMilliseconds, text.c_str());
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
                         options_.turnaroundMs * 1000000,
                         box_.gapMs() * 1000000))
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

}  // namespace

int RunSimulator(const Options& options) {
  std::string error;
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

}  // namespace boxsim
