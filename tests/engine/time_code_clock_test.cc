#include "clock/time_code_clock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <tuple>
#include <vector>

#include "link/user_notice.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_serial.h"

namespace {

using fake::ClockCall;
using fake::MsOf;
using fakes::Reply;

int g_connectNotices = 0;
void CountNotice(UserNotice notice) {
  if (notice == UserNotice::kConnectFailed) ++g_connectNotices;
}

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_connectNotices = 0;
    SetUserNoticeHandler(CountNotice);
    engine.m_isPal = 0;
    engine.m_useSystemTime = 0;
  }
  void TearDown() override { SetUserNoticeHandler(nullptr); }

  void StartLocal(int hour, int minute, int second, int ms) {
    clock.StartAtLocal(MsOf(2026, 3, 14, hour, minute, second, ms));
  }
  void ConnectReady() {
    engine.Connect(true);
    ASSERT_EQ(engine.m_linkReady, 1);
  }
  void ResetHistory() {
    engine.m_recentCodes[0] = engine.m_recentCodes[1] =
        engine.m_recentCodes[2] = 0;
    engine.m_missCount = 0;
  }
  // History that any code above `code` continues as a running code.
  void PrimeHistoryBelow(PackedTimeCode code) {
    engine.m_recentCodes[0] = code - 1;
    engine.m_recentCodes[1] = code - 2;
    engine.m_recentCodes[2] = code - 3;
  }
  std::vector<int> PollResults(int count) {
    std::vector<int> results;
    for (int i = 0; i < count; ++i) {
      results.push_back(engine.Poll());
      clock.Advance(150);
    }
    return results;
  }

  fake::FakeClock clock;
  fakes::FakeSerial box{clock};
  CTimeCodeClock engine;
};

// ---- One check against the clock -------------------------------------------

