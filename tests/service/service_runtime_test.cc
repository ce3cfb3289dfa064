// The service runtime against a fake service manager, a fake event log, a
// fake clock and a fake box: the order and contents of the status reports,
// the failure table, the exit code of the STOPPED report and debug mode.
#include "service/service_runtime.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/beep.h"
#include "platform/beep_test_seam.h"
#include "platform/console_control.h"
#include "platform/stop_event_test_seam.h"
#include "platform/system_error.h"
#include "service/service_identity.h"
#include "tests/service/service_fakes.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_serial.h"

using platform::kServiceAcceptStop;
using platform::kServiceControlInterrogate;
using platform::kServiceControlStop;
using platform::kServiceRunning;
using platform::kServiceStartPending;
using platform::kServiceStopped;
using platform::kServiceStopPending;

namespace {

std::vector<std::uint32_t> g_beeps;
void RecordBeep(std::uint32_t type) { g_beeps.push_back(type); }

// State, controls accepted, check-point, wait hint and exit code of a report.
using Report = std::tuple<std::uint32_t, std::uint32_t, std::uint32_t,
                          std::uint32_t, std::uint32_t>;

std::vector<Report> Summarise(
    const std::vector<platform::SERVICE_STATUS>& reports) {
  std::vector<Report> summary;
  for (const auto& s : reports) {
    summary.emplace_back(s.dwCurrentState, s.dwControlsAccepted, s.dwCheckPoint,
                         s.dwWaitHint, s.dwWin32ExitCode);
  }
  return summary;
}

std::string FirstStringFor(std::uint32_t error) {
  return std::string(kServiceName) +
         " error: " + std::to_string(static_cast<std::int32_t>(error));
}

class ServiceRuntimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_serviceStatus = {};
    g_statusHandle = 0;
    g_nextCheckPoint = 1;
    g_savedError = 0;
    g_debugMode = 0;
    g_stopEvent = nullptr;
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

  // Stops the worker from its own thread once it has written its start
  // notice, after an interrogation, as the service manager would.
  void StopOnceStarted() {
    m_log.m_onEntry = [](const fake::LogEntry& entry) {
      if (entry.second != kServiceStartedText) return;
      OnServiceControl(kServiceControlInterrogate);
      OnServiceControl(kServiceControlStop);
    };
  }

  fake::FakeClock m_clock;
  fakes::FakeSerial m_box{m_clock};
  fake::StatusSink m_sink;
  fake::EventLog m_log;
};

TEST_F(ServiceRuntimeTest, ReportsFollowTheStartAndStopTable) {
  StopOnceStarted();
  ServiceEntry(0, nullptr);

  const std::uint32_t saved = g_savedError;
  const std::vector<Report> expected = {
      {kServiceStartPending, 0, 1, 3000, 0},
      {kServiceStartPending, 0, 2, 3000, 0},
      {kServiceRunning, kServiceAcceptStop, 0, 0, 0},
      {kServiceRunning, kServiceAcceptStop, 0, 1000, 0},  // interrogation
      {kServiceStopPending, kServiceAcceptStop, 3, 1000, 0},
      {kServiceStopped, kServiceAcceptStop, 0, 0, saved},
  };
  EXPECT_EQ(Summarise(m_sink.Reports()), expected);
  EXPECT_EQ(m_sink.m_registeredName, kServiceName);
  for (const auto& report : m_sink.Reports()) {
    EXPECT_EQ(report.dwServiceType, platform::kServiceOwnProcess);
    EXPECT_EQ(report.dwServiceSpecificExitCode, 0u);
  }
  for (auto handle : m_sink.m_handles) EXPECT_EQ(handle, m_sink.kHandle);

  // One entry, the start notice; its saved error is the STOPPED exit code.
  const auto entries = m_log.Entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].source, kServiceName);
  EXPECT_EQ(entries[0].first, FirstStringFor(saved));
  EXPECT_EQ(entries[0].second, kServiceStartedText);
  EXPECT_EQ(m_log.m_registrations, m_log.m_deregistrations);

  // The stop came before the first wait: no poll, the port closed, the
  // default beep and the closing pause.
  EXPECT_EQ(m_box.queries, 0);
  EXPECT_FALSE(m_box.isOpen());
  EXPECT_EQ(g_beeps, std::vector<std::uint32_t>{platform::kDefaultBeep});
  EXPECT_EQ(m_clock.Sleeps().back(), kClosingPauseMs);
  EXPECT_EQ(g_stopEvent.load(), nullptr);
}

