// The service runtime against a fake service manager, a fake event log, a
// fake clock and a fake box: the order and contents of the status reports,
// the failure table, the exit code of the STOPPED report and debug mode.
#include "service/service_runtime.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/beep.h"
#include "platform/beep_test_seam.h"
#include "platform/console_control.h"
#include "platform/event_log.h"
#include "platform/service_control.h"
#include "platform/stop_event_test_seam.h"
#include "platform/system_error.h"
#include "service/clock_status.h"
#include "service/service_identity.h"
#include "service/service_runtime_test_seam.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_serial.h"

namespace {

// Stand-ins for the service manager and the event log: they record every
// report and entry, can refuse chosen calls, and can act on a report or an
// entry (the way a test stops a worker once it is running, from the worker's
// own thread). The runtime reports only under its report lock, so the
// stand-ins need no lock of their own.
class StatusSink : public platform::ServiceStatusSink {
 public:
  StatusSink() { platform::UseServiceStatusSink(this); }
  ~StatusSink() override { platform::UseServiceStatusSink(nullptr); }

  // Registration and the Nth report (counting from 1) fail with kError, a
  // code with its top bit set: the entries show it as a signed number.
  static constexpr std::uint32_t kError = 0x80070005u;
  bool m_failRegistration = false;
  int m_failReport = 0;
  std::function<void()> m_onReport;  // after a report is recorded
  std::vector<platform::SERVICE_STATUS> m_reports;
  std::vector<std::string> m_texts;

  platform::ServiceStatusHandle RegisterCtrlHandler(
      const char*, platform::ServiceControlHandler) override {
    if (!m_failRegistration) return 0x5E;
    platform::SetLastError(kError);
    return 0;
  }
  int SetStatus(platform::ServiceStatusHandle,
                const platform::SERVICE_STATUS& status) override {
    m_reports.push_back(status);
    if (m_onReport) m_onReport();
    if (static_cast<int>(m_reports.size()) != m_failReport) return 1;
    platform::SetLastError(kError);
    return 0;
  }
  int SetStatusText(platform::ServiceStatusHandle, const char* text) override {
    m_texts.push_back(text);
    return 1;
  }
};

// Error entries are kept as first strings and messages, and information
// entries apart from them: the cases compare the messages whole.
class EventLog : public platform::EventLogBackend {
 public:
  EventLog() { platform::UseEventLogBackend(this); }
  ~EventLog() override { platform::UseEventLogBackend(nullptr); }

  std::function<void(const std::string&)> m_onEntry;  // after an error entry
  std::vector<std::string> m_firsts, m_messages;
  std::vector<std::string> m_notes;
  int m_openSources = 0;  // registered and not deregistered yet

  platform::EventSourceHandle RegisterSource(const char*) override {
    ++m_openSources;
    return kSource;
  }
  int ReportError(platform::EventSourceHandle source, const char* first,
                  const char* message) override {
    if (source != kSource) return 0;
    m_firsts.push_back(first);
    m_messages.push_back(message);
    if (m_onEntry) m_onEntry(message);
    return 1;
  }
  int ReportInformation(platform::EventSourceHandle source,
                        const char* text) override {
    if (source != kSource) return 0;
    m_notes.push_back(text);
    return 1;
  }
  void DeregisterSource(platform::EventSourceHandle source) override {
    if (source == kSource) --m_openSources;
  }

 private:
  static constexpr platform::EventSourceHandle kSource = 0xE7;
};

std::vector<std::uint32_t> g_beeps;
void RecordBeep(std::uint32_t type) { g_beeps.push_back(type); }

// Each report as its state's letter (Stopped, Pending start, stopping (s),
// Running), an "a" when it accepts a stop, its check-point and wait hint.
std::string States(const std::vector<platform::SERVICE_STATUS>& reports,
                   bool details = false) {
  std::string states;
  for (const auto& r : reports) {
    states += " SPsR?"[std::min(r.dwCurrentState, 5u)];
    if (details)
      states +=
          (r.dwControlsAccepted == platform::kServiceAcceptStop ? "a" : "") +
          std::to_string(r.dwCheckPoint) + "/" + std::to_string(r.dwWaitHint) +
          " ";
  }
  return states;
}

std::string FirstStringFor(std::uint32_t error) {
  return std::string(kServiceName) +
         " error: " + std::to_string(static_cast<std::int32_t>(error));
}

class ServiceRuntimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_nextCheckPoint = 1;
    g_savedError = 0;
    g_debugMode = 0;
    g_stopRequested = false;
    g_beeps.clear();
    platform::UseBeepHook(RecordBeep);
    m_box.Do("mode pal");
    // The box's code runs on from one poll to the next as the worker's wait
    // between polls would let it.
    m_box.pauseBeforeQueryMs = kPollWaitMs;
  }
  void TearDown() override {
    platform::UseBeepHook(nullptr);
    platform::SimulateStopEventFailure(false);
  }

  fake::FakeClock m_clock;
  fakes::FakeSerial m_box{m_clock};
  StatusSink m_sink;
  EventLog m_log;
};

