// A simulated day of polling in each time code mode, against a box and a PC
// clock that misbehave in turn: the PC clock jumps and drifts, the box jumps,
// freezes, falls silent, stutters, sends garbage and short frames, the day
// changes between the two, and the right to set the clock comes and goes.
// The unit tests take each of these alone; here they follow one another at
// random. No setting may come while the box gives no running code, each one
// must land within the exchange of the box's time (so on its date), and after
// each disturbance the clock must be back in step within a bounded number of
// polls. Seeded, so every run is the same.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
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

enum Disturbance {
  kPcJump,
  kPcDrift,
  kBoxJump,
  kFreeze,
  kSilence,
  kStutter,
  kBadReplies,
  kAcrossMidnight,
  kNoRight,
  kDisturbanceKinds
};

const char* const kDisturbanceNames[kDisturbanceKinds] = {
    "PC clock jump", "PC clock drift",  "box jump",
    "box frozen",    "box silent",      "box stutters",
    "bad replies",   "across midnight", "no right to set"};

// Back in step: the PC clock less than three frames from the box's time. A
// clock two to three frames off passes the check on most polls and so is
// never set; that is the engine's tolerance.
std::int64_t InStepMs(bool pal) { return pal ? 3 * 40 : 3 * 1000 / 30; }
// Polls that a recovery may take at most: six misses before each attempt,
// and attempts that the midnight guard or a refilling code history turn
// away. Generous, since the fault it catches is a recovery that never comes.
constexpr int kMaxPollsToRecover = 3000;

struct Mode {
  const char* name;
  bool pal, dropFrame, systemTime;
  std::uint32_t seed;
};

class SoakRun {
 public:
  explicit SoakRun(const Mode& mode) : m_mode(mode), m_rng(mode.seed) {
    clock.RecordEvents(false);
    clock.SetZoneOffsetMs(mode.systemTime ? 3 * kMsPerHour : -7 * kMsPerHour);
    clock.StartAtLocal(fake::MsOf(2027, 2, 27, 20, 0, 0, 0));
    clock.OnSet([this](const fake::ClockEvent& event) { CheckSet(event); });
    box.SetMode(mode.pal, mode.dropFrame);
    box.followsUtc = mode.systemTime;
    engine.m_isPal = mode.pal;
    engine.m_useSystemTime = mode.systemTime;
  }

  void Run() {
    engine.Connect(true);
    ASSERT_EQ(engine.m_linkReady, 1);
    engine.m_setClockEnabled = 1;
    const std::int64_t end = clock.TrueUtcMs() + kMsPerDay;
    PollFor(200);
    while (clock.TrueUtcMs() < end) {
      const Disturbance kind =
          static_cast<Disturbance>(Random(kDisturbanceKinds));
      Disturb(kind);
      Recover(kind);
      PollFor(50 + Random(600));
    }
  }

  fake::FakeClock clock;
  fakes::FakeSerial box{clock};
  CTimeCodeClock engine;
  // Each fault once, with the first time it was seen.
  std::map<std::string, std::int64_t> m_faults;

 private:
  std::uint32_t Random(std::uint32_t below) { return m_rng() % below; }
  std::int64_t RandomSign() { return Random(2) ? 1 : -1; }

  // A jump of any size from a tenth of a second to three hours.
  std::int64_t RandomJumpMs() {
    switch (Random(3)) {
      case 0:
        return RandomSign() * (100 + Random(900));
      case 1:
        return RandomSign() * (1 + Random(60)) * kMsPerSecond;
      default:
        return RandomSign() * (1 + Random(180)) * 60 * kMsPerSecond;
    }
  }

  // The box's time and the PC clock's, both as local or both as UTC.
  std::int64_t BoxMs() const {
    return clock.TrueUtcMs() + m_boxOffsetMs +
           (m_mode.systemTime ? 0 : clock.ZoneOffsetMs());
  }
  std::int64_t PcMs() const {
    return m_mode.systemTime ? clock.PcUtcMs() : clock.PcLocalMs();
  }
  std::int64_t ErrorMs() const { return PcMs() - BoxMs(); }

  void Fault(const std::string& what) {
    m_faults.emplace(what, clock.TrueUtcMs());
  }

  void CheckSet(const fake::ClockEvent& event) {
    if (m_quiet || !box.lastAnswerLive)
      Fault("set while the box gave no running code");
    // The record is built from the code of the query just made: at most a
    // frame and the exchange behind the box, and on the box's date. Drop-frame
    // codes at the second where the frame correction changes come back up to
    // a frame ahead.
    const std::int64_t ahead = m_mode.dropFrame ? 35 : 5;
    const std::int64_t difference = fake::ToMs(event.time) - BoxMs();
    if (difference < -60 || difference > ahead)
      Fault("set too far from the box's time");
  }

  void PollOnce() {
    engine.Poll();
    clock.Advance(150 + Random(5));
  }
  void PollFor(int polls) {
    for (int i = 0; i < polls; ++i) PollOnce();
  }
  // Polls while the box works through its scripted replies.
  void PollScript() {
    while (box.ScriptLeft() > 0) PollOnce();
  }
  // Polls while nothing may set the clock.
  void PollQuiet(int polls) {
    m_quiet = true;
    PollFor(polls);
    m_quiet = false;
  }

