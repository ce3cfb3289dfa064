// The system's event log, as the service writes into it: error-type entries
// of two strings under the service's own source. Windows has the event log;
// on Linux the journal stands in (platform/posix/event_log.cc).
#pragma once

#include <cstdint>

namespace platform {

using EventSourceHandle = std::intptr_t;  // 0: none

class EventLogBackend {
 public:
  virtual ~EventLogBackend() = default;
  virtual EventSourceHandle RegisterSource(const char* sourceName) = 0;
  // One error-type entry, event identifier 0, category 0, the two strings.
  virtual int ReportError(EventSourceHandle source, const char* first,
                          const char* second) = 0;
  virtual void DeregisterSource(EventSourceHandle source) = 0;
  // One information-type entry, event identifier 0, category 0, one string.
  virtual int ReportInformation(EventSourceHandle source, const char* text) = 0;
};

EventLogBackend& SystemEventLog();
// nullptr restores the system's.
void UseEventLogBackend(EventLogBackend* backend);

EventSourceHandle RegisterEventLogSource(const char* sourceName);
int ReportErrorEvent(EventSourceHandle source, const char* first,
                     const char* second);
void DeregisterEventSource(EventSourceHandle source);
int ReportInformationEvent(EventSourceHandle source, const char* text);

// How one entry reads as a journal line: the sd-daemon error prefix "<3>",
// the first string, ": ", the second string. Journal entries hold one line,
// so line breaks inside the strings become blanks.
void FormatJournalLine(const char* first, const char* second, char* line,
                       std::uint32_t size);
// An information entry as a journal line: the prefix "<6>" (info priority)
// and the text, on one line.
void FormatJournalInfoLine(const char* text, char* line, std::uint32_t size);

}  // namespace platform
