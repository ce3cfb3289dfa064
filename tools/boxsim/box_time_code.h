// The time code that a box in step with a time of day shows, in each of its
// modes, and the reply that carries it.
#pragma once

#include <cstdint>
#include <string>

#include "clock/time_code.h"
#include "tools/boxsim/request_frames.h"

namespace boxsim {

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

}  // namespace boxsim
