// CBoxLink over a scripted device: which platform calls each operation of
// its serial port makes, in which order, and what it reports; its frame layer
// and its two exchanges with the box simulator's box on the line.
#include "link/box_link.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "link/box_frames.h"
#include "link/user_notice.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_serial.h"
#include "tools/boxsim/boxsim_core.h"

#ifndef _WIN32
#include "platform/posix/serial_test_seam.h"
#endif

namespace {

using Calls = std::vector<std::string>;
using fakes::Bytes;

// 12:34:56:23 as the box sends it.
const Bytes kTimeCodeReply = {0x74, 0x0C, 0x23, 0x56, 0x34, 0x12, 0x3F};

// Speed, byte size, parity and stop bits.
std::tuple<std::uint32_t, int, int, int> Line(const platform::DCB& dcb) {
  return {dcb.BaudRate, dcb.ByteSize, dcb.Parity, dcb.StopBits};
}

std::vector<UserNotice> g_notices;
void RecordNotice(UserNotice notice) { g_notices.push_back(notice); }

class BoxLinkTest : public ::testing::Test {
 protected:
  BoxLinkTest() {
    g_notices.clear();
    SetUserNoticeHandler(&RecordNotice);
  }
  ~BoxLinkTest() override { SetUserNoticeHandler(nullptr); }

  // Opens COM1 and forgets the calls that took.
  void OpenCom1() {
    ASSERT_EQ(1, link.Open(1, 0));
    device.calls.clear();
  }

