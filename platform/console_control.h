// Ctrl+C and Ctrl+Break from the console, delivered to a handler that runs
// on a thread of its own (the system's console control thread on Windows; a
// thread that waits for SIGINT and SIGQUIT on Linux).
#pragma once

#include <cstdint>

namespace platform {

inline constexpr std::uint32_t kCtrlCEvent = 0;
inline constexpr std::uint32_t kCtrlBreakEvent = 1;

// Returns 1 when it handled the event.
using ConsoleCtrlHandler = int (*)(std::uint32_t ctrlType);

// Installs the handler for the rest of the process's life; nonzero on
// success.
int SetConsoleCtrlHandler(ConsoleCtrlHandler handler);

}  // namespace platform
