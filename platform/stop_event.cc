#include "platform/stop_event_test_seam.h"

#include <atomic>

namespace platform {
namespace {

std::atomic<bool> g_failCreation{false};

}  // namespace

void SimulateStopEventFailure(bool fail) { g_failCreation = fail; }
bool StopEventFailureSimulated() { return g_failCreation; }

}  // namespace platform
