#include "platform/console_control.h"

#include <windows.h>

#include <atomic>

namespace platform {
namespace {

std::atomic<ConsoleCtrlHandler> g_consoleHandler{nullptr};

BOOL WINAPI OnConsoleEvent(DWORD ctrlType) {
  const ConsoleCtrlHandler handler = g_consoleHandler;
  return handler != nullptr && handler(ctrlType) != 0 ? TRUE : FALSE;
}

}  // namespace

int SetConsoleCtrlHandler(ConsoleCtrlHandler handler) {
  const bool first = g_consoleHandler.exchange(handler) == nullptr;
  if (!first) return 1;
  return ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE) ? 1 : 0;
}

}  // namespace platform
