#include "clock/calendar.h"

#include <cstdint>

unsigned DaysInMonth(unsigned year, unsigned month) {
  static const unsigned kDays[12] = {31, 28, 31, 30, 31, 30,
                                     31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 31;
  const bool leapYear = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (month == 2 && leapYear) return 29;
  return kDays[month - 1];
}

bool IsValidSystemTime(const platform::SYSTEMTIME& time) {
  if (time.wYear < 1601 || time.wYear > 30827) return false;
  if (time.wMonth < 1 || time.wMonth > 12) return false;
  if (time.wDay < 1 || time.wDay > DaysInMonth(time.wYear, time.wMonth))
    return false;
  return time.wHour < 24 && time.wMinute < 60 && time.wSecond < 60 &&
         time.wMilliseconds < 1000;
}

void NextDay(platform::SYSTEMTIME& time) {
  time.wDayOfWeek = static_cast<std::uint16_t>((time.wDayOfWeek + 1) % 7);
  if (time.wDay < DaysInMonth(time.wYear, time.wMonth)) {
    ++time.wDay;
    return;
  }
  time.wDay = 1;
  if (time.wMonth < 12) {
    ++time.wMonth;
    return;
  }
  time.wMonth = 1;
  ++time.wYear;
}

void PreviousDay(platform::SYSTEMTIME& time) {
  time.wDayOfWeek = static_cast<std::uint16_t>((time.wDayOfWeek + 6) % 7);
  if (time.wDay > 1) {
    --time.wDay;
    return;
  }
  if (time.wMonth > 1) {
    --time.wMonth;
  } else {
    time.wMonth = 12;
    --time.wYear;
  }
  time.wDay = static_cast<std::uint16_t>(DaysInMonth(time.wYear, time.wMonth));
}
