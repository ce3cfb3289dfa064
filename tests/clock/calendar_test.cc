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

TEST(Calendar, LeapYearsFollowTheGregorianRule) {
  EXPECT_TRUE(IsValidSystemTime(Record(2024, 2, 29)));
  EXPECT_TRUE(IsValidSystemTime(Record(2000, 2, 29)));
  EXPECT_FALSE(IsValidSystemTime(Record(1900, 2, 29)));
  EXPECT_FALSE(IsValidSystemTime(Record(2026, 2, 29)));
  EXPECT_FALSE(IsValidSystemTime(Record(2026, 4, 31)));
  EXPECT_FALSE(IsValidSystemTime(Record(2026, 13, 1)));
  EXPECT_FALSE(IsValidSystemTime(Record(1600, 12, 31)));
  EXPECT_TRUE(IsValidSystemTime(Record(30827, 12, 31)));
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