// A run from start to stop through a lost device: the reports follow the
// start and stop table; the device is told once, its port closed and the box
// tried again every few seconds until it answers; a silent box on a working
// port is only a state.
TEST_F(ServiceRuntimeTest, LostDeviceIsToldClosedAndRetriedUntilBack) {
  using Clock = std::chrono::steady_clock;
  int queries = 0;
  std::vector<Clock::time_point> tries;  // the loss, then each Open after it
  m_box.Do("mode ntsc");                 // as the settings word has it
  m_box.onCall = [&](const std::string& call) {
    if (call == "Write 4") {
      ++queries;
      if (queries == 2)
        for (int i = 0; i < 3; ++i) m_box.Script(fakes::Reply::kSilent);
      if (queries == 6) m_box.gone = true;
      if (queries == 12) {
        OnServiceControl(platform::kServiceControlInterrogate);
        OnServiceControl(platform::kServiceControlStop);
      }
    } else if (call.rfind("Open", 0) == 0 && m_box.opens > 0) {
      tries.push_back(Clock::now());
      if (m_box.opens == 2) m_box.gone = false;
    }
  };
  m_log.m_onEntry = [&](const std::string&) {
    if (m_box.gone) tries.push_back(Clock::now());
  };
  constexpr std::uint32_t kPauseMs = 400;
  ShortenReconnectPauseForTests(kPauseMs);
  ServiceEntry(0, nullptr);
  ShortenReconnectPauseForTests(0);
  // A control that comes once STOPPED has gone is not answered.
  OnServiceControl(platform::kServiceControlInterrogate);
  OnServiceControl(platform::kServiceControlStop);

  // The loss's error is not the service's exit code after a normal stop.
  const std::uint32_t saved = g_savedError;
  EXPECT_EQ(States(m_sink.m_reports, true),  // the 1000 ms: interrogation
            "P1/3000 P2/3000 Ra0/0 Ra0/1000 sa3/1000 Sa0/0 ");
  EXPECT_EQ(m_sink.m_reports.back().dwWin32ExitCode, saved);
  EXPECT_EQ(m_sink.m_reports[0].dwServiceType, platform::kServiceOwnProcess);
  EXPECT_EQ(m_log.m_firsts[0], FirstStringFor(saved));
  EXPECT_EQ(m_log.m_openSources, 0);

  char buffer[512];
  std::string text(buffer, platform::FormatSystemMessage(
                               fakes::FakeSerial::kGoneError, buffer, 512));
  text.erase(text.find_last_not_of("\r\n") + 1);
  EXPECT_EQ(m_log.m_messages,
            (std::vector<std::string>{
                kServiceStartedText,
                "Ventrel - ComPort lost: " + text +
                    ". Port closed; trying the BOX again every 5 s"}));
  // The live line shows the lost port, and goes on once the box is back.
  const auto& lines = m_sink.m_texts;
  const auto portError =
      std::find_if(lines.begin(), lines.end(), [&](const std::string& line) {
        return line.rfind("port error (" + text + "), reconnecting; ", 0) == 0;
      });
  ASSERT_NE(portError, lines.end());
  EXPECT_NE(portError + 1, lines.end());

  ASSERT_EQ(tries.size(), 3u);  // the loss, a try in vain, the good one
  for (std::size_t i = 1; i < tries.size(); ++i)
    EXPECT_GE(tries[i] - tries[i - 1],
              std::chrono::milliseconds(kPauseMs * 9 / 10));
  EXPECT_EQ(m_box.CountCalls("Close"), 3);  // after the loss and the vain try
  EXPECT_FALSE(m_box.isOpen());

  // The silence and the return are told once each.
  for (const std::string note :
       {"Ventrel - no time code: the box is silent", kBoxBackText})
    EXPECT_EQ(std::count(m_log.m_notes.begin(), m_log.m_notes.end(), note), 1);
}

