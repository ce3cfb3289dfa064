// What Linux's service manager, systemd, is told while a service runs: the
// notification lines that carry its status reports. Pure text work, kept
// apart from the calls so it can be checked anywhere.
#pragma once

#include <string>

#include "platform/service_control.h"

namespace platform {

// The notification message for a status report: READY=1 for RUNNING,
// STOPPING=1 for STOP_PENDING, EXTEND_TIMEOUT_USEC= with the wait hint in
// the pending states, the exit code for STOPPED, and always a STATUS= line
// with the state, check-point and wait hint.
std::string RenderNotifyMessage(const SERVICE_STATUS& status);

// The notification for a line of live status: STATUS= and the text, with
// line breaks made blanks (one notification line holds one status).
std::string RenderStatusText(const char* text);

// The name of a state as it appears in the STATUS= line.
const char* ServiceStateName(std::uint32_t state);

}  // namespace platform
