// A simulated day of polling in each time code mode, against a box and a PC
// clock that misbehave in turn at random: the PC clock jumps, the box jumps,
// freezes, falls silent, stutters, sends garbage and short frames, and the day
// changes under both. No setting may come while the box gives no running
// code, each one must land within the exchange of the box's time (so on its
// date), and after each disturbance the clock must be back in step within a
// bounded number of polls. Seeded, so every run is the same.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <map>
#include <random>
#include <string>

#include "clock/time_code_clock.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_serial.h"

namespace {

using fake::kMsPerDay;
using fake::kMsPerHour;
using fake::kMsPerSecond;
using fakes::Reply;

const char* const kDisturbances[] = {"PC clock jump", "box jump", "box frozen",
                                     "box silent", "odd replies"};

// Polls that a recovery may take at most: six misses before each attempt,
// and attempts that the midnight guard or a refilling code history turn
// away. Generous, since the fault it catches is a recovery that never comes.
constexpr int kMaxPollsToRecover = 3000;

struct Mode {
  const char* name;
  const char* boxMode;  // the simulator's command
  bool pal, dropFrame, systemTime;
  std::uint32_t seed;
};

class EngineSoak : public ::testing::TestWithParam<Mode> {
 protected:
  void SetUp() override {
    clock.RecordEvents(false);
    clock.SetZoneOffsetMs(mode.systemTime ? 3 * kMsPerHour : -7 * kMsPerHour);
    clock.StartAtLocal(fake::MsOf(2027, 2, 27, 20, 0, 0, 0));
    clock.OnSet([this](const fake::ClockEvent& event) { CheckSet(event); });
    box.Do(mode.boxMode);
    box.followsUtc = mode.systemTime;
    engine.m_isPal = mode.pal;
    engine.m_useSystemTime = mode.systemTime;
  }

  std::uint32_t Random(std::uint32_t below) { return rng() % below; }
  std::int64_t RandomSign() { return Random(2) ? 1 : -1; }
  // Under a second, under a minute or under an hour, either way.
  std::int64_t RandomJumpMs() {
    const std::int64_t scale[] = {1, 60, 3600};
    return RandomSign() * (100 + Random(900)) * scale[Random(3)];
  }

  // The box's time and the PC clock's, both as local or both as UTC.
  std::int64_t BoxMs() const {
    return clock.TrueUtcMs() + boxOffsetMs +
           (mode.systemTime ? 0 : clock.ZoneOffsetMs());
  }
  std::int64_t ErrorMs() const {
    return (mode.systemTime ? clock.PcUtcMs() : clock.PcLocalMs()) - BoxMs();
  }

  void CheckSet(const fake::ClockEvent& event) {
    if (quiet || !box.lastAnswerLive)
      faults.emplace("set while the box gave no running code",
                     clock.TrueUtcMs());
    // The record is built from the code of the query just made: at most a
    // frame and the exchange behind the box, and on the box's date. Drop-frame
    // codes at the second where the frame correction changes come back up to
    // a frame ahead.
    const std::int64_t difference = fake::ToMs(event.time) - BoxMs();
    if (difference < -60 || difference > (mode.dropFrame ? 35 : 5))
      faults.emplace("set too far from the box's time", clock.TrueUtcMs());
  }