TEST_F(ServiceRuntimeTest, PendingReportsKeepCountingAcrossInterrogations) {
  g_statusHandle = fake::StatusSink::kHandle;
  g_serviceStatus.dwCurrentState = kServiceStartPending;
  OnServiceControl(kServiceControlInterrogate);
  OnServiceControl(kServiceControlInterrogate);
  g_serviceStatus.dwCurrentState = kServiceRunning;
  OnServiceControl(kServiceControlInterrogate);
  OnServiceControl(kServiceControlStop);
  OnServiceControl(kServiceControlInterrogate);

  auto reports = Summarise(m_sink.Reports());
  reports.erase(reports.begin(), reports.end() - 5);
  const std::vector<Report> expected = {
      {kServiceStartPending, 0, 1, 1000, 0},
      {kServiceStartPending, 0, 2, 1000, 0},
      {kServiceRunning, kServiceAcceptStop, 0, 1000, 0},
      {kServiceStopPending, kServiceAcceptStop, 3, 1000, 0},
      {kServiceStopPending, kServiceAcceptStop, 4, 1000, 0},
  };
  EXPECT_EQ(reports, expected);
}

// One row of the failure table: what goes wrong, the entries written, and
// whether the worker got as far as RUNNING.
struct FailureRow {
  const char* name;
  void (*arrange)(fake::StatusSink&, fake::EventLog&, fakes::FakeSerial&);
  std::vector<std::string> messages;
  std::vector<std::uint32_t> states;
};

const FailureRow kFailureRows[] = {
    {"FirstPendingReportRefused",
     [](fake::StatusSink& sink, fake::EventLog&, fakes::FakeSerial&) {
       sink.m_failReport = 1;
     },
     {kSetStatusFailedText},
     {kServiceStartPending, kServiceStopped}},
    {"WorkerPendingReportRefused",
     [](fake::StatusSink& sink, fake::EventLog&, fakes::FakeSerial&) {
       sink.m_failReport = 2;
     },
     {kSetStatusFailedText, kFirstPendingFailedText},
     {kServiceStartPending, kServiceStartPending, kServiceStopped}},
    {"StopEventNotCreated",
     [](fake::StatusSink&, fake::EventLog&, fakes::FakeSerial&) {
       platform::SimulateStopEventFailure(true);
     },
     {kStopEventFailedText},
     {kServiceStartPending, kServiceStartPending, kServiceStopped}},
    {"BoxSwitchedOff",
     [](fake::StatusSink&, fake::EventLog&, fakes::FakeSerial& box) {
       box.answerHello = false;
     },
     {kBoxUnreachableText},
     {kServiceStartPending, kServiceStartPending, kServiceStopped}},
    {"PortCannotBeOpened",
     [](fake::StatusSink&, fake::EventLog&, fakes::FakeSerial& box) {
       box.failOpen = true;
     },
     {kBoxUnreachableText},
     {kServiceStartPending, kServiceStartPending, kServiceStopped}},
    {"RunningReportRefused",
     [](fake::StatusSink& sink, fake::EventLog&, fakes::FakeSerial&) {
       sink.m_failReport = 3;
     },
     {kSetStatusFailedText, kRunningFailedText},
     {kServiceStartPending, kServiceStartPending, kServiceRunning,
      kServiceStopped}},
};

class ServiceFailureTest : public ServiceRuntimeTest,
                           public ::testing::WithParamInterface<FailureRow> {};

