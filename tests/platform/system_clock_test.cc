// The operating system's clock as the engine sees it. Only readings, sleeps
// and refusals are tried here: nothing in this program may move the real
// clock, and every set it makes is one that must be refused.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>

#include "clock/calendar.h"
#include "platform/clock.h"
#include "tests/support/fake_clock.h"

namespace {

using platform::SYSTEMTIME;

platform::ClockBackend& Real() { return platform::SystemClock(); }

// Readings over more than a second: both valid, with their weekday; UTC near
// the C library's time, and the local time a whole zone away from it, so a
// local reading never lags behind the clock into a second already gone.
TEST(SystemClock, ReadingsAreUtcAndLocalTime) {
  constexpr std::int64_t kQuarterHourMs = 15 * 60000;
  std::int64_t firstMs = 0;
  for (int reading = 0; reading < 12; ++reading, Real().Sleep(100)) {
    SCOPED_TRACE(reading);
    SYSTEMTIME utc;
    SYSTEMTIME local;
    Real().GetSystemTime(&utc);
    Real().GetLocalTime(&local);
    if (reading == 0) firstMs = fake::ToMs(utc);
    const std::int64_t now = std::time(nullptr) * std::int64_t{1000};
    EXPECT_LT(std::llabs(fake::ToMs(utc) - now), 5000);
    for (const SYSTEMTIME& t : {utc, local}) {
      EXPECT_TRUE(IsValidSystemTime(t));
      EXPECT_EQ(t.wDayOfWeek, fake::ToRecord(fake::ToMs(t)).wDayOfWeek);
    }
    const std::int64_t apart = fake::ToMs(local) - fake::ToMs(utc);
    const std::int64_t quarters =
        std::llround(static_cast<double>(apart) / kQuarterHourMs);
    EXPECT_LT(std::llabs(apart - quarters * kQuarterHourMs), 100);
    EXPECT_LE(std::llabs(quarters), 14 * 4);
#ifndef _WIN32
    const platform::PreciseTime precise = Real().ReadPreciseTime();
    EXPECT_EQ((precise.localUs - precise.utcUs) % (kQuarterHourMs * 1000), 0);
    EXPECT_LT(std::llabs(precise.utcUs / 1000 - fake::ToMs(utc)), 100);
#endif
  }
  // Twelve sleeps of 100 ms since the first reading.
  SYSTEMTIME end;
  Real().GetSystemTime(&end);
  EXPECT_GE(fake::ToMs(end) - firstMs, 1199);
}

#ifndef _WIN32
TEST(SystemClock, LocalTimeFollowsTheZoneRules) {
  const char* const saved = std::getenv("TZ");
  const std::string zone = saved ? saved : "";
  const struct {
    const char* zone;
    std::int64_t offsetMinutes;
  } zones[] = {{"UTC0", 0},
               {"QRV-5:30", 330},
               {"QRV+7", -420},
               // Summer time all year: the standard offset as above.
               {"QRV+7QRS,0/-24,J365/48", -360}};
  for (const auto& z : zones) {
    SCOPED_TRACE(z.zone);
    setenv("TZ", z.zone, 1);
    tzset();
    SYSTEMTIME local;
    SYSTEMTIME utc;
    Real().GetSystemTime(&utc);
    Real().GetLocalTime(&local);
    // Local time minus UTC, in whole minutes.
    EXPECT_EQ(std::llround((fake::ToMs(local) - fake::ToMs(utc)) / 60000.0),
              z.offsetMinutes);
  }
  saved ? setenv("TZ", zone.c_str(), 1) : unsetenv("TZ");
  tzset();
}

// Bit 25 of the effective capabilities is the right to set the clock.
bool MayNotSetTheClock() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("CapEff:", 0) == 0)
      return (std::stoull(line.substr(7), nullptr, 16) >> 25 & 1) == 0;
  return false;
}

TEST(SystemClock, ValidTimeWithoutTheRightIsRefused) {
  if (!MayNotSetTheClock())
    GTEST_SKIP() << "this process may set the clock; run it without that right";
  SYSTEMTIME now;
  Real().GetSystemTime(&now);
  EXPECT_EQ(Real().SetSystemTime(now), 0);
  Real().GetLocalTime(&now);
  EXPECT_EQ(Real().SetLocalTime(now), 0);
}
#endif

}  // namespace
