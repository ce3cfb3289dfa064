// A time code box for tests, standing in for the serial device. It answers
// the hello with 10 01 11 and the time code query with a 7-byte reply whose
// code follows the fake clock's true time (local or UTC) plus an offset.
// Tests can script single replies (silence, garbage, short frames, fixed
// bytes), freeze the code, and make opening, configuring or closing fail.
// Time passes on the fake clock as on a line with the link's time-outs.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "clock/time_code.h"
#include "link/box_frames.h"
#include "platform/serial.h"
#include "tests/support/fake_clock.h"

namespace fake {

enum class BoxReply {
  kLive,      // the code of the moment
  kSilent,    // nothing at all
  kGarbage,   // bytes that no frame check accepts
  kShort3,    // a valid 3-byte frame 10 01 11
  kShort5,    // a valid 5-byte frame that stops before the minutes
  kRepeat,    // the previous reply again
  kStepBack,  // the code of a moment ago, as a box that stutters back
  kBytes,     // the four time code bytes given (frames, s, min, h)
};

struct ScriptedReply {
  BoxReply kind;
  std::uint8_t bytes[4];
};

class FakeBox : public platform::SerialBackend {
 public:
  static constexpr platform::SerialHandle kHandle = 7;

  // Installs itself for as long as it lives.
  explicit FakeBox(FakeClock& clock) : m_clock(clock) {
    platform::UseSerialBackend(this);
  }
  ~FakeBox() override { platform::UseSerialBackend(nullptr); }
  FakeBox(const FakeBox&) = delete;
  FakeBox& operator=(const FakeBox&) = delete;

  // What the box reads from its time code.
  bool m_isPal = false;
  bool m_dropFrame = false;
  bool m_followsUtc = false;  // else the local time of the fake clock's zone
  std::int64_t m_offsetMs = 0;
  // A frozen box answers with the same code until it is thawed.
  bool m_frozen = false;
  std::int64_t m_stepBackMs = 200;
  // What the latest query was answered with.
  BoxReply m_lastKind = BoxReply::kLive;

  // Connection faults.
  bool m_failOpen = false;
  bool m_failClose = false;
  bool m_failGetState = false;
  bool m_answerHello = true;

  // Counts.
  int m_opens = 0;
  int m_closes = 0;
  int m_hellos = 0;
  int m_queries = 0;
  int m_setStates = 0;
  int m_setTimeouts = 0;
  bool m_isOpen = false;
  std::string m_lastName;
  platform::COMMTIMEOUTS m_timeouts = {};

  void Script(BoxReply kind) { m_script.push_back({kind, {0, 0, 0, 0}}); }
  void ScriptBytes(std::uint8_t frames, std::uint8_t seconds,
                   std::uint8_t minutes, std::uint8_t hours) {
    m_script.push_back({BoxReply::kBytes, {frames, seconds, minutes, hours}});
  }
  void ScriptCode(PackedTimeCode code) {
    ScriptBytes(static_cast<std::uint8_t>(code),
                static_cast<std::uint8_t>(code >> 8),
                static_cast<std::uint8_t>(code >> 16),
                static_cast<std::uint8_t>(code >> 24));
  }
  std::size_t ScriptLeft() const { return m_script.size(); }

  // The masked code that a live reply would carry now, or `laterMs` from now.
  PackedTimeCode LiveCode(std::int64_t laterMs = 0) const {
    std::int64_t ms = m_clock.TrueUtcMs() + m_offsetMs + laterMs;
    if (!m_followsUtc) ms += m_clock.ZoneOffsetMs();
    const platform::SYSTEMTIME time = ToRecord(ms);
    return ClockToTimeCode(time.wHour, time.wMinute, time.wSecond,
                           time.wMilliseconds, m_isPal ? 1 : 0,
                           m_dropFrame ? 1 : 0);
  }

