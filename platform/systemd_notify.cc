#include "platform/systemd_notify.h"

#include <cstdint>

namespace platform {
namespace {

std::string ToDecimal(std::uint64_t value) { return std::to_string(value); }

}  // namespace

std::string RenderStatusText(const char* text) {
  std::string message = "STATUS=";
  for (; *text != '\0'; ++text) {
    message += (*text == '\n' || *text == '\r') ? ' ' : *text;
  }
  return message;
}

const char* ServiceStateName(std::uint32_t state) {
  switch (state) {
    case kServiceStopped:
      return "STOPPED";
    case kServiceStartPending:
      return "START_PENDING";
    case kServiceStopPending:
      return "STOP_PENDING";
    case kServiceRunning:
      return "RUNNING";
    default:
      return "UNKNOWN";
  }
}

std::string RenderNotifyMessage(const SERVICE_STATUS& status) {
  std::string message;
  const std::uint32_t state = status.dwCurrentState;
  if (state == kServiceRunning) message += "READY=1\n";
  if (state == kServiceStopPending) message += "STOPPING=1\n";
  if (state == kServiceStartPending || state == kServiceStopPending) {
    message += "EXTEND_TIMEOUT_USEC=" +
               ToDecimal(std::uint64_t{status.dwWaitHint} * 1000) + "\n";
  }
  if (state == kServiceStopped) {
    message += "ERRNO=" + ToDecimal(status.dwWin32ExitCode) + "\n";
    message += "EXIT_STATUS=" + ToDecimal(status.dwWin32ExitCode) + "\n";
  }
  message += "STATUS=" + std::string(ServiceStateName(state)) +
             ", check-point " + ToDecimal(status.dwCheckPoint) +
             ", wait hint " + ToDecimal(status.dwWaitHint) + " ms";
  if (state == kServiceStopped) {
    message += ", exit code " + ToDecimal(status.dwWin32ExitCode);
  }
  return message;
}

}  // namespace platform
