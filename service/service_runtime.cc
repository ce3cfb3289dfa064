#include "service/service_runtime.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

#include "clock/time_code_clock.h"
#include "platform/beep.h"
#include "platform/clock.h"
#include "platform/console_control.h"
#include "platform/event_log.h"
#include "platform/system_error.h"
#include "service/chrony_feed.h"
#include "service/clock_status.h"
#include "service/service_identity.h"
#include "service/service_runtime_test_seam.h"

using platform::kServiceAcceptStop;
using platform::kServiceControlStop;
using platform::kServiceRunning;
using platform::kServiceStartPending;
using platform::kServiceStopped;
using platform::kServiceStopPending;

platform::SERVICE_STATUS g_serviceStatus = {};
platform::ServiceStatusHandle g_statusHandle = 0;
std::uint32_t g_nextCheckPoint = 1;
std::atomic<std::uint32_t> g_savedError{0};
std::int32_t g_debugMode = 0;
std::atomic<platform::StopEvent*> g_stopEvent{nullptr};
std::atomic<bool> g_stopRequested{false};

namespace {

// Reports come from the service thread and from the control handler on the
// dispatcher's thread; the lock keeps each report whole and the check-point
// count free of lost increments.
std::mutex g_reportLock;

std::atomic<std::uint32_t> g_reconnectPauseMs{kReconnectPauseMs};

// The one stop event of the process. It outlives every worker, so a stop
// request that races with the worker's ending signals a closed event, which
// does nothing, rather than a freed one.
platform::StopEvent g_stopEventObject;

bool CarriesCheckPoint(std::uint32_t state) {
  return state != kServiceRunning && state != kServiceStopped;
}

// Fills the status record and hands it over; the report lock is held.
int SendReport(std::uint32_t state, std::uint32_t win32ExitCode,
               std::uint32_t waitHint) {
  g_serviceStatus.dwControlsAccepted =
      state == kServiceStartPending ? 0 : kServiceAcceptStop;
  g_serviceStatus.dwCurrentState = state;
  g_serviceStatus.dwWin32ExitCode = win32ExitCode;
  g_serviceStatus.dwWaitHint = waitHint;
  g_serviceStatus.dwCheckPoint =
      CarriesCheckPoint(state) ? g_nextCheckPoint++ : 0;
  const int accepted =
      platform::SetServiceStatus(g_statusHandle, g_serviceStatus);
  if (!accepted) WriteEventLogEntry(kSetStatusFailedText);
  return accepted;
}

enum class StartStep { kDone, kFailed, kStopped };

// A report of the start that a stop request may overtake: systemd sends its
// stop whatever controls the service accepts. Checked and sent under the
// report lock, so that a STOP_PENDING is never followed by START_PENDING or
// RUNNING.
StartStep ReportStartStep(std::uint32_t state, std::uint32_t waitHint) {
  if (g_stopRequested) return StartStep::kStopped;
  if (g_debugMode != 0) return StartStep::kDone;
  std::lock_guard<std::mutex> lock(g_reportLock);
  if (g_stopRequested) return StartStep::kStopped;
  return SendReport(state, 0, waitHint) ? StartStep::kDone : StartStep::kFailed;
}

// The stop event, created so that a stop requested before it existed still
// holds: creating it clears it, so the request is signalled again after.
bool CreateStopEvent() {
  if (!g_stopEventObject.Create()) return false;
  g_stopEvent = &g_stopEventObject;
  if (g_stopRequested) g_stopEventObject.Set();
  return true;
}

bool StartWorker(CTimeCodeClock& clock) {
  StartStep step = ReportStartStep(kServiceStartPending, 3000);
  if (step == StartStep::kFailed) WriteEventLogEntry(kFirstPendingFailedText);
  if (step != StartStep::kDone) return false;
  if (!CreateStopEvent()) {
    WriteEventLogEntry(kStopEventFailedText);
    return false;
  }
  if (g_stopRequested) return false;
  // One late or lost answer among the handshake's hellos (a loaded machine,
  // an adapter that is still settling) fails a connect; a start does not end
  // on that. Each new try is a step of the start that the manager hears of.
  for (int attempt = 1;; ++attempt) {
    clock.Connect(true);
    if (g_stopRequested) return false;
    if (clock.m_linkReady != 0) break;
    if (attempt == kConnectAttempts) {
      WriteEventLogEntry(kBoxUnreachableText);
      return false;
    }
    if (g_stopEventObject.Wait(kConnectRetryPauseMs)) return false;
    // A refused report has its own entry already.
    if (ReportStartStep(kServiceStartPending, 3000) != StartStep::kDone)
      return false;
  }
  step = ReportStartStep(kServiceRunning, 0);
  if (step == StartStep::kFailed) WriteEventLogEntry(kRunningFailedText);
  if (step != StartStep::kDone) return false;
  platform::Sleep(kAfterRunningMs);
  WriteEventLogEntry(kServiceStartedText);
  return true;
}

std::int64_t SteadyMs() { return platform::ReadPreciseTime().utcUs / 1000; }

// The system's text for an error, without its closing line break.
std::string SystemText(std::uint32_t error) {
  char text[512];
  const std::uint32_t length =
      platform::FormatSystemMessage(error, text, sizeof text);
  std::string result(text, length);
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r'))
    result.pop_back();
  if (result.empty()) result = "error " + std::to_string(error);
  return result;
}

// The live line: systemd's STATUS= while the service runs, standard error in
// debug mode (standard output keeps its own lines).
void ShowStatusLine(const std::string& line) {
  if (line.empty()) return;
  if (g_debugMode != 0) {
    std::fprintf(stderr, "%s\n", line.c_str());
    return;
  }
  std::lock_guard<std::mutex> lock(g_reportLock);
  if (g_serviceStatus.dwCurrentState != kServiceRunning) return;
  platform::SetServiceStatusText(g_statusHandle, line.c_str());
}

void TellAfterPoll(CClockStatus& status, const CTimeCodeClock& clock) {
  const std::int64_t now = SteadyMs();
  status.AfterPoll(clock, now);
  if (status.HasNewSetting()) {
    const std::string setting =
        status.TakeSetEntry(SystemText(clock.m_figures.setError).c_str(), now);
    if (!setting.empty()) WriteInformationEntry(setting.c_str());
  }
  const std::string change = status.TakeStateEntry();
  if (!change.empty()) WriteInformationEntry(change.c_str());
  ShowStatusLine(status.DueLine(now));
}

// The device went away under the worker (a USB adapter pulled out): said
// once, the port closed, and the box tried again every few seconds until it
// answers. True when it is back, false when a stop came first.
bool ReconnectLostPort(CTimeCodeClock& clock, CClockStatus& status,
                       platform::StopEvent& stopEvent) {
  const std::uint32_t error = clock.m_link.m_deviceError;
  const std::string systemText = SystemText(error);
  char message[768];
  std::snprintf(message, sizeof message, kPortLostText, systemText.c_str(),
                static_cast<unsigned>(kReconnectPauseMs / 1000));
  // The entry's saved error must not outlive the loss: the service's exit
  // code after a later, normal stop stays what it was.
  const std::uint32_t savedBefore = g_savedError;
  platform::SetLastError(error);
  WriteEventLogEntry(message);
  status.PortLost(systemText.c_str(), SteadyMs());
  ShowStatusLine(status.Line());
  clock.Connect(false);
  while (!stopEvent.Wait(g_reconnectPauseMs)) {
    clock.Connect(true);
    if (clock.m_linkReady) {
      g_savedError = savedBefore;
      WriteInformationEntry(kBoxBackText);
      return true;
    }
  }
  return false;
}

// Feeding chrony, Ventrel never sets the clock behind chrony's back.
void AnnounceChronyFeed(const CChronyFeed& feed) {
  if (!feed.Active()) return;
  char text[512];
  std::snprintf(text, sizeof text, kChronyFeedText, feed.Path().c_str());
  if (g_debugMode != 0) {
    PrintToConsole("%s.\n", text);
  } else {
    WriteInformationEntry(text);
  }
}

void RunPollLoop(CTimeCodeClock& clock, CChronyFeed& feed,
                 platform::StopEvent& stopEvent) {
  clock.m_setClockEnabled = feed.Active() ? 0 : 1;
  CClockStatus status;
  while (!stopEvent.Wait(kPollWaitMs)) {
    if (clock.Poll() != 0 && g_debugMode != 0) {
      platform::MessageBeep(platform::kSimpleBeep);
    }
    if (clock.m_link.m_deviceLost) {
      if (!ReconnectLostPort(clock, status, stopEvent)) return;
      continue;
    }
    feed.AfterPoll(clock.m_lastPoll);
    TellAfterPoll(status, clock);
  }
}

void EndWorker(CTimeCodeClock& clock) {
  platform::StopEvent* stopEvent = g_stopEvent.exchange(nullptr);
  if (stopEvent != nullptr) stopEvent->Close();
  clock.Connect(false);
  platform::MessageBeep(platform::kDefaultBeep);
  platform::Sleep(kClosingPauseMs);
}

}  // namespace

