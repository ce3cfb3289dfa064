#include "platform/clock.h"

namespace platform {
namespace {

ClockBackend* g_installedClock = nullptr;

ClockBackend& Current() {
  return g_installedClock != nullptr ? *g_installedClock : SystemClock();
}

}  // namespace

void UseClockBackend(ClockBackend* backend) { g_installedClock = backend; }

void GetLocalTime(SYSTEMTIME* time) { Current().GetLocalTime(time); }
void GetSystemTime(SYSTEMTIME* time) { Current().GetSystemTime(time); }
int SetLocalTime(const SYSTEMTIME& time) {
  return Current().SetLocalTime(time);
}
int SetSystemTime(const SYSTEMTIME& time) {
  return Current().SetSystemTime(time);
}
void Sleep(std::uint32_t milliseconds) { Current().Sleep(milliseconds); }
PreciseTime ReadPreciseTime() { return Current().ReadPreciseTime(); }

PreciseTime ClockBackend::ReadPreciseTime() {
  SYSTEMTIME utc = {};
  SYSTEMTIME local = {};
  GetSystemTime(&utc);
  GetLocalTime(&local);
  return {RecordToMicroseconds(utc), RecordToMicroseconds(local)};
}

std::int64_t RecordToMicroseconds(const SYSTEMTIME& time) {
  // Days since 1970 of a Gregorian date, counted in 400-year eras.
  const std::int64_t year = time.wYear - (time.wMonth <= 2 ? 1 : 0);
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t yearOfEra = year - era * 400;
  const std::int64_t shiftedMonth =
      time.wMonth > 2 ? time.wMonth - 3 : time.wMonth + 9;
  const std::int64_t dayOfYear = (153 * shiftedMonth + 2) / 5 + time.wDay - 1;
  const std::int64_t dayOfEra =
      yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  const std::int64_t days = era * 146097 + dayOfEra - 719468;
  const std::int64_t ms =
      ((days * 24 + time.wHour) * 60 + time.wMinute) * 60000LL +
      time.wSecond * 1000LL + time.wMilliseconds;
  return ms * 1000;
}

}  // namespace platform