TEST_P(ServiceFailureTest, WritesItsEntriesAndEndsStoppedWithTheSavedError) {
  const FailureRow& row = GetParam();
  row.arrange(m_sink, m_log, m_box);
  platform::SetLastError(0);
  ServiceEntry(0, nullptr);

  EXPECT_EQ(m_log.Messages(), row.messages);
  std::vector<std::uint32_t> states;
  for (const auto& report : m_sink.Reports())
    states.push_back(report.dwCurrentState);
  EXPECT_EQ(states, row.states);

  // STOPPED carries the error that the last entry captured.
  const auto entries = m_log.Entries();
  const platform::SERVICE_STATUS stopped = m_sink.Reports().back();
  EXPECT_EQ(entries.back().first, FirstStringFor(stopped.dwWin32ExitCode));
  EXPECT_EQ(stopped.dwWin32ExitCode, g_savedError.load());
  EXPECT_EQ(stopped.dwCheckPoint, 0u);
  if (m_sink.m_failReport != 0) {
    EXPECT_EQ(stopped.dwWin32ExitCode, 1234u);
  }

  // Every path that ran the worker ends alike: port closed, beep, pause.
  if (row.states.size() > 2) {
    EXPECT_EQ(g_beeps, std::vector<std::uint32_t>{platform::kDefaultBeep});
    EXPECT_EQ(m_clock.Sleeps().back(), kClosingPauseMs);
    EXPECT_FALSE(m_box.isOpen());
  } else {
    EXPECT_EQ(m_box.opens, 0);
  }
  EXPECT_EQ(g_stopEvent.load(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Table, ServiceFailureTest,
                         ::testing::ValuesIn(kFailureRows),
                         [](const ::testing::TestParamInfo<FailureRow>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(ServiceRuntimeTest, HandlerRegistrationRefusedReportsNothing) {
  m_sink.m_failRegistration = true;
  m_sink.m_error = 0x41B;
  ServiceEntry(0, nullptr);
  EXPECT_TRUE(m_sink.Reports().empty());
  EXPECT_TRUE(m_log.Entries().empty());
  EXPECT_EQ(g_savedError.load(), 0x41Bu);
  EXPECT_EQ(m_box.opens, 0);
}

TEST_F(ServiceRuntimeTest, LaterReportRefusedOnlyWritesItsEntry) {
  StopOnceStarted();
  m_sink.m_failReport = 6;  // the STOPPED report
  ServiceEntry(0, nullptr);
  EXPECT_EQ(m_log.Messages(), (std::vector<std::string>{kServiceStartedText,
                                                        kSetStatusFailedText}));
  EXPECT_EQ(m_sink.Reports().size(), 6u);
  EXPECT_EQ(g_savedError.load(), 1234u);
}

TEST_F(ServiceRuntimeTest, LostEntryStillUpdatesTheSavedError) {
  m_log.m_failRegistration = true;
  platform::SetLastError(77);
  WriteEventLogEntry("anything");
  EXPECT_TRUE(m_log.Entries().empty());
  EXPECT_EQ(g_savedError.load(), 77u);
  EXPECT_EQ(m_log.m_deregistrations, 0);
}

TEST_F(ServiceRuntimeTest, SavedErrorWithTopBitReadsAsNegative) {
  platform::SetLastError(0x80070005u);
  WriteEventLogEntry("denied");
  ASSERT_EQ(m_log.Entries().size(), 1u);
  EXPECT_EQ(m_log.Entries()[0].first,
            std::string(kServiceName) + " error: -2147024891");
  EXPECT_EQ(m_log.Entries()[0].second, "denied");
}

TEST_F(ServiceRuntimeTest, ClockSettingBeepsInDebugModeOnly) {
  std::atomic<int> sets{0};
  m_clock.OnSet([&sets](const fake::ClockEvent& event) {
    if (event.result) ++sets;
  });
  for (const int debug : {1, 0}) {
    SCOPED_TRACE(debug);
    g_beeps.clear();
    g_debugMode = debug;
    g_stopEvent = nullptr;
    g_stopRequested = false;
    m_box.Do("offset +5000");  // the PC clock now lags the time code
    const int setsBefore = sets;
    std::thread stopper([&sets, setsBefore] {
      // Six misses and the setting need about a second of polls.
      for (int i = 0; i < 100 && sets == setsBefore; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      std::this_thread::sleep_for(std::chrono::milliseconds(400));
      if (g_debugMode) {
        OnConsoleCtrl(platform::kCtrlCEvent);
      } else {
        OnServiceControl(kServiceControlStop);
      }
    });
    if (debug) {
      RunClockWorker();
    } else {
      g_nextCheckPoint = 1;
      ServiceEntry(0, nullptr);
    }
    stopper.join();
    EXPECT_EQ(sets, setsBefore + 1);
    std::vector<std::uint32_t> expected = {platform::kDefaultBeep};
    if (debug) expected.insert(expected.begin(), platform::kSimpleBeep);
    EXPECT_EQ(g_beeps, expected);
  }
}

TEST_F(ServiceRuntimeTest, DebugModeWritesAndReportsNothing) {
  g_debugMode = 1;
  m_box.answerHello = false;
  platform::SetLastError(55);
  RunClockWorker();
  EXPECT_TRUE(m_sink.Reports().empty());
  EXPECT_TRUE(m_log.Entries().empty());
  EXPECT_EQ(g_savedError.load(), 0u);
  EXPECT_EQ(ReportStatusToSCMgr(kServiceRunning, 0, 0), 1);
  EXPECT_TRUE(m_sink.Reports().empty());
  EXPECT_EQ(g_beeps, std::vector<std::uint32_t>{platform::kDefaultBeep});
  EXPECT_EQ(m_clock.Sleeps().back(), kClosingPauseMs);
}

TEST_F(ServiceRuntimeTest, ConsoleControlHandlesBreakAndCtrlCOnly) {
  struct Row {
    std::uint32_t type;
    int handled;
  };
  const Row rows[] = {{platform::kCtrlCEvent, 1},
                      {platform::kCtrlBreakEvent, 1},
                      {2, 0},   // close
                      {5, 0},   // log-off
                      {6, 0}};  // shut-down
  platform::StopEvent event;
  ASSERT_TRUE(event.Create());
  for (const Row& row : rows) {
    SCOPED_TRACE(row.type);
    // Before a stop event exists the handler only prints its line.
    g_stopEvent = nullptr;
    EXPECT_EQ(OnConsoleCtrl(row.type), row.handled);
    g_stopEvent = &event;
    EXPECT_EQ(OnConsoleCtrl(row.type), row.handled);
    EXPECT_EQ(event.Wait(0), row.handled == 1);
    event.Close();
    ASSERT_TRUE(event.Create());
  }
  g_stopEvent = nullptr;
}

// A stop may come at any moment of the start (systemd sends it whatever the
// service accepts): once it came first, the service ends without RUNNING or
// its start notice, and never polls.
TEST_F(ServiceRuntimeTest, StopAtEachMomentOfTheStartEndsTheService) {
  const struct {
    const char* name;
    int atReport;
    bool runningSeen;
  } moments[] = {
      {"first pending report", 1, false},
      {"worker's pending report, before the stop event", 2, false},
      {"running report", 3, true},
  };
  for (const auto& moment : moments) {
    SCOPED_TRACE(moment.name);
    SetUp();
    fake::StatusSink sink;
    fake::EventLog log;
    std::thread dispatcher;
    int reports = 0;
    // The dispatcher's thread handles the stop while the report is under
    // way; the start must see the request as soon as it exists.
    sink.m_onReport = [&](const platform::SERVICE_STATUS&) {
      if (++reports != moment.atReport) return;
      dispatcher = std::thread([] { OnServiceControl(kServiceControlStop); });
      while (!g_stopRequested) std::this_thread::yield();
    };
    const int queriesBefore = m_box.queries;
    ServiceEntry(0, nullptr);
    if (dispatcher.joinable()) dispatcher.join();

    std::vector<std::uint32_t> states;
    for (const auto& report : sink.Reports())
      states.push_back(report.dwCurrentState);
    EXPECT_EQ(std::count(states.begin(), states.end(), kServiceRunning),
              moment.runningSeen ? 1 : 0);
    EXPECT_EQ(std::count(states.begin(), states.end(), kServiceStopPending), 1);
    EXPECT_EQ(log.Messages().empty(), !moment.runningSeen);
    EXPECT_EQ(m_box.queries, queriesBefore);
    EXPECT_FALSE(m_box.isOpen());
    EXPECT_EQ(g_stopEvent.load(), nullptr);
  }
}

}  // namespace
