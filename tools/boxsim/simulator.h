// The running simulator: the box on its line, the commands from standard
// input and the schedule, and the log, until a command or a signal ends it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/boxsim/command_language.h"
#include "tools/boxsim/simulated_box.h"

namespace boxsim {

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

// Opens the line, announces it and runs until the end; returns the exit
// status.
int RunSimulator(const Options& options);

}  // namespace boxsim
