// The box simulator's command language, its schedule and its script lines,
// as typed on its standard input or given on its command line, and the
// request frames it cuts from the line. The first byte picks the parser, the
// rest is the text. A refusal always says why; a schedule holds one entry
// per accepted command, each at most a hundred days from the start; and the
// text of each scheduled command parses again to the same command. The
// request parser hands back every byte of the line once, in order, as whole
// frames with valid checksums and runs of bytes thrown away, and finds the
// same frames however the line cuts the stream into reads.
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

// Feeds `stream` in reads of `step` bytes, then lets the line go quiet.
std::vector<Bytes> CheckRequestFrames(const std::string& stream,
                                      std::size_t step) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(stream.data());
  RequestParser parser;
  std::vector<RequestParser::Event> events;
  for (std::size_t at = 0; at < stream.size(); at += step) {
    const std::size_t n = stream.size() - at < step ? stream.size() - at : step;
    const std::vector<RequestParser::Event> fed = parser.Feed(bytes + at, n);
    events.insert(events.end(), fed.begin(), fed.end());
  }
  const std::vector<RequestParser::Event> flushed = parser.Flush();
  events.insert(events.end(), flushed.begin(), flushed.end());
  FUZZ_CHECK(!parser.HasPartial());

  Bytes seen;
  std::vector<Bytes> frames;
  for (const RequestParser::Event& event : events) {
    FUZZ_CHECK(!event.bytes.empty());
    if (event.complete) {
      FUZZ_CHECK(event.bytes.size() == box_frames::FrameLength(event.bytes[0]));
      FUZZ_CHECK(HasValidChecksum(event.bytes));
      frames.push_back(event.bytes);
    }
    seen.insert(seen.end(), event.bytes.begin(), event.bytes.end());
  }
  FUZZ_CHECK(seen == Bytes(bytes, bytes + stream.size()));
  return frames;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string error;
  std::vector<ScheduledCommand> schedule;
  bool accepted = false;
  switch (data[0] % 5) {
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
    case 3: {
      std::int64_t ms = -1;
      accepted = ParseSeconds(text, &ms);
      if (accepted) FUZZ_CHECK(ms >= 0 && ms <= kLatestMs);
      return 0;
    }
    default:
      FUZZ_CHECK(CheckRequestFrames(text, 1) ==
                 CheckRequestFrames(text, text.size() + 1));
      return 0;
  }
  if (!accepted) {
    FUZZ_CHECK(!error.empty());
    return 0;
  }
  CheckSchedule(schedule);
  return 0;
}
