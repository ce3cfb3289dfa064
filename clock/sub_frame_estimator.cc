#include "clock/sub_frame_estimator.h"

namespace {

constexpr std::int64_t kUsPerMs = 1000;
constexpr std::int64_t kMsPerDay = 24LL * 60 * 60 * 1000;
constexpr std::int64_t kUsPerDay = kMsPerDay * kUsPerMs;
// Frames that a drop-frame correction can move a code by, and a margin.
constexpr std::int64_t kSearchMs = 80;
// A gap between polls longer than this leaves nothing worth keeping.
constexpr std::int64_t kLongestGapUs = 10 * 1000000LL;

std::int64_t Wrap(std::int64_t value, std::int64_t period) {
  const std::int64_t rest = value % period;
  return rest < 0 ? rest + period : rest;
}

// Into (-half a day, half a day]: a time code knows no date.
std::int64_t NearestDayShift(std::int64_t us) {
  std::int64_t shifted = Wrap(us, kUsPerDay);
  if (shifted > kUsPerDay / 2) shifted -= kUsPerDay;
  return shifted;
}

PackedTimeCode CodeAtMs(std::int64_t msOfDay, std::int32_t isPal,
                        std::int32_t dropFrame) {
  const std::int64_t ms = Wrap(msOfDay, kMsPerDay);
  return ClockToTimeCode(static_cast<std::uint16_t>(ms / 3600000),
                         static_cast<std::uint16_t>(ms / 60000 % 60),
                         static_cast<std::uint16_t>(ms / 1000 % 60),
                         static_cast<std::uint16_t>(ms % 1000), isPal,
                         dropFrame);
}

}  // namespace

bool TimeCodeSpan(PackedTimeCode code, std::int32_t isPal,
                  std::int32_t dropFrame, std::int64_t* startUs,
                  std::int64_t* endUs) {
  // The clock arithmetic gives a start near the code's own span; the span is
  // then found by the forward arithmetic itself, so the two never disagree,
  // drop-frame corrections included.
  platform::SYSTEMTIME near = {};
  TimeCodeToClock(
      static_cast<std::uint8_t>(code), static_cast<std::uint8_t>(code >> 8),
      static_cast<std::uint8_t>(code >> 16),
      static_cast<std::uint8_t>(code >> 24), isPal, dropFrame, near);
  if (near.wHour > 23 || near.wMinute > 59 || near.wSecond > 59) return false;
  const std::int64_t nearMs =
      ((near.wHour * 60LL + near.wMinute) * 60 + near.wSecond) * 1000 +
      near.wMilliseconds;
  std::int64_t first = 0;
  std::int64_t last = -1;
  for (std::int64_t ms = nearMs - kSearchMs; ms <= nearMs + kSearchMs; ++ms) {
    if (CodeAtMs(ms, isPal, dropFrame) != code) continue;
    if (last < first) first = ms;
    last = ms;
  }
  if (last < first) return false;
  *startUs = first * kUsPerMs;
  *endUs = (last + 1) * kUsPerMs;
  return true;
}

bool CSubFrameEstimator::Observe(const PollTiming& poll) {
  std::int64_t codeStartUs = 0;
  std::int64_t codeEndUs = 0;
  if (!poll.running || !TimeCodeSpan(poll.code, poll.isPal, poll.dropFrame,
                                     &codeStartUs, &codeEndUs)) {
    Reset();
    return false;
  }
  // The box read its code after our query left and at least the reply's own
  // line time before the reply was in.
  std::int64_t readLatestUs = poll.afterUs - kReplyLineUs;
  if (readLatestUs < poll.beforeUs) readLatestUs = poll.beforeUs;
  const std::int64_t base = NearestDayShift(codeStartUs - poll.beforeUs);
  const std::int64_t lowUs = base - (readLatestUs - poll.beforeUs);
  const std::int64_t highUs = base + (codeEndUs - codeStartUs);

  const std::int64_t gapUs = poll.beforeUs - m_lastPollUs;
  if (poll.isPal != m_isPal || poll.dropFrame != m_dropFrame || gapUs < 0 ||
      gapUs > kLongestGapUs) {
    Reset();
  }
  if (m_narrowing) {
    const std::int64_t loosenUs = gapUs * kLoosenPpm / 1000000;
    m_lowUs -= loosenUs;
    m_highUs += loosenUs;
    if (lowUs >= m_highUs || highUs <= m_lowUs) Reset();
  }
  if (m_narrowing) {
    if (lowUs > m_lowUs) m_lowUs = lowUs;
    if (highUs < m_highUs) m_highUs = highUs;
    ++m_pollsNarrowed;
  } else {
    m_narrowing = true;
    m_lowUs = lowUs;
    m_highUs = highUs;
    m_pollsNarrowed = 1;
  }
  m_lastPollUs = poll.beforeUs;
  m_isPal = poll.isPal;
  m_dropFrame = poll.dropFrame;
  m_sampleUtcUs = poll.beforeUtcUs + (readLatestUs - poll.beforeUs) / 2;
  return true;
}