void ShortenReconnectPauseForTests(std::uint32_t milliseconds) {
  g_reconnectPauseMs = milliseconds != 0 ? milliseconds : kReconnectPauseMs;
}

void PrintToConsole(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::vprintf(format, arguments);
  va_end(arguments);
  std::fflush(stdout);
}

int ReportStatusToSCMgr(std::uint32_t state, std::uint32_t win32ExitCode,
                        std::uint32_t waitHint) {
  if (g_debugMode != 0) return 1;
  std::lock_guard<std::mutex> lock(g_reportLock);
  return SendReport(state, win32ExitCode, waitHint);
}

void ServiceEntry(std::uint32_t, char**) {
  g_statusHandle =
      platform::RegisterServiceControlHandler(kServiceName, OnServiceControl);
  if (g_statusHandle == 0) {
    g_savedError = platform::GetLastError();
    return;
  }
  {
    std::lock_guard<std::mutex> lock(g_reportLock);
    g_serviceStatus.dwServiceType = platform::kServiceOwnProcess;
    g_serviceStatus.dwServiceSpecificExitCode = 0;
  }
  if (ReportStatusToSCMgr(kServiceStartPending, 0, 3000)) RunClockWorker();
  ReportStatusToSCMgr(kServiceStopped, g_savedError, 0);
}