// One row of the failure table: what goes wrong, the states reported and the
// entries written. A box that never answers is tried three times; one that
// misses a hello once (a loaded machine) is found by the next connect, a step
// of the start of its own, and the service runs until stopped. A stop may
// come at any moment of the start (systemd sends it whatever the service
// accepts): once it came first, the service ends without RUNNING or its start
// notice. No row polls.
enum Fault { kOk, kNoStopEvent, kSilentBox, kHelloLostOnce };
struct FailureRow {
  int failReport;  // the Nth report is refused
  Fault fault;
  int stopAt;  // the stop comes during the Nth report; 0: once started
  const char* states;
  std::vector<std::string> messages;
};

const FailureRow kFailureRows[] = {
    // the first pending report refused
    {1, kOk, 0, "PS", {kSetStatusFailedText}},
    // the worker's pending report refused
    {2, kOk, 0, "PPS", {kSetStatusFailedText, kFirstPendingFailedText}},
    {0, kNoStopEvent, 0, "PPS", {kStopEventFailedText}},
    // a box switched off (to the runtime, a port that cannot be opened is
    // the same failed connect)
    {0, kSilentBox, 0, "PPPPS", {kBoxUnreachableText}},
    // the running report refused
    {3, kOk, 0, "PPRS", {kSetStatusFailedText, kRunningFailedText}},
    // the pending report of a retried connect refused
    {3, kSilentBox, 0, "PPPS", {kSetStatusFailedText}},
    {0, kHelloLostOnce, 0, "PPPRsS", {kServiceStartedText}},
    // a stop during the first pending report, the worker's (before the stop
    // event exists) and the running one
    {0, kOk, 1, "PS", {}},
    {0, kOk, 2, "PPS", {}},
    {0, kOk, 3, "PPRS", {kServiceStartedText}},
};

class ServiceFailureTest : public ServiceRuntimeTest,
                           public ::testing::WithParamInterface<FailureRow> {};