TEST_F(EngineTest, CheckComparesAtFrameResolution) {
  const struct {
    const char* name;
    int isPal;
    int second, ms;
    PackedTimeCode code;  // as the reply's four bytes read
    int expected, dropFrameAfter;
  } cases[] = {
      {"NTSC in step", 0, 56, 789, 0x12345622, 1, 0},
      {"NTSC into the next second", 0, 56, 789, 0x12345702, 0, 0},
      {"PAL two frames behind", 1, 56, 789, 0x12345617, 1, 0},
      {"PAL three frames behind", 1, 56, 789, 0x12345616, 0, 0},
      {"PAL ignores the drop-frame bit", 1, 56, 789, 0x12345659, 1, 0},
      {"drop-frame flag from the reply", 0, 40, 0, 0x12343969, 1, 1},
      {"same code without the flag", 0, 40, 0, 0x12343929, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    engine.Connect(false);
    engine.m_isPal = c.isPal;
    engine.m_dropFrame = 0;
    ConnectReady();
    StartLocal(12, 34, c.second, c.ms);
    PrimeHistoryBelow(0x00000010);
    box.ScriptCode(c.code);
    EXPECT_EQ(engine.CheckAgainstClock(), c.expected);
    EXPECT_EQ(engine.m_noTimeCode, 0);
    EXPECT_EQ(engine.m_dropFrame, c.dropFrameAfter);
    EXPECT_EQ(engine.m_recentCodes[0], c.code & kTimeCodeMask);
  }
}

TEST_F(EngineTest, CheckReadsLocalOrSystemTimeAsConfigured) {
  clock.SetZoneOffsetMs(2 * fake::kMsPerHour);
  ConnectReady();
  clock.StartAtUtc(MsOf(2026, 3, 14, 10, 0, 0, 500));  // local 12:00:00.500
  const struct {
    int useSystemTime;
    std::uint8_t hours;
    ClockCall read;
    int expected;
  } cases[] = {
      {1, 0x10, ClockCall::kGetSystem, 1},
      {1, 0x12, ClockCall::kGetSystem, 0},
      {0, 0x12, ClockCall::kGetLocal, 1},
      {0, 0x10, ClockCall::kGetLocal, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.useSystemTime);
    engine.m_useSystemTime = c.useSystemTime;
    PrimeHistoryBelow(0x00000010);
    clock.ClearEvents();
    box.ScriptCode(static_cast<PackedTimeCode>(c.hours) << 24 | 0x15);
    EXPECT_EQ(engine.CheckAgainstClock(), c.expected);
    ASSERT_FALSE(clock.Events().empty());
    EXPECT_EQ(clock.Events().front().call, c.read);
    // The poll's timing is in the code's frame, with UTC beside it.
    const PollTiming& poll = engine.m_lastPoll;
    EXPECT_EQ(poll.beforeUs, fake::ToMs(clock.Events().front().time) * 1000);
    EXPECT_GT(poll.afterUs, poll.beforeUs);
    EXPECT_EQ(poll.beforeUs - poll.beforeUtcUs,
              c.useSystemTime ? 0 : 2 * fake::kMsPerHour * 1000);
    EXPECT_EQ(poll.code, PackTimeCode(0x15, 0x00, 0x00, c.hours));
  }
}

TEST_F(EngineTest, HistoryAfterLostRepeatedAndBackwardCodes) {
  ConnectReady();
  const struct {
    const char* name;
    std::vector<PackedTimeCode> codes;  // 0 stands for a lost reply
    std::vector<int> noTimeCode;
  } cases[] = {
      {"lost reply",
       {0x12000001, 0x12000002, 0, 0x12000004, 0x12000005},
       {1, 0, 1, 1, 0}},
      {"repeat",
       {0x12000001, 0x12000002, 0x12000003, 0x12000003, 0x12000004, 0x12000005},
       {1, 0, 0, 1, 1, 0}},
      {"midnight step",
       {0x23595928, 0x23595929, 0x00000001, 0x00000002, 0x00000003},
       {1, 0, 1, 1, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ResetHistory();
    for (std::size_t i = 0; i < c.codes.size(); ++i) {
      if (c.codes[i] == 0) {
        box.Script(Reply::kSilent);
      } else {
        box.ScriptCode(c.codes[i]);
      }
      const PackedTimeCode before = engine.m_recentCodes[1];
      const int result = engine.CheckAgainstClock();
      if (c.noTimeCode[i]) {
        EXPECT_EQ(result, 1);
      }
      EXPECT_EQ(engine.m_noTimeCode, c.noTimeCode[i]) << "check " << i;
      EXPECT_EQ(engine.m_lastPoll.running, 1 - c.noTimeCode[i]);
      if (c.codes[i] == 0) {
        EXPECT_EQ(engine.m_recentCodes[0], before);
      }
    }
  }
}

// ---- Minute boundary
// ---------------------------------------------------------

TEST_F(EngineTest, MinuteBoundarySleepsPastTheEdge) {
  const struct {
    int second, ms;
    std::vector<std::uint32_t> sleeps;
    int lastSecond, lastMs;
  } cases[] = {
      {59, 900, {}, 59, 900},
      {59, 901, {100, 75, 75}, 0, 151},
      {59, 950, {100, 75, 75}, 0, 200},
      {0, 149, {75}, 0, 224},
      {0, 150, {}, 0, 150},
  };
  ConnectReady();
  box.Do("mode pal");
  engine.m_isPal = 1;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ms);
    StartLocal(12, c.second == 59 ? 0 : 1, c.second, c.ms);
    PrimeHistoryBelow(0x12000000);
    clock.ClearEvents();
    // The box is in step with the last reading only: the check must compare
    // with that one.
    EXPECT_EQ(engine.CheckAgainstClock(), 1);
    EXPECT_EQ(clock.Sleeps(), c.sleeps);
    const auto reads = clock.EventsOf(ClockCall::kGetLocal);
    ASSERT_EQ(reads.size(), c.sleeps.size() + 1);
    EXPECT_EQ(reads.back().time.wSecond, c.lastSecond);
    EXPECT_EQ(reads.back().time.wMilliseconds, c.lastMs);
  }
}

// ---- Poll and the miss count
// -------------------------------------------------

TEST_F(EngineTest, SixthMissSetsTheClockOnlyWhenAllowed) {
  for (int enabled : {1, 0}) {
    SCOPED_TRACE(enabled);
    engine.Connect(false);
    ConnectReady();
    ResetHistory();
    engine.m_setClockEnabled = enabled;
    StartLocal(12, 0, 10, 0);
    box.Do("offset 5000");
    clock.ClearEvents();
    EXPECT_EQ(engine.Poll(), 0);  // not running yet: no miss
    clock.Advance(150);
    std::vector<int> results;
    std::vector<std::uint32_t> counts;
    for (int i = 0; i < 6; ++i) {
      results.push_back(engine.Poll());
      counts.push_back(engine.m_missCount);
      clock.Advance(150);
    }
    EXPECT_EQ(results, (std::vector<int>{0, 0, 0, 0, 0, enabled}));
    EXPECT_EQ(counts, (std::vector<std::uint32_t>{1, 2, 3, 4, 5, 0}));
    EXPECT_EQ(clock.EventsOf(ClockCall::kSetLocal).size(),
              static_cast<std::size_t>(enabled));
    engine.Poll();
    EXPECT_EQ(engine.m_missCount, enabled ? 0u : 1u);
  }
}

TEST_F(EngineTest, MissCountRestartsAfterAHitOrNoRunningCode) {
  for (Reply ending : {Reply::kLive, Reply::kSilent}) {
    SCOPED_TRACE(static_cast<int>(ending));
    engine.Connect(false);
    ConnectReady();
    engine.m_setClockEnabled = 1;
    box.Do("offset 5000");
    PollResults(6);
    ASSERT_EQ(engine.m_missCount, 5u);
    if (ending == Reply::kLive) box.Do("offset 0");
    box.Script(ending);
    EXPECT_EQ(engine.Poll(), 0);
    EXPECT_EQ(engine.m_missCount, 0u);
    EXPECT_TRUE(clock.EventsOf(ClockCall::kSetLocal).empty());
    box.Do("offset 5000");
  }
}

TEST_F(EngineTest, RefusedSetWaitsForSixMoreMisses) {
  ConnectReady();
  engine.m_setClockEnabled = 1;
  clock.RefuseSets(true);
  box.Do("offset 5000");
  const std::vector<int> first = PollResults(7);
  EXPECT_EQ(first, std::vector<int>(7, 0));
  EXPECT_EQ(PollResults(6), std::vector<int>(6, 0));
  EXPECT_EQ(clock.SetsRefused(), 2);  // on the 7th and the 13th poll
  clock.RefuseSets(false);
  EXPECT_EQ(PollResults(6), (std::vector<int>{0, 0, 0, 0, 0, 1}));
}

// After the set, the box and the clock agree in every mode and zone.
TEST_F(EngineTest, SettingBringsTheClockIntoStepInEveryMode) {
  clock.SetZoneOffsetMs(-5 * fake::kMsPerHour);
  const struct {
    bool pal, dropFrame;
    int useSystemTime;
  } cases[] = {{true, false, 0},  {true, false, 1}, {false, false, 0},
               {false, false, 1}, {false, true, 0}, {false, true, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.pal << c.dropFrame << c.useSystemTime);
    engine.Connect(false);
    engine.m_isPal = c.pal;
    engine.m_useSystemTime = c.useSystemTime;
    engine.m_setClockEnabled = 1;
    ConnectReady();
    ResetHistory();
    box.SetMode(c.pal, c.dropFrame);
    box.followsUtc = c.useSystemTime;
    box.Do("offset 0");
    StartLocal(15, 12, 31, 0);
    clock.JumpPcClock(-7300);
    clock.ClearEvents();
    const std::vector<int> results = PollResults(7);
    EXPECT_EQ(results.back(), 1);
    const auto setCall =
        c.useSystemTime ? ClockCall::kSetSystem : ClockCall::kSetLocal;
    EXPECT_EQ(clock.EventsOf(setCall).size(), 1u);
    EXPECT_LT(std::abs(clock.PcErrorMs()), 80);
    // A box in step still misses now and then, when the reading and its
    // code fall on either side of a second; never six times in a row.
    int misses = 0;
    for (int i = 0; i < 200; ++i, clock.Advance(150)) {
      EXPECT_EQ(engine.Poll(), 0) << "poll " << i;
      misses += engine.m_missCount > 0 ? 1 : 0;
    }
    EXPECT_LE(misses, 20);
    EXPECT_EQ(engine.m_dropFrame, c.pal ? 0 : c.dropFrame);
  }
}

// ---- Setting the clock
// -------------------------------------------------------

TEST_F(EngineTest, SettingNeedsAFourthLargerCode) {
  ConnectReady();
  StartLocal(12, 0, 0, 0);
  const struct {
    const char* name;
    PackedTimeCode history[3];
    int expected;
  } cases[] = {
      {"running", {0x12000110, 0x12000105, 0x12000100}, 1},
      {"same as the last check", {0x12000120, 0x12000110, 0x12000100}, 0},
      {"history not running", {0x12000110, 0x12000110, 0x12000100}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::memcpy(engine.m_recentCodes, c.history, sizeof c.history);
    engine.m_noTimeCode = c.expected;  // the outcome must set it either way
    box.ScriptCode(0x12000120);
    EXPECT_EQ(engine.SetClockFromTimeCode(), c.expected);
    EXPECT_EQ(engine.m_noTimeCode, 1 - c.expected);
    EXPECT_EQ(0,
              std::memcmp(engine.m_recentCodes, c.history, sizeof c.history));
  }
}

// The previous reply's bytes, with a new frames byte, would look like a
// running code: a reply without a whole time code must count as none.
TEST_F(EngineTest, RepliesWithoutAWholeTimeCodeCountAsNone) {
  ConnectReady();
  StartLocal(12, 0, 0, 0);
  for (Reply reply :
       {Reply::kShort3, Reply::kShort5, Reply::kSilent, Reply::kGarbage}) {
    SCOPED_TRACE(static_cast<int>(reply));
    for (PackedTimeCode code : {0x12000105u, 0x12000106u, 0x12000107u}) {
      box.ScriptCode(code);
      engine.CheckAgainstClock();
    }
    ASSERT_EQ(engine.m_noTimeCode, 0);
    box.Script(reply);
    EXPECT_EQ(engine.SetClockFromTimeCode(), 0);
    EXPECT_EQ(engine.m_noTimeCode, 0);
    box.Script(reply);
    EXPECT_EQ(engine.CheckAgainstClock(), 1);
    EXPECT_EQ(engine.m_noTimeCode, 1);
    EXPECT_EQ(engine.m_recentCodes[0], 0x12000106u);
    EXPECT_EQ(engine.m_recentCodes[1], 0x12000106u);
  }
  EXPECT_EQ(clock.SetsTaken() + clock.SetsRefused(), 0);
}

TEST_F(EngineTest, MidnightGuardEdges) {
  ConnectReady();
  const struct {
    int hour, minute, second;
    PackedTimeCode code;
    int expected;
  } cases[] = {
      {23, 59, 50, 0x23594000, 1},
      {23, 59, 51, 0x23594000, 0},
      {23, 59, 59, 0x23594000, 0},
      {0, 0, 0, 0x00002000, 0},
      {0, 0, 9, 0x00002000, 0},
      {0, 0, 10, 0x00002000, 1},
      // The same seconds in the neighbouring minutes and hours.
      {23, 58, 55, 0x23584000, 1},
      {22, 59, 55, 0x22594000, 1},
      {0, 1, 5, 0x00010000, 1},
      {1, 0, 5, 0x01000000, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.hour << ":" << c.minute << ":" << c.second);
    StartLocal(c.hour, c.minute, c.second, 0);
    PrimeHistoryBelow(c.code);
    box.ScriptCode(c.code);
    const int before = clock.SetsTaken();
    EXPECT_EQ(engine.SetClockFromTimeCode(), c.expected);
    EXPECT_EQ(clock.SetsTaken() - before, c.expected);
  }
}

TEST_F(EngineTest, SettingKeepsTheDateNearestToTheReading) {
  ConnectReady();
  const struct {
    const char* name;
    std::int64_t reading;
    PackedTimeCode code;
    std::int64_t expected;
  } cases[] = {
      {"same day", MsOf(2026, 3, 14, 12, 0, 0, 0), 0x12000500,
       MsOf(2026, 3, 14, 12, 0, 5, 0)},
      {"code past midnight", MsOf(2026, 3, 14, 23, 59, 45, 0), 0x00000100,
       MsOf(2026, 3, 15, 0, 0, 1, 0)},
      {"code before midnight", MsOf(2026, 3, 15, 0, 0, 15, 0), 0x23595500,
       MsOf(2026, 3, 14, 23, 59, 55, 0)},
      {"into a new year", MsOf(2026, 12, 31, 23, 59, 40, 0), 0x00000500,
       MsOf(2027, 1, 1, 0, 0, 5, 0)},
      {"back into a leap day", MsOf(2024, 3, 1, 0, 0, 20, 0), 0x23595000,
       MsOf(2024, 2, 29, 23, 59, 50, 0)},
      {"back into February", MsOf(2026, 3, 1, 0, 0, 20, 0), 0x23595000,
       MsOf(2026, 2, 28, 23, 59, 50, 0)},
      {"back into the old year", MsOf(2027, 1, 1, 0, 1, 0, 0), 0x23590000,
       MsOf(2026, 12, 31, 23, 59, 0, 0)},
      {"exactly twelve hours", MsOf(2026, 3, 14, 0, 30, 0, 0), 0x12300000,
       MsOf(2026, 3, 14, 12, 30, 0, 0)},
      {"just over twelve hours", MsOf(2026, 3, 14, 0, 30, 0, 0), 0x12300010,
       MsOf(2026, 3, 13, 12, 30, 0, 333)},
      // Away from midnight every field of the reading weighs in.
      {"a frame short of twelve hours", MsOf(2026, 3, 14, 6, 45, 10, 700),
       0x18451020, MsOf(2026, 3, 14, 18, 45, 10, 666)},
      {"a frame past twelve hours", MsOf(2026, 3, 14, 6, 45, 10, 600),
       0x18451020, MsOf(2026, 3, 13, 18, 45, 10, 666)},
      {"a second past twelve hours", MsOf(2026, 3, 14, 6, 45, 10, 700),
       0x18451120, MsOf(2026, 3, 13, 18, 45, 11, 666)},
      {"a minute past twelve hours", MsOf(2026, 3, 14, 6, 45, 10, 700),
       0x18461020, MsOf(2026, 3, 13, 18, 46, 10, 666)},
      {"twelve hours the other way", MsOf(2026, 3, 14, 18, 45, 10, 700),
       0x06451000, MsOf(2026, 3, 15, 6, 45, 10, 0)},
      {"not quite twelve hours back", MsOf(2026, 3, 14, 18, 45, 10, 700),
       0x06451100, MsOf(2026, 3, 14, 6, 45, 11, 0)},
  };
  std::uint32_t taken = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    clock.StartAtLocal(c.reading);
    clock.ClearEvents();
    PrimeHistoryBelow(c.code);
    box.ScriptCode(c.code);
    ASSERT_EQ(engine.SetClockFromTimeCode(), 1);
    const auto sets = clock.EventsOf(ClockCall::kSetLocal);
    ASSERT_EQ(sets.size(), 1u);
    const platform::SYSTEMTIME& got = sets[0].time;
    EXPECT_EQ(fake::ToMs(got), c.expected);
    EXPECT_EQ(got.wDayOfWeek, fake::ToRecord(c.expected).wDayOfWeek);
    // What the owner is told: from the reading taken after the query, to
    // the record handed over, by their difference the short way round.
    const ClockFigures& f = engine.m_figures;
    const std::int64_t from =
        fake::ToMs(clock.EventsOf(ClockCall::kGetLocal).back().time);
    EXPECT_EQ(fake::ToMs(f.setFrom), from);
    EXPECT_EQ(fake::ToMs(f.setTo), c.expected);
    EXPECT_EQ(f.setByMs, c.expected - from);
    EXPECT_EQ(f.setAccepted, 1);
    EXPECT_EQ(f.settingsTaken, ++taken);
  }
  clock.RefuseSets(true);
  PrimeHistoryBelow(0x12000000);
  box.ScriptCode(0x12000000);
  EXPECT_EQ(engine.SetClockFromTimeCode(), 0);
  EXPECT_EQ(engine.m_figures.setAccepted, 0);
  EXPECT_EQ(engine.m_figures.setError, fake::kSetRefusedError);
  EXPECT_EQ(engine.m_figures.settingsTaken, taken);
  EXPECT_EQ(engine.m_figures.settingsRefused, 1u);
}

// What the owner is told of each comparison: the difference, the short way
// round midnight.
TEST_F(EngineTest, FiguresTellTheOwnerWhatTheEngineSawAndDid) {
  ConnectReady();
  engine.m_isPal = 1;
  const struct {
    const char* name;
    std::int64_t reading;
    Reply reply;
    PackedTimeCode code;
    int answered, compared, differenceMs;
  } checks[] = {
      {"PC clock ahead", MsOf(2026, 3, 14, 12, 34, 56, 789), Reply::kLive,
       0x12345617, 1, 1, -109},
      {"code past midnight", MsOf(2026, 3, 14, 23, 59, 58, 0), Reply::kLive,
       0x00000100, 1, 1, 3000},
      {"code before midnight", MsOf(2026, 3, 15, 0, 0, 1, 0), Reply::kLive,
       0x23595800, 1, 1, -3000},
      {"box silent", MsOf(2026, 3, 15, 0, 0, 1, 0), Reply::kSilent, 0, 0, 0, 0},
  };
  for (const auto& c : checks) {
    SCOPED_TRACE(c.name);
    clock.StartAtLocal(c.reading);
    PrimeHistoryBelow(c.code == 0 ? 1 : c.code);
    if (c.reply == Reply::kLive) {
      box.ScriptCode(c.code);
    } else {
      box.Script(c.reply);
    }
    engine.CheckAgainstClock();
    EXPECT_EQ(engine.m_figures.boxAnswered, c.answered);
    EXPECT_EQ(engine.m_figures.compared, c.compared);
    if (c.compared) {
      EXPECT_EQ(engine.m_figures.differenceMs, c.differenceMs);
    }
  }
  ResetHistory();
  box.ScriptCode(0x12000005);
  engine.CheckAgainstClock();
  EXPECT_EQ(engine.m_figures.compared, 0) << "a code that does not run";
  EXPECT_EQ(engine.m_figures.lastCode, 0x12000005u);
}

// ---- Connecting
// --------------------------------------------------------------

// Port open, line configured, link ready.
using Flags = std::tuple<int, int, int>;

Flags FlagsOf(const CTimeCodeClock& engine) {
  return {engine.m_portOpen, engine.m_lineConfigured, engine.m_linkReady};
}

TEST_F(EngineTest, ConnectStateTable) {
  const Flags closed = {0, 0, 0}, ready = {1, 1, 1}, heldOpen = {1, 0, 0};
  const struct {
    const char* name;
    bool failOpen, failGetState, answerHello, failClose;
    Flags after;
    int notices, opens, setStates, timeouts, closes;
  } cases[] = {
      {"box answers", false, false, true, false, ready, 0, 1, 1, 1, 0},
      {"port missing", true, false, true, false, closed, 1, 0, 0, 0, 0},
      {"line settings fail", false, true, true, false, closed, 1, 1, 0, 1, 1},
      {"box silent", false, false, false, false, closed, 1, 1, 1, 1, 1},
      {"box silent, close fails", false, false, false, true, heldOpen, 1, 1, 1,
       1, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fakes::FakeSerial caseBox(clock);
    caseBox.failOpen = c.failOpen;
    caseBox.failGetState = c.failGetState;
    caseBox.answerHello = c.answerHello;
    caseBox.failClose = c.failClose;
    g_connectNotices = 0;
    {
      CTimeCodeClock caseEngine;
      caseEngine.Connect(true);
      EXPECT_EQ(FlagsOf(caseEngine), c.after);
      EXPECT_EQ(g_connectNotices, c.notices);
      EXPECT_EQ(caseBox.opens, c.opens);
      EXPECT_EQ(caseBox.CountCalls("SetState"), c.setStates);
      EXPECT_EQ(caseBox.CountCalls("SetTimeouts"), c.timeouts);
      EXPECT_EQ(caseBox.CountCalls("Close"), c.closes);
      caseBox.failClose = false;
    }
    // The destructor disconnects (a device whose close failed is gone from
    // the link all the same).
    if (!c.failClose) {
      EXPECT_FALSE(caseBox.isOpen());
    }
  }
  platform::UseSerialBackend(&box);
}

TEST_F(EngineTest, ConnectedEngineRepeatsOnlyTheHandshake) {
  engine.m_comPort = 3;
  ConnectReady();
  EXPECT_EQ(box.lastName, "COM3");
  const int hellos = box.hellos;
  ConnectReady();
  EXPECT_EQ(box.opens, 1);
  EXPECT_EQ(box.CountCalls("SetState"), 1);
  EXPECT_EQ(box.hellos, 2 * hellos);
  // A handshake that fails on a connected engine closes the port.
  box.answerHello = false;
  engine.Connect(true);
  EXPECT_EQ(FlagsOf(engine), (Flags{0, 0, 0}));
  EXPECT_EQ(g_connectNotices, 1);
}

TEST_F(EngineTest, HeldStatesWhenClosingFails) {
  // Held ready: disconnecting could not close the port.
  ConnectReady();
  box.failClose = true;
  engine.Connect(false);
  EXPECT_EQ(FlagsOf(engine), (Flags{1, 1, 1}));
  // The link has given the handle up all the same, so the handshake that a
  // connect repeats finds no port, and the engine ends closed.
  box.failClose = false;
  engine.Connect(true);
  EXPECT_EQ(FlagsOf(engine), (Flags{0, 0, 0}));
  EXPECT_EQ(g_connectNotices, 1);

  // Held open: a failed connect could not close the port.
  box.answerHello = false;
  box.failClose = true;
  engine.Connect(true);
  EXPECT_EQ(FlagsOf(engine), (Flags{1, 0, 0}));
  EXPECT_EQ(box.opens, 2);
  // From held open the line settings are tried again without a new open.
  box.answerHello = true;
  box.failClose = false;
  engine.Connect(true);
  EXPECT_EQ(box.opens, 2);
  EXPECT_EQ(FlagsOf(engine), (Flags{0, 0, 0}));
  // And the next connect starts afresh.
  ConnectReady();
  EXPECT_EQ(box.opens, 3);
  engine.Connect(false);
  engine.Connect(false);
  EXPECT_EQ(FlagsOf(engine), (Flags{0, 0, 0}));
}

TEST_F(EngineTest, FormatTimeCodeShowsTheLatestReply) {
  ConnectReady();
  box.ScriptCode(0x12345663);
  engine.CheckAgainstClock();
  char text[12];
  EXPECT_EQ(engine.FormatTimeCode(text), 11);
  EXPECT_STREQ(text, "12:34:56:23");
}

}  // namespace