  // The box keeps its offset within a day; the date check needs it whole.
  void MoveBox(std::int64_t ms) {
    box.Do((ms < 0 ? "offset " : "offset +") + std::to_string(ms));
    m_boxOffsetMs += ms;
  }

  // Odd replies with live ones among them. A step back stays a single stale
  // reply: stale replies in a row are a box whose code runs late, which no
  // engine can tell from a box that jumped, and box jumps are played apart.
  template <std::size_t N>
  void ScriptMixed(int count, const Reply (&odd)[N]) {
    Reply previous = Reply::kLive;
    for (int i = 0; i < count; ++i) {
      const std::uint32_t pick = Random(N + 1);
      Reply next = pick < N ? odd[pick] : Reply::kLive;
      if (next == Reply::kStepBack && previous == Reply::kStepBack) {
        next = Reply::kLive;
      }
      box.Script(next);
      previous = next;
    }
    PollScript();
  }

  void Disturb(Disturbance kind) {
    switch (kind) {
      case kPcJump:
        clock.JumpPcClock(RandomJumpMs());
        return;
      case kPcDrift: {
        const std::int64_t perPoll = RandomSign() * (1 + Random(4));
        const int polls = 200 + static_cast<int>(Random(1800));
        for (int i = 0; i < polls; ++i) {
          clock.JumpPcClock(perPoll);
          PollOnce();
        }
        return;
      }
      case kBoxJump: {
        // Keep the box within half a day of the true time.
        std::int64_t jump = RandomJumpMs();
        if (std::llabs(m_boxOffsetMs + jump) > 6 * kMsPerHour) jump = -jump;
        MoveBox(jump);
        return;
      }
      case kFreeze:
        box.Do("freeze on");
        PollQuiet(10 + static_cast<int>(Random(400)));
        box.Do("freeze off");
        return;
      case kSilence:
        box.Do("silence on");
        PollQuiet(10 + static_cast<int>(Random(400)));
        box.Do("silence off");
        return;
      case kStutter:
        ScriptMixed(5 + static_cast<int>(Random(60)),
                    {Reply::kRepeat, Reply::kStepBack});
        return;
      case kBadReplies:
        clock.JumpPcClock(RandomSign() * (1 + Random(30)) * kMsPerSecond);
        ScriptMixed(
            30 + static_cast<int>(Random(300)),
            {Reply::kGarbage, Reply::kSilent, Reply::kShort3, Reply::kShort5});
        return;
      case kAcrossMidnight:
        PutMidnightBetweenBoxAndPc();
        return;
      case kNoRight:
        clock.RefuseSets(true);
        clock.JumpPcClock(RandomSign() * (1 + Random(60)) * kMsPerSecond);
        PollFor(30 + static_cast<int>(Random(200)));
        clock.RefuseSets(false);
        return;
      case kDisturbanceKinds:
        return;
    }
  }

  // The box moves to just after (or before) its next midnight and the PC
  // clock to the other side of it, so that the two disagree about the day.
  void PutMidnightBetweenBoxAndPc() {
    const std::int64_t box = BoxMs();
    const std::int64_t nextMidnight = (box / kMsPerDay + 1) * kMsPerDay;
    const std::int64_t gap = (12 + Random(50)) * kMsPerSecond + Random(1000);
    std::int64_t boxTarget;
    std::int64_t pcTarget;
    if (Random(2)) {
      boxTarget = nextMidnight + Random(40) * kMsPerSecond;
      pcTarget = boxTarget - gap;
    } else {
      boxTarget = nextMidnight - Random(40) * kMsPerSecond - 1;
      pcTarget = boxTarget + gap;
    }
    MoveBox(boxTarget - box);
    clock.JumpPcClock(pcTarget - PcMs());
  }

  void Recover(Disturbance kind) {
    const std::int64_t inStepMs = InStepMs(m_mode.pal);
    for (int polls = 0;
         std::llabs(ErrorMs()) >= inStepMs && polls < kMaxPollsToRecover;
         ++polls)
      PollOnce();
    if (std::llabs(ErrorMs()) >= inStepMs) {
      Fault(std::string("no recovery after ") + kDisturbanceNames[kind]);
      // Start the next episode from a clock in step.
      clock.JumpPcClock(-ErrorMs());
    }
  }

  Mode m_mode;
  std::mt19937 m_rng;
  bool m_quiet = false;
  std::int64_t m_boxOffsetMs = 0;
};

class EngineSoak : public ::testing::TestWithParam<Mode> {};

TEST_P(EngineSoak, SetsOnlyFromRunningCodesAndRecovers) {
  const Mode& mode = GetParam();
  SoakRun run(mode);
  run.Run();
  for (const auto& [fault, atMs] : run.m_faults)
    ADD_FAILURE() << fault << ", first at " << atMs << " ms (true UTC)";
  EXPECT_GT(run.clock.SetsTaken(), 10);
  EXPECT_GT(run.clock.SetsRefused(), 0);
}

// A day in each time code mode; local and system time take turns, as the
// unit tests set the clock from both in every mode.
const Mode kModes[] = {
    {"PALsystem", true, false, true, 20261207u},
    {"NTSClocal", false, false, false, 20261208u},
    {"NTSCdroplocal", false, true, false, 20261210u},
};

INSTANTIATE_TEST_SUITE_P(AllModes, EngineSoak, ::testing::ValuesIn(kModes),
                         [](const ::testing::TestParamInfo<Mode>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