  platform::SerialHandle Open(const char* name, bool) override {
    m_lastName = name;
    if (m_failOpen) return platform::kInvalidSerialHandle;
    ++m_opens;
    m_isOpen = true;
    return kHandle;
  }
  int Close(platform::SerialHandle handle) override {
    if (handle != kHandle) return 0;
    ++m_closes;
    if (m_failClose) return 0;
    m_isOpen = false;
    m_pending.clear();
    return 1;
  }
  int GetState(platform::SerialHandle handle, platform::DCB* dcb) override {
    if (!Usable(handle) || m_failGetState) return 0;
    *dcb = {};
    return 1;
  }
  int SetState(platform::SerialHandle handle, const platform::DCB&) override {
    if (!Usable(handle)) return 0;
    ++m_setStates;
    return 1;
  }
  int GetTimeouts(platform::SerialHandle handle,
                  platform::COMMTIMEOUTS* timeouts) override {
    if (!Usable(handle)) return 0;
    *timeouts = m_timeouts;
    return 1;
  }
  int SetTimeouts(platform::SerialHandle handle,
                  const platform::COMMTIMEOUTS& timeouts) override {
    if (!Usable(handle)) return 0;
    ++m_setTimeouts;
    m_timeouts = timeouts;
    return 1;
  }
  int Read(platform::SerialHandle handle, void* buffer, std::uint32_t count,
           std::uint32_t* delivered) override {
    *delivered = 0;
    if (!Usable(handle)) return 0;
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    while (*delivered < count && !m_pending.empty()) {
      bytes[(*delivered)++] = m_pending.front();
      m_pending.pop_front();
    }
    // Bytes take about a millisecond; a read left short waits out its
    // time-out.
    m_clock.Advance(*delivered < count ? ReadTimeoutMs(count) : 1);
    return 1;
  }
  int Write(platform::SerialHandle handle, const void* data,
            std::uint32_t count, std::uint32_t* sent) override {
    *sent = 0;
    if (!Usable(handle)) return 0;
    *sent = count;
    m_clock.Advance(1);
    Answer(static_cast<const std::uint8_t*>(data), count);
    return 1;
  }
  int Purge(platform::SerialHandle handle, std::uint32_t flags) override {
    if (!Usable(handle)) return 0;
    if (flags & platform::kPurgeRxClear) m_pending.clear();
    return 1;
  }
  int ClearErrors(platform::SerialHandle handle, std::uint32_t* errors,
                  platform::COMSTAT* status) override {
    if (!Usable(handle)) return 0;
    if (errors) *errors = 0;
    if (status) *status = {static_cast<std::uint32_t>(m_pending.size()), 0};
    return 1;
  }

 private:
  bool Usable(platform::SerialHandle handle) const {
    return handle == kHandle && m_isOpen;
  }

  std::int64_t ReadTimeoutMs(std::uint32_t count) const {
    return m_timeouts.ReadTotalTimeoutMultiplier * count +
           m_timeouts.ReadTotalTimeoutConstant;
  }

  void Answer(const std::uint8_t* request, std::uint32_t count) {
    if (Is(request, count, box_frames::kHelloRequest)) {
      ++m_hellos;
      if (m_answerHello)
        Queue({box_frames::kHelloReply[0], box_frames::kHelloReply[1]});
      return;
    }
    if (Is(request, count, box_frames::kTimeCodeRequest)) {
      ++m_queries;
      AnswerQuery();
    }
  }

  void AnswerQuery() {
    ScriptedReply reply = {BoxReply::kLive, {0, 0, 0, 0}};
    if (!m_script.empty()) {
      reply = m_script.front();
      m_script.pop_front();
    }
    m_lastKind = reply.kind;
    switch (reply.kind) {
      case BoxReply::kLive:
        if (!m_frozen) m_frozenCode = Flagged(LiveCode());
        QueueCode(m_frozenCode);
        return;
      case BoxReply::kSilent:
        return;
      case BoxReply::kGarbage:
        m_pending.insert(m_pending.end(), {0x74, 0x00, 0x12, 0x34, 0x56, 0x12,
                                           0x00});  // checksum wrong
        return;
      case BoxReply::kShort3:
        Queue({box_frames::kHelloReply[0], box_frames::kHelloReply[1]});
        return;
      case BoxReply::kShort5:
        Queue({0x72, 0x00, 0x00, 0x00});
        return;
      case BoxReply::kStepBack:
        QueueCode(Flagged(LiveCode(-m_stepBackMs)));
        return;
      case BoxReply::kRepeat:
        m_pending.insert(m_pending.end(), m_lastReply.begin(),
                         m_lastReply.end());
        return;
      case BoxReply::kBytes:
        QueueCode(static_cast<PackedTimeCode>(
            reply.bytes[0] | reply.bytes[1] << 8 | reply.bytes[2] << 16 |
            static_cast<PackedTimeCode>(reply.bytes[3]) << 24));
        return;
    }
  }

  PackedTimeCode Flagged(PackedTimeCode code) const {
    return (!m_isPal && m_dropFrame) ? (code | kDropFrameFlag) : code;
  }

  template <std::size_t N>
  static bool Is(const std::uint8_t* request, std::uint32_t count,
                 const std::uint8_t (&frame)[N]) {
    return count == N && std::equal(frame, frame + N, request);
  }

  void QueueCode(PackedTimeCode code) {
    std::vector<std::uint8_t> reply(box_frames::kTimeCodeReplyLength);
    box_frames::BuildTimeCodeReply(code, 0x00, reply.data());
    Enqueue(reply);
  }

  // Adds the checksum and queues the frame for the next reads.
  void Queue(std::vector<std::uint8_t> frame) {
    frame.push_back(box_frames::Checksum(frame.data(), frame.size()));
    Enqueue(frame);
  }
  void Enqueue(const std::vector<std::uint8_t>& frame) {
    m_pending.insert(m_pending.end(), frame.begin(), frame.end());
    m_lastReply = frame;
  }

  FakeClock& m_clock;
  std::deque<ScriptedReply> m_script;
  std::deque<std::uint8_t> m_pending;
  std::vector<std::uint8_t> m_lastReply;
  PackedTimeCode m_frozenCode = 0;
};

}  // namespace fake
