#include "platform/stop_event.h"
#include "platform/stop_event_test_seam.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace platform {

struct StopEvent::Native {
  std::mutex mutex;
  std::condition_variable signalled;
  bool isSet = false;
  bool created = false;
};

StopEvent::StopEvent() : m_native(new Native) {}

StopEvent::~StopEvent() { delete m_native; }

bool StopEvent::Create() {
  if (StopEventFailureSimulated()) {
    errno = ENOMEM;
    return false;
  }
  std::lock_guard<std::mutex> lock(m_native->mutex);
  m_native->isSet = false;
  m_native->created = true;
  return true;
}

void StopEvent::Set() {
  {
    std::lock_guard<std::mutex> lock(m_native->mutex);
    if (!m_native->created) return;
    m_native->isSet = true;
  }
  m_native->signalled.notify_all();
}

bool StopEvent::Wait(std::uint32_t milliseconds) {
  std::unique_lock<std::mutex> lock(m_native->mutex);
  if (!m_native->created) return false;
  return m_native->signalled.wait_for(lock,
                                      std::chrono::milliseconds(milliseconds),
                                      [this] { return m_native->isSet; });
}

void StopEvent::Close() {
  std::lock_guard<std::mutex> lock(m_native->mutex);
  m_native->created = false;
  m_native->isSet = false;
}

}  // namespace platform
