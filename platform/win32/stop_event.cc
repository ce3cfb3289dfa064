#include "platform/stop_event.h"
#include "platform/stop_event_test_seam.h"

#include <windows.h>

#include <mutex>

namespace platform {

// The handle is used and closed under a lock, so a Set that races with
// Close never reaches a handle that the system may already have reused.
struct StopEvent::Native {
  std::mutex mutex;
  HANDLE handle = nullptr;
};

StopEvent::StopEvent() : m_native(new Native) {}

StopEvent::~StopEvent() {
  Close();
  delete m_native;
}

bool StopEvent::Create() {
  if (StopEventFailureSimulated()) {
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  std::lock_guard<std::mutex> lock(m_native->mutex);
  if (m_native->handle != nullptr) CloseHandle(m_native->handle);
  m_native->handle = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  return m_native->handle != nullptr;
}

void StopEvent::Set() {
  std::lock_guard<std::mutex> lock(m_native->mutex);
  if (m_native->handle != nullptr) SetEvent(m_native->handle);
}

bool StopEvent::Wait(std::uint32_t milliseconds) {
  HANDLE handle;
  {
    std::lock_guard<std::mutex> lock(m_native->mutex);
    handle = m_native->handle;
  }
  // Only the waiting thread closes the event, so the handle stays good
  // for the length of the wait.
  if (handle == nullptr) return false;
  return WaitForSingleObject(handle, milliseconds) == WAIT_OBJECT_0;
}

void StopEvent::Close() {
  std::lock_guard<std::mutex> lock(m_native->mutex);
  if (m_native->handle == nullptr) return;
  CloseHandle(m_native->handle);
  m_native->handle = nullptr;
}

}  // namespace platform
