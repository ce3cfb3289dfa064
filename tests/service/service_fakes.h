// Stand-ins for the service manager and the event log: they record every
// report and entry, can refuse chosen calls, and can act on a report or an
// entry (the way a test stops a worker once it is running, from the worker's
// own thread). The runtime reports only under its report lock, so the
// stand-ins need no lock of their own.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/event_log.h"
#include "platform/service_control.h"
#include "platform/system_error.h"

namespace fake {

class StatusSink : public platform::ServiceStatusSink {
 public:
  StatusSink() { platform::UseServiceStatusSink(this); }
  ~StatusSink() override { platform::UseServiceStatusSink(nullptr); }

  // Registration and the Nth report (counting from 1) fail with kError, a
  // code with its top bit set: the entries show it as a signed number.
  static constexpr std::uint32_t kError = 0x80070005u;
  bool m_failRegistration = false;
  int m_failReport = 0;
  std::function<void()> m_onReport;  // after a report is recorded
  std::vector<platform::SERVICE_STATUS> m_reports;
  std::vector<std::string> m_texts;

  platform::ServiceStatusHandle RegisterCtrlHandler(
      const char*, platform::ServiceControlHandler) override {
    if (!m_failRegistration) return 0x5E;
    platform::SetLastError(kError);
    return 0;
  }
  int SetStatus(platform::ServiceStatusHandle,
                const platform::SERVICE_STATUS& status) override {
    m_reports.push_back(status);
    if (m_onReport) m_onReport();
    if (static_cast<int>(m_reports.size()) != m_failReport) return 1;
    platform::SetLastError(kError);
    return 0;
  }
  int SetStatusText(platform::ServiceStatusHandle, const char* text) override {
    m_texts.push_back(text);
    return 1;
  }
};

// Error entries are (first string, message); information entries are kept
// apart, since the older cases compare the error entries whole.
class EventLog : public platform::EventLogBackend {
 public:
  EventLog() { platform::UseEventLogBackend(this); }
  ~EventLog() override { platform::UseEventLogBackend(nullptr); }

  std::function<void(const std::string&)> m_onEntry;  // after an error entry
  std::vector<std::pair<std::string, std::string>> m_entries;
  std::vector<std::string> m_notes;
  int m_openSources = 0;  // registered and not deregistered yet

  platform::EventSourceHandle RegisterSource(const char*) override {
    ++m_openSources;
    return kSource;
  }
  int ReportError(platform::EventSourceHandle source, const char* first,
                  const char* message) override {
    if (source != kSource) return 0;
    m_entries.emplace_back(first, message);
    if (m_onEntry) m_onEntry(message);
    return 1;
  }
  int ReportInformation(platform::EventSourceHandle source,
                        const char* text) override {
    if (source != kSource) return 0;
    m_notes.push_back(text);
    return 1;
  }
  void DeregisterSource(platform::EventSourceHandle source) override {
    if (source == kSource) --m_openSources;
  }

  std::vector<std::string> Messages() const {
    std::vector<std::string> messages;
    for (const auto& entry : m_entries) messages.push_back(entry.second);
    return messages;
  }

 private:
  static constexpr platform::EventSourceHandle kSource = 0xE7;
};

}  // namespace fake
