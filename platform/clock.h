// The PC clock and sleeping, with the meaning of the Win32 calls of the same
// names. Every reading and setting of the clock in the system goes through
// here, so tests can install a fake clock whose Sleep advances it.
#pragma once

#include <cstdint>

namespace platform {

// The operating system's clock record. Fields are 16-bit and unsigned, as on
// Windows: wDayOfWeek 0 = Sunday, wMonth 1-12, wMilliseconds 0-999.
struct SYSTEMTIME {
  std::uint16_t wYear;
  std::uint16_t wMonth;
  std::uint16_t wDayOfWeek;
  std::uint16_t wDay;
  std::uint16_t wHour;
  std::uint16_t wMinute;
  std::uint16_t wSecond;
  std::uint16_t wMilliseconds;
};

// One reading of the clock in microseconds since 1970-01-01 00:00, both as
// UTC and as local time (UTC plus the zone's offset at that moment). Finer
// than the record, for measurements within a frame.
struct PreciseTime {
  std::int64_t utcUs;
  std::int64_t localUs;
};

// What a clock must offer. The set calls return nonzero when the platform
// took the time, 0 when it refused it (no right to set the clock, or a record
// that names no real moment, such as 31 April or hour 24: nothing is then
// set, never a normalised time).
class ClockBackend {
 public:
  virtual ~ClockBackend() = default;
  virtual void GetLocalTime(SYSTEMTIME* time) = 0;
  virtual void GetSystemTime(SYSTEMTIME* time) = 0;
  virtual int SetLocalTime(const SYSTEMTIME& time) = 0;
  virtual int SetSystemTime(const SYSTEMTIME& time) = 0;
  virtual void Sleep(std::uint32_t milliseconds) = 0;
  // By default the two records, so only to the millisecond.
  virtual PreciseTime ReadPreciseTime();
};

// The operating system's clock.
ClockBackend& SystemClock();

// Installs a replacement (tests); nullptr restores the operating system's.
void UseClockBackend(ClockBackend* backend);

// Calls on the clock currently installed.
void GetLocalTime(SYSTEMTIME* time);
void GetSystemTime(SYSTEMTIME* time);
int SetLocalTime(const SYSTEMTIME& time);
int SetSystemTime(const SYSTEMTIME& time);
void Sleep(std::uint32_t milliseconds);
PreciseTime ReadPreciseTime();

// Microseconds since 1970-01-01 00:00 of a record's date and time.
std::int64_t RecordToMicroseconds(const SYSTEMTIME& time);

}  // namespace platform
