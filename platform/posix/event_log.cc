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
    const int savedErrno = errno;
    char line[1024];
    FormatJournalLine(first, second, line, sizeof line);
    // One write per entry, so entries from two threads never interleave.
    const ssize_t written = write(STDERR_FILENO, line, std::strlen(line));
    errno = savedErrno;
    return written > 0 ? 1 : 0;
  }

  void DeregisterSource(EventSourceHandle) override {}
};

}  // namespace

EventLogBackend& SystemEventLog() {
  static JournalEventLog journal;
  return journal;
}

}  // namespace platform
