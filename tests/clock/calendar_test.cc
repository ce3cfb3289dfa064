// The calendar behind the engine's date moves and the fake clock's refusals.
#include "clock/calendar.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

platform::SYSTEMTIME Record(int year, int month, int day, int weekday = 0) {
  platform::SYSTEMTIME time = {};
  time.wYear = static_cast<std::uint16_t>(year);
  time.wMonth = static_cast<std::uint16_t>(month);
  time.wDay = static_cast<std::uint16_t>(day);
  time.wDayOfWeek = static_cast<std::uint16_t>(weekday);
  time.wHour = 12;
  return time;
}

auto Date(const platform::SYSTEMTIME& t) {
  return std::make_tuple(t.wYear, t.wMonth, t.wDay, t.wDayOfWeek);
}

// All that stands between a malformed code and the clock: each row moves one
// field just past its range, or just inside it.
TEST(Calendar, ValidSystemTimeTable) {
  const struct {
    int year, month, day, hour, minute, second, ms;
    bool valid;
  } rows[] = {
      {2026, 3, 14, 23, 59, 59, 999, true},
      {2026, 3, 14, 0, 0, 0, 0, true},
      {2026, 3, 14, 24, 0, 0, 0, false},
      {2026, 3, 14, 12, 60, 0, 0, false},
      {2026, 3, 14, 12, 0, 60, 0, false},
      {2026, 3, 14, 12, 0, 0, 1000, false},
      {2026, 13, 1, 12, 0, 0, 0, false},
      {2026, 0, 1, 12, 0, 0, 0, false},
      {2026, 4, 0, 12, 0, 0, 0, false},
      {2024, 2, 29, 12, 0, 0, 0, true},
      {2024, 2, 30, 12, 0, 0, 0, false},
      {2000, 2, 29, 12, 0, 0, 0, true},
      {1900, 2, 29, 12, 0, 0, 0, false},
      {1601, 1, 1, 0, 0, 0, 0, true},
      {1600, 12, 31, 12, 0, 0, 0, false},
      {30827, 12, 31, 12, 0, 0, 0, true},
      {30828, 1, 1, 12, 0, 0, 0, false},
  };
  // Each month's last day, and the day after it, in a common year.
  const int lastDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  for (int month = 1; month <= 12; ++month) {
    EXPECT_TRUE(IsValidSystemTime(Record(2026, month, lastDays[month - 1])));
    EXPECT_FALSE(
        IsValidSystemTime(Record(2026, month, lastDays[month - 1] + 1)));
  }
  for (const auto& r : rows) {
    platform::SYSTEMTIME time = Record(r.year, r.month, r.day);
    time.wHour = static_cast<std::uint16_t>(r.hour);
    time.wMinute = static_cast<std::uint16_t>(r.minute);
    time.wSecond = static_cast<std::uint16_t>(r.second);
    time.wMilliseconds = static_cast<std::uint16_t>(r.ms);
    EXPECT_EQ(IsValidSystemTime(time), r.valid)
        << r.year << "-" << r.month << "-" << r.day << " " << r.hour << ":"
        << r.minute << ":" << r.second << "." << r.ms;
  }
}

TEST(Calendar, DayMovesCrossMonthYearAndLeapDayBothWays) {
  // Each pair is one day apart; weekdays wrap Saturday (6) to Sunday (0).
  const std::pair<platform::SYSTEMTIME, platform::SYSTEMTIME> pairs[] = {
      {Record(2026, 12, 31, 4), Record(2027, 1, 1, 5)},
      {Record(2024, 2, 28, 3), Record(2024, 2, 29, 4)},
      {Record(2024, 2, 29, 4), Record(2024, 3, 1, 5)},
      {Record(2100, 2, 28, 0), Record(2100, 3, 1, 1)},
      {Record(2026, 4, 30, 4), Record(2026, 5, 1, 5)},
      {Record(2026, 3, 14, 6), Record(2026, 3, 15, 0)},
  };
  for (const auto& [day, next] : pairs) {
    platform::SYSTEMTIME moved = day;
    NextDay(moved);
    EXPECT_EQ(Date(moved), Date(next));
    PreviousDay(moved);
    EXPECT_EQ(Date(moved), Date(day));
  }
}

}  // namespace
