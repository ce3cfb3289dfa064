#include "clock/sub_frame_estimator.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

constexpr std::int64_t kUsPerMs = 1000;
constexpr std::int64_t kUsPerDay = 24LL * 3600 * 1000 * kUsPerMs;

std::int64_t MsOfDay(int hour, int minute, int second, int ms) {
  return ((hour * 60LL + minute) * 60 + second) * 1000 + ms;
}

// A box in step with the PC clock plus `offsetUs`, read `readAfterUs` after
// the query left, answering after a turnaround and the reply's line time.
struct SimulatedPolls {
  std::int64_t pcUs, offsetUs;
  int isPal, dropFrame;
  int step = 0;

  PollTiming Next() {
    PollTiming poll = {};
    poll.running = 1;
    poll.isPal = isPal;
    poll.dropFrame = dropFrame;
    poll.beforeUs = poll.beforeUtcUs = pcUs;
    const std::int64_t readUs = pcUs + 100;
    const std::int64_t houseMs =
        ((readUs + offsetUs) % kUsPerDay + kUsPerDay) % kUsPerDay / kUsPerMs;
    poll.code = ClockToTimeCode(
        static_cast<std::uint16_t>(houseMs / 3600000),
        static_cast<std::uint16_t>(houseMs / 60000 % 60),
        static_cast<std::uint16_t>(houseMs / 1000 % 60),
        static_cast<std::uint16_t>(houseMs % 1000), isPal, dropFrame);
    poll.afterUs = poll.afterUtcUs = readUs + 200 + kReplyLineUs;
    // The worker's cadence with a little of the jitter that a real one has.
    pcUs = poll.afterUs + 153000 + (step++ * 389) % 1700;
    return poll;
  }
};

TEST(TimeCodeSpanTest, SpansOfCodesInEachMode) {
  const struct {
    const char* name;
    PackedTimeCode code;
    int isPal, dropFrame;
    std::int64_t startMs, endMs;
  } cases[] = {
      {"PAL frame 10", 0x12345610, 1, 0, MsOfDay(12, 34, 56, 400),
       MsOfDay(12, 34, 56, 440)},
      {"NTSC frame 1", 0x12345601, 0, 0, MsOfDay(12, 34, 56, 34),
       MsOfDay(12, 34, 56, 67)},
      {"NTSC last frame", 0x12345629, 0, 0, MsOfDay(12, 34, 56, 966),
       MsOfDay(12, 34, 57, 0)},
      {"drop-frame code a frame ahead, across the second", 0x12351000, 0, 1,
       MsOfDay(12, 35, 9, 966), MsOfDay(12, 35, 10, 0)},
      {"drop-frame code a frame behind", 0x12304029, 0, 1,
       MsOfDay(12, 30, 41, 0), MsOfDay(12, 30, 41, 34)},
      {"midnight", 0x00000000, 1, 0, 0, 40},
      {"top of an hour", 0x13000000, 1, 0, MsOfDay(13, 0, 0, 0),
       MsOfDay(13, 0, 0, 40)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::int64_t start = 0, end = 0;
    ASSERT_TRUE(TimeCodeSpan(c.code, c.isPal, c.dropFrame, &start, &end));
    EXPECT_EQ(start, c.startMs * kUsPerMs);
    EXPECT_EQ(end, c.endMs * kUsPerMs);
  }
  std::int64_t start = 0, end = 0;
  EXPECT_FALSE(TimeCodeSpan(0x25000000, 1, 0, &start, &end)) << "hour 25";
  EXPECT_FALSE(TimeCodeSpan(0x12345630, 0, 0, &start, &end)) << "frame 30";
}

// Polls of a box in step narrow the interval to well under a millisecond in
// every mode. A jump of the code, a stop or a change of mode then starts it
// afresh, with no leftover of the old interval, and it narrows again.
TEST(SubFrameEstimatorTest, NarrowsInEveryModeAndStartsAfresh) {
  const struct {
    const char* name;
    int isPal, dropFrame;
    std::int64_t offsetUs, startMs, jumpUs;
    bool stop, modeChange;
  } cases[] = {
      {"PAL, box ahead; mode changes", 1, 0, 250000, MsOfDay(12, 0, 0, 3), 0,
       false, true},
      {"NTSC, box behind; code jumps 3 s back", 0, 0, -3000000,
       MsOfDay(12, 0, 0, 17), -3000000, false, false},
      {"drop-frame, odd microseconds; code stops", 0, 1, 123457,
       MsOfDay(12, 4, 50, 0), 0, true, false},
      {"PAL across midnight; code jumps a frame on", 1, 0, 7321,
       MsOfDay(23, 59, 55, 0), 40000, false, false},
      {"NTSC, box a day's half off", 0, 0, -43190000, MsOfDay(6, 0, 0, 0), 0,
       false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedPolls polls{c.startMs * kUsPerMs, c.offsetUs, c.isPal,
                         c.dropFrame};
    CSubFrameEstimator estimator;
    ASSERT_TRUE(estimator.Observe(polls.Next()));
    // Halfway into the 300 us that the box may have taken to read its code.
    EXPECT_EQ(estimator.SampleUtcUs(), c.startMs * kUsPerMs + 150);
    const std::int64_t frameUs = c.isPal ? 40000 : 34000;
    EXPECT_LE(estimator.WidthUs(), frameUs + kReplyLineUs);
    EXPECT_LE(std::abs(estimator.OffsetUs() - c.offsetUs), frameUs);
    for (int i = 1; i < 200; ++i) ASSERT_TRUE(estimator.Observe(polls.Next()));
    EXPECT_EQ(estimator.PollsNarrowed(), 200);
    EXPECT_LT(estimator.WidthUs(), 1500);
    EXPECT_LT(std::abs(estimator.OffsetUs() - c.offsetUs), 500);

    polls.offsetUs += c.jumpUs;
    PollTiming poll = polls.Next();
    if (c.stop) poll.running = 0;
    if (c.modeChange) {
      poll.isPal = 0;
      poll.code &= 0xFFFFFF00;  // the second's first frame, valid in NTSC
    }
    EXPECT_EQ(estimator.Observe(poll), !c.stop);
    if (!c.stop) {
      // A fresh frame-wide interval, or the first two polls' worth of it.
      const bool afresh = c.jumpUs != 0 || c.modeChange;
      EXPECT_EQ(estimator.PollsNarrowed() <= 2, afresh);
      EXPECT_EQ(estimator.WidthUs() > 1500, afresh);
    }
    for (int i = 0; i < 200; ++i) estimator.Observe(polls.Next());
    EXPECT_LT(std::abs(estimator.OffsetUs() - polls.offsetUs), 500);
  }
}

}  // namespace
