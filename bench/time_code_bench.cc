// How the pieces of one poll's arithmetic compare in cost, as ratios within
// this run (absolute times depend on the machine and mean little).
#include <chrono>
#include <cstdint>
#include <cstdio>

#include "clock/time_code.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint32_t kRounds = 5'000'000;

volatile std::uint32_t g_sink;

template <typename Body>
double NanosecondsPerCall(Body body) {
  const auto start = Clock::now();
  for (std::uint32_t i = 0; i < kRounds; ++i) body(i);
  const auto elapsed =
      std::chrono::duration<double, std::nano>(Clock::now() - start);
  return elapsed.count() / kRounds;
}

}  // namespace

int main() {
  const double pack = NanosecondsPerCall([](std::uint32_t i) {
    g_sink =
        PackTimeCode(i & 0x3F, i >> 6 & 0x7F, i >> 13 & 0x7F, i >> 20 & 0x3F);
  });
  const double toCode = NanosecondsPerCall([](std::uint32_t i) {
    g_sink = ClockToTimeCode(i % 24, i % 60, i % 59, i % 1000, 0, i & 1);
  });
  const double toClock = NanosecondsPerCall([](std::uint32_t i) {
    platform::SYSTEMTIME t{2026, 12, 0, 6, 0, 0, 0, 0};
    TimeCodeToClock(0x40 | (i % 30), i % 60, i % 60, i % 24, 0, 1, t);
    g_sink = t.wMilliseconds;
  });
  const double format = NanosecondsPerCall([](std::uint32_t i) {
    char text[12];
    g_sink =
        static_cast<std::uint32_t>(FormatPackedTimeCode(i, text)) + text[3];
  });
  std::printf(
      "time code arithmetic, cost relative to PackTimeCode (%.2f ns):\n", pack);
  std::printf("  ClockToTimeCode       %6.1fx\n", toCode / pack);
  std::printf("  TimeCodeToClock       %6.1fx\n", toClock / pack);
  std::printf("  FormatPackedTimeCode  %6.1fx\n", format / pack);
  // A poll's arithmetic against the 150 ms it has: how much of the budget.
  const double pollArithmetic = toCode + pack;
  std::printf("  one poll's arithmetic is %.2e of the 150 ms poll period\n",
              pollArithmetic / 150e6);
  return 0;
}
