#include "platform/event_log.h"

#include <windows.h>

namespace platform {
namespace {

class WindowsEventLog : public EventLogBackend {
 public:
  EventSourceHandle RegisterSource(const char* sourceName) override {
    return reinterpret_cast<EventSourceHandle>(
        RegisterEventSourceA(nullptr, sourceName));
  }

  int ReportError(EventSourceHandle source, const char* first,
                  const char* second) override {
    const char* strings[2] = {first, second};
    return ReportEventA(reinterpret_cast<HANDLE>(source), EVENTLOG_ERROR_TYPE,
                        0, 0, nullptr, 2, 0, strings, nullptr)
               ? 1
               : 0;
  }

  int ReportInformation(EventSourceHandle source, const char* text) override {
    const char* strings[1] = {text};
    return ReportEventA(reinterpret_cast<HANDLE>(source),
                        EVENTLOG_INFORMATION_TYPE, 0, 0, nullptr, 1, 0, strings,
                        nullptr)
               ? 1
               : 0;
  }

  void DeregisterSource(EventSourceHandle source) override {
    ::DeregisterEventSource(reinterpret_cast<HANDLE>(source));
  }
};

}  // namespace

EventLogBackend& SystemEventLog() {
  static WindowsEventLog eventLog;
  return eventLog;
}

}  // namespace platform
