#include "service/command_line.h"

#include <cstdio>

#include "platform/clock.h"
#include "platform/service_control.h"
#include "platform/system_error.h"
#include "service/service_identity.h"
#include "service/service_runtime.h"

char g_errorText[kErrorTextSize];

namespace {

struct OptionWord {
  const char* word;
  VentrelOption option;
};

constexpr OptionWord kOptionWords[] = {
    {"load", VentrelOption::kLoad},
    {"unload", VentrelOption::kUnload},
    {"help", VentrelOption::kHelp},
    {"debug", VentrelOption::kDebug},
};

char LowerAsciiLetter(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringCase(const char* text, const char* word) {
  for (; *text != '\0' && *word != '\0'; ++text, ++word) {
    if (LowerAsciiLetter(*text) != LowerAsciiLetter(*word)) return false;
  }
  return *text == '\0' && *word == '\0';
}

void RunOption(VentrelOption option) {
  switch (option) {
    case VentrelOption::kLoad:
      InstallClockService();
      break;
    case VentrelOption::kUnload:
      RemoveClockService();
      break;
    case VentrelOption::kHelp:
      PrintHelpText();
      break;
    case VentrelOption::kDebug:
      g_debugMode = 1;
      RunDebugConsole();
      break;
    case VentrelOption::kNone:
      break;
  }
}

int RunServicePath() {
  PrintOptionSummary();
  PrintToConsole("\nStartServiceCtrlDispatcher being called.\n");
  PrintToConsole("This may take several seconds.  Please wait.\n");
  platform::Sleep(kDispatcherPauseMs);
  const int result =
      platform::StartServiceDispatcher(kServiceName, ServiceEntry);
  if (!result) WriteEventLogEntry("StartServiceCtrlDispatcher failed.");
  return platform::ServiceProcessExitStatus(result);
}

}  // namespace

VentrelOption ParseVentrelOption(int argc, const char* const* argv) {
  if (argc <= 1 || argv[1] == nullptr) return VentrelOption::kNone;
  const char* argument = argv[1];
  if (argument[0] != '-' && argument[0] != '/') return VentrelOption::kNone;
  for (const OptionWord& candidate : kOptionWords) {
    if (EqualsIgnoringCase(argument + 1, candidate.word))
      return candidate.option;
  }
  return VentrelOption::kNone;
}

int RunVentrel(int argc, char** argv) {
  g_debugMode = 0;
  const VentrelOption option = ParseVentrelOption(argc, argv);
  if (option == VentrelOption::kNone) return RunServicePath();
  RunOption(option);
  platform::Sleep(kOptionPauseMs);
  return 0;
}

void PrintHelpText() {
  PrintToConsole("-load, -unload, -help ?  \n");
  PrintToConsole(" Command Line Options: \n\n");
  PrintToConsole("%s -load <enter>\n ", kProgramWord);
  PrintToConsole(
      "            to load the Quorvel to PC clock setting service.\n");
  PrintToConsole("%s -unload <enter>\n", kProgramWord);
  PrintToConsole(
      "            to unload the Quorvel to PC clock setting service.\n\n");
  PrintToConsole("%s -help <enter>\n", kProgramWord);
  PrintToConsole("            to get what you see here.\n\n");
}

void PrintOptionSummary() {
  PrintToConsole(" Command Line Options: \n\n");
  PrintToConsole("%s -load <enter>\n ", kProgramWord);
  PrintToConsole(
      "            to load the Quorvel to PC clock setting service\n");
  PrintToConsole("%s -unload <enter>\n", kProgramWord);
  PrintToConsole(
      "            to unload the Quorvel to PC clock setting service\n\n");
  PrintToConsole("%s -help <enter>\n", kProgramWord);
  PrintToConsole("            to get what you see here.\n\n");
}

char* DescribeLastError(char* buffer, std::int32_t size) {
  if (size <= 0) return buffer;
  const std::uint32_t error = platform::GetLastError();
  char text[512];
  const std::uint32_t length =
      platform::FormatSystemMessage(error, text, sizeof text);
  // Room for " (0x", eight hex digits, ")" and the NUL.
  if (length < 2 || static_cast<std::int64_t>(size) < length + 14) {
    buffer[0] = '\0';
    return buffer;
  }
  text[length - 2] = '\0';  // the system's closing "\r\n"
  std::snprintf(buffer, static_cast<std::size_t>(size), "%s (0x%x)", text,
                static_cast<unsigned>(platform::GetLastError()));
  return buffer;
}
