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
    platform::SYSTEMTIME time;  // year, month, weekday, day, h, m, s, ms
    bool valid;
  } rows[] = {
      {{2026, 3, 0, 14, 23, 59, 59, 999}, true},
      {{2026, 3, 0, 14, 0, 0, 0, 0}, true},
      {{2026, 3, 0, 14, 24, 0, 0, 0}, false},
      {{2026, 3, 0, 14, 12, 60, 0, 0}, false},
      {{2026, 3, 0, 14, 12, 0, 60, 0}, false},
      {{2026, 3, 0, 14, 12, 0, 0, 1000}, false},
      {{2026, 13, 0, 1, 12, 0, 0, 0}, false},
      {{2026, 0, 0, 1, 12, 0, 0, 0}, false},
      {{2026, 4, 0, 0, 12, 0, 0, 0}, false},
      {{2024, 2, 0, 29, 12, 0, 0, 0}, true},
      {{2024, 2, 0, 30, 12, 0, 0, 0}, false},
      {{2000, 2, 0, 29, 12, 0, 0, 0}, true},
      {{1900, 2, 0, 29, 12, 0, 0, 0}, false},
      {{1601, 1, 0, 1, 0, 0, 0, 0}, true},
      {{1600, 12, 0, 31, 12, 0, 0, 0}, false},
      {{30827, 12, 0, 31, 12, 0, 0, 0}, true},
      {{30828, 1, 0, 1, 12, 0, 0, 0}, false},
  };
  // Each month's last day, and the day after it, in a common year.
  const int lastDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  for (int month = 1; month <= 12; ++month) {
    EXPECT_TRUE(IsValidSystemTime(Record(2026, month, lastDays[month - 1])));
    EXPECT_FALSE(
        IsValidSystemTime(Record(2026, month, lastDays[month - 1] + 1)));
  }
  for (const auto& r : rows)
    EXPECT_EQ(IsValidSystemTime(r.time), r.valid) << "row " << &r - rows;
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
