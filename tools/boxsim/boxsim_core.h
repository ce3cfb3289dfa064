// The pure parts of the box simulator: request framing, reply building, the
// time code that a box in step with a time of day shows, the simulated box's
// fault state and the parsing of its commands. Nothing here touches a device,
// a clock or a file, so all of it runs in unit tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "clock/time_code.h"
#include "link/box_frames.h"

namespace boxsim {

using Bytes = std::vector<std::uint8_t>;

// ---- Frames -------------------------------------------------------------

// True when the last byte is the sum of the others.
bool HasValidChecksum(const Bytes& frame);

// Appends the checksum to header and data bytes.
Bytes WithChecksum(Bytes body);

inline const Bytes kHelloRequest(std::begin(box_frames::kHelloRequest),
                                 std::end(box_frames::kHelloRequest));
inline const Bytes kHelloReply(std::begin(box_frames::kHelloReply),
                               std::end(box_frames::kHelloReply));
inline const Bytes kQueryRequest(std::begin(box_frames::kTimeCodeRequest),
                                 std::end(box_frames::kTimeCodeRequest));

// Splits the incoming byte stream into request frames. The line has no start
// marker, so after a frame with a wrong checksum the parser drops only its
// first byte and looks for a frame in what follows; a partial frame left
// waiting when the line goes quiet is dropped by Flush().
class RequestParser {
 public:
  struct Event {
    Bytes bytes;
    bool complete;  // a whole frame with a valid checksum
  };

  // Takes new bytes; returns the frames and the bytes thrown away, in order.
  std::vector<Event> Feed(const std::uint8_t* bytes, std::size_t count);
  // Gives up on a partial frame once the line has gone quiet; returns any
  // frames found in its bytes and the bytes thrown away.
  std::vector<Event> Flush();
  bool HasPartial() const { return !pending_.empty(); }

 private:
  Bytes pending_;
  Bytes discarded_;
};

enum class RequestKind { kHello, kQuery, kUnknown };
RequestKind ClassifyRequest(const Bytes& frame);

// ---- Time code ----------------------------------------------------------

enum class Mode { kPal, kNtsc, kNtscDropFrame };

const char* ModeName(Mode mode);
bool ParseMode(const std::string& text, Mode* mode);

inline constexpr std::int64_t kMsPerDay = 24LL * 60 * 60 * 1000;

struct TimeOfDay {
  int hour;
  int minute;
  int second;
  int millisecond;
};

// Milliseconds since midnight, and back. Shifting wraps around midnight in
// both directions, whatever the size of the offset.
std::int64_t ToMilliseconds(const TimeOfDay& time);
TimeOfDay ShiftTimeOfDay(const TimeOfDay& time, std::int64_t offsetMs);

// The four reply bytes frames, seconds, minutes, hours as a box in step with
// `time` sends them; drop-frame mode sets bit 6 of the frames byte and
// carries the correction that the PC side applies, so a PC clock in step
// reads within tolerance.
PackedTimeCode BoxTimeCode(const TimeOfDay& time, Mode mode);

// The 7-byte reply 74 <byte1> FF SS MM HH <checksum> for an unmasked code.
Bytes BuildTimeCodeReply(PackedTimeCode code, std::uint8_t byte1);

// "HH:MM:SS:FF" of the masked code.
std::string TimeCodeText(PackedTimeCode code);

// ---- Commands -----------------------------------------------------------

enum class CommandKind {
  kSilence,   // flag
  kFreeze,    // flag
  kChecksum,  // flag: true = bad
  kGarbage,   // number: byte count
  kShort,     // number: bytes kept
  kReply,     // bytes
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

// ---- The simulated box ----------------------------------------------------

struct Answer {
  Bytes tx;          // what goes on the line; empty = no answer
  std::string note;  // for the log: "hello", "query 22:12:30:15 ntsc", ...
};

struct BoxOptions {
  Mode mode = Mode::kPal;
  std::int64_t offsetMs = 0;
};

// The box's answers and its faults. The time of day comes in from outside
// with every request; random bytes come from a source given at construction.
class SimulatedBox {
 public:
  using RandomByte = std::function<std::uint8_t()>;

  SimulatedBox(const BoxOptions& options, RandomByte randomByte);

  // The answer to one complete, valid request frame.
  Answer Respond(const Bytes& request, const TimeOfDay& now);

  // Applies a command; returns the text to log for it.
  std::string Apply(const Command& command);

  Mode mode() const { return mode_; }
  std::int64_t offsetMs() const { return offsetMs_; }

 private:
  Answer Normal(const Bytes& request, const TimeOfDay& now);
  std::string TimeCodeNote(PackedTimeCode code) const;
  void ApplyFaults(Answer* answer);

  Mode mode_;
  std::int64_t offsetMs_;
  RandomByte randomByte_;
  bool silent_ = false;
  bool frozen_ = false;
  bool badChecksum_ = false;
  bool haveLastCode_ = false;
  PackedTimeCode lastCode_ = 0;
  std::size_t garbageNext_ = 0;
  std::size_t shortNext_ = 0;
  bool shortPending_ = false;
  bool replyPending_ = false;
  Bytes replyNext_;
};

// "61 0C 03 70", or "-" for no bytes.
std::string HexBytes(const Bytes& bytes);

// Pacing of a reply on a 38400 baud 8O1 line: 11 bit times a byte.
inline constexpr std::int64_t kByteTimeNs = 11LL * 1000000000 / 38400;

}  // namespace boxsim
