#include "platform/systemd_unit.h"

#include <cstdint>

namespace platform {
namespace {

bool NeedsQuotes(const char* path) {
  for (; *path != '\0'; ++path) {
    const char c = *path;
    if (c == ' ' || c == '\t' || c == '"' || c == '\'' || c == '\\' || c == ';')
      return true;
  }
  return false;
}

std::string ToDecimal(std::uint64_t value) { return std::to_string(value); }

}  // namespace

std::string QuoteUnitPath(const char* path) {
  const bool quoted = NeedsQuotes(path);
  std::string word = quoted ? "\"" : "";
  for (; *path != '\0'; ++path) {
    if (*path == '%') {
      word += "%%";
    } else if (quoted && (*path == '"' || *path == '\\')) {
      word += '\\';
      word += *path;
    } else {
      word += *path;
    }
  }
  if (quoted) word += '"';
  return word;
}

std::string RenderServiceUnit(const ServiceDefinition& service) {
  std::string unit;
  unit += "[Unit]\n";
  unit += "Description=" + std::string(service.displayName) + "\n";
  unit += "\n[Service]\n";
  unit += "Type=notify\n";
  unit += "NotifyAccess=main\n";
  unit += "ExecStart=" + QuoteUnitPath(service.programPath) + "\n";
  // The stop takes a little over five seconds: the worker's closing pause.
  unit += "TimeoutStopSec=30\n";
  unit += "DynamicUser=yes\n";
  unit += "SupplementaryGroups=dialout\n";
  unit += "AmbientCapabilities=CAP_SYS_TIME\n";
  unit += "CapabilityBoundingSet=CAP_SYS_TIME\n";
  unit += "NoNewPrivileges=yes\n";
  // The settings folder belongs to root; the setup program writes it, the
  // service only reads it.
  unit += "ConfigurationDirectory=quorvel\n";
  unit += "ConfigurationDirectoryMode=0755\n";
  unit += "ProtectSystem=strict\n";
  unit += "ProtectHome=yes\n";
  unit += "PrivateTmp=yes\n";
  unit += "DevicePolicy=closed\n";
  unit += "DeviceAllow=char-ttyS rw\n";
  unit += "DeviceAllow=char-ttyUSB rw\n";
  unit += "DeviceAllow=char-ttyACM rw\n";
  unit += "DeviceAllow=char-pts rw\n";
  unit += "\n[Install]\n";
  unit += "WantedBy=multi-user.target\n";
  return unit;
}

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
