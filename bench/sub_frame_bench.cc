// How close the sub-frame estimate comes to the simulated box's truth in
// each mode, and after how many polls. The box is the simulator's own model
// (its code is the PC clock plus a known offset), read a little after our
// query arrives and answered after a turnaround and the reply's line time;
// the polls come at the worker's cadence with some jitter.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "clock/sub_frame_estimator.h"
#include "tools/boxsim/boxsim_core.h"

namespace {

constexpr int kPolls = 780;  // two minutes at 153 ms
constexpr int kRuns = 40;
constexpr std::int64_t kUsPerDay = boxsim::kMsPerDay * 1000;

struct Result {
  std::int64_t worstUs = 0;    // over the last minute of every run
  std::int64_t typicalUs = 0;  // median of the last minute's errors
  int pollsToGoal = 0;         // worst run: from then on within the goal
};

PackedTimeCode ShownCode(std::int64_t houseUs, boxsim::Mode mode) {
  const std::int64_t ms = houseUs / 1000 % boxsim::kMsPerDay;
  const boxsim::TimeOfDay time = boxsim::ShiftTimeOfDay({0, 0, 0, 0}, ms);
  return boxsim::BoxTimeCode(time, mode) & kTimeCodeMask;
}

Result Measure(boxsim::Mode mode, std::int64_t turnaroundUs,
               std::int64_t goalUs, std::mt19937& random) {
  std::uniform_int_distribution<std::int64_t> offset(-5000000, 5000000);
  std::uniform_int_distribution<std::int64_t> start(0, kUsPerDay - 1);
  std::uniform_int_distribution<std::int64_t> wake(20, 200);
  std::uniform_int_distribution<std::int64_t> jitter(0, 2000);
  std::vector<std::int64_t> lastMinute;
  Result result;
  for (int run = 0; run < kRuns; ++run) {
    CSubFrameEstimator estimator;
    const std::int64_t truthUs = offset(random);
    std::int64_t pcUs = start(random);
    int lastOutside = 0;
    for (int poll = 1; poll <= kPolls; ++poll) {
      PollTiming timing = {};
      timing.running = 1;
      timing.isPal = mode == boxsim::Mode::kPal;
      timing.dropFrame = mode == boxsim::Mode::kNtscDropFrame;
      timing.beforeUs = timing.beforeUtcUs = pcUs;
      const std::int64_t readUs = pcUs + wake(random);
      timing.code = ShownCode(readUs + truthUs + kUsPerDay, mode);
      timing.afterUs = readUs + turnaroundUs + kReplyLineUs + wake(random);
      timing.afterUtcUs = timing.afterUs;
      if (!estimator.Observe(timing)) std::abort();
      const std::int64_t errorUs = std::abs(estimator.OffsetUs() - truthUs);
      if (errorUs > goalUs) lastOutside = poll;
      if (poll > kPolls / 2) {
        lastMinute.push_back(errorUs);
        result.worstUs = std::max(result.worstUs, errorUs);
      }
      pcUs = timing.afterUs + 153000 + jitter(random);
    }
    result.pollsToGoal = std::max(result.pollsToGoal, lastOutside + 1);
  }
  std::nth_element(lastMinute.begin(),
                   lastMinute.begin() + lastMinute.size() / 2,
                   lastMinute.end());
  result.typicalUs = lastMinute[lastMinute.size() / 2];
  return result;
}

}  // namespace

int main() {
  std::mt19937 random(11);
  const std::int64_t goalUs = 1000;
  std::printf(
      "%d runs of %d polls each, random offsets within 5 s; error of "
      "the estimate against the box's truth\n",
      kRuns, kPolls);
  std::printf("%-8s %10s %14s %14s %16s\n", "mode", "turnaround", "median(us)",
              "worst(us)", "polls to 1 ms");
  for (boxsim::Mode mode : {boxsim::Mode::kPal, boxsim::Mode::kNtsc,
                            boxsim::Mode::kNtscDropFrame}) {
    for (std::int64_t turnaroundUs : {0, 1000}) {
      const Result result = Measure(mode, turnaroundUs, goalUs, random);
      std::printf("%-8s %8lld us %14lld %14lld %16d\n", boxsim::ModeName(mode),
                  static_cast<long long>(turnaroundUs),
                  static_cast<long long>(result.typicalUs),
                  static_cast<long long>(result.worstUs), result.pollsToGoal);
    }
  }
  return 0;
}
