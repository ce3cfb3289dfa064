// What one poll measured about the box's code and the PC clock around it:
// enough for an estimate finer than a frame, kept apart from the comparison.
#pragma once

#include <cstdint>

#include "clock/time_code.h"

struct PollTiming {
  // Nonzero when the poll found a running code; the rest holds only then.
  std::int32_t running;
  // The PC clock just before the query went out and just after the reply
  // was in, in microseconds since 1970, in the code's frame (local or system
  // time, as the settings say) and as UTC.
  std::int64_t beforeUs;
  std::int64_t afterUs;
  std::int64_t beforeUtcUs;
  std::int64_t afterUtcUs;
  PackedTimeCode code;  // masked
  std::int32_t isPal;
  std::int32_t dropFrame;
};
