// The journal stands in for the event log: systemd reads a service's
// standard error into the journal, and a "<3>" at the start of a line marks
// it as an error there.
#include "platform/event_log.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {
namespace {

constexpr EventSourceHandle kJournalSource = 1;

class JournalEventLog : public EventLogBackend {
 public:
  EventSourceHandle RegisterSource(const char*) override {
    return kJournalSource;
  }

  int ReportError(EventSourceHandle, const char* first,
                  const char* second) override {
    char line[1024];
    FormatJournalLine(first, second, line, sizeof line);
    return WriteLine(line);
  }

  int ReportInformation(EventSourceHandle, const char* text) override {
    char line[1024];
    FormatJournalInfoLine(text, line, sizeof line);
    return WriteLine(line);
  }

  void DeregisterSource(EventSourceHandle) override {}

 private:
  static int WriteLine(const char* line) {
    const int savedErrno = errno;
    // One write per entry, so entries from two threads never interleave.
    const ssize_t written = write(STDERR_FILENO, line, std::strlen(line));
    errno = savedErrno;
    return written > 0 ? 1 : 0;
  }
};

}  // namespace

EventLogBackend& SystemEventLog() {
  static JournalEventLog journal;
  return journal;
}

}  // namespace platform
