// Ctrl+C (SIGINT) and Ctrl+\ (SIGQUIT) reach the handler on a thread of its
// own that waits for them with sigwait, as Windows runs console handlers on a
// thread of its own. The two signals are blocked first, so no other thread
// is ever interrupted by them.
#include "platform/console_control.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cerrno>

namespace platform {
namespace {

std::atomic<ConsoleCtrlHandler> g_consoleHandler{nullptr};

sigset_t ConsoleSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGQUIT);
  return signals;
}

void* WaitForConsoleSignals(void*) {
  const sigset_t signals = ConsoleSignals();
  for (;;) {
    int signal = 0;
    if (sigwait(&signals, &signal) != 0) continue;
    const ConsoleCtrlHandler handler = g_consoleHandler;
    const std::uint32_t type = signal == SIGINT ? kCtrlCEvent : kCtrlBreakEvent;
    if (handler != nullptr) handler(type);
  }
  return nullptr;
}

}  // namespace

int SetConsoleCtrlHandler(ConsoleCtrlHandler handler) {
  const bool first = g_consoleHandler.exchange(handler) == nullptr;
  if (!first) return 1;
  const sigset_t signals = ConsoleSignals();
  int error = pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  pthread_t thread;
  if (error == 0) {
    error = pthread_create(&thread, nullptr, WaitForConsoleSignals, nullptr);
  }
  if (error != 0) {
    g_consoleHandler = nullptr;
    errno = error;
    return 0;
  }
  pthread_detach(thread);
  return 1;
}

}  // namespace platform
