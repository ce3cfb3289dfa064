#include "clock/time_code.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <tuple>

#include "clock/calendar.h"

namespace {

struct ClockCase {
  std::uint16_t h, m, s, ms;
  int isPal, dropFrame;
  PackedTimeCode expected;
};

TEST(ClockToTimeCode, KnownReadings) {
  const ClockCase cases[] = {
      // NTSC frames are 33.3 ms long, so the seconds end in a short one.
      {1, 2, 3, 33, 0, 0, 0x01020300},
      {1, 2, 3, 34, 0, 0, 0x01020301},
      {1, 2, 3, 332, 0, 0, 0x01020309},
      {1, 2, 3, 333, 0, 0, 0x01020310},
      {1, 2, 3, 965, 0, 0, 0x01020328},
      {1, 2, 3, 966, 0, 0, 0x01020329},
      {1, 2, 3, 999, 0, 0, 0x01020329},
      {12, 34, 56, 789, 1, 0, 0x12345619},
      // Drop-frame: a frame later early in minutes 5-9, a frame earlier late
      // in minutes 0-4, with the roll into the next or previous second.
      {12, 35, 10, 980, 0, 1, 0x12351100},
      {12, 35, 10, 999, 0, 1, 0x12351100},
      {12, 34, 40, 0, 0, 1, 0x12343929},
      {12, 34, 34, 500, 0, 1, 0x12343414},
      {12, 39, 20, 500, 0, 1, 0x12392016},
      {12, 30, 33, 500, 0, 1, 0x12303315},
      // Into the next hour: minute 59 is late in its block, second 59 too.
      {12, 59, 10, 980, 0, 1, 0x12591100},
      {12, 59, 59, 990, 0, 1, 0x12595929},
      {23, 59, 59, 999, 0, 1, 0x23595929},
      {13, 0, 0, 0, 0, 1, 0x13000000},
      // The drop-frame flag means nothing in PAL.
      {12, 35, 10, 980, 1, 1, 0x12351024},
  };
  for (const ClockCase& c : cases) {
    EXPECT_EQ(ClockToTimeCode(c.h, c.m, c.s, c.ms, c.isPal, c.dropFrame),
              c.expected)
        << c.h << ":" << c.m << ":" << c.s << "." << c.ms << " pal " << c.isPal
        << " df " << c.dropFrame;
  }
}

struct CodeCase {
  std::uint8_t f, s, m, h;
  int isPal, dropFrame;
  std::uint16_t hour, minute, second, ms;
};

TEST(TimeCodeToClock, KnownCodes) {
  const CodeCase cases[] = {
      {0x29, 0x30, 0x45, 0x08, 0, 0, 8, 45, 30, 965},
      {0x55, 0x30, 0x45, 0x08, 0, 1, 8, 45, 30, 466},
      {0x15, 0x30, 0x45, 0x08, 1, 0, 8, 45, 30, 600},
      // Drop-frame with full carry and borrow through every field.
      {0x69, 0x34, 0x03, 0x12, 0, 1, 12, 3, 35, 0},
      {0x69, 0x58, 0x03, 0x12, 0, 1, 12, 3, 59, 0},
      {0x69, 0x59, 0x03, 0x12, 0, 1, 12, 4, 0, 0},
      {0x40, 0x33, 0x05, 0x12, 0, 1, 12, 5, 32, 965},
      {0x40, 0x00, 0x05, 0x12, 0, 1, 12, 4, 59, 965},
      {0x69, 0x59, 0x54, 0x23, 0, 1, 23, 55, 0, 0},
      {0x40, 0x00, 0x05, 0x00, 0, 1, 0, 4, 59, 965},
      {0x29, 0x59, 0x59, 0x12, 0, 1, 12, 59, 59, 965},
      {0x00, 0x00, 0x00, 0x13, 0, 1, 13, 0, 0, 0},
      {0x29, 0x10, 0x59, 0x12, 0, 1, 12, 59, 10, 932},
      // Malformed digits pass through for the set call to refuse.
      {0x3F, 0x1F, 0x00, 0x24, 1, 0, 24, 0, 25, 1800},
  };
  for (const CodeCase& c : cases) {
    platform::SYSTEMTIME t{2026, 12, 0, 6, 99, 99, 99, 9999};
    TimeCodeToClock(c.f, c.s, c.m, c.h, c.isPal, c.dropFrame, t);
    // The date fields keep what they held.
    EXPECT_EQ(std::make_tuple(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                              t.wSecond, t.wMilliseconds),
              std::make_tuple(2026, 12, 6, c.hour, c.minute, c.second, c.ms))
        << std::hex << +c.h << ":" << +c.m << ":" << +c.s << ":" << +c.f;
  }
}

TEST(WithinTolerance, TwoStepsOnTheWholeWord) {
  EXPECT_TRUE(WithinTolerance(0x12345612, 0x12345610));
  EXPECT_TRUE(WithinTolerance(0x1234560E, 0x12345610));
  EXPECT_FALSE(WithinTolerance(0x12345613, 0x12345610));
  EXPECT_FALSE(WithinTolerance(0x12345608, 0x12345610));
  // One frame apart in time, but not in the word.
  EXPECT_FALSE(WithinTolerance(0x12000100, 0x12000029));
  EXPECT_FALSE(WithinTolerance(0x12000010, 0x12000009));
}

}  // namespace
