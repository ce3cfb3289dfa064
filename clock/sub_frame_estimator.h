// The offset of the house time from the PC clock, finer than the frame that
// the box's code shows. Integer microseconds; no platform call, no state but
// its own, so it runs over any clock.
//
// Each poll bounds the offset: the box read a code that covers one frame of
// house time, at some moment between our query leaving and its reply
// starting, so the offset lies in an interval a frame (plus that span) wide.
// Polls fall at different phases of the frame, and the intersection of their
// intervals narrows to far less than a frame. The estimate is the middle of
// what remains, which amounts to taking the box to read its code halfway
// between the query leaving and the reply starting.
//
// The intersection is loosened a little with the time passed, so that a PC
// clock being slewed by whoever keeps it is followed; a poll whose interval
// lies wholly outside the remaining one (a jump of the code or of the PC
// clock), a stopped code and a change of mode start the narrowing afresh.
#pragma once

#include <cstdint>

#include "clock/poll_timing.h"

class CSubFrameEstimator {
 public:
  // Takes one poll. True when it gives an estimate: a running code that a
  // box in step with some time of day shows.
  bool Observe(const PollTiming& poll);
  void Reset() { m_narrowing = false; }

  // House time minus PC clock, the middle of the remaining interval.
  std::int64_t OffsetUs() const { return (m_lowUs + m_highUs) / 2; }
  std::int64_t WidthUs() const { return m_highUs - m_lowUs; }
  // When the box is taken to have read its code, as UTC.
  std::int64_t SampleUtcUs() const { return m_sampleUtcUs; }
  // Polls since the narrowing last started afresh, this one included.
  std::int32_t PollsNarrowed() const { return m_pollsNarrowed; }

 private:
  bool m_narrowing = false;
  std::int64_t m_lowUs = 0;
  std::int64_t m_highUs = 0;
  std::int64_t m_lastPollUs = 0;
  std::int32_t m_isPal = 0;
  std::int32_t m_dropFrame = 0;
  std::int64_t m_sampleUtcUs = 0;
  std::int32_t m_pollsNarrowed = 0;
};

// The span of house time of day, in microseconds from midnight, during which
// a box in step shows `code` (masked) in the given mode: [*startUs, *endUs).
// False for a code that no time of day gives.
bool TimeCodeSpan(PackedTimeCode code, std::int32_t isPal,
                  std::int32_t dropFrame, std::int64_t* startUs,
                  std::int64_t* endUs);

// A 7-byte reply on a 38400 baud 8O1 line: 11 bit times a byte.
inline constexpr std::int64_t kReplyLineUs = 7 * 11 * 1000000LL / 38400;
// How fast the remaining interval widens with the time passed: room for a
// PC clock slewed or running off by this many parts per million.
inline constexpr std::int64_t kLoosenPpm = 10;
