// Ventrel's runtime: the service's entry routine and control handler, the
// status reports, the worker that keeps the clock and the event log entries;
// and the same worker run in a console for debugging.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/service_control.h"
#include "platform/stop_event.h"

// The process-wide service state. The status record and the check-point
// counter are changed only under the report lock inside the routines below.
extern platform::SERVICE_STATUS g_serviceStatus;
extern platform::ServiceStatusHandle g_statusHandle;
extern std::uint32_t g_nextCheckPoint;
// The last error captured by the latest event log write (or by a failed
// handler registration); the exit code of the final STOPPED report.
extern std::atomic<std::uint32_t> g_savedError;
// Nonzero in debug mode: no reports, no event log, a beep per clock setting.
extern std::int32_t g_debugMode;
// The running worker's stop event; null while there is none.
extern std::atomic<platform::StopEvent*> g_stopEvent;
// Set by the first stop request and never cleared: a stop that comes while
// the service is still starting, even before the stop event exists, ends it.
extern std::atomic<bool> g_stopRequested;

void ServiceEntry(std::uint32_t argc, char** argv);
void OnServiceControl(std::uint32_t control);
// Nonzero when the report was accepted; always nonzero in debug mode.
int ReportStatusToSCMgr(std::uint32_t state, std::uint32_t win32ExitCode,
                        std::uint32_t waitHint);
void RunClockWorker();
void WriteEventLogEntry(const char* message);
// An information-type entry (the journal at info priority); in debug mode a
// line on standard error. The saved error is left alone.
void WriteInformationEntry(const char* text);
void SetStopEvent();
void RunDebugConsole();
int OnConsoleCtrl(std::uint32_t ctrlType);

// Console output, pushed out at once so a watcher sees each line (or a
// partial line of dots) when it is printed. MinGW's GCC checks the format
// against the GNU printf it links; clang (the fuzz build) knows only printf.
#if defined(__clang__)
#define QUORVEL_PRINTF_FORMAT printf
#else
#define QUORVEL_PRINTF_FORMAT gnu_printf
#endif
void PrintToConsole(const char* format, ...)
    __attribute__((format(QUORVEL_PRINTF_FORMAT, 1, 2)));

// The texts the worker writes into the event log.
inline constexpr char kFirstPendingFailedText[] =
    "error -1st ReportStatusToSCMgr-Pending, No Error, 3s";
inline constexpr char kStopEventFailedText[] =
    "error - Server Stop Event = NULL";
inline constexpr char kBoxUnreachableText[] =
    "Ventrel - Service unable to execute START on ComPort or BOX";
inline constexpr char kRunningFailedText[] =
    "error - After start called-ReportStatusToSCMgr-RUNNING, No Error, 0s";
inline constexpr char kServiceStartedText[] =
    "Quorvel Time Code to PC clock service started";
inline constexpr char kSetStatusFailedText[] = "SetServiceStatus";
inline constexpr char kPortLostText[] =
    "Ventrel - ComPort lost: %s. Port closed; trying the BOX again every %u s";
inline constexpr char kBoxBackText[] =
    "Ventrel - ComPort and BOX answer again; keeping time";

// The worker's pauses and cadence, in milliseconds.
inline constexpr std::uint32_t kPollWaitMs = 153;
inline constexpr std::uint32_t kAfterRunningMs = 25;
inline constexpr std::uint32_t kClosingPauseMs = 5000;
inline constexpr std::uint32_t kReconnectPauseMs = 5000;
inline constexpr std::uint32_t kConnectRetryPauseMs = 250;
// Connects a start tries before it gives up on the box.
inline constexpr int kConnectAttempts = 3;
