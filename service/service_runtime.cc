#include "service/service_runtime.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "clock/time_code_clock.h"
#include "platform/beep.h"
#include "platform/clock.h"
#include "platform/console_control.h"
#include "platform/event_log.h"
#include "platform/system_error.h"
#include "service/chrony_feed.h"
#include "service/service_identity.h"

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

namespace {

// Reports come from the service thread and from the control handler on the
// dispatcher's thread; the lock keeps each report whole and the check-point
// count free of lost increments.
std::mutex g_reportLock;

// The one stop event of the process. It outlives every worker, so a stop
// request that races with the worker's ending signals a closed event, which
// does nothing, rather than a freed one.
platform::StopEvent g_stopEventObject;

bool CarriesCheckPoint(std::uint32_t state) {
  return state != kServiceRunning && state != kServiceStopped;
}

bool StartWorker(CTimeCodeClock& clock) {
  if (!ReportStatusToSCMgr(kServiceStartPending, 0, 3000)) {
    WriteEventLogEntry(kFirstPendingFailedText);
    return false;
  }
  if (!g_stopEventObject.Create()) {
    WriteEventLogEntry(kStopEventFailedText);
    return false;
  }
  g_stopEvent = &g_stopEventObject;
  clock.Connect(true);
  if (clock.m_linkReady == 0) {
    WriteEventLogEntry(kBoxUnreachableText);
    return false;
  }
  if (!ReportStatusToSCMgr(kServiceRunning, 0, 0)) {
    WriteEventLogEntry(kRunningFailedText);
    return false;
  }
  platform::Sleep(kAfterRunningMs);
  WriteEventLogEntry(kServiceStartedText);
  return true;
}

// Feeding chrony, Ventrel never sets the clock behind chrony's back.
void AnnounceChronyFeed(const CChronyFeed& feed) {
  if (!feed.Active()) return;
  char text[512];
  std::snprintf(text, sizeof text, kChronyFeedText, feed.Path().c_str());
  if (g_debugMode != 0) {
    PrintToConsole("%s.\n", text);
  } else {
    // A note, not a failure: no error of an earlier call rides along.
    platform::SetLastError(0);
    WriteEventLogEntry(text);
  }
}

void RunPollLoop(CTimeCodeClock& clock, CChronyFeed& feed,
                 platform::StopEvent& stopEvent) {
  clock.m_setClockEnabled = feed.Active() ? 0 : 1;
  while (!stopEvent.Wait(kPollWaitMs)) {
    if (clock.Poll() != 0 && g_debugMode != 0) {
      platform::MessageBeep(platform::kSimpleBeep);
    }
    feed.AfterPoll(clock.m_lastPoll);
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
  std::uint32_t state;
  {
    std::lock_guard<std::mutex> lock(g_reportLock);
    if (control == kServiceControlStop) {
      g_serviceStatus.dwCurrentState = kServiceStopPending;
    }
    state = g_serviceStatus.dwCurrentState;
  }
  if (control == kServiceControlStop) SetStopEvent();
  ReportStatusToSCMgr(state, 0, 1000);
}

void SetStopEvent() {
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
