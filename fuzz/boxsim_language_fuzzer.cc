// The box simulator's command language, its schedule and its script lines,
// as typed on its standard input or given on its command line. The first
// byte picks the parser, the rest is the text. A refusal always says why;
// a schedule holds one entry per accepted command, each at most a hundred
// days from the start; and the text of each scheduled command parses again
// to the same command.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "tools/boxsim/boxsim_core.h"

namespace {

using namespace boxsim;

constexpr std::int64_t kLatestMs = 100LL * 24 * 3600 * 1000 + 999;

void CheckSchedule(const std::vector<ScheduledCommand>& schedule) {
  for (const ScheduledCommand& entry : schedule) {
    FUZZ_CHECK(entry.atMs >= 0 && entry.atMs <= kLatestMs);
    Command again;
    std::string error;
    FUZZ_CHECK(ParseCommand(entry.text, &again, &error));
    FUZZ_CHECK(
        again.kind == entry.command.kind && again.flag == entry.command.flag &&
        again.number == entry.command.number &&
        again.relative == entry.command.relative &&
        again.bytes == entry.command.bytes && again.mode == entry.command.mode);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string error;
  std::vector<ScheduledCommand> schedule;
  bool accepted = false;
  switch (data[0] % 4) {
    case 0: {
      Command command;
      accepted = ParseCommand(text, &command, &error);
      break;
    }
    case 1:
      accepted = ParseSchedule(text, &schedule, &error);
      break;
    case 2:
      accepted = ParseScriptLine(text, &schedule, &error);
      break;
    default: {
      std::int64_t ms = -1;
      accepted = ParseSeconds(text, &ms);
      if (accepted) FUZZ_CHECK(ms >= 0 && ms <= kLatestMs);
      return 0;
    }
  }
  if (!accepted) {
    FUZZ_CHECK(!error.empty());
    return 0;
  }
  CheckSchedule(schedule);
  return 0;
}
