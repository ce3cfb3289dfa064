// The PC clock on Windows: the system's own calls. Records that name no real
// moment are refused here too, so that no version of the system normalises
// them.
#include <windows.h>

#include "platform/clock.h"

namespace platform {
namespace {

::SYSTEMTIME ToNative(const SYSTEMTIME& time) {
  ::SYSTEMTIME native = {};
  native.wYear = time.wYear;
  native.wMonth = time.wMonth;
  native.wDayOfWeek = time.wDayOfWeek;
  native.wDay = time.wDay;
  native.wHour = time.wHour;
  native.wMinute = time.wMinute;
  native.wSecond = time.wSecond;
  native.wMilliseconds = time.wMilliseconds;
  return native;
}

void FromNative(const ::SYSTEMTIME& native, SYSTEMTIME* time) {
  time->wYear = native.wYear;
  time->wMonth = native.wMonth;
  time->wDayOfWeek = native.wDayOfWeek;
  time->wDay = native.wDay;
  time->wHour = native.wHour;
  time->wMinute = native.wMinute;
  time->wSecond = native.wSecond;
  time->wMilliseconds = native.wMilliseconds;
}

// The system's own calendar judges the record: it must convert, and come
// back from the conversion unchanged.
bool NamesRealMoment(const ::SYSTEMTIME& native) {
  if (native.wMilliseconds >= 1000) return false;
  FILETIME moment;
  ::SYSTEMTIME back;
  if (!SystemTimeToFileTime(&native, &moment) ||
      !FileTimeToSystemTime(&moment, &back))
    return false;
  return back.wYear == native.wYear && back.wMonth == native.wMonth &&
         back.wDay == native.wDay && back.wHour == native.wHour &&
         back.wMinute == native.wMinute && back.wSecond == native.wSecond &&
         back.wMilliseconds == native.wMilliseconds;
}

class Win32Clock : public ClockBackend {
 public:
  void GetLocalTime(SYSTEMTIME* time) override {
    ::SYSTEMTIME native;
    ::GetLocalTime(&native);
    FromNative(native, time);
  }

  void GetSystemTime(SYSTEMTIME* time) override {
    ::SYSTEMTIME native;
    ::GetSystemTime(&native);
    FromNative(native, time);
  }

  int SetLocalTime(const SYSTEMTIME& time) override {
    const ::SYSTEMTIME native = ToNative(time);
    if (!NamesRealMoment(native)) return 0;
    return ::SetLocalTime(&native) ? 1 : 0;
  }

  int SetSystemTime(const SYSTEMTIME& time) override {
    const ::SYSTEMTIME native = ToNative(time);
    if (!NamesRealMoment(native)) return 0;
    return ::SetSystemTime(&native) ? 1 : 0;
  }

  void Sleep(std::uint32_t milliseconds) override { ::Sleep(milliseconds); }
};

}  // namespace

ClockBackend& SystemClock() {
  static Win32Clock clock;
  return clock;
}

}  // namespace platform
