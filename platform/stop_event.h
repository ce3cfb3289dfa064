// A manual-reset event that one thread waits on with a time-out and another
// signals. Once set it stays set, so a signal that comes before the wait is
// not lost.
#pragma once

#include <cstdint>

namespace platform {

class StopEvent {
 public:
  StopEvent();
  ~StopEvent();
  StopEvent(const StopEvent&) = delete;
  StopEvent& operator=(const StopEvent&) = delete;

  // Makes the event ready and not signalled; false (with the last error
  // set) when the system cannot create one.
  bool Create();
  // Signalling or waiting on an event that is not created does nothing.
  void Set();
  // True when the event is signalled within `milliseconds`.
  bool Wait(std::uint32_t milliseconds);
  void Close();

 private:
  struct Native;
  Native* m_native;
};

}  // namespace platform
