// The box's replies, fuzzed where they enter: each query the link sends is
// answered by the next reply of the input, byte for byte, on a line in this
// process, and the engine runs on the fake clock, so a reply reaches the
// frame check, the time code arithmetic, the running test and the setting.
//
// Input: one byte of mode (bit 0 PAL, bit 1 system time, bit 2 setting
// allowed, bits 3-7 the hour the PC clock starts at), then replies, each a
// control byte and up to 15 bytes: bits 0-3 the reply's length, bit 4 read
// it with the link alone into a buffer of exactly the longest reply's size
// instead of a poll of the engine, bits 5-7 how far the PC clock drifts
// before the poll.
//
// What must always hold: a reply the link accepts is a whole frame with a
// valid checksum, copied as it came; no accepted setting holds an invalid
// time of day or date; a setting is made only from a running code, that is
// from four successive queries answered with whole time code frames whose
// codes increase, and with the time of day of the latest one.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "clock/time_code.h"
#include "clock/time_code_clock.h"
#include "fuzz/fuzz_check.h"
#include "link/box_frames.h"
#include "platform/serial.h"
#include "tests/support/fake_clock.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kLongestReply = 11;
constexpr std::int64_t kPollPeriodMs = 153;

// The input, taken from the front.
struct Input {
  const std::uint8_t* data;
  std::size_t size;

  bool Empty() const { return size == 0; }
  std::uint8_t Peek() const { return data[0]; }
  std::uint8_t Byte() {
    if (size == 0) return 0;
    --size;
    return *data++;
  }
  Bytes Reply() {
    const std::size_t wanted = Byte() & 0x0F;
    const std::size_t n = wanted < size ? wanted : size;
    Bytes reply(data, data + n);
    data += n;
    size -= n;
    return reply;
  }
};

// The serial line: whatever was written is a query, answered with the next
// reply of the input; reads take its bytes in order; an input purge drops
// what is left of it.
class FuzzLine : public platform::SerialBackend {
 public:
  Input* input = nullptr;
  Bytes onLine;
  std::size_t taken = 0;
  std::vector<Bytes> answers;  // each query's reply, in order

  void Put(Bytes reply) {
    onLine = std::move(reply);
    taken = 0;
  }

  platform::SerialHandle Open(const char*, bool) override { return 1; }
  int Close(platform::SerialHandle) override { return 1; }
  int GetState(platform::SerialHandle, platform::DCB* dcb) override {
    *dcb = platform::DCB{};
    return 1;
  }
  int SetState(platform::SerialHandle, const platform::DCB&) override {
    return 1;
  }
  int GetTimeouts(platform::SerialHandle, platform::COMMTIMEOUTS* t) override {
    *t = platform::COMMTIMEOUTS{};
    return 1;
  }
  int SetTimeouts(platform::SerialHandle,
                  const platform::COMMTIMEOUTS&) override {
    return 1;
  }
  int Read(platform::SerialHandle, void* buffer, std::uint32_t count,
           std::uint32_t* delivered) override {
    const std::size_t left = onLine.size() - taken;
    const std::size_t n = left < count ? left : count;
    if (n > 0) std::memcpy(buffer, onLine.data() + taken, n);
    taken += n;
    *delivered = static_cast<std::uint32_t>(n);
    return 1;
  }
  int Write(platform::SerialHandle, const void*, std::uint32_t count,
            std::uint32_t* sent) override {
    Put(input->Reply());
    answers.push_back(onLine);
    *sent = count;
    return 1;
  }
  int Purge(platform::SerialHandle, std::uint32_t flags) override {
    if (flags & platform::kPurgeRxClear) taken = onLine.size();
    return 1;
  }
  int ClearErrors(platform::SerialHandle, std::uint32_t* errors,
                  platform::COMSTAT* status) override {
    *errors = 0;
    if (status != nullptr) *status = platform::COMSTAT{};
    return 1;
  }
};

// A whole frame as the box sends it: a header the box may send, as many
// bytes as it announces, the sum.
bool IsWholeFrame(const std::uint8_t* bytes, std::size_t length) {
  return box_frames::IsAcceptedReplyHeader(bytes[0]) &&
         box_frames::FrameLength(bytes[0]) == length &&
         box_frames::HasValidChecksum(bytes, length);
}

// A reply the engine may take a time code from: a whole frame of seven or
// eleven bytes.
bool CarriesTimeCode(const Bytes& reply) {
  if (reply.empty()) return false;
  const std::size_t announced = box_frames::FrameLength(reply[0]);
  return announced >= box_frames::kTimeCodeReplyLength &&
         reply.size() >= announced && IsWholeFrame(reply.data(), announced);
}

PackedTimeCode MaskedCode(const Bytes& reply) {
  const std::uint8_t* code = reply.data() + box_frames::kTimeCodeFirstByte;
  return PackTimeCode(code[0], code[1], code[2], code[3]) & kTimeCodeMask;
}

