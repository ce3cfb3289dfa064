// A scripted serial device for tests: installs itself as the serial backend
// for its lifetime, records every call, and answers reads from a script.
// Each Read takes the next scripted result (bytes, and whether the call
// succeeds); an empty script is a silent line.
#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <set>
#include <string>
#include <vector>

#include "platform/serial.h"

namespace fakes {

using Bytes = std::vector<std::uint8_t>;

class FakeSerial : public platform::SerialBackend {
 public:
  struct ReadResult {
    Bytes bytes;
    int result = 1;
  };

  FakeSerial() {
    std::memset(&state, 0, sizeof state);
    std::memset(&timeouts, 0, sizeof timeouts);
    platform::UseSerialBackend(this);
  }
  ~FakeSerial() override { platform::UseSerialBackend(nullptr); }
  FakeSerial(const FakeSerial&) = delete;
  FakeSerial& operator=(const FakeSerial&) = delete;

  // Script -------------------------------------------------------------
  void QueueRead(Bytes bytes, int result = 1) {
    reads.push_back(ReadResult{std::move(bytes), result});
  }

  std::set<std::string> busyNames;  // devices held by another program
  bool failGetState = false;
  bool failSetState = false;
  bool failGetTimeouts = false;
  bool failWrite = false;
  bool failPurge = false;
  int closeResult = 1;
  std::uint32_t reportedErrors = 0;

  // Device state and record --------------------------------------------
  std::deque<ReadResult> reads;
  platform::DCB state;              // what GetState reports, SetState keeps
  platform::COMMTIMEOUTS timeouts;  // likewise for the time-outs
  std::vector<std::string> calls;   // "Open COM1", "Purge 15", "Read 3"...
  std::vector<Bytes> writes;        // bytes each write moved
  std::set<platform::SerialHandle> openHandles;

  Bytes AllWritten() const {
    Bytes all;
    for (const Bytes& w : writes) all.insert(all.end(), w.begin(), w.end());
    return all;
  }
  int CountCalls(const std::string& prefix) const {
    int n = 0;
    for (const std::string& c : calls) n += c.rfind(prefix, 0) == 0;
    return n;
  }

  // SerialBackend --------------------------------------------------------
  platform::SerialHandle Open(const char* name, bool overlapped) override {
    calls.push_back(std::string("Open ") + name + (overlapped ? " ov" : ""));
    if (busyNames.count(name)) return platform::kInvalidSerialHandle;
    const platform::SerialHandle handle = nextHandle_++;
    openHandles.insert(handle);
    return handle;
  }
  int Close(platform::SerialHandle handle) override {
    calls.push_back("Close");
    if (!openHandles.erase(handle)) return 0;
    return closeResult;
  }
  int GetState(platform::SerialHandle handle, platform::DCB* dcb) override {
    calls.push_back("GetState");
    if (failGetState || !Known(handle)) return 0;
    *dcb = state;
    return 1;
  }
  int SetState(platform::SerialHandle handle,
               const platform::DCB& dcb) override {
    calls.push_back("SetState");
    if (failSetState || !Known(handle)) return 0;
    state = dcb;
    return 1;
  }
  int GetTimeouts(platform::SerialHandle handle,
                  platform::COMMTIMEOUTS* t) override {
    calls.push_back("GetTimeouts");
    if (failGetTimeouts || !Known(handle)) return 0;
    *t = timeouts;
    return 1;
  }
  int SetTimeouts(platform::SerialHandle handle,
                  const platform::COMMTIMEOUTS& t) override {
    calls.push_back("SetTimeouts");
    if (!Known(handle)) return 0;
    timeouts = t;
    return 1;
  }
  int Read(platform::SerialHandle handle, void* buffer, std::uint32_t count,
           std::uint32_t* delivered) override {
    calls.push_back("Read " + std::to_string(count));
    *delivered = 0;
    if (!Known(handle)) return 0;
    if (reads.empty()) return 1;  // silence: the time-out ends the read
    ReadResult next = std::move(reads.front());
    reads.pop_front();
    const std::uint32_t n =
        next.bytes.size() < count ? next.bytes.size() : count;
    if (n > 0) std::memcpy(buffer, next.bytes.data(), n);
    *delivered = n;
    return next.result;
  }
  int Write(platform::SerialHandle handle, const void* data,
            std::uint32_t count, std::uint32_t* sent) override {
    calls.push_back("Write " + std::to_string(count));
    *sent = 0;
    if (failWrite || !Known(handle)) return 0;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    writes.emplace_back(bytes, bytes + count);
    *sent = count;
    return 1;
  }
  int Purge(platform::SerialHandle handle, std::uint32_t flags) override {
    calls.push_back("Purge " + std::to_string(flags));
    return !failPurge && Known(handle);
  }
  int ClearErrors(platform::SerialHandle handle, std::uint32_t* errors,
                  platform::COMSTAT* status) override {
    calls.push_back("ClearErrors");
    if (!Known(handle)) return 0;
    *errors = reportedErrors;
    if (status != nullptr) *status = {};
    return 1;
  }

 private:
  bool Known(platform::SerialHandle handle) const {
    return openHandles.count(handle) != 0;
  }
  platform::SerialHandle nextHandle_ = 100;
};

}  // namespace fakes
