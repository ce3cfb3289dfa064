#include "service/clock_status.h"

#include <cstdio>

namespace {

std::string SignedMs(std::int32_t ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%+d ms", static_cast<int>(ms));
  return text;
}

std::string CodeText(PackedTimeCode code) {
  char text[12];
  FormatPackedTimeCode(code, text);
  return text;
}

std::string TimeOfDay(const platform::SYSTEMTIME& time) {
  char text[32];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u", time.wHour, time.wMinute,
                time.wSecond);
  return text;
}

BoxState StateOf(const CTimeCodeClock& clock) {
  const ClockFigures& f = clock.m_figures;
  if (!f.boxAnswered) return BoxState::kBoxSilent;
  if (!f.compared) return BoxState::kCodeStopped;
  // The sixth miss starts the count again, with or without a setting.
  if (clock.m_missCount > 0 || !f.withinTolerance) return BoxState::kMissing;
  return BoxState::kInStep;
}

}  // namespace

bool CRateLimit::Due(std::int64_t nowMs) {
  if (m_used && nowMs >= m_lastMs && nowMs - m_lastMs < m_intervalMs)
    return false;
  m_used = true;
  m_lastMs = nowMs;
  return true;
}

const char* TimeCodeModeName(std::int32_t isPal, std::int32_t dropFrame) {
  if (isPal) return "PAL";
  return dropFrame ? "NTSC drop-frame" : "NTSC";
}

std::string FormatClockRecord(const platform::SYSTEMTIME& time) {
  char text[64];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u",
                time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute,
                time.wSecond, time.wMilliseconds);
  return text;
}

void CClockStatus::AfterPoll(const CTimeCodeClock& clock, std::int64_t nowMs) {
  m_figures = clock.m_figures;
  m_everAnswered = m_everAnswered || m_figures.boxAnswered;
  m_everCompared = m_everCompared || m_figures.compared;
  const bool stalled = m_figures.boxAnswered && !m_figures.compared;
  m_stalledPolls = stalled ? m_stalledPolls + 1 : 0;
  const BoxState state = StateOf(clock);
  // The sixth miss leaves the count at 0.
  m_missCount = state == BoxState::kMissing && clock.m_missCount == 0
                    ? 6
                    : clock.m_missCount;
  const std::uint32_t settings =
      m_figures.settingsTaken + m_figures.settingsRefused;
  m_newSetting = settings != m_settingsSeen;
  m_settingsSeen = settings;
  Enter(state, nowMs);
}

void CClockStatus::PortLost(const char* systemText, std::int64_t nowMs) {
  m_portText = systemText;
  m_newSetting = false;
  m_stalledPolls = 0;
  Enter(BoxState::kPortError, nowMs);
}

void CClockStatus::Enter(BoxState state, std::int64_t nowMs) {
  m_state = state;
  const bool worthTelling =
      (state != BoxState::kMissing || m_missCount >= kMissesWorthAnEntry) &&
      (state != BoxState::kCodeStopped ||
       m_stalledPolls >= kStalledPollsWorthAnEntry);
  if (!worthTelling || state == m_toldState) return;
  if (!m_stateLimits[static_cast<int>(state)].Due(nowMs)) return;
  const BoxState before = m_toldState;
  m_toldState = state;
  switch (state) {
    case BoxState::kInStep:
      m_stateEntry = "Ventrel - PC clock in step with the time code, " +
                     CodeText(m_figures.lastCode) + " " +
                     TimeCodeModeName(m_figures.isPal, m_figures.dropFrame) +
                     ", difference " + SignedMs(m_figures.differenceMs);
      break;
    case BoxState::kMissing:
      m_stateEntry = "Ventrel - PC clock missing the time code (" +
                     std::to_string(m_missCount) + " of 6), difference " +
                     SignedMs(m_figures.differenceMs);
      break;
    case BoxState::kBoxSilent:
      m_stateEntry = "Ventrel - no time code: the box is silent";
      break;
    case BoxState::kCodeStopped:
      m_stateEntry = "Ventrel - no time code: the box's code has stopped";
      break;
    case BoxState::kPortError:
    case BoxState::kStarting:
      // The runtime reports a lost port itself, with its error.
      m_stateEntry.clear();
      break;
  }
  const bool back = before == BoxState::kBoxSilent ||
                    before == BoxState::kCodeStopped ||
                    before == BoxState::kPortError;
  if (back && (state == BoxState::kInStep || state == BoxState::kMissing))
    m_stateEntry += " (time code back)";
}

std::string CClockStatus::Line() const {
  std::string line;
  switch (m_state) {
    case BoxState::kStarting:
      line = "starting";
      break;
    case BoxState::kInStep:
      line = "in step";
      break;
    case BoxState::kMissing:
      line = "missing (" + std::to_string(m_missCount) + " of 6)";
      break;
    case BoxState::kBoxSilent:
      line = "no time code (box silent)";
      break;
    case BoxState::kCodeStopped:
      line = "no time code (code stopped)";
      break;
    case BoxState::kPortError:
      line = "port error (" + m_portText + "), reconnecting";
      break;
  }
  line += "; code ";
  line += m_everAnswered
              ? CodeText(m_figures.lastCode) + " " +
                    TimeCodeModeName(m_figures.isPal, m_figures.dropFrame)
              : "none";
  line += "; difference ";
  line += m_everCompared ? SignedMs(m_figures.differenceMs) : "none";
  line += "; settings " + std::to_string(m_figures.settingsTaken) +
          ", refused " + std::to_string(m_figures.settingsRefused);
  if (m_settingsSeen != 0) line += ", last at " + TimeOfDay(m_figures.setTo);
  return line;
}

std::string CClockStatus::DueLine(std::int64_t nowMs) {
  return m_lineLimit.Due(nowMs) ? Line() : std::string();
}

std::string CClockStatus::TakeSetEntry(const char* systemText,
                                       std::int64_t nowMs) {
  if (!m_newSetting) return "";
  m_newSetting = false;
  const ClockFigures& f = m_figures;
  std::string entry =
      "Ventrel - PC clock set from " + FormatClockRecord(f.setFrom) + " to " +
      FormatClockRecord(f.setTo) + ", by " + SignedMs(f.setByMs) + ": ";
  if (f.setAccepted) return entry + "accepted";
  // A service without the right to set the clock is refused every second or
  // so; one entry a minute, with the count, tells as much.
  ++m_refusalsUntold;
  if (!m_refusedLimit.Due(nowMs)) return "";
  entry += "refused: ";
  entry += systemText;
  if (m_refusalsUntold > 1) {
    entry += " (" + std::to_string(m_refusalsUntold) +
             " refusals since the last entry)";
  }
  m_refusalsUntold = 0;
  return entry;
}
