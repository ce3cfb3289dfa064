// Real elapsed time for the tests that talk to a line, and waiting for a
// condition instead of for a fixed time.
#pragma once

#include <chrono>
#include <cstdint>
#include <thread>

namespace fakes {

inline std::int64_t MonotonicMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// True as soon as `condition` holds; false when it still does not after
// `timeoutMs`, which should be generous: a loaded machine is slow.
template <typename Condition>
bool WaitFor(Condition condition, std::int64_t timeoutMs = 5000) {
  for (const std::int64_t giveUp = MonotonicMs() + timeoutMs;;) {
    if (condition()) return true;
    if (MonotonicMs() > giveUp) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

}  // namespace fakes