int Bcd(std::uint8_t byte) { return (byte >> 4) * 10 + (byte & 0x0F); }

bool IsRealMoment(const platform::SYSTEMTIME& t) {
  const platform::SYSTEMTIME again = fake::ToRecord(fake::ToMs(t));
  return t.wYear == again.wYear && t.wMonth == again.wMonth &&
         t.wDay == again.wDay && t.wHour == again.wHour &&
         t.wMinute == again.wMinute && t.wSecond == again.wSecond &&
         t.wMilliseconds == again.wMilliseconds && t.wMonth >= 1;
}

void CheckSetting(const fake::ClockEvent& set, const FuzzLine& line) {
  if (set.result != 0) FUZZ_CHECK(IsRealMoment(set.time));
  const std::vector<Bytes>& answers = line.answers;
  FUZZ_CHECK(answers.size() >= 4);
  for (std::size_t i = answers.size() - 4; i < answers.size(); ++i) {
    FUZZ_CHECK(CarriesTimeCode(answers[i]));
    if (i > answers.size() - 4)
      FUZZ_CHECK(MaskedCode(answers[i]) > MaskedCode(answers[i - 1]));
  }
  if (set.result == 0) return;
  // Drop-frame may move the time one frame across a second.
  const Bytes& latest = answers.back();
  const std::int64_t codeMs =
      ((Bcd(latest[5] & 0x3F) * 60 + Bcd(latest[4] & 0x7F)) * 60 +
       Bcd(latest[3] & 0x7F)) *
      fake::kMsPerSecond;
  const std::int64_t setMs = fake::ToMs(set.time) % fake::kMsPerDay;
  const std::int64_t ahead =
      (setMs - codeMs + 2 * fake::kMsPerDay) % fake::kMsPerDay;
  FUZZ_CHECK(ahead <= 1034 || ahead >= fake::kMsPerDay - 34);
}

void CheckDirectRead(CBoxLink& link, const Bytes& reply) {
  // Exactly the longest reply's room, on the heap, so the sanitizer sees a
  // byte written past it.
  std::unique_ptr<std::uint8_t[]> room(new std::uint8_t[kLongestReply]);
  const int length = link.ReadReply(room.get());
  if (length == 0) return;
  FUZZ_CHECK(length == 3 || length == 5 || length == 7 || length == 11);
  FUZZ_CHECK(static_cast<std::size_t>(length) <= reply.size());
  FUZZ_CHECK(std::memcmp(room.get(), reply.data(), length) == 0);
  FUZZ_CHECK(IsWholeFrame(room.get(), length));
}

struct World {
  fake::FakeClock clock;
  FuzzLine line;
  std::unique_ptr<CTimeCodeClock> engine;
};

World* g_world = nullptr;

void ResetEngine(CTimeCodeClock& engine, std::uint8_t mode) {
  engine.m_isPal = mode & 1;
  engine.m_useSystemTime = (mode >> 1) & 1;
  engine.m_setClockEnabled = (mode >> 2) & 1;
  engine.m_dropFrame = 0;
  engine.m_noTimeCode = 0;
  engine.m_missCount = 0;
  std::memset(engine.m_recentCodes, 0, sizeof engine.m_recentCodes);
  std::memset(engine.m_link.m_reply, 0, sizeof engine.m_link.m_reply);
  engine.m_link.m_replyLength = 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // An empty settings folder of our own: the defaults, whatever this machine
  // holds in its own.
  static char folder[] = "/tmp/quorvel-fuzz-XXXXXX";
  if (mkdtemp(folder) != nullptr) {
    setenv("CONFIGURATION_DIRECTORY", folder, 1);
    std::atexit([] { std::filesystem::remove_all(folder); });
  }
  g_world = new World;
  platform::UseSerialBackend(&g_world->line);
  g_world->engine.reset(new CTimeCodeClock);
  g_world->engine->m_link.Open(1, 0);
  g_world->clock.RecordEvents(false);
  g_world->clock.OnSet(
      [](const fake::ClockEvent& set) { CheckSetting(set, g_world->line); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  World& world = *g_world;
  Input input{data, size};
  world.line.input = &input;
  world.line.answers.clear();
  world.line.Put({});
  const std::uint8_t mode = input.Byte();
  world.clock.StartAtLocal(fake::MsOf(2026, 3, 14, (mode >> 3) % 24, 0, 1, 0));
  CTimeCodeClock& engine = *world.engine;
  ResetEngine(engine, mode);

  while (!input.Empty()) {
    const std::uint8_t control = input.Peek();
    if (control & 0x10) {
      const Bytes reply = input.Reply();
      world.line.Put(reply);
      CheckDirectRead(engine.m_link, reply);
      continue;
    }
    world.clock.JumpPcClock((control >> 5) * 37);
    world.clock.Advance(kPollPeriodMs);
    const std::size_t before = input.size;
    engine.Poll();
    FUZZ_CHECK(input.size < before);  // every poll queries the box
  }
  return 0;
}
