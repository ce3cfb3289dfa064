// Ventrel's front door: the command line, installation and removal, and the
// hand-over to the service manager.
#pragma once

#include <cstdint>

enum class VentrelOption { kLoad, kUnload, kHelp, kDebug, kNone };

// Looks only at the first argument, and only when it begins with '-' or
// '/': the rest must equal an option word in full, letters A-Z compared
// without regard to case.
VentrelOption ParseVentrelOption(int argc, const char* const* argv);

// Runs the program; the result is the process's exit status.
int RunVentrel(int argc, char** argv);

void PrintHelpText();
void PrintOptionSummary();

void InstallClockService();
void RemoveClockService();

// The last error's system text as "text (0xcode)", or "" when the system
// has no text for it or it does not fit.
char* DescribeLastError(char* buffer, std::int32_t size);

inline constexpr int kErrorTextSize = 256;
extern char g_errorText[kErrorTextSize];

// Pauses, in milliseconds.
inline constexpr std::uint32_t kOptionPauseMs = 2000;
inline constexpr std::uint32_t kDispatcherPauseMs = 5000;
inline constexpr std::uint32_t kStopPollMs = 1000;
