// What Ventrel tells the people who watch it: the box's state in words and
// figures after every poll, the one-line status that systemd and the debug
// console show, the note of each setting and the notes of state changes for
// the event log. Pure text and bookkeeping; the runtime sends the texts.
#pragma once

#include <cstdint>
#include <string>

#include "clock/time_code_clock.h"

enum class BoxState {
  kStarting,  // no poll yet
  kInStep,
  kMissing,      // the PC clock missed the code on the latest polls
  kBoxSilent,    // no whole time code in the reply
  kCodeStopped,  // replies, but the code does not run
  kPortError,    // the device is gone; the worker is reconnecting
};

inline constexpr int kBoxStateCount = 6;

// A miss or two in a row is the ordinary jitter of a reading that falls on
// the other side of a frame edge from the box's code; only this many in a row
// are worth an entry of their own.
inline constexpr std::uint32_t kMissesWorthAnEntry = 3;
inline constexpr std::uint32_t kStalledPollsWorthAnEntry = 3;

// Once a second for the live line; once a minute per state for the log.
inline constexpr std::int64_t kStatusLineIntervalMs = 1000;
inline constexpr std::int64_t kStateEntryIntervalMs = 60 * 1000;
inline constexpr std::int64_t kRefusedEntryIntervalMs = 60 * 1000;

// Milliseconds of some steady count; a count that runs backwards (the clock
// that supplies it was set back) makes everything due at once.
class CRateLimit {
 public:
  explicit CRateLimit(std::int64_t intervalMs) : m_intervalMs(intervalMs) {}
  bool Due(std::int64_t nowMs);

 private:
  std::int64_t m_intervalMs;
  bool m_used = false;
  std::int64_t m_lastMs = 0;
};

class CClockStatus {
 public:
  // After each poll. `nowMs` is any steady millisecond count.
  void AfterPoll(const CTimeCodeClock& clock, std::int64_t nowMs);
  // The port failed; polls resume with AfterPoll once the box answers.
  void PortLost(const char* systemText, std::int64_t nowMs);

  BoxState State() const { return m_state; }
  // The one-line status, e.g. "in step; code 12:34:56:17 PAL; difference
  // -3 ms; settings 2, refused 0, last at 12:30:05".
  std::string Line() const;
  // A line when one is due (at most one a second), else empty.
  std::string DueLine(std::int64_t nowMs);
  // The entry for a state change worth telling, when the same state has not
  // had one within a minute; else empty.
  std::string TakeStateEntry() {
    std::string entry;
    entry.swap(m_stateEntry);
    return entry;
  }
  // The note of the setting that the latest poll made, with `systemText`
  // the system's reason for a refusal; empty when the poll made none, or a
  // refusal came within a minute of the last one reported.
  std::string TakeSetEntry(const char* systemText, std::int64_t nowMs);
  // Whether the latest poll made a setting that TakeSetEntry has yet to see:
  // the system's reason is looked up only then, not after every poll.
  bool HasNewSetting() const { return m_newSetting; }

 private:
  void Enter(BoxState state, std::int64_t nowMs);

  BoxState m_state = BoxState::kStarting;
  BoxState m_toldState = BoxState::kStarting;
  ClockFigures m_figures{};
  std::uint32_t m_missCount = 0;
  std::uint32_t m_settingsSeen = 0;
  std::uint32_t m_refusalsUntold = 0;
  bool m_newSetting = false;
  bool m_everCompared = false;
  // Answers in a row that brought no comparison. The engine needs two or
  // three answers to see a code run after a start, a silence, a lost port or
  // midnight; only more than that is a stopped code worth an entry.
  std::uint32_t m_stalledPolls = 0;
  bool m_everAnswered = false;
  std::string m_portText;
  std::string m_stateEntry;
  CRateLimit m_lineLimit{kStatusLineIntervalMs};
  CRateLimit m_refusedLimit{kRefusedEntryIntervalMs};
  CRateLimit m_stateLimits[kBoxStateCount] = {
      CRateLimit(kStateEntryIntervalMs), CRateLimit(kStateEntryIntervalMs),
      CRateLimit(kStateEntryIntervalMs), CRateLimit(kStateEntryIntervalMs),
      CRateLimit(kStateEntryIntervalMs), CRateLimit(kStateEntryIntervalMs)};
};

// "PAL", "NTSC" or "NTSC drop-frame".
const char* TimeCodeModeName(std::int32_t isPal, std::int32_t dropFrame);
// "2026-03-14 12:00:05.000".
std::string FormatClockRecord(const platform::SYSTEMTIME& time);