void OnServiceControl(std::uint32_t control) {
  const bool stop = control == kServiceControlStop;
  // Before anything else, so that a start under way yields to the stop.
  if (stop) g_stopRequested = true;
  {
    // Answered under the report lock before the worker is told to end, and
    // not at all once STOPPED has gone: a STOP_PENDING after it would be
    // refused, or read as the service running again.
    std::lock_guard<std::mutex> lock(g_reportLock);
    if (g_serviceStatus.dwCurrentState != kServiceStopped) {
      if (stop) g_serviceStatus.dwCurrentState = kServiceStopPending;
      if (g_debugMode == 0) SendReport(g_serviceStatus.dwCurrentState, 0, 1000);
    }
  }
  if (stop) SetStopEvent();
}

void SetStopEvent() {
  g_stopRequested = true;
  platform::StopEvent* stopEvent = g_stopEvent;
  if (stopEvent != nullptr) stopEvent->Set();
}

void RunClockWorker() {
  CTimeCodeClock clock;
  CChronyFeed feed;
  if (StartWorker(clock)) {
    AnnounceChronyFeed(feed);
    RunPollLoop(clock, feed, g_stopEventObject);
  }
  EndWorker(clock);
}

void WriteEventLogEntry(const char* message) {
  if (g_debugMode != 0) return;
  const std::uint32_t error = platform::GetLastError();
  g_savedError = error;
  const platform::EventSourceHandle source =
      platform::RegisterEventLogSource(kServiceName);
  char first[256];
  std::snprintf(first, sizeof first, "%s error: %d", kServiceName,
                static_cast<int>(static_cast<std::int32_t>(error)));
  if (source == 0) return;
  platform::ReportErrorEvent(source, first, message);
  platform::DeregisterEventSource(source);
}

void WriteInformationEntry(const char* text) {
  if (g_debugMode != 0) {
    std::fprintf(stderr, "%s\n", text);
    return;
  }
  const platform::EventSourceHandle source =
      platform::RegisterEventLogSource(kServiceName);
  if (source == 0) return;
  platform::ReportInformationEvent(source, text);
  platform::DeregisterEventSource(source);
}

void RunDebugConsole() {
  PrintToConsole("Debugging %s.\n", kDisplayName);
  platform::SetConsoleCtrlHandler(OnConsoleCtrl);
  RunClockWorker();
}

int OnConsoleCtrl(std::uint32_t ctrlType) {
  if (ctrlType != platform::kCtrlCEvent &&
      ctrlType != platform::kCtrlBreakEvent) {
    return 0;
  }
  PrintToConsole("Stopping %s.\n", kDisplayName);
  SetStopEvent();
  return 1;
}
