// Test seam of the stop event: lets a test see the worker's answer to an
// event that cannot be created. While set, StopEvent::Create() fails. Only
// tests and the event's own implementations include this.
#pragma once

namespace platform {

void SimulateStopEventFailure(bool fail);
bool StopEventFailureSimulated();

}  // namespace platform