TEST_P(ServiceFailureTest, WritesItsEntriesAndEndsStoppedWithTheSavedError) {
  const FailureRow& row = GetParam();
  m_sink.m_failReport = row.failReport;
  platform::SimulateStopEventFailure(row.fault == kNoStopEvent);
  m_box.answerHello = row.fault != kSilentBox && row.fault != kHelloLostOnce;
  m_box.onCall = [&](const std::string& call) {
    if (call.rfind("Open", 0) == 0 && row.fault == kHelloLostOnce)
      m_box.answerHello = m_box.opens == 1;
  };
  m_log.m_onEntry = [&](const std::string& message) {
    if (message == kServiceStartedText && row.stopAt == 0)
      OnServiceControl(platform::kServiceControlStop);
  };
  std::thread dispatcher;
  // The dispatcher's thread handles the stop while the report is under way;
  // the start must see the request as soon as it exists.
  m_sink.m_onReport = [&] {
    if (static_cast<int>(m_sink.m_reports.size()) != row.stopAt) return;
    dispatcher =
        std::thread([] { OnServiceControl(platform::kServiceControlStop); });
    while (!g_stopRequested) std::this_thread::yield();
  };
  platform::SetLastError(0);
  ServiceEntry(0, nullptr);
  if (dispatcher.joinable()) dispatcher.join();

  EXPECT_EQ(m_log.m_messages, row.messages);
  // The stop's own report, from the dispatcher's thread, comes before the
  // STOPPED one or, when the worker ended first, not at all.
  std::string states = States(m_sink.m_reports);
  if (row.stopAt != 0)
    states.erase(std::remove(states.begin(), states.end(), 's'), states.end());
  EXPECT_EQ(states, row.states);
  for (const auto& r : m_sink.m_reports)  // every start step waits 3 s
    EXPECT_TRUE(r.dwCurrentState != platform::kServiceStartPending ||
                r.dwWaitHint == 3000);
  // STOPPED comes last and carries the error that the last entry captured.
  const auto stopped = m_sink.m_reports.rbegin();
  ASSERT_EQ(stopped->dwCurrentState, platform::kServiceStopped);
  if (!row.messages.empty()) {
    EXPECT_EQ(m_log.m_firsts.back(), FirstStringFor(stopped->dwWin32ExitCode));
  }
  EXPECT_TRUE(row.failReport == 0 ||
              stopped->dwWin32ExitCode == StatusSink::kError);

  // Every path that ran the worker ends alike: port closed, beep, pause.
  if (std::string(row.states).size() > 2) {
    EXPECT_EQ(g_beeps, std::vector<std::uint32_t>{platform::kDefaultBeep});
    EXPECT_EQ(m_clock.Sleeps().back(), kClosingPauseMs);
    EXPECT_FALSE(m_box.isOpen());
  } else {
    EXPECT_EQ(m_box.opens, 0);
  }
  EXPECT_EQ(m_box.queries, 0);
  EXPECT_EQ(g_stopEvent.load(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Table, ServiceFailureTest,
                         ::testing::ValuesIn(kFailureRows),
                         [](const auto& row) {
                           return "Row" + std::to_string(row.index);
                         });

// A service the manager will not register reports nothing and keeps the
// manager's error. (A refused STOPPED report goes the way of the table's.)
TEST_F(ServiceRuntimeTest, RefusedRegistrationOnlyLeavesTheError) {
  m_sink.m_failRegistration = true;
  ServiceEntry(0, nullptr);
  EXPECT_TRUE(m_sink.m_reports.empty());
  EXPECT_EQ(g_savedError.load(), StatusSink::kError);
}

// A setting beeps in debug mode only; the service notes it instead. The stop
// comes from the worker's own thread, inside the setting's poll: in debug
// mode from Ctrl+Break, after a close of the console (2) that the handler
// leaves to the system.
TEST_F(ServiceRuntimeTest, ClockSettingBeepsInDebugModeOnlyAndIsNoted) {
  m_clock.OnSet([](const fake::ClockEvent& event) {
    if (!event.result) return;
    if (g_debugMode) {
      EXPECT_EQ(OnConsoleCtrl(2), 0);
      EXPECT_EQ(OnConsoleCtrl(platform::kCtrlBreakEvent), 1);
    } else {
      OnServiceControl(platform::kServiceControlStop);
    }
  });
  m_box.Do("offset +5000");  // the PC clock now lags the time code
  g_debugMode = 1;
  RunClockWorker();
  EXPECT_EQ(g_beeps, (std::vector<std::uint32_t>{platform::kSimpleBeep,
                                                 platform::kDefaultBeep}));
  // Debug mode reports nothing and writes no entry.
  EXPECT_EQ(ReportStatusToSCMgr(platform::kServiceRunning, 0, 0), 1);
  EXPECT_TRUE(m_sink.m_reports.empty());
  EXPECT_TRUE(m_log.m_messages.empty() && m_log.m_notes.empty());

  SetUp();
  m_box.Do("offset +5000");
  ServiceEntry(0, nullptr);
  EXPECT_EQ(g_beeps, std::vector<std::uint32_t>{platform::kDefaultBeep});
  // The note's figures have tests of their own.
  EXPECT_EQ(std::count_if(m_log.m_notes.begin(), m_log.m_notes.end(),
                          [](const std::string& note) {
                            return note.find(": accepted") != note.npos;
                          }),
            1);
}

// ---- what the watchers are told ----

// One poll as the status sees it: the time (any steady millisecond count),
// whether the box answered, a code was compared and found within tolerance,
// the engine's miss count after the poll, the difference and the settings
// taken so far; then the line up to the code and the entry after
// "Ventrel - " it must tell ("": nothing is due).
TEST(ClockStatusTest, LinesOnceASecondEntriesOncePerStateNotesPerSetting) {
  const std::tuple<std::int64_t, int, int, int, std::uint32_t, std::int32_t,
                   std::uint32_t, const char*, const char*>
      steps[] = {
          // The first polls fill the code history: no entry for a stopped code.
          {0, 1, 0, 0, 0, 0, 0, "no time code (code stopped)", ""},
          {400, 1, 1, 1, 0, -3, 0, "",
           "PC clock in step with the time code, 12:34:56:17 PAL, "
           "difference -3 ms"},
          // One or two misses are jitter; the third is worth an entry.
          {800, 1, 1, 0, 2, 45, 0, "", ""},
          {1000, 1, 1, 0, 3, 45, 0, "missing (3 of 6)",
           "PC clock missing the time code (3 of 6), difference +45 ms"},
          // The sixth miss leaves the engine's count at 0, with a setting.
          {2000, 1, 1, 0, 0, 45, 1, "missing (6 of 6)", ""},
          // In step was told less than a minute ago.
          {3000, 1, 1, 1, 0, 2, 1, "in step", ""},
          {3500, 0, 0, 0, 0, 2, 1, "", "no time code: the box is silent"},
          // A code history filling again after the silence is no stopped code.
          {4000, 1, 0, 0, 0, 2, 1, "no time code (code stopped)", ""},
          {4300, 1, 0, 0, 0, 2, 1, "", ""},
          {4600, 1, 0, 0, 0, 2, 1, "",
           "no time code: the box's code has stopped"},
          {61000, 1, 1, 1, 0, 1, 1, "in step",
           "PC clock in step with the time code, 12:34:56:17 PAL, "
           "difference +1 ms (time code back)"},
          // Silent again within the minute: told once the minute is over.
          {61500, 0, 0, 0, 0, 1, 1, "", ""},
          {63600, 0, 0, 0, 0, 1, 1, "no time code (box silent)",
           "no time code: the box is silent"},
          // A count that ran backwards makes the line due at once.
          {100, 0, 0, 0, 0, 1, 1, "no time code (box silent)", ""},
      };
  CTimeCodeClock clock;
  clock.m_figures.lastCode = 0x12345617;
  clock.m_figures.isPal = 1;
  clock.m_figures.setTo = {2026, 3, 6, 14, 12, 0, 5, 0};
  CClockStatus status;
  EXPECT_EQ(status.Line(),
            "starting; code none; difference none; settings 0, refused 0");
  ClockFigures& f = clock.m_figures;
  for (const auto& step : steps) {
    const auto& [atMs, a, c, w, misses, difference, settings, line, entry] =
        step;
    SCOPED_TRACE(atMs);
    std::tie(f.boxAnswered, f.compared, f.withinTolerance, clock.m_missCount,
             f.differenceMs, f.settingsTaken) =
        std::tie(a, c, w, misses, difference, settings);
    status.AfterPoll(clock, atMs);
    const std::string due = status.DueLine(atMs);
    EXPECT_EQ(due.substr(0, due.find("; code")), line);
    EXPECT_EQ(status.TakeStateEntry(),
              *entry ? std::string("Ventrel - ") + entry : "");
  }
  // A lost port shows in the line; the runtime writes its own entry.
  status.PortLost("Input/output error", 70000);
  EXPECT_EQ(status.Line(),
            "port error (Input/output error), reconnecting; code 12:34:56:17 "
            "PAL; difference +1 ms; settings 1, refused 0, last at 12:00:05");
  EXPECT_EQ(status.TakeStateEntry(), "");
  // The history fills anew: no stopped code yet; then back in step.
  f.isPal = 0;
  f.dropFrame = 1;
  f.boxAnswered = 1;
  status.AfterPoll(clock, 129000);
  EXPECT_EQ(status.TakeStateEntry(), "");
  f.compared = f.withinTolerance = 1;
  status.AfterPoll(clock, 130000);
  EXPECT_EQ(status.TakeStateEntry(),
            "Ventrel - PC clock in step with the time code, 12:34:56:17 NTSC "
            "drop-frame, difference +1 ms (time code back)");

  // Each setting's note, on a status of its own: from what to what and by
  // how much; refusals with the system's text, at most one a minute with the
  // count of those left out. The time, the settings taken and refused so
  // far, and the note after the common head ("" for none).
  const std::tuple<std::int64_t, std::uint32_t, std::uint32_t, const char*>
      polls[] = {
          {0, 1, 0, ": accepted"},
          {500, 1, 0, ""},  // no new setting
          {1000, 1, 1, ": refused: Operation not permitted"},
          {30000, 1, 2, ""},
          {61000, 1, 3,
           ": refused: Operation not permitted (2 refusals since the last "
           "entry)"},
          {61500, 2, 3, ": accepted"},
      };
  f.setFrom = {2026, 3, 6, 14, 12, 0, 0, 0};
  f.setTo = {2026, 3, 6, 14, 12, 0, 5, 40};
  f.setByMs = 5040;
  CClockStatus notes;
  const std::string kHead =
      "Ventrel - PC clock set from 2026-03-14 12:00:00.000 to 2026-03-14 "
      "12:00:05.040, by +5040 ms";
  for (const auto& [atMs, taken, refused, note] : polls) {
    SCOPED_TRACE(atMs);
    f.settingsTaken = taken;
    f.settingsRefused = refused;
    f.setAccepted = std::string(note) == ": accepted";
    notes.AfterPoll(clock, atMs);
    EXPECT_EQ(notes.TakeSetEntry("Operation not permitted", atMs),
              *note == '\0' ? "" : kHead + note);
  }
}

}  // namespace
