// A PC clock for tests. Time passes only when the test or the code under test
// says so (Sleep, Advance), every reading and setting is recorded with its
// record, and sets can be refused. It keeps two times apart: the true time,
// which only moves forward, and the PC clock, which is the true time plus an
// error that a set replaces; so a box that follows the true time is not moved
// when the PC clock is set.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <vector>

#include "clock/calendar.h"
#include "platform/clock.h"
#include "platform/system_error.h"

namespace fake {

inline constexpr std::int64_t kMsPerSecond = 1000;
inline constexpr std::int64_t kMsPerHour = 3600 * kMsPerSecond;
inline constexpr std::int64_t kMsPerDay = 24 * kMsPerHour;

// Milliseconds since 1970-01-01 00:00 to a record, with the weekday.
inline platform::SYSTEMTIME ToRecord(std::int64_t ms) {
  const std::time_t seconds = static_cast<std::time_t>(ms / kMsPerSecond);
  std::tm f = {};
#ifdef _WIN32
  gmtime_s(&f, &seconds);
#else
  gmtime_r(&seconds, &f);
#endif
  const auto u16 = [](std::int64_t v) { return static_cast<std::uint16_t>(v); };
  return {u16(f.tm_year + 1900), u16(f.tm_mon + 1),     u16(f.tm_wday),
          u16(f.tm_mday),        u16(f.tm_hour),        u16(f.tm_min),
          u16(f.tm_sec),         u16(ms % kMsPerSecond)};
}

inline std::int64_t ToMs(const platform::SYSTEMTIME& time) {
  return platform::RecordToMicroseconds(time) / 1000;
}

inline std::int64_t MsOf(int year, int month, int day, int hour, int minute,
                         int second, int ms) {
  const auto u16 = [](int v) { return static_cast<std::uint16_t>(v); };
  return ToMs({u16(year), u16(month), 0, u16(day), u16(hour), u16(minute),
               u16(second), u16(ms)});
}

// The last error that a refused set leaves, as the system's would.
inline constexpr std::uint32_t kSetRefusedError = 1314;

enum class ClockCall { kGetLocal, kGetSystem, kSetLocal, kSetSystem, kSleep };

struct ClockEvent {
  ClockCall call;
  platform::SYSTEMTIME time;  // the record read or handed over
  std::uint32_t sleepMs;
  int result;  // of a set
};

class FakeClock : public platform::ClockBackend {
 public:
  // Installs itself for as long as it lives.
  FakeClock() { platform::UseClockBackend(this); }
  ~FakeClock() override { platform::UseClockBackend(nullptr); }
  FakeClock(const FakeClock&) = delete;
  FakeClock& operator=(const FakeClock&) = delete;

  // The PC clock's local time becomes this moment (the true time too).
  void StartAtLocal(std::int64_t localMs) {
    m_trueMs = localMs - m_zoneMs;
    m_pcErrorMs = 0;
  }

  void Advance(std::int64_t ms) { m_trueMs += ms; }

  std::int64_t TrueUtcMs() const { return m_trueMs; }
  std::int64_t PcUtcMs() const { return m_trueMs + m_pcErrorMs; }
  std::int64_t PcLocalMs() const { return PcUtcMs() + m_zoneMs; }
  // Moves the PC clock as someone else would, without a recorded set.
  void JumpPcClock(std::int64_t ms) { m_pcErrorMs += ms; }

  // Local time minus UTC, fixed (no summer time).
  void SetZoneOffsetMs(std::int64_t ms) { m_zoneMs = ms; }
  std::int64_t ZoneOffsetMs() const { return m_zoneMs; }

  void RefuseSets(bool refuse) { m_refuseSets = refuse; }
  // A long run keeps only the counts and the callback.
  void RecordEvents(bool record) { m_recordEvents = record; }
  void OnSet(std::function<void(const ClockEvent&)> hook) {
    m_onSet = std::move(hook);
  }

  void ClearEvents() { m_events.clear(); }
  std::vector<ClockEvent> EventsOf(ClockCall call) const {
    std::vector<ClockEvent> found;
    for (const ClockEvent& event : m_events)
      if (event.call == call) found.push_back(event);
    return found;
  }
  std::vector<std::uint32_t> Sleeps() const {
    std::vector<std::uint32_t> sleeps;
    for (const ClockEvent& event : EventsOf(ClockCall::kSleep))
      sleeps.push_back(event.sleepMs);
    return sleeps;
  }
  int SetsTaken() const { return m_setsTaken; }
  int SetsRefused() const { return m_setsRefused; }

  void GetLocalTime(platform::SYSTEMTIME* time) override {
    *time = ToRecord(PcLocalMs());
    Record({ClockCall::kGetLocal, *time, 0, 0});
  }
  void GetSystemTime(platform::SYSTEMTIME* time) override {
    *time = ToRecord(PcUtcMs());
    Record({ClockCall::kGetSystem, *time, 0, 0});
  }
  int SetLocalTime(const platform::SYSTEMTIME& time) override {
    return Set(ClockCall::kSetLocal, time, m_zoneMs);
  }
  int SetSystemTime(const platform::SYSTEMTIME& time) override {
    return Set(ClockCall::kSetSystem, time, 0);
  }
  // Not recorded: it only times the box's replies.
  platform::PreciseTime ReadPreciseTime() override {
    return {PcUtcMs() * 1000, PcLocalMs() * 1000};
  }
  void Sleep(std::uint32_t milliseconds) override {
    Record({ClockCall::kSleep, ToRecord(PcLocalMs()), milliseconds, 0});
    m_trueMs += milliseconds;
  }

 private:
  void Record(const ClockEvent& event) {
    if (m_recordEvents) m_events.push_back(event);
  }

  // Refuses what a real clock refuses: a record out of range is never
  // normalised into some other time.
  int Set(ClockCall call, const platform::SYSTEMTIME& time,
          std::int64_t zoneMs) {
    const int result = (!m_refuseSets && IsValidSystemTime(time)) ? 1 : 0;
    if (result) {
      m_pcErrorMs = ToMs(time) - zoneMs - m_trueMs;
      ++m_setsTaken;
    } else {
      ++m_setsRefused;
      platform::SetLastError(kSetRefusedError);
    }
    const ClockEvent event = {call, time, 0, result};
    Record(event);
    if (m_onSet) m_onSet(event);
    return result;
  }

  std::int64_t m_trueMs = MsOf(2026, 3, 14, 12, 0, 0, 0);
  std::int64_t m_pcErrorMs = 0;
  std::int64_t m_zoneMs = 0;
  bool m_refuseSets = false;
  bool m_recordEvents = true;
  int m_setsTaken = 0;
  int m_setsRefused = 0;
  std::vector<ClockEvent> m_events;
  std::function<void(const ClockEvent&)> m_onSet;
};

}  // namespace fake
