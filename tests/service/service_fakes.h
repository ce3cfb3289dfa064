// Stand-ins for the service manager and the event log: they record every
// report and entry, can refuse chosen calls with a chosen error, and can act
// when an entry with a given text is written (the way a test stops a worker
// once it is running, from the worker's own thread).
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/event_log.h"
#include "platform/service_control.h"
#include "platform/system_error.h"

namespace fake {

class StatusSink : public platform::ServiceStatusSink {
 public:
  StatusSink() { platform::UseServiceStatusSink(this); }
  ~StatusSink() override { platform::UseServiceStatusSink(nullptr); }

  // Registration and the Nth report (counting from 1) fail with `error`.
  bool m_failRegistration = false;
  int m_failReport = 0;
  // Called after a report is recorded, outside the sink's lock.
  std::function<void(const platform::SERVICE_STATUS&)> m_onReport;
  std::uint32_t m_error = 1234;

  platform::ServiceStatusHandle RegisterCtrlHandler(
      const char* name, platform::ServiceControlHandler) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_registeredName = name;
    if (m_failRegistration) {
      platform::SetLastError(m_error);
      return 0;
    }
    return kHandle;
  }

  int SetStatus(platform::ServiceStatusHandle,
                const platform::SERVICE_STATUS& status) override {
    int accepted = 1;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_reports.push_back(status);
      if (static_cast<int>(m_reports.size()) == m_failReport) accepted = 0;
    }
    if (m_onReport) m_onReport(status);
    if (!accepted) platform::SetLastError(m_error);
    return accepted;
  }

  int SetStatusText(platform::ServiceStatusHandle, const char* text) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_texts.push_back(text);
    return 1;
  }
  std::vector<std::string> Texts() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_texts;
  }

  std::vector<platform::SERVICE_STATUS> Reports() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_reports;
  }

  static constexpr platform::ServiceStatusHandle kHandle = 0x5E;
  std::string m_registeredName;

 private:
  std::mutex m_mutex;
  std::vector<platform::SERVICE_STATUS> m_reports;
  std::vector<std::string> m_texts;
};

struct LogEntry {
  std::string source;
  std::string first;
  std::string second;
};

class EventLog : public platform::EventLogBackend {
 public:
  EventLog() { platform::UseEventLogBackend(this); }
  ~EventLog() override { platform::UseEventLogBackend(nullptr); }

  bool m_failRegistration = false;
  // Called after an entry is written, outside every lock of the runtime.
  std::function<void(const LogEntry&)> m_onEntry;

  platform::EventSourceHandle RegisterSource(const char* name) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_registrations;
    m_lastSource = name;
    return m_failRegistration ? 0 : kSource;
  }

  int ReportError(platform::EventSourceHandle source, const char* first,
                  const char* second) override {
    LogEntry entry{m_lastSource, first, second};
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (source != kSource) return 0;
      m_entries.push_back(entry);
    }
    if (m_onEntry) m_onEntry(entry);
    return 1;
  }

  // Information entries are kept apart from the error entries, whose list
  // the older cases compare whole.
  int ReportInformation(platform::EventSourceHandle source,
                        const char* text) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (source != kSource) return 0;
    m_notes.push_back(text);
    return 1;
  }
  std::vector<std::string> Notes() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_notes;
  }

  void DeregisterSource(platform::EventSourceHandle source) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (source == kSource) ++m_deregistrations;
  }

  std::vector<LogEntry> Entries() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries;
  }
  std::vector<std::string> Messages() {
    std::vector<std::string> messages;
    for (const LogEntry& entry : Entries()) messages.push_back(entry.second);
    return messages;
  }

  int m_registrations = 0;
  int m_deregistrations = 0;

 private:
  static constexpr platform::EventSourceHandle kSource = 0xE7;
  std::mutex m_mutex;
  std::string m_lastSource;
  std::vector<LogEntry> m_entries;
  std::vector<std::string> m_notes;
};

}  // namespace fake
