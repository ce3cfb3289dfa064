// The serial device of the in-process tests. It installs itself as the serial
// backend for its lifetime, records every call, fails on demand and, given a
// fake clock, puts the box simulator's own box on the other end of the line:
// written requests go to the box, its answers wait as input for the reads,
// and its time of day is the fake clock's. Reads and writes pass time on that
// clock as a line with the link's time-outs would.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/serial.h"
#include "platform/system_error.h"
#include "tests/support/fake_clock.h"
#include "tools/boxsim/boxsim_core.h"

namespace fakes {

using Bytes = std::vector<std::uint8_t>;

// What a time code query gets when a test scripts its answer.
enum class Reply {
  kLive,      // the box's own answer
  kSilent,    // nothing at all
  kGarbage,   // the box's answer with a wrong checksum
  kShort3,    // a valid 3-byte frame, the hello's answer
  kShort5,    // a valid 5-byte frame that stops before the minutes
  kRepeat,    // the previous answer again
  kStepBack,  // the code of 200 ms ago, as a box that stutters back
};

class FakeSerial : public platform::SerialBackend {
 public:
  // A line with nobody on it: reads return at once with nothing.
  FakeSerial() { Install(); }
  // A line with the box on it, NTSC and local time unless told otherwise.
  explicit FakeSerial(fake::FakeClock& clock)
      : clock_(&clock),
        box_(new boxsim::SimulatedBox({boxsim::Mode::kNtsc, 0}, [this] {
          return static_cast<std::uint8_t>(0xA0 + randomCount_++);
        })) {
    Install();
  }
  ~FakeSerial() override { platform::UseSerialBackend(nullptr); }

  // The box -----------------------------------------------------------------
  // A command of the simulator's own language: "mode pal", "offset -5000",
  // "freeze on", "silence on", ...
  void Do(const std::string& command) {
    boxsim::Command parsed;
    std::string error;
    if (!boxsim::ParseCommand(command, &parsed, &error)) std::abort();
    box_->Apply(parsed);
  }
  bool followsUtc = false;  // else the local time of the fake clock's zone
  bool answerHello = true;
  // Time that passes before each query, as a worker's wait between polls
  // does when the test drives it without a clock of its own.
  std::int64_t pauseBeforeQueryMs = 0;

  // Replaces the box's answers to the next time code queries, in order.
  void Script(Reply kind) { script_.push_back({kind, {}}); }
  void ScriptCode(PackedTimeCode code) {
    script_.push_back({Reply::kLive, boxsim::BuildTimeCodeReply(code, 0x0C)});
  }
  std::size_t ScriptLeft() const { return script_.size(); }
  // Whether the latest query got the box's own live answer.
  bool lastAnswerLive = true;

  // The line ----------------------------------------------------------------
  // Bytes on the line as if the box had sent them.
  void Feed(const Bytes& bytes) {
    input_.insert(input_.end(), bytes.begin(), bytes.end());
  }

  // Failure switches ----------------------------------------------------------
  bool failOpen = false;
  bool failClose = false;  // the close fails and the device stays open
  bool failGetState = false;
  bool failSetState = false;
  bool failGetTimeouts = false;
  bool failPurge = false;
  // The device went away (unplugged, its driver gone): every call on an open
  // handle fails, reads and writes with an error rather than silence. The
  // error is EIO, and on Windows the access denied that a handle to an
  // unplugged adapter reports.
  bool gone = false;
  static constexpr std::uint32_t kGoneError = 5;
  std::uint32_t reportedErrors = 0;
  // Called with each Open and Write call's record before the call acts, on
  // the caller's thread: a test changes the line at a chosen moment.
  std::function<void(const std::string&)> onCall;

  // Device state and record ---------------------------------------------------
  platform::DCB state = {};  // what GetState reports, SetState keeps
  platform::COMMTIMEOUTS timeouts = {};  // likewise for the time-outs
  std::vector<std::string> calls;        // "Open COM1", "Purge 15", "Read 3"...
  std::vector<Bytes> writes;             // bytes each write moved
  std::set<platform::SerialHandle> openHandles;
  std::string lastName;
  int opens = 0;  // successful ones
  int queries = 0;

  bool isOpen() const { return !openHandles.empty(); }
  int CountCalls(const std::string& prefix) const {
    int n = 0;
    for (const std::string& c : calls) n += c.rfind(prefix, 0) == 0;
    return n;
  }

