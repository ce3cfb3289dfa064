// The PC clock on a POSIX system: CLOCK_REALTIME, shown as local time by the
// system's zone rules or as UTC.
#include <errno.h>
#include <time.h>

#include "platform/clock.h"

namespace platform {
namespace {

constexpr long kNanosecondsPerMillisecond = 1000000;

void ToRecord(const struct tm& fields, long nanoseconds, SYSTEMTIME* time) {
  time->wYear = static_cast<std::uint16_t>(fields.tm_year + 1900);
  time->wMonth = static_cast<std::uint16_t>(fields.tm_mon + 1);
  time->wDayOfWeek = static_cast<std::uint16_t>(fields.tm_wday);
  time->wDay = static_cast<std::uint16_t>(fields.tm_mday);
  time->wHour = static_cast<std::uint16_t>(fields.tm_hour);
  time->wMinute = static_cast<std::uint16_t>(fields.tm_min);
  time->wSecond = static_cast<std::uint16_t>(fields.tm_sec);
  time->wMilliseconds =
      static_cast<std::uint16_t>(nanoseconds / kNanosecondsPerMillisecond);
}

struct tm ToFields(const SYSTEMTIME& time) {
  struct tm fields = {};
  fields.tm_year = time.wYear - 1900;
  fields.tm_mon = time.wMonth - 1;
  fields.tm_mday = time.wDay;
  fields.tm_hour = time.wHour;
  fields.tm_min = time.wMinute;
  fields.tm_sec = time.wSecond;
  fields.tm_isdst = -1;
  return fields;
}

bool SameMoment(const struct tm& a, const struct tm& b) {
  return a.tm_year == b.tm_year && a.tm_mon == b.tm_mon &&
         a.tm_mday == b.tm_mday && a.tm_hour == b.tm_hour &&
         a.tm_min == b.tm_min && a.tm_sec == b.tm_sec;
}

// The fields the conversion cannot judge: it takes any millisecond count,
// and years beyond those that Windows' clock record can name.
bool InRecordRange(const SYSTEMTIME& time) {
  return time.wMilliseconds < 1000 && time.wYear >= 1601 && time.wYear <= 30827;
}

// The local fields of the second last converted, on this thread. A zone's
// offset changes only at a whole second, so every reading within that second
// shares them, while the C library's conversion walks the zone's rules anew
// each time: a poll reads the local time four times. The zone that tzset()
// last put in place is part of the key, so a changed zone is never answered
// from the one before.
struct LocalSecond {
  bool valid;
  time_t second;
  long zone;
  const char* names[2];
  struct tm fields;
};

const struct tm& LocalFields(time_t second) {
  thread_local LocalSecond cached = {};
  if (!cached.valid || cached.second != second || cached.zone != timezone ||
      cached.names[0] != tzname[0] || cached.names[1] != tzname[1]) {
    struct tm fields = {};
    cached.valid = localtime_r(&second, &fields) != nullptr;
    cached.fields = fields;
    cached.second = second;
    // Read after the conversion, which sets them on its first use.
    cached.zone = timezone;
    cached.names[0] = tzname[0];
    cached.names[1] = tzname[1];
  }
  return cached.fields;
}

void ReadClock(bool local, SYSTEMTIME* time) {
  struct timespec now = {};
  clock_gettime(CLOCK_REALTIME, &now);
  if (local) {
    ToRecord(LocalFields(now.tv_sec), now.tv_nsec, time);
    return;
  }
  struct tm fields = {};
  gmtime_r(&now.tv_sec, &fields);
  ToRecord(fields, now.tv_nsec, time);
}

int SetClock(time_t seconds, const SYSTEMTIME& time) {
  struct timespec target = {};
  target.tv_sec = seconds;
  target.tv_nsec = time.wMilliseconds * kNanosecondsPerMillisecond;
  return clock_settime(CLOCK_REALTIME, &target) == 0 ? 1 : 0;
}

class PosixClock : public ClockBackend {
 public:
  void GetLocalTime(SYSTEMTIME* time) override { ReadClock(true, time); }
  void GetSystemTime(SYSTEMTIME* time) override { ReadClock(false, time); }

  // The conversions normalise what they are given (31 April becomes 1 May,
  // hour 24 the next day's midnight, and a local time that the zone skips,
  // the hour lost to summer time, comes back moved). A record that comes
  // back changed names no real moment and is refused.
  int SetLocalTime(const SYSTEMTIME& time) override {
    if (!InRecordRange(time)) return 0;
    const struct tm wanted = ToFields(time);
    struct tm fields = wanted;
    const time_t seconds = mktime(&fields);
    if (seconds == static_cast<time_t>(-1)) return 0;
    if (!SameMoment(fields, wanted)) return 0;
    return SetClock(seconds, time);
  }

  int SetSystemTime(const SYSTEMTIME& time) override {
    if (!InRecordRange(time)) return 0;
    const struct tm wanted = ToFields(time);
    struct tm fields = wanted;
    const time_t seconds = timegm(&fields);
    if (seconds == static_cast<time_t>(-1)) return 0;
    if (!SameMoment(fields, wanted)) return 0;
    return SetClock(seconds, time);
  }

  PreciseTime ReadPreciseTime() override {
    struct timespec now = {};
    clock_gettime(CLOCK_REALTIME, &now);
    const std::int64_t utcUs =
        static_cast<std::int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
    const long offset = LocalFields(now.tv_sec).tm_gmtoff;
    return {utcUs, utcUs + static_cast<std::int64_t>(offset) * 1000000};
  }

  void Sleep(std::uint32_t milliseconds) override {
    struct timespec remaining = {};
    remaining.tv_sec = milliseconds / 1000;
    remaining.tv_nsec = (milliseconds % 1000) * kNanosecondsPerMillisecond;
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
  }
};

}  // namespace

ClockBackend& SystemClock() {
  static PosixClock clock;
  return clock;
}

}  // namespace platform
