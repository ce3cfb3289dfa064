#include "clock/time_code_clock.h"

#include "clock/calendar.h"
#include "link/user_notice.h"
#include "platform/system_error.h"

namespace {

// A reply shorter than this does not reach bytes 2 to 5, which then still
// hold an older reply's time code.
constexpr std::int32_t kTimeCodeReplyLength = 7;

// The owners poll about every 150 ms, so six misses take about a second.
constexpr std::uint32_t kMissesBeforeSetting = 6;

constexpr std::uint32_t kReadIntervalMs = 10;
constexpr std::uint32_t kReadMultiplierMs = 10;
constexpr std::uint32_t kReadConstantMs = 20;
constexpr std::uint32_t kWriteMultiplierMs = 10;
constexpr std::uint32_t kWriteConstantMs = 10;

// The setting's own query must find the code moved on from the check's, made
// only an exchange earlier (a few milliseconds at 38400 baud). Waiting out
// the longest frame, PAL's 40 ms, and a little more makes sure a running code
// has moved on; without it the setting would mostly find the same frame and
// take the code for stopped.
constexpr std::uint32_t kPauseBeforeSettingQueryMs = 45;

constexpr std::int32_t kMsPerDay = 24 * 60 * 60 * 1000;
constexpr std::int32_t kMsPerHalfDay = kMsPerDay / 2;

bool HasValidTimeOfDay(const platform::SYSTEMTIME& time) {
  return time.wHour < 24 && time.wMinute < 60 && time.wSecond < 60 &&
         time.wMilliseconds < 1000;
}

std::int32_t MillisecondOfDay(const platform::SYSTEMTIME& time) {
  return ((time.wHour * 60 + time.wMinute) * 60 + time.wSecond) * 1000 +
         time.wMilliseconds;
}

// The time code carries the time of day only. Its date is the one that puts
// it nearest to the clock reading it replaces, so a code just past midnight
// read on a PC clock just before it belongs to the next day, and the other
// way round.
void MoveDateNearestTo(std::int32_t readingMs, platform::SYSTEMTIME& time) {
  if (!HasValidTimeOfDay(time)) return;
  const std::int32_t codeMs = MillisecondOfDay(time);
  if (codeMs - readingMs > kMsPerHalfDay) {
    PreviousDay(time);
  } else if (readingMs - codeMs > kMsPerHalfDay) {
    NextDay(time);
  }
}

// b - a in milliseconds, the short way round the day.
std::int32_t ShortestDifferenceMs(std::int32_t a, std::int32_t b) {
  std::int32_t difference = b - a;
  if (difference > kMsPerHalfDay) difference -= kMsPerDay;
  if (difference < -kMsPerHalfDay) difference += kMsPerDay;
  return difference;
}

// Where the latest reply's code lies in the day, as a setting would take it.
std::int32_t ReplyMillisecondOfDay(const CBoxLink& link, std::int32_t isPal,
                                   std::int32_t dropFrame) {
  platform::SYSTEMTIME time = {};
  TimeCodeToClock(link.m_reply[2], link.m_reply[3], link.m_reply[4],
                  link.m_reply[5], isPal, dropFrame, time);
  return MillisecondOfDay(time);
}

// Between 23:59:51 and 00:00:09 the day that a code belongs to is too easily
// mistaken, so no setting is made then.
bool IsNearMidnight(const platform::SYSTEMTIME& time) {
  if (time.wHour == 23 && time.wMinute == 59 && time.wSecond > 50) return true;
  return time.wHour == 0 && time.wMinute == 0 && time.wSecond < 10;
}

// Near a minute boundary the clock reading and the box's code would too often
// straddle it; these readings are skipped by sleeping past them.
std::uint32_t MinuteBoundarySleepMs(const platform::SYSTEMTIME& time) {
  if (time.wSecond == 59 && time.wMilliseconds > 900) return 100;
  if (time.wSecond == 0 && time.wMilliseconds < 150) return 75;
  return 0;
}

void ReadClock(std::int32_t useSystemTime, platform::SYSTEMTIME& time) {
  if (useSystemTime) {
    platform::GetSystemTime(&time);
  } else {
    platform::GetLocalTime(&time);
  }
}

// A query counts only when its reply carries a whole time code.
int QueryFullTimeCode(CBoxLink& link) {
  if (!link.QueryTimeCode()) return 0;
  return link.m_replyLength >= kTimeCodeReplyLength ? 1 : 0;
}

// The masked code of the latest reply; in NTSC mode it also refreshes the
// drop-frame flag.
PackedTimeCode TakeReplyCode(const CBoxLink& link, std::int32_t isPal,
                             std::int32_t& dropFrame) {
  const PackedTimeCode raw = PackTimeCode(link.m_reply[2], link.m_reply[3],
                                          link.m_reply[4], link.m_reply[5]);
  if (!isPal) dropFrame = (raw & kDropFrameFlag) != 0 ? 1 : 0;
  return raw & kTimeCodeMask;
}

}  // namespace