  fake::FakeClock clock;  // the link's waits pass at once
  fakes::FakeSerial device{clock};
  CBoxLink link;
};

TEST_F(BoxLinkTest, SendFrameAddsTheChecksumAndIgnoresAnyGiven) {
  OpenCom1();
  const struct {
    Bytes message;
    Bytes wire;
  } cases[] = {
      {{0x20, 0x01}, {0x20, 0x01, 0x21}},
      {{0x61, 0x0C, 0x03, 0xEE}, {0x61, 0x0C, 0x03, 0x70}},
      {{0x02, 0xFF, 0xFF, 0xFF}, {0x02, 0xFF, 0xFF, 0xFF, 0xFF}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(1, link.SendFrame(c.message.data()));
    EXPECT_EQ(c.wire, device.writes.back());
  }
  // Fewer than two bytes hold no checksum to check: never a valid frame.
  const std::uint8_t zeros[2] = {};
  EXPECT_FALSE(box_frames::HasValidChecksum(zeros, 0));
  EXPECT_FALSE(box_frames::HasValidChecksum(zeros, 1));
  EXPECT_TRUE(box_frames::HasValidChecksum(zeros, 2));
}

// Rows run in order on one link, so a refused tail finds the previous
// frame's tail still in the buffer, where it would complete the checksum.
// Each read takes what the line holds, up to what it asks for.
TEST_F(BoxLinkTest, ReadReplyTakesWholeValidFramesOnly) {
  OpenCom1();
  const Bytes head(kTimeCodeReply.begin(), kTimeCodeReply.begin() + 3);
  const Bytes tail(kTimeCodeReply.begin() + 3, kTimeCodeReply.end());
  struct Row {
    std::vector<Bytes> reads;
    int result;
    int readCalls;
  };
  std::vector<Row> rows = {
      {{{0x10, 0x01, 0x11}}, 3, 1},
      {{{0x72, 0x01, 0x02}, {0x03, 0x78}}, 5, 2},
      {{{0x18, 1, 2}, {3, 4, 5, 6, 7, 8, 9, 0x45}}, 11, 2},
      {{head, tail}, 7, 2},
      {{head, {0x56, 0x34}}, 0, 2},
      {{head, {0x56, 0x34, 0x12, 0x32}}, 0, 2},
      {{{0x10, 0x01}}, 0, 1},
      {{{0x10, 0x01, 0x12}}, 0, 1},
  };
  // Headers of no reply the box sends: refused without reading a tail.
  for (std::uint8_t header : {0x20, 0x13, 0x1F, 0x80, 0xF4, 0x71, 0x16})
    rows.push_back({{{header, 0x00, 0x00}, {0, 0, 0, 0, 0, 0, 0, 0}}, 0, 1});
  for (const Row& r : rows) {
    std::uint8_t reply[20] = {};
    ASSERT_EQ(1, link.PurgeAll());
    device.calls.clear();
    for (const Bytes& read : r.reads) device.Feed(read);
    EXPECT_EQ(r.result, link.ReadReply(reply));
    if (r.result > 0) {
      Bytes whole;
      for (const Bytes& read : r.reads)
        whole.insert(whole.end(), read.begin(), read.end());
      EXPECT_EQ(whole, Bytes(reply, reply + r.result));
    }
    EXPECT_EQ(r.readCalls, device.CountCalls("Read"));
  }
}

// A query takes the line's errors and empties its input before asking, and
// takes any valid frame; a shorter one leaves the older bytes behind it. On
// a closed port nothing is read and the last reply stays.
TEST_F(BoxLinkTest, QueryTimeCodeKeepsTheReplyAndTellsTheStatus) {
  OpenCom1();
  device.ScriptCode(0x12345623);
  device.calls.clear();
  EXPECT_EQ(1, link.QueryTimeCode());
  EXPECT_EQ(std::vector<Bytes>{boxsim::kQueryRequest}, device.writes);
  EXPECT_EQ("ClearErrors", device.calls[0]);
  EXPECT_EQ("Purge 8", device.calls[1]);
  EXPECT_EQ(kTimeCodeReply,
            Bytes(link.m_reply, link.m_reply + link.m_replyLength));
  EXPECT_STREQ("BOX connected and responding.", link.m_statusText);
  device.Script(fakes::Reply::kSilent);
  EXPECT_EQ(0, link.QueryTimeCode());
  EXPECT_EQ(0, link.m_replyLength);
  EXPECT_STREQ("BOX NOT responding! LED ON? Cables?", link.m_statusText);
  device.Script(fakes::Reply::kShort3);
  EXPECT_EQ(1, link.QueryTimeCode());
  EXPECT_EQ(3, link.m_replyLength);
  EXPECT_EQ(Bytes(kTimeCodeReply.begin() + 3, kTimeCodeReply.end()),
            Bytes(link.m_reply + 3, link.m_reply + 7));
  ASSERT_EQ(1, link.Close());
  EXPECT_EQ(0, link.QueryTimeCode());
  EXPECT_EQ(3, link.m_replyLength);
  EXPECT_STREQ("BOX NOT responding! LED ON? Cables?", link.m_statusText);
}

// Thirty-two good answers with a pause after each; the box takes a command
// as the fifth request is written, and that pass's bad answer ends the
// handshake without its pause. A pass whose write fails pauses unanswered.
TEST_F(BoxLinkTest, HandshakeNeedsThirtyTwoGoodAnswers) {
  OpenCom1();
  const struct {
    const char* command;
    int result;
    std::size_t writes;
  } cases[] = {{"", 1, 32},
               {"checksum bad", 0, 5},
               {"reply 12 01 11", 0, 5},  // length code 2
               {"reply 10 02 12", 0, 5},  // another valid frame
               {"silence on", 0, 5}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    link.m_handshakeOk = 1 - c.result;
    device.writes.clear();
    device.calls.clear();
    clock.ClearEvents();
    device.onCall = [&](const std::string& call) {
      if (*c.command && call.rfind("Write", 0) == 0 &&
          device.writes.size() == 4)
        device.Do(c.command);
    };
    EXPECT_EQ(c.result, link.Handshake());
    EXPECT_EQ(c.result, link.m_handshakeOk);
    EXPECT_EQ(c.writes, device.writes.size());
    for (const Bytes& w : device.writes) EXPECT_EQ(boxsim::kHelloRequest, w);
    EXPECT_EQ(std::vector<std::uint32_t>(c.writes - 1 + c.result, 30),
              clock.Sleeps());
    EXPECT_EQ(static_cast<int>(c.writes), device.CountCalls("Purge 8"));
    device.Do("checksum good");
    device.Do("silence off");
  }
  ASSERT_EQ(1, link.Close());
  clock.ClearEvents();
  EXPECT_EQ(0, link.Handshake());
  EXPECT_EQ(32u, clock.Sleeps().size());
}

// One port through its life: the calls each step makes and what it keeps.
// Port numbers name their devices and are kept as given.
TEST_F(BoxLinkTest, PortNumbersOpenLossReopenAndClose) {
  const struct {
    int number;
    const char* name;
  } cases[] = {{1, "COM1"}, {2, "COM2"}, {3, "COM3"},  {4, "COM4"},
               {0, "COM1"}, {5, "COM1"}, {15, "COM1"}, {-1, "COM1"}};
  for (const auto& c : cases) {
    CSerialPort each;
    device.calls.clear();
    ASSERT_EQ(1, each.Open(c.number, 0));
    EXPECT_EQ(Calls{std::string("Open ") + c.name}, device.calls);
    EXPECT_EQ(c.number, each.m_portNumber);
  }
  // A port never opened has no loss, nor a loss's error, to tell.
  const CSerialPort fresh;
  EXPECT_EQ(std::make_tuple(0, 0u),
            std::tie(fresh.m_deviceLost, fresh.m_deviceError));

  // The first failing call marks the device lost with that call's error; a
  // reopen purges and closes first, and starts clean, which a call that
  // works leaves as it is.
  OpenCom1();
  device.gone = true;
  std::uint8_t buffer[4] = {};
  EXPECT_EQ(0, link.Read(buffer, 3));
  EXPECT_EQ(0, link.Write(buffer, 3));
  EXPECT_EQ(std::make_tuple(1, fakes::FakeSerial::kGoneError),
            std::tie(link.m_deviceLost, link.m_deviceError));
  device.gone = false;
  device.calls.clear();
  ASSERT_EQ(1, link.Open(2, 0));
  EXPECT_EQ((Calls{"Purge 15", "Close", "Open COM2"}), device.calls);
  EXPECT_EQ(1, link.Read(buffer, 3));
  EXPECT_EQ(std::make_tuple(0, 0u),
            std::tie(link.m_deviceLost, link.m_deviceError));

  // A device held by another program fails the open with the notice and
  // leaves the port closed.
  device.failOpen = true;
  device.calls.clear();
  EXPECT_EQ(0, link.Open(3, 0));
  EXPECT_EQ((Calls{"Purge 15", "Close", "Open COM3"}), device.calls);
  EXPECT_EQ(std::make_tuple(0, 2), std::tie(link.m_isOpen, link.m_portNumber));
  EXPECT_EQ(std::vector<UserNotice>{UserNotice::kPortOpenFailed}, g_notices);
  device.failOpen = false;

  // A close reports the handle's result and forgets the handle either way;
  // closing again makes no call, and destroying an open port closes it.
  for (int result : {1, 0}) {
    OpenCom1();
    device.failClose = result == 0;
    EXPECT_EQ(result, link.Close());
    EXPECT_EQ(1, link.Close());
    EXPECT_EQ((Calls{"Purge 15", "Close"}), device.calls);
    EXPECT_EQ(platform::kInvalidSerialHandle, link.m_handle);
  }
  {
    CSerialPort other;
    ASSERT_EQ(1, other.Open(4, 0));
    device.calls.clear();
  }
  EXPECT_EQ((Calls{"Purge 15", "Close"}), device.calls);

  // On the closed port everything fails without reaching the device.
  device.calls.clear();
  platform::COMSTAT status{};
  link.m_bytesRead = link.m_bytesWritten = 99;
  for (int result :
       {link.FetchState(), link.FetchTimeouts(), link.StoreTimeouts(),
        link.SetTimeouts(10, 10, 20, 10, 10), link.ApplyLineSettings(),
        link.Read(buffer, 3), link.Write(buffer, 3), link.PurgeAll(),
        link.ClearInput(), link.ClearErrors(&status)})
    EXPECT_EQ(0, result);
  EXPECT_EQ(std::make_tuple(0u, 0u),
            std::tie(link.m_bytesRead, link.m_bytesWritten));
  EXPECT_TRUE(device.calls.empty());
}

// Line settings write four fields and keep the rest; a failing fetch gives
// up at once, a failing store still waits its 300 ms.
TEST_F(BoxLinkTest, LineSettingsTimeOutsAndPurgesReachTheDevice) {
  device.state = {9600, 7, 2, 2, {}};
  std::memset(device.state.native, 0x5A, sizeof device.state.native);
  OpenCom1();
  EXPECT_EQ(1, link.ApplyLineSettings());
  EXPECT_EQ(std::make_tuple(38400u, 8, 1, 0), Line(device.state));
  for (unsigned char b : device.state.native) ASSERT_EQ(0x5A, b);
  device.failGetState = true;
  EXPECT_EQ(0, link.ApplyLineSettings());
  device.failGetState = false;
  device.failSetState = true;
  EXPECT_EQ(0, link.ApplyLineSettings());
  EXPECT_EQ(0, link.StoreState());
  EXPECT_EQ((Calls{"GetState", "SetState", "GetState", "GetState", "SetState",
                   "SetState"}),
            device.calls);
  EXPECT_EQ((std::vector<std::uint32_t>{300, 300, 300}), clock.Sleeps());

  // The time-outs go in field by field, and not at all when they cannot be
  // fetched first.
  EXPECT_EQ(1, link.SetTimeouts(1, 2, 3, 4, 5));
  const platform::COMMTIMEOUTS& t = device.timeouts;
  EXPECT_EQ(std::make_tuple(1u, 2u, 3u, 4u, 5u),
            std::tie(t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier,
                     t.ReadTotalTimeoutConstant, t.WriteTotalTimeoutMultiplier,
                     t.WriteTotalTimeoutConstant));
  device.failGetTimeouts = true;
  EXPECT_EQ(0, link.SetTimeouts(10, 10, 20, 10, 10));
  EXPECT_EQ(3u, t.ReadTotalTimeoutConstant);

  // Clearing the input takes the errors first and purges the input only; a
  // full purge aborts and clears both ways. Each reports the device's result.
  device.reportedErrors = 0x8;
  device.calls.clear();
  EXPECT_EQ(1, link.ClearInput());
  EXPECT_EQ(1, link.PurgeAll());
  EXPECT_EQ((Calls{"ClearErrors", "Purge 8", "Purge 15"}), device.calls);
  EXPECT_EQ(0x8u, link.m_commErrors);
  device.failPurge = true;
  EXPECT_EQ(0, link.ClearInput());
  EXPECT_EQ(0, link.PurgeAll());
}

#ifndef _WIN32
// A pseudo-terminal drops parity, so only the flags themselves show that a
// box gets odd parity and one stop bit; the first row is what the port asks.
TEST_F(BoxLinkTest, LineSettingsBecomeTermiosFlags) {
  OpenCom1();
  ASSERT_EQ(1, link.ApplyLineSettings());
  const tcflag_t kOwned = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
  const struct {
    std::uint32_t baud;
    std::uint8_t size, parity, stop;
    bool ok;
    tcflag_t flags;
  } rows[] = {
      {device.state.BaudRate, device.state.ByteSize, device.state.Parity,
       device.state.StopBits, true, CS8 | PARENB | PARODD},
      {9600, 7, 2, 0, true, CS7 | PARENB},
      {19200, 8, 0, 0, true, CS8},  // a speed code with its low bit clear
      {57600, 6, 0, 0, true, CS6},
      {9600, 8, 0, 2, true, CS8 | CSTOPB},
      {9600, 8, 3, 0, true, CS8 | PARENB | PARODD | CMSPAR},
      {9600, 8, 4, 0, true, CS8 | PARENB | CMSPAR},
      {9600, 8, 5, 0, false, 0},
      {9600, 8, 0, 3, false, 0},
      {9600, 9, 0, 0, false, 0},
      {12345, 8, 0, 0, false, 0},
  };
  for (const auto& r : rows) {
    platform::DCB dcb = {r.baud, r.size, r.parity, r.stop, {}};
    termios tio = {};
    tio.c_cflag = CS5 | PARENB | PARODD | CMSPAR | CSTOPB | CREAD;
    ASSERT_EQ(platform::EncodeLineSettings(dcb, &tio), r.ok);
    if (!r.ok) continue;
    EXPECT_EQ(tio.c_cflag & kOwned, r.flags);
    EXPECT_NE(tio.c_cflag & CREAD, 0u);  // not the port's to clear
    platform::DCB back = {};
    platform::DecodeLineSettings(tio, &back);
    EXPECT_EQ(Line(back),
              std::make_tuple(r.baud, r.size, r.parity, r.stop == 0 ? 0 : 2));
  }
}
#endif

}  // namespace
