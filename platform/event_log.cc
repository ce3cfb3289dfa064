#include "platform/event_log.h"

namespace platform {
namespace {

EventLogBackend* g_installedLog = nullptr;

EventLogBackend& CurrentLog() {
  return g_installedLog != nullptr ? *g_installedLog : SystemEventLog();
}

// Copies `text` from `at` on, line breaks made blanks; returns the new end.
std::uint32_t AppendOneLine(const char* text, char* line, std::uint32_t at,
                            std::uint32_t size) {
  for (; *text != '\0' && at + 1 < size; ++text) {
    const bool lineBreak = *text == '\n' || *text == '\r';
    line[at++] = lineBreak ? ' ' : *text;
  }
  return at;
}

}  // namespace

void UseEventLogBackend(EventLogBackend* backend) { g_installedLog = backend; }

EventSourceHandle RegisterEventLogSource(const char* sourceName) {
  return CurrentLog().RegisterSource(sourceName);
}

int ReportErrorEvent(EventSourceHandle source, const char* first,
                     const char* second) {
  return CurrentLog().ReportError(source, first, second);
}

void DeregisterEventSource(EventSourceHandle source) {
  CurrentLog().DeregisterSource(source);
}

int ReportInformationEvent(EventSourceHandle source, const char* text) {
  return CurrentLog().ReportInformation(source, text);
}

void FormatJournalLine(const char* first, const char* second, char* line,
                       std::uint32_t size) {
  if (size == 0) return;
  std::uint32_t at = AppendOneLine("<3>", line, 0, size);
  at = AppendOneLine(first, line, at, size);
  at = AppendOneLine(": ", line, at, size);
  at = AppendOneLine(second, line, at, size);
  if (at + 1 < size) line[at++] = '\n';
  line[at] = '\0';
}

void FormatJournalInfoLine(const char* text, char* line, std::uint32_t size) {
  if (size == 0) return;
  std::uint32_t at = AppendOneLine("<6>", line, 0, size);
  at = AppendOneLine(text, line, at, size);
  if (at + 1 < size) line[at++] = '\n';
  line[at] = '\0';
}

}  // namespace platform