CTimeCodeClock::CTimeCodeClock()
    : m_noTimeCode(0),
      m_comPort(1),
      m_setClockEnabled(0),
      m_linkReady(0),
      m_dropFrame(0),
      m_useSystemTime(0),
      m_isPal(0),
      m_recentCodes{0, 0, 0},
      m_lineConfigured(0),
      m_portOpen(0),
      m_settingsLow(0),
      m_settingsWord(0),
      m_missCount(0),
      m_clockTime{},
      m_lastPoll{},
      m_figures{} {
  LoadSettings();
}

CTimeCodeClock::~CTimeCodeClock() { Connect(false); }

void CTimeCodeClock::Connect(bool connect) {
  if (!connect) {
    if (m_portOpen) m_portOpen = m_link.Close() == 0 ? 1 : 0;
    m_lineConfigured = m_portOpen;
    m_linkReady = m_portOpen;
    return;
  }

  if (!m_portOpen) m_portOpen = m_link.Open(m_comPort, 0);
  if (m_portOpen && !m_lineConfigured) {
    m_lineConfigured = m_link.ApplyLineSettings();
    m_link.SetTimeouts(kReadIntervalMs, kReadMultiplierMs, kReadConstantMs,
                       kWriteMultiplierMs, kWriteConstantMs);
  }
  if (m_lineConfigured) m_linkReady = m_link.Handshake();
  if (m_linkReady) return;

  RaiseUserNotice(UserNotice::kConnectFailed);
  // The flag stays set only when the port could not be closed.
  if (m_portOpen) m_portOpen = m_link.Close() == 0 ? 1 : 0;
  m_lineConfigured = 0;
}

std::int32_t CTimeCodeClock::Poll() {
  if (CheckAgainstClock()) {
    m_missCount = 0;
  } else {
    ++m_missCount;
  }
  if (m_missCount < kMissesBeforeSetting) return 0;
  m_missCount = 0;
  if (!m_setClockEnabled) return 0;
  return SetClockFromTimeCode();
}

