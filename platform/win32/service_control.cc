#include "platform/service_control.h"

#include <windows.h>

#include <atomic>

namespace platform {
namespace {

std::atomic<ServiceControlHandler> g_controlHandler{nullptr};
std::atomic<ServiceEntryRoutine> g_serviceEntry{nullptr};

VOID WINAPI OnControl(DWORD control) {
  const ServiceControlHandler handler = g_controlHandler;
  if (handler != nullptr) handler(control);
}

VOID WINAPI RunServiceEntry(DWORD argc, LPSTR* argv) {
  const ServiceEntryRoutine entry = g_serviceEntry;
  if (entry != nullptr) entry(argc, argv);
}

::SERVICE_STATUS ToWindows(const SERVICE_STATUS& status) {
  ::SERVICE_STATUS windows;
  windows.dwServiceType = status.dwServiceType;
  windows.dwCurrentState = status.dwCurrentState;
  windows.dwControlsAccepted = status.dwControlsAccepted;
  windows.dwWin32ExitCode = status.dwWin32ExitCode;
  windows.dwServiceSpecificExitCode = status.dwServiceSpecificExitCode;
  windows.dwCheckPoint = status.dwCheckPoint;
  windows.dwWaitHint = status.dwWaitHint;
  return windows;
}

void FromWindows(const ::SERVICE_STATUS& windows, SERVICE_STATUS* status) {
  status->dwServiceType = windows.dwServiceType;
  status->dwCurrentState = windows.dwCurrentState;
  status->dwControlsAccepted = windows.dwControlsAccepted;
  status->dwWin32ExitCode = windows.dwWin32ExitCode;
  status->dwServiceSpecificExitCode = windows.dwServiceSpecificExitCode;
  status->dwCheckPoint = windows.dwCheckPoint;
  status->dwWaitHint = windows.dwWaitHint;
}

SC_HANDLE AsScHandle(ServiceManagerHandle handle) {
  return reinterpret_cast<SC_HANDLE>(handle);
}

ServiceManagerHandle FromScHandle(SC_HANDLE handle) {
  return reinterpret_cast<ServiceManagerHandle>(handle);
}

class ScmStatusSink : public ServiceStatusSink {
 public:
  ServiceStatusHandle RegisterCtrlHandler(
      const char* serviceName, ServiceControlHandler handler) override {
    g_controlHandler = handler;
    return reinterpret_cast<ServiceStatusHandle>(
        RegisterServiceCtrlHandlerA(serviceName, OnControl));
  }

  int SetStatus(ServiceStatusHandle handle,
                const SERVICE_STATUS& status) override {
    ::SERVICE_STATUS windows = ToWindows(status);
    return ::SetServiceStatus(reinterpret_cast<SERVICE_STATUS_HANDLE>(handle),
                              &windows)
               ? 1
               : 0;
  }
};

}  // namespace

ServiceStatusSink& SystemServiceStatusSink() {
  static ScmStatusSink sink;
  return sink;
}

int StartServiceDispatcher(const char* serviceName, ServiceEntryRoutine entry) {
  g_serviceEntry = entry;
  char name[256];
  lstrcpynA(name, serviceName, sizeof name);
  const SERVICE_TABLE_ENTRYA table[] = {{name, RunServiceEntry},
                                        {nullptr, nullptr}};
  return StartServiceCtrlDispatcherA(table) ? 1 : 0;
}

int ServiceProcessExitStatus(int dispatcherResult) {
  return dispatcherResult != 0 ? dispatcherResult : 2;
}

ServiceManagerHandle OpenServiceManager() {
  return FromScHandle(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
}

ServiceManagerHandle CreateOwnProcessService(ServiceManagerHandle manager,
                                             const ServiceDefinition& service) {
  return FromScHandle(CreateServiceA(
      AsScHandle(manager), service.serviceName, service.displayName,
      SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
      SERVICE_ERROR_NORMAL, service.programPath, nullptr, nullptr, "\0\0",
      nullptr, nullptr));
}

ServiceManagerHandle OpenServiceByName(ServiceManagerHandle manager,
                                       const char* serviceName) {
  return FromScHandle(
      OpenServiceA(AsScHandle(manager), serviceName, SERVICE_ALL_ACCESS));
}

int ControlServiceStop(ServiceManagerHandle service, SERVICE_STATUS* status) {
  ::SERVICE_STATUS windows = {};
  const BOOL accepted =
      ControlService(AsScHandle(service), SERVICE_CONTROL_STOP, &windows);
  if (accepted) FromWindows(windows, status);
  return accepted ? 1 : 0;
}

int QueryServiceStatus(ServiceManagerHandle service, SERVICE_STATUS* status) {
  ::SERVICE_STATUS windows = {};
  if (!::QueryServiceStatus(AsScHandle(service), &windows)) return 0;
  FromWindows(windows, status);
  return 1;
}

int DeleteService(ServiceManagerHandle service) {
  return ::DeleteService(AsScHandle(service)) ? 1 : 0;
}

void CloseServiceHandle(ServiceManagerHandle handle) {
  if (handle != 0) ::CloseServiceHandle(AsScHandle(handle));
}

int GetOwnProgramPath(char* path, std::uint32_t size) {
  if (size == 0) return 0;
  const DWORD length = GetModuleFileNameA(nullptr, path, size);
  if (length == 0) return 0;
  // A path cut short would install a service that cannot start.
  if (length >= size) {
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  return 1;
}

}  // namespace platform
