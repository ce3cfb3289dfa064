#include <cstdint>
#include <string>

#include "platform/clock.h"
#include "platform/service_control.h"
#include "service/command_line.h"
#include "service/service_identity.h"
#include "service/service_runtime.h"
#include "service/systemd_unit.h"

namespace {

const char* LastErrorText() {
  return DescribeLastError(g_errorText, kErrorTextSize);
}

// Sends the stop and prints a dot a second while the service winds down.
void StopBeforeRemoval(platform::ServiceManagerHandle service) {
  if (!platform::ControlServiceStop(service, &g_serviceStatus)) return;
  PrintToConsole("Stopping %s.", kDisplayName);
  platform::Sleep(kStopPollMs);
  while (platform::QueryServiceStatus(service, &g_serviceStatus) &&
         g_serviceStatus.dwCurrentState == platform::kServiceStopPending) {
    PrintToConsole(".");
    platform::Sleep(kStopPollMs);
  }
  if (g_serviceStatus.dwCurrentState == platform::kServiceStopped) {
    PrintToConsole("\n%s stopped.\n", kDisplayName);
  } else {
    PrintToConsole("\n%s failed to stop.\n", kDisplayName);
  }
}

}  // namespace

void InstallClockService() {
  char path[512];
  if (!platform::GetOwnProgramPath(path, sizeof path)) {
    PrintToConsole("Unable to load %s - %s\n", kDisplayName, LastErrorText());
    return;
  }
  const platform::ServiceManagerHandle manager = platform::OpenServiceManager();
  if (manager == 0) {
    PrintToConsole("OpenSCManager failed - %s\n", LastErrorText());
    return;
  }
  const std::string unit = RenderUnit(path);
  const platform::ServiceManagerHandle service =
      platform::CreateOwnProcessService(
          manager, platform::ServiceDefinition{kServiceName, kDisplayName, path,
                                               unit.c_str()});
  if (service != 0) {
    PrintToConsole("%s loaded.\n", kDisplayName);
    platform::CloseServiceHandle(service);
  } else {
    PrintToConsole("CreateService failed - %s\n", LastErrorText());
  }
  platform::CloseServiceHandle(manager);
}

void RemoveClockService() {
  const platform::ServiceManagerHandle manager = platform::OpenServiceManager();
  if (manager == 0) {
    PrintToConsole("OpenSCManager failed - %s\n", LastErrorText());
    return;
  }
  const platform::ServiceManagerHandle service =
      platform::OpenServiceByName(manager, kServiceName);
  if (service == 0) {
    PrintToConsole("OpenService failed - %s\n", LastErrorText());
    platform::CloseServiceHandle(manager);
    return;
  }
  StopBeforeRemoval(service);
  if (platform::DeleteService(service)) {
    PrintToConsole("%s removed.\n", kDisplayName);
  } else {
    PrintToConsole("DeleteService failed - %s\n", LastErrorText());
  }
  platform::CloseServiceHandle(service);
  platform::CloseServiceHandle(manager);
}
