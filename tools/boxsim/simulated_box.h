// The simulated box: its answers to requests and the faults that commands
// switch on. The time of day comes in from outside with every request, so
// nothing here touches a device, a clock or a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "tools/boxsim/box_time_code.h"
#include "tools/boxsim/command_language.h"

namespace boxsim {

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
  std::int64_t gapMs() const { return gapMs_; }

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
  std::int64_t gapMs_ = 0;
};

// "61 0C 03 70", or "-" for no bytes.
std::string HexBytes(const Bytes& bytes);

// Pacing of a reply on a 38400 baud 8O1 line: 11 bit times a byte.
inline constexpr std::int64_t kByteTimeNs = 11LL * 1000000000 / 38400;

}  // namespace boxsim
