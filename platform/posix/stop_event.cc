#include "platform/stop_event.h"
#include "platform/stop_event_test_seam.h"

#include <fcntl.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <mutex>

namespace platform {

// A byte in a pipe is the signal: the poll loop's wait is then one poll()
// with its time-out, where a condition variable costs a futex wait and a
// wake-up call after every time-out, 6.5 times a second for years.
struct StopEvent::Native {
  std::mutex mutex;  // Set and Close come from different threads
  int read = -1;
  int write = -1;

  void Release() {
    if (read >= 0) ::close(read);
    if (write >= 0) ::close(write);
    read = write = -1;
  }
};

namespace {

std::int64_t MonotonicMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace

StopEvent::StopEvent() : m_native(new Native) {}

StopEvent::~StopEvent() {
  m_native->Release();
  delete m_native;
}

bool StopEvent::Create() {
  if (StopEventFailureSimulated()) {
    errno = ENOMEM;
    return false;
  }
  std::lock_guard<std::mutex> lock(m_native->mutex);
  m_native->Release();
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  m_native->read = ends[0];
  m_native->write = ends[1];
  return true;
}

void StopEvent::Set() {
  std::lock_guard<std::mutex> lock(m_native->mutex);
  if (m_native->write < 0) return;
  // A full pipe is a signal already given; the byte is never taken out, so
  // the event stays set.
  const char signal = 1;
  const ssize_t written = ::write(m_native->write, &signal, 1);
  (void)written;
}

bool StopEvent::Wait(std::uint32_t milliseconds) {
  int fd;
  {
    std::lock_guard<std::mutex> lock(m_native->mutex);
    fd = m_native->read;
  }
  // The waiting thread is the one that closes the event, so the descriptor
  // stays open while it waits.
  if (fd < 0) return false;
  const std::int64_t deadline = MonotonicMs() + milliseconds;
  std::int64_t left = milliseconds;
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    const int ready =
        ::poll(&p, 1, static_cast<int>(left < INT_MAX ? left : INT_MAX));
    if (ready > 0) return true;
    if (ready == 0 || errno != EINTR) return false;
    left = deadline - MonotonicMs();
    if (left < 0) left = 0;
  }
}

void StopEvent::Close() {
  std::lock_guard<std::mutex> lock(m_native->mutex);
  m_native->Release();
}

}  // namespace platform
