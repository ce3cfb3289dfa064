// The service manager as the service sees it: a control dispatcher that runs
// the service's entry routine on a thread of its own, a control handler, the
// status reports, and the handful of calls that install and remove a
// service. Windows has the Service Control Manager; on Linux systemd plays
// its part (see platform/posix/service_control.cc).
#pragma once

#include <cstdint>

namespace platform {

// The seven 32-bit fields of a status report, in the Win32 order.
struct SERVICE_STATUS {
  std::uint32_t dwServiceType;
  std::uint32_t dwCurrentState;
  std::uint32_t dwControlsAccepted;
  std::uint32_t dwWin32ExitCode;
  std::uint32_t dwServiceSpecificExitCode;
  std::uint32_t dwCheckPoint;
  std::uint32_t dwWaitHint;
};

inline constexpr std::uint32_t kServiceOwnProcess = 0x10;
inline constexpr std::uint32_t kServiceStopped = 1;
inline constexpr std::uint32_t kServiceStartPending = 2;
inline constexpr std::uint32_t kServiceStopPending = 3;
inline constexpr std::uint32_t kServiceRunning = 4;
inline constexpr std::uint32_t kServiceAcceptStop = 1;
inline constexpr std::uint32_t kServiceControlStop = 1;
inline constexpr std::uint32_t kServiceControlInterrogate = 4;

using ServiceStatusHandle = std::intptr_t;  // 0: none
using ServiceControlHandler = void (*)(std::uint32_t control);
using ServiceEntryRoutine = void (*)(std::uint32_t argc, char** argv);

// Where status reports go. Tests install a recorder in place of the
// system's service manager.
class ServiceStatusSink {
 public:
  virtual ~ServiceStatusSink() = default;
  // 0 (with the last error set) when the handler cannot be registered.
  virtual ServiceStatusHandle RegisterCtrlHandler(
      const char* serviceName, ServiceControlHandler handler) = 0;
  // Nonzero when the report was accepted; 0 with the last error set.
  virtual int SetStatus(ServiceStatusHandle handle,
                        const SERVICE_STATUS& status) = 0;
  // A line of live status that the service manager shows beside the state
  // (systemd's STATUS=). The Service Control Manager has no such line; the
  // service tells its story in the event log instead.
  virtual int SetStatusText(ServiceStatusHandle, const char*) { return 1; }
};

ServiceStatusSink& SystemServiceStatusSink();
// nullptr restores the system's.
void UseServiceStatusSink(ServiceStatusSink* sink);

ServiceStatusHandle RegisterServiceControlHandler(
    const char* serviceName, ServiceControlHandler handler);
int SetServiceStatus(ServiceStatusHandle handle, const SERVICE_STATUS& status);
int SetServiceStatusText(ServiceStatusHandle handle, const char* text);

// Hands the process to the service manager, which runs `entry` on a thread
// of its own and the control handler on the calling thread. Returns nonzero
// after the service has stopped, 0 (with the last error set) when the
// process was not started by the service manager.
int StartServiceDispatcher(const char* serviceName, ServiceEntryRoutine entry);

// The process exit status after the dispatcher returned `result`. Windows
// keeps the dispatcher's own result (1 after a normal run) and gives 2 when
// it could not start; systemd reads the exit status, so on Linux a normal
// run ends with 0 and a dispatcher that could not start with 1.
int ServiceProcessExitStatus(int dispatcherResult);

// Installation and removal. Handles are 0 when a call fails, with the last
// error set for DescribeLastError.
using ServiceManagerHandle = std::intptr_t;

struct ServiceDefinition {
  const char* serviceName;
  const char* displayName;
  const char* programPath;
  // The whole unit file where systemd installs services from one; Windows
  // keeps its own record and does not look at it.
  const char* unitText;
};

ServiceManagerHandle OpenServiceManager();
ServiceManagerHandle CreateOwnProcessService(ServiceManagerHandle manager,
                                             const ServiceDefinition& service);
ServiceManagerHandle OpenServiceByName(ServiceManagerHandle manager,
                                       const char* serviceName);
// Sends the stop control; nonzero when the service accepted it.
int ControlServiceStop(ServiceManagerHandle service, SERVICE_STATUS* status);
int QueryServiceStatus(ServiceManagerHandle service, SERVICE_STATUS* status);
int DeleteService(ServiceManagerHandle service);
void CloseServiceHandle(ServiceManagerHandle handle);

// The full path of the running program's own file into `path` (room for
// `size` bytes, NUL included); 0 with the last error set on failure,
// including a path too long for the room (never a path cut short).
int GetOwnProgramPath(char* path, std::uint32_t size);

}  // namespace platform
