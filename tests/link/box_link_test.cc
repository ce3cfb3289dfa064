// CBoxLink's frame layer and its two exchanges over a scripted device.
#include "link/box_link.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/fake_clock.h"
#include "tests/support/fake_serial.h"
#include "tools/boxsim/boxsim_core.h"

namespace {

using fakes::Bytes;

const Bytes kHello = boxsim::kHelloRequest;
const Bytes kHelloAnswer = boxsim::kHelloReply;
const Bytes kQuery = boxsim::kQueryRequest;
// 12:34:56:23 as the box sends it.
const Bytes kTimeCodeReply = {0x74, 0x0C, 0x23, 0x56, 0x34, 0x12, 0x3F};

// The box of the box simulator answers on the line.
class BoxLinkTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(1, link.Open(1, 0)); }

  fake::FakeClock clock;  // the link's waits pass at once
  fakes::FakeSerial device{clock};
  CBoxLink link;
};

TEST_F(BoxLinkTest, SendFrameAddsTheChecksumAndIgnoresAnyGiven) {
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
  Bytes longest(18, 0x01);
  longest[0] = 0x0F;
  longest[17] = 0xEE;
  EXPECT_EQ(1, link.SendFrame(longest.data()));
  longest[17] = 0x1F;
  EXPECT_EQ(longest, device.writes.back());
}

// Rows run in order on one link, so a refused tail finds the previous
// frame's tail still in the buffer, where it would complete the checksum.
// Each read takes what the line holds, up to what it asks for.
TEST_F(BoxLinkTest, ReadReplyTakesWholeValidFramesOnly) {
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
      {{head}, 0, 2},
      {{head, {0x56, 0x34, 0x12, 0x32}}, 0, 2},
      {{Bytes{}}, 0, 1},
      {{{0x10}}, 0, 1},
      {{{0x10, 0x01}}, 0, 1},
      {{{0x10, 0x01, 0x12}}, 0, 1},
  };
  // Headers of no reply the box sends: refused without reading a tail.
  for (std::uint8_t header : {0x20, 0x13, 0x1F, 0x80, 0xF4, 0x71, 0x16})
    rows.push_back({{{header, 0x00, 0x00}, {0, 0, 0, 0, 0, 0, 0, 0}}, 0, 1});
  for (const Row& r : rows) {
    SCOPED_TRACE(boxsim::HexBytes(r.reads[0]));
    std::uint8_t reply[20] = {0xAA};
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
    if (r.reads[0].size() < 3) {
      EXPECT_EQ(0xAA, reply[0]);  // untouched
    }
  }
}

// A query takes the line's errors and empties its input before asking, and
// takes any valid frame; a shorter one leaves the older bytes behind it. On
// a closed port nothing is read and the last reply stays.
TEST_F(BoxLinkTest, QueryTimeCodeKeepsTheReplyAndTellsTheStatus) {
  device.ScriptCode(0x12345623);
  device.calls.clear();
  EXPECT_EQ(1, link.QueryTimeCode());
  EXPECT_EQ(std::vector<Bytes>{kQuery}, device.writes);
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
    for (const Bytes& w : device.writes) EXPECT_EQ(kHello, w);
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

}  // namespace