  // SerialBackend -------------------------------------------------------------
  platform::SerialHandle Open(const char* name, bool overlapped) override {
    calls.push_back(std::string("Open ") + name + (overlapped ? " ov" : ""));
    if (onCall) onCall(calls.back());
    lastName = name;
    if (failOpen) return platform::kInvalidSerialHandle;
    ++opens;
    const platform::SerialHandle handle = nextHandle_++;
    openHandles.insert(handle);
    return handle;
  }
  int Close(platform::SerialHandle handle) override {
    calls.push_back("Close");
    if (failClose || !openHandles.erase(handle)) return 0;
    input_.clear();
    return 1;
  }
  int GetState(platform::SerialHandle handle, platform::DCB* dcb) override {
    return Copy("GetState", failGetState, handle, state, dcb);
  }
  int SetState(platform::SerialHandle handle,
               const platform::DCB& dcb) override {
    return Copy("SetState", failSetState, handle, dcb, &state);
  }
  int GetTimeouts(platform::SerialHandle handle,
                  platform::COMMTIMEOUTS* t) override {
    return Copy("GetTimeouts", failGetTimeouts, handle, timeouts, t);
  }
  int SetTimeouts(platform::SerialHandle handle,
                  const platform::COMMTIMEOUTS& t) override {
    return Copy("SetTimeouts", false, handle, t, &timeouts);
  }
  int Read(platform::SerialHandle handle, void* buffer, std::uint32_t count,
           std::uint32_t* delivered) override {
    calls.push_back("Read " + std::to_string(count));
    *delivered = 0;
    if (!Usable(handle)) return 0;
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    while (*delivered < count && !input_.empty()) {
      bytes[(*delivered)++] = input_.front();
      input_.pop_front();
    }
    // Bytes take about a millisecond; a read left short waits out its
    // time-out.
    PassTime(*delivered < count ? timeouts.ReadTotalTimeoutMultiplier * count +
                                      timeouts.ReadTotalTimeoutConstant
                                : 1);
    return 1;
  }
  int Write(platform::SerialHandle handle, const void* data,
            std::uint32_t count, std::uint32_t* sent) override {
    calls.push_back("Write " + std::to_string(count));
    if (onCall) onCall(calls.back());
    *sent = 0;
    if (!Usable(handle)) return 0;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    writes.emplace_back(bytes, bytes + count);
    *sent = count;
    PassTime(1);
    if (box_) Answer(Bytes(bytes, bytes + count));
    return 1;
  }
  int Purge(platform::SerialHandle handle, std::uint32_t flags) override {
    calls.push_back("Purge " + std::to_string(flags));
    if (failPurge || !Usable(handle)) return 0;
    if (flags & platform::kPurgeRxClear) input_.clear();
    return 1;
  }
  int ClearErrors(platform::SerialHandle handle, std::uint32_t* errors,
                  platform::COMSTAT* status) override {
    calls.push_back("ClearErrors");
    if (!Usable(handle)) return 0;
    if (errors) *errors = reportedErrors;
    if (status) *status = {static_cast<std::uint32_t>(input_.size()), 0};
    return 1;
  }

 private:
  using Scripted = std::pair<Reply, Bytes>;

  void Install() { platform::UseSerialBackend(this); }

  // The state and time-out calls: the device's record in or out.
  template <typename Record>
  int Copy(const char* call, bool fail, platform::SerialHandle handle,
           const Record& from, Record* to) {
    calls.push_back(call);
    if (fail || !Usable(handle)) return 0;
    *to = from;
    return 1;
  }

  bool Usable(platform::SerialHandle handle) const {
    if (gone) platform::SetLastError(kGoneError);
    return !gone && openHandles.count(handle) != 0;
  }

  void PassTime(std::int64_t ms) {
    if (clock_) clock_->Advance(ms);
  }

  boxsim::TimeOfDay Now(std::int64_t laterMs = 0) const {
    std::int64_t ms = clock_->TrueUtcMs() + laterMs;
    if (!followsUtc) ms += clock_->ZoneOffsetMs();
    return boxsim::ShiftTimeOfDay({0, 0, 0, 0}, ms % boxsim::kMsPerDay);
  }

  // The link writes each request frame whole, and nothing else.
  void Answer(const Bytes& request) {
    Bytes tx;
    const boxsim::RequestKind kind = boxsim::ClassifyRequest(request);
    if (kind == boxsim::RequestKind::kHello && answerHello)
      tx = box_->Respond(request, Now()).tx;
    if (kind == boxsim::RequestKind::kQuery) {
      ++queries;
      PassTime(pauseBeforeQueryMs);
      tx = lastAnswer_ = AnswerQuery(request);
    }
    input_.insert(input_.end(), tx.begin(), tx.end());
  }

  Bytes AnswerQuery(const Bytes& request) {
    Scripted next = {Reply::kLive, {}};
    if (!script_.empty()) {
      next = std::move(script_.front());
      script_.pop_front();
    }
    lastAnswerLive = next == Scripted{Reply::kLive, {}};
    switch (next.first) {
      case Reply::kLive:
        if (!next.second.empty()) return next.second;
        return box_->Respond(request, Now()).tx;
      case Reply::kSilent:
        return {};
      case Reply::kGarbage: {
        Bytes tx = box_->Respond(request, Now()).tx;
        if (!tx.empty()) ++tx.back();
        return tx;
      }
      case Reply::kShort3:
        return boxsim::kHelloReply;
      case Reply::kShort5:
        return boxsim::WithChecksum({0x72, 0x00, 0x00, 0x00});
      case Reply::kRepeat:
        return lastAnswer_;
      case Reply::kStepBack:
        return box_->Respond(request, Now(-200)).tx;
    }
    return {};
  }

  fake::FakeClock* clock_ = nullptr;
  std::unique_ptr<boxsim::SimulatedBox> box_;
  std::deque<std::uint8_t> input_;
  std::deque<Scripted> script_;
  Bytes lastAnswer_;
  std::uint8_t randomCount_ = 0;
  platform::SerialHandle nextHandle_ = 100;
};

}  // namespace fakes