  void PollFor(int polls) {
    for (int i = 0; i < polls; ++i) {
      engine.Poll();
      clock.Advance(150 + Random(5));
    }
  }
  // While the box is frozen or silent nothing may set the clock.
  void PollQuietWith(const std::string& state) {
    box.Do(state + " on");
    quiet = true;
    PollFor(10 + static_cast<int>(Random(400)));
    quiet = false;
    box.Do(state + " off");
  }
  // The box keeps its offset within a day; the date check needs it whole.
  void MoveBox(std::int64_t ms) {
    box.Do((ms < 0 ? "offset " : "offset +") + std::to_string(ms));
    boxOffsetMs += ms;
  }
  void Disturb(int kind) {
    switch (kind) {
      case 0:
        clock.JumpPcClock(RandomJumpMs());
        break;
      case 1: {
        // Keep the box within a quarter of a day of the true time.
        const std::int64_t jump = RandomJumpMs();
        MoveBox(std::llabs(boxOffsetMs + jump) > 6 * kMsPerHour ? -jump : jump);
        break;
      }
      case 2:
        PollQuietWith("freeze");
        break;
      case 3:
        PollQuietWith("silence");
        break;
      case 4: {
        // Odd replies with live ones among them, while the PC clock needs
        // setting. A step back stays a single stale reply: stale replies in a
        // row are a box whose code runs late, which no engine can tell from a
        // box that jumped, and box jumps are played apart.
        clock.JumpPcClock(RandomSign() * (1 + Random(30)) * kMsPerSecond);
        const Reply odd[] = {Reply::kLive,    Reply::kRepeat, Reply::kStepBack,
                             Reply::kGarbage, Reply::kSilent, Reply::kShort3,
                             Reply::kShort5};
        Reply previous = Reply::kLive;
        for (int i = 30 + static_cast<int>(Random(300)); i > 0; --i) {
          Reply next = odd[Random(std::size(odd))];
          if (next == Reply::kStepBack && previous == next) next = Reply::kLive;
          box.Script(next);
          previous = next;
        }
        while (box.ScriptLeft() > 0) PollFor(1);
        break;
      }
    }
  }

  // Back in step: the PC clock less than three frames from the box's time. A
  // clock two to three frames off passes the check on most polls and so is
  // never set; that is the engine's tolerance.
  void Recover(int kind) {
    const std::int64_t inStepMs = mode.pal ? 3 * 40 : 3 * 1000 / 30;
    for (int polls = 0;
         std::llabs(ErrorMs()) >= inStepMs && polls < kMaxPollsToRecover;
         ++polls)
      PollFor(1);
    if (std::llabs(ErrorMs()) >= inStepMs) {
      faults.emplace(std::string("no recovery after ") + kDisturbances[kind],
                     clock.TrueUtcMs());
      clock.JumpPcClock(-ErrorMs());  // the next episode starts in step
    }
  }

  const Mode mode = GetParam();
  std::mt19937 rng{mode.seed};
  fake::FakeClock clock;
  fakes::FakeSerial box{clock};
  CTimeCodeClock engine;
  bool quiet = false;
  std::int64_t boxOffsetMs = 0;
  // Each fault once, with the first time (true UTC) it was seen.
  std::map<std::string, std::int64_t> faults;
};

TEST_P(EngineSoak, SetsOnlyFromRunningCodesAndRecovers) {
  engine.Connect(true);
  ASSERT_EQ(engine.m_linkReady, 1);
  engine.m_setClockEnabled = 1;
  const std::int64_t end = clock.TrueUtcMs() + kMsPerDay;
  PollFor(200);
  while (clock.TrueUtcMs() < end) {
    const int kind = static_cast<int>(Random(std::size(kDisturbances)));
    Disturb(kind);
    Recover(kind);
    PollFor(50 + static_cast<int>(Random(600)));
  }
  for (const auto& [fault, atMs] : faults)
    ADD_FAILURE() << fault << ", first at " << atMs << " ms";
  EXPECT_GT(clock.SetsTaken(), 10);
}

// A day in each time code mode; local and system time take turns, as the
// unit tests set the clock from both in every mode.
const Mode kModes[] = {
    {"PALsystem", "mode pal", true, false, true, 20261207u},
    {"NTSClocal", "mode ntsc", false, false, false, 20261208u},
    {"NTSCdroplocal", "mode ntsc-df", false, true, false, 20261210u},
};

INSTANTIATE_TEST_SUITE_P(AllModes, EngineSoak, ::testing::ValuesIn(kModes),
                         [](const ::testing::TestParamInfo<Mode>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