std::int32_t CTimeCodeClock::CheckAgainstClock() {
  for (;;) {
    ReadClock(m_useSystemTime, m_clockTime);
    const std::uint32_t sleepMs = MinuteBoundarySleepMs(m_clockTime);
    if (sleepMs == 0) break;
    platform::Sleep(sleepMs);
  }

  m_lastPoll.running = 0;
  m_figures.compared = 0;
  const platform::PreciseTime before = platform::ReadPreciseTime();
  const int replied = QueryFullTimeCode(m_link);
  const platform::PreciseTime after = platform::ReadPreciseTime();
  m_figures.boxAnswered = replied;
  if (!replied) {
    m_recentCodes[0] = m_recentCodes[1];
    m_noTimeCode = 1;
    return 1;
  }

  const PackedTimeCode code = TakeReplyCode(m_link, m_isPal, m_dropFrame);
  m_figures.lastCode = code;
  m_figures.isPal = m_isPal;
  m_figures.dropFrame = m_dropFrame;
  m_recentCodes[2] = m_recentCodes[1];
  m_recentCodes[1] = m_recentCodes[0];
  m_recentCodes[0] = code;
  if (!(m_recentCodes[0] > m_recentCodes[1] &&
        m_recentCodes[1] > m_recentCodes[2])) {
    m_noTimeCode = 1;
    return 1;
  }
  m_noTimeCode = 0;
  RecordPoll(before, after, code);

  const PackedTimeCode clockCode = ClockToTimeCode(
      m_clockTime.wHour, m_clockTime.wMinute, m_clockTime.wSecond,
      m_clockTime.wMilliseconds, m_isPal, m_dropFrame);
  m_figures.compared = 1;
  m_figures.withinTolerance = WithinTolerance(code, clockCode) ? 1 : 0;
  m_figures.differenceMs =
      ShortestDifferenceMs(MillisecondOfDay(m_clockTime),
                           ReplyMillisecondOfDay(m_link, m_isPal, m_dropFrame));
  return m_figures.withinTolerance;
}

void CTimeCodeClock::RecordPoll(const platform::PreciseTime& before,
                                const platform::PreciseTime& after,
                                PackedTimeCode code) {
  const bool local = m_useSystemTime == 0;
  m_lastPoll.running = 1;
  m_lastPoll.beforeUs = local ? before.localUs : before.utcUs;
  m_lastPoll.afterUs = local ? after.localUs : after.utcUs;
  m_lastPoll.beforeUtcUs = before.utcUs;
  m_lastPoll.afterUtcUs = after.utcUs;
  m_lastPoll.code = code;
  m_lastPoll.isPal = m_isPal;
  m_lastPoll.dropFrame = m_isPal ? 0 : m_dropFrame;
}

std::int32_t CTimeCodeClock::SetClockFromTimeCode() {
  platform::Sleep(kPauseBeforeSettingQueryMs);
  if (!QueryFullTimeCode(m_link)) return 0;

  const PackedTimeCode code = TakeReplyCode(m_link, m_isPal, m_dropFrame);
  if (!(code > m_recentCodes[0] && m_recentCodes[0] > m_recentCodes[1] &&
        m_recentCodes[1] > m_recentCodes[2])) {
    m_noTimeCode = 1;
    return 0;
  }
  m_noTimeCode = 0;

  ReadClock(m_useSystemTime, m_clockTime);
  if (IsNearMidnight(m_clockTime)) return 0;

  const platform::SYSTEMTIME reading = m_clockTime;
  const std::int32_t readingMs = MillisecondOfDay(reading);
  TimeCodeToClock(m_link.m_reply[2], m_link.m_reply[3], m_link.m_reply[4],
                  m_link.m_reply[5], m_isPal, m_dropFrame, m_clockTime);
  MoveDateNearestTo(readingMs, m_clockTime);

  const std::int32_t accepted = m_useSystemTime
                                    ? platform::SetSystemTime(m_clockTime)
                                    : platform::SetLocalTime(m_clockTime);
  RecordSetting(reading, accepted);
  return accepted;
}

void CTimeCodeClock::RecordSetting(const platform::SYSTEMTIME& reading,
                                   std::int32_t accepted) {
  m_figures.setError = accepted ? 0 : platform::GetLastError();
  m_figures.setFrom = reading;
  m_figures.setTo = m_clockTime;
  m_figures.setByMs = ShortestDifferenceMs(MillisecondOfDay(reading),
                                           MillisecondOfDay(m_clockTime));
  m_figures.setAccepted = accepted ? 1 : 0;
  if (accepted) {
    ++m_figures.settingsTaken;
  } else {
    ++m_figures.settingsRefused;
  }
}

std::int32_t CTimeCodeClock::FormatTimeCode(char* text) {
  const PackedTimeCode code =
      PackTimeCode(m_link.m_reply[2], m_link.m_reply[3], m_link.m_reply[4],
                   m_link.m_reply[5]) &
      kTimeCodeMask;
  return FormatPackedTimeCode(code, text);
}
