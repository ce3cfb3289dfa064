#include "clock/time_code_clock.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
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

std::int64_t At(int hour, int minute, int second, int ms) {
  return MsOf(2026, 3, 14, hour, minute, second, ms);
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

  void ConnectReady() {
    engine.Connect(true);
    ASSERT_EQ(engine.m_linkReady, 1);
  }
  // History that any code above `code` continues as a running code.
  void PrimeHistoryBelow(PackedTimeCode code) {
    engine.m_recentCodes[0] = code - 1;
    engine.m_recentCodes[1] = code - 2;
    engine.m_recentCodes[2] = code - 3;
  }
  // The box's next reply: `code`, or nothing at all for 0.
  void Answer(PackedTimeCode code) {
    code == 0 ? box.Script(Reply::kSilent) : box.ScriptCode(code);
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

// At frame resolution, against local or system time as configured, and what
// the owner is told of it: the difference the short way round midnight.
TEST_F(EngineTest, CheckComparesAtFrameResolution) {
  constexpr std::int64_t kZoneMs = 2 * fake::kMsPerHour;
  clock.SetZoneOffsetMs(kZoneMs);
  ConnectReady();
  const std::int64_t t = At(12, 34, 56, 789);
  const struct {
    const char* name;
    int isPal, useSystemTime;
    std::int64_t reading;  // local
    PackedTimeCode code;   // as the reply's four bytes read; 0: no reply
    int expected, dropFrameAfter, differenceMs;
  } cases[] = {
      {"NTSC in step", 0, 0, t, 0x12345622, 1, 0, -57},
      {"NTSC into the next second", 0, 0, t, 0x12345702, 0, 0, 277},
      {"PAL two frames behind", 1, 0, t, 0x12345617, 1, 0, -109},
      {"PAL three frames behind", 1, 0, t, 0x12345616, 0, 0, -149},
      {"PAL ignores the drop-frame bit", 1, 0, t, 0x12345659, 1, 0, -29},
      {"drop-frame flag from the reply", 0, 0, At(12, 34, 40, 0), 0x12343969, 1,
       1, 0},
      {"same code without the flag", 0, 0, At(12, 34, 40, 0), 0x12343929, 0, 0,
       -35},
      {"system time", 0, 1, At(12, 0, 0, 500), 0x10000015, 1, 0, -1},
      {"system time is not local", 0, 1, At(12, 0, 0, 500), 0x12000015, 0, 0,
       kZoneMs - 1},
      {"code past midnight", 1, 0, At(23, 59, 58, 0), 0x00000100, 0, 0, 3000},
      {"code before midnight", 1, 0, At(0, 0, 1, 0), 0x23595800, 0, 0, -3000},
      {"box silent", 0, 0, At(0, 0, 1, 0), 0, 1, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    engine.m_isPal = c.isPal;
    engine.m_useSystemTime = c.useSystemTime;
    engine.m_dropFrame = 0;
    clock.StartAtLocal(c.reading);
    PrimeHistoryBelow(0x00000010);
    Answer(c.code);
    EXPECT_EQ(engine.CheckAgainstClock(), c.expected);
    const int live = c.code != 0;
    const ClockFigures& f = engine.m_figures;
    EXPECT_EQ(std::make_tuple(engine.m_noTimeCode, engine.m_dropFrame,
                              f.boxAnswered, f.compared),
              std::make_tuple(1 - live, c.dropFrameAfter, live, live));
    if (!live) continue;
    const PackedTimeCode code = c.code & kTimeCodeMask;
    EXPECT_EQ(
        std::make_tuple(engine.m_recentCodes[0], f.lastCode, f.differenceMs),
        std::make_tuple(code, code, c.differenceMs));
    // The poll's timing is in the code's frame, with UTC beside it.
    const PollTiming& poll = engine.m_lastPoll;
    const std::int64_t readingUtc = c.reading - kZoneMs;
    EXPECT_EQ(std::make_tuple(poll.beforeUs, poll.beforeUtcUs, poll.code),
              std::make_tuple((c.useSystemTime ? readingUtc : c.reading) * 1000,
                              readingUtc * 1000, code));
    EXPECT_GT(poll.afterUs, poll.beforeUs);
  }
  box.ScriptCode(0x12345663);
  engine.CheckAgainstClock();
  char text[12];
  EXPECT_EQ(engine.FormatTimeCode(text), 11);
  EXPECT_STREQ(text, "12:34:56:23");
}

TEST_F(EngineTest, HistoryAfterLostAndRepeatedCodes) {
  ConnectReady();
  // 0 stands for a lost reply.
  const PackedTimeCode codes[] = {0x12000001, 0x12000002, 0,
                                  0x12000004, 0x12000005, 0x12000005,
                                  0x12000006, 0x12000007};
  const int noTimeCode[] = {1, 0, 1, 1, 0, 1, 1, 0};
  for (std::size_t i = 0; i < std::size(codes); ++i) {
    Answer(codes[i]);
    const PackedTimeCode before = engine.m_recentCodes[1];
    const int result = engine.CheckAgainstClock();
    // Without a running code a check counts as a hit.
    const int running = 1 - noTimeCode[i];
    EXPECT_EQ(std::make_tuple(engine.m_noTimeCode, engine.m_lastPoll.running,
                              engine.m_figures.compared, result || running),
              std::make_tuple(noTimeCode[i], running, running, true))
        << "check " << i;
    // A lost reply repeats the code before the last.
    EXPECT_EQ(engine.m_recentCodes[0], codes[i] ? codes[i] : before);
  }
}

TEST_F(EngineTest, MinuteBoundarySleepsPastTheEdge) {
  const struct {
    int second, ms;
    std::vector<std::uint32_t> sleeps;
    std::uint16_t lastSecond, lastMs;
  } cases[] = {
      {59, 900, {}, 59, 900},
      {59, 901, {100, 75, 75}, 0, 151},
      {0, 149, {75}, 0, 224},
      {0, 150, {}, 0, 150},
  };
  ConnectReady();
  box.Do("mode pal");
  engine.m_isPal = 1;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ms);
    clock.StartAtLocal(At(12, c.second == 59 ? 0 : 1, c.second, c.ms));
    PrimeHistoryBelow(0x12000000);
    clock.ClearEvents();
    // The box is in step with the last reading only: the check must compare
    // with that one.
    EXPECT_EQ(engine.CheckAgainstClock(), 1);
    EXPECT_EQ(clock.Sleeps(), c.sleeps);
    const auto reads = clock.EventsOf(ClockCall::kGetLocal);
    const platform::SYSTEMTIME& last = reads.back().time;
    EXPECT_EQ(std::make_tuple(reads.size(), last.wSecond, last.wMilliseconds),
              std::make_tuple(c.sleeps.size() + 1, c.lastSecond, c.lastMs));
  }
}

// ---- Poll and the miss count ------------------------------------------------

TEST_F(EngineTest, SixMissesInARowSetTheClockWhenAllowed) {
  ConnectReady();
  clock.StartAtLocal(At(12, 0, 10, 0));
  box.Do("offset 5000");
  EXPECT_EQ(engine.Poll(), 0);  // not running yet: no miss
  clock.Advance(150);
  // Not allowed: the sixth miss only starts the count again.
  EXPECT_EQ(PollResults(6), std::vector<int>(6, 0));
  EXPECT_EQ(engine.m_missCount, 0u);
  EXPECT_EQ(PollResults(1), std::vector<int>{0});
  EXPECT_EQ(engine.m_missCount, 1u);
  // Allowed but refused: the next try is six misses later.
  engine.m_setClockEnabled = 1;
  clock.RefuseSets(true);
  EXPECT_EQ(PollResults(5 + 6), std::vector<int>(11, 0));
  EXPECT_EQ(clock.SetsRefused(), 2);
  clock.RefuseSets(false);
  EXPECT_EQ(PollResults(6), (std::vector<int>{0, 0, 0, 0, 0, 1}));
  EXPECT_EQ(clock.SetsTaken(), 1);
  // A hit starts the count again.
  clock.JumpPcClock(5000);
  PollResults(5);
  ASSERT_EQ(engine.m_missCount, 5u);
  clock.JumpPcClock(-5000);
  EXPECT_EQ(PollResults(1), std::vector<int>{0});
  EXPECT_EQ(engine.m_missCount, 0u);
  EXPECT_EQ(clock.SetsTaken(), 1);
}

// ---- Setting the clock ------------------------------------------------------

TEST_F(EngineTest, SettingNeedsAFourthLargerCode) {
  ConnectReady();
  const struct {
    const char* name;
    PackedTimeCode history[3];
    int expected;
  } cases[] = {
      {"running", {0x12000110, 0x12000105, 0x12000100}, 1},
      {"same as the last check", {0x12000120, 0x12000110, 0x12000100}, 0},
      {"older than the last check", {0x12000125, 0x12000110, 0x12000100}, 0},
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
    EXPECT_EQ(std::make_tuple(engine.m_noTimeCode, engine.m_recentCodes[0],
                              engine.m_recentCodes[1]),
              std::make_tuple(1, 0x12000106u, 0x12000106u));
  }
  EXPECT_EQ(clock.SetsTaken() + clock.SetsRefused(), 0);
}

TEST_F(EngineTest, SettingKeepsTheDateNearestToTheReading) {
  ConnectReady();
  const struct {
    const char* name;
    std::int64_t reading;
    PackedTimeCode code;
    std::int64_t expected;  // 0: no setting
  } cases[] = {
      {"same day", At(12, 0, 0, 0), 0x12000500, At(12, 0, 5, 0)},
      // The midnight guard's edges, and the same seconds in the neighbouring
      // minutes and hours.
      {"23:59:50", At(23, 59, 50, 0), 0x23594000, At(23, 59, 40, 0)},
      {"23:59:51", At(23, 59, 51, 0), 0x23594000, 0},
      {"00:00:09", At(0, 0, 9, 0), 0x00002000, 0},
      {"00:00:10", At(0, 0, 10, 0), 0x00002000, At(0, 0, 20, 0)},
      {"23:58:55", At(23, 58, 55, 0), 0x23584000, At(23, 58, 40, 0)},
      {"22:59:55", At(22, 59, 55, 0), 0x22594000, At(22, 59, 40, 0)},
      {"00:01:05", At(0, 1, 5, 0), 0x00010000, At(0, 1, 0, 0)},
      {"01:00:05", At(1, 0, 5, 0), 0x01000000, At(1, 0, 0, 0)},
      {"code past midnight", At(23, 59, 45, 0), 0x00000100,
       MsOf(2026, 3, 15, 0, 0, 1, 0)},
      {"code before midnight", MsOf(2026, 3, 1, 0, 0, 20, 0), 0x23595000,
       MsOf(2026, 2, 28, 23, 59, 50, 0)},
      // The reading comes 48 ms into the setting: the pause before its query,
      // and the exchange.
      {"exactly twelve hours", At(0, 29, 59, 952), 0x12300000,
       At(12, 30, 0, 0)},
      // Away from midnight every field of the reading weighs in.
      {"a frame short of twelve hours", At(6, 45, 10, 700), 0x18451020,
       At(18, 45, 10, 666)},
      {"a frame past twelve hours", At(6, 45, 10, 600), 0x18451020,
       MsOf(2026, 3, 13, 18, 45, 10, 666)},
      {"a second past twelve hours", At(6, 45, 10, 700), 0x18451120,
       MsOf(2026, 3, 13, 18, 45, 11, 666)},
      {"a minute past twelve hours", At(6, 45, 10, 700), 0x18461020,
       MsOf(2026, 3, 13, 18, 46, 10, 666)},
      {"twelve hours the other way", At(18, 45, 10, 700), 0x06451000,
       MsOf(2026, 3, 15, 6, 45, 10, 0)},
      {"exactly twelve hours back", At(18, 29, 59, 952), 0x06300000,
       At(6, 30, 0, 0)},
  };
  std::uint32_t taken = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    clock.StartAtLocal(c.reading);
    clock.ClearEvents();
    PrimeHistoryBelow(c.code);
    box.ScriptCode(c.code);
    ASSERT_EQ(engine.SetClockFromTimeCode(), c.expected != 0);
    const auto sets = clock.EventsOf(ClockCall::kSetLocal);
    ASSERT_EQ(sets.size(), c.expected != 0 ? 1u : 0u);
    if (c.expected == 0) continue;
    EXPECT_EQ(fake::ToMs(sets[0].time), c.expected);
    EXPECT_EQ(sets[0].time.wDayOfWeek, fake::ToRecord(c.expected).wDayOfWeek);
    // What the owner is told: from the reading taken after the query, to
    // the record handed over, by their difference the short way round.
    const ClockFigures& f = engine.m_figures;
    const std::int64_t from =
        fake::ToMs(clock.EventsOf(ClockCall::kGetLocal).back().time);
    EXPECT_EQ(std::make_tuple(fake::ToMs(f.setFrom), fake::ToMs(f.setTo),
                              std::int64_t{f.setByMs}, f.setAccepted,
                              f.settingsTaken),
              std::make_tuple(from, c.expected, c.expected - from, 1, ++taken));
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

// ---- Connecting -------------------------------------------------------------

// Port open, line configured, link ready.
using Flags = std::tuple<int, int, int>;

Flags FlagsOf(const CTimeCodeClock& engine) {
  return {engine.m_portOpen, engine.m_lineConfigured, engine.m_linkReady};
}

TEST_F(EngineTest, ConnectStateTable) {
  // Port open, line configured, link ready; notices; the device's opens,
  // SetState, SetTimeouts and Close calls.
  using Outcome = std::tuple<int, int, int, int, int, int, int, int>;
  const struct {
    const char* name;
    bool failOpen, failGetState, answerHello;
    Outcome outcome;
  } cases[] = {
      {"box answers", false, false, true, {1, 1, 1, 0, 1, 1, 1, 0}},
      {"port missing", true, false, true, {0, 0, 0, 1, 0, 0, 0, 0}},
      {"line settings fail", false, true, true, {0, 0, 0, 1, 1, 0, 1, 1}},
      {"box silent", false, false, false, {0, 0, 0, 1, 1, 1, 1, 1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fakes::FakeSerial caseBox(clock);
    caseBox.failOpen = c.failOpen;
    caseBox.failGetState = c.failGetState;
    caseBox.answerHello = c.answerHello;
    g_connectNotices = 0;
    {
      CTimeCodeClock caseEngine;
      caseEngine.Connect(true);
      EXPECT_EQ(
          std::tuple_cat(FlagsOf(caseEngine),
                         std::make_tuple(g_connectNotices, caseBox.opens,
                                         caseBox.CountCalls("SetState"),
                                         caseBox.CountCalls("SetTimeouts"),
                                         caseBox.CountCalls("Close"))),
          c.outcome);
    }
    // The destructor disconnects. A close that fails is played out in the
    // held states below.
    EXPECT_FALSE(caseBox.isOpen());
  }
  platform::UseSerialBackend(&box);
}

TEST_F(EngineTest, ReconnectsAndHeldStatesWhenClosingFails) {
  // A connected engine repeats only the handshake.
  engine.m_comPort = 3;
  ConnectReady();
  ConnectReady();
  EXPECT_EQ(
      std::make_tuple(box.lastName, box.opens, box.CountCalls("SetState")),
      std::make_tuple("COM3", 1, 1));
  // Held ready: disconnecting could not close the port.
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
  EXPECT_EQ(std::make_tuple(FlagsOf(engine), box.opens, g_connectNotices),
            std::make_tuple(Flags{1, 0, 0}, 2, 2));
  // From held open the line settings are tried again without a new open.
  box.answerHello = true;
  box.failClose = false;
  engine.Connect(true);
  EXPECT_EQ(box.opens, 2);
  EXPECT_EQ(FlagsOf(engine), (Flags{0, 0, 0}));
  // And the next connect starts afresh.
  ConnectReady();
  EXPECT_EQ(box.opens, 3);
}

}  // namespace
