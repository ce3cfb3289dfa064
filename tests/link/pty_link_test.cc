// The link over a real pseudo-terminal: the termios backend, its time-outs
// and exclusive open, and the exchanges as a box on the other end sees them.
#include <gtest/gtest.h>

#include <cstring>

#include "link/box_frames.h"
#include "link/box_link.h"
#include "tests/link/pty_peer.h"

namespace {

using pty_test::Answer;
using pty_test::Bytes;
using pty_test::MonotonicMs;
using pty_test::PtyPeer;
using pty_test::TempSettingsRoot;

template <std::size_t N>
Bytes AsBytes(const std::uint8_t (&frame)[N]) {
  return Bytes(frame, frame + N);
}

Bytes TimeCodeReply(std::uint32_t code) {
  Bytes reply(box_frames::kTimeCodeReplyLength);
  box_frames::BuildTimeCodeReply(code, 0x00, reply.data());
  return reply;
}

const Bytes kHello = AsBytes(box_frames::kHelloRequest);
const Bytes kHelloAnswer = AsBytes(box_frames::kHelloReply);
const Bytes kQuery = AsBytes(box_frames::kTimeCodeRequest);
const Bytes kTimeCode = TimeCodeReply(0x23563412);

// Answers the hello and the query as a working box does.
Answer WorkingBox(const Bytes& request) {
  if (request == kHello) return {{0, kHelloAnswer}};
  if (request == kQuery) return {{0, kTimeCode}};
  return {};
}

Answer SilentBox(const Bytes&) { return {}; }

class PtyLinkTest : public ::testing::Test {
 protected:
  PtyLinkTest() : peer(&WorkingBox), root(peer.slavePath()) {}

  void SetUp() override {
    ASSERT_TRUE(peer.ok());
    ASSERT_EQ(1, link.Open(1, 0));
    ASSERT_EQ(1, link.SetTimeouts(10, 10, 20, 10, 10));
  }

  // Milliseconds that `call` took.
  template <typename Call>
  static std::int64_t Timed(Call call) {
    const std::int64_t start = MonotonicMs();
    call();
    return MonotonicMs() - start;
  }

  PtyPeer peer;
  TempSettingsRoot root;
  CBoxLink link;
};

// A pseudo-terminal drops the parity bit; asking for it again must not turn
// every reconnect into a failed connect.
TEST_F(PtyLinkTest, LineSettingsStickAndCanBeAppliedAgainAndAfterAReopen) {
  ASSERT_EQ(1, link.ApplyLineSettings());
  ASSERT_EQ(1, link.FetchState());
  EXPECT_EQ(38400u, link.m_dcb.BaudRate);
  ASSERT_EQ(1, link.FetchTimeouts());
  EXPECT_EQ(20u, link.m_timeouts.ReadTotalTimeoutConstant);
  EXPECT_EQ(1, link.ApplyLineSettings());
  ASSERT_EQ(1, link.Close());
  ASSERT_EQ(1, link.Open(1, 0));
  EXPECT_EQ(1, link.ApplyLineSettings());
  ASSERT_EQ(1, link.SetTimeouts(10, 10, 20, 10, 10));
  EXPECT_EQ(1, link.QueryTimeCode());
}

TEST_F(PtyLinkTest, BothRequestsGoOnTheWireAsTheirBytes) {
  ASSERT_EQ(1, link.QueryTimeCode());
  EXPECT_EQ(kQuery, peer.Received());
  EXPECT_EQ(0, std::memcmp(kTimeCode.data(), link.m_reply, 7));
  EXPECT_EQ(7, link.m_replyLength);
  EXPECT_STREQ("BOX connected and responding.", link.m_statusText);
}

TEST_F(PtyLinkTest, HandshakeMakesThirtyTwoPassesWithPauses) {
  const std::int64_t took = Timed([&] { EXPECT_EQ(1, link.Handshake()); });
  EXPECT_EQ(1, link.m_handshakeOk);
  Bytes expected;
  for (int i = 0; i < 32; ++i)
    expected.insert(expected.end(), kHello.begin(), kHello.end());
  EXPECT_EQ(expected, peer.Received());
  EXPECT_GE(took, 32 * 30);
  EXPECT_LT(took, 8000);
}

TEST_F(PtyLinkTest, HandshakeRefusesABadAnswerAfterOneHello) {
  const struct {
    const char* what;
    Bytes answer;
  } cases[] = {{"wrong checksum", {kHelloAnswer[0], kHelloAnswer[1], 0x12}},
               {"length code 2", {0x12, kHelloAnswer[1], kHelloAnswer[2]}},
               {"silence", {}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const int before = peer.RequestCount();
    peer.SetResponder([&](const Bytes&) { return Answer{{0, c.answer}}; });
    std::int64_t took = Timed([&] { EXPECT_EQ(0, link.Handshake()); });
    EXPECT_EQ(0, link.m_handshakeOk);
    EXPECT_LT(took, 1000);
    EXPECT_EQ(before + 1, peer.RequestCount());
  }
}

TEST_F(PtyLinkTest, BadHeadersAreRefusedWithoutReadingTheTail) {
  for (std::uint8_t header : {0x20, 0x13, 0x1F, 0x80, 0xF4}) {
    SCOPED_TRACE(static_cast<int>(header));
    const Bytes reply = {header, 0, 0, 1, 2, 3, 4};
    peer.SetResponder([&](const Bytes&) { return Answer{{0, reply}}; });
    EXPECT_EQ(0, link.QueryTimeCode());
    EXPECT_EQ(0, link.m_replyLength);
    EXPECT_STREQ("BOX NOT responding! LED ON? Cables?", link.m_statusText);
    // The four bytes after the head are still waiting: nobody read them.
    platform::COMSTAT status{};
    ASSERT_EQ(1, link.ClearErrors(&status));
    EXPECT_EQ(4u, status.cbInQue);
  }
}

TEST_F(PtyLinkTest, QueryToASilentBoxReturnsAfterAboutFiftyMilliseconds) {
  peer.SetResponder(&SilentBox);
  const std::int64_t took = Timed([&] { EXPECT_EQ(0, link.QueryTimeCode()); });
  EXPECT_GE(took, 45);
  EXPECT_LT(took, 500);
}

TEST_F(PtyLinkTest, ACutTailIsRefusedEvenWhenTheOldTailWouldFit) {
  ASSERT_EQ(1, link.QueryTimeCode());
  const Bytes cut(kTimeCode.begin(), kTimeCode.begin() + 5);
  peer.SetResponder([&](const Bytes&) { return Answer{{0, cut}}; });
  const std::int64_t took = Timed([&] { EXPECT_EQ(0, link.QueryTimeCode()); });
  EXPECT_EQ(0, link.m_replyLength);
  EXPECT_LT(took, 800);  // the gap after the last byte ends the tail read
}

TEST_F(PtyLinkTest, ATailThatPausesTooLongEndsTheRead) {
  const Bytes head(kTimeCode.begin(), kTimeCode.begin() + 3);
  const Bytes tail(kTimeCode.begin() + 3, kTimeCode.end());
  peer.SetResponder([&](const Bytes&) {
    return Answer{{0, head}, {200, tail}};
  });
  EXPECT_EQ(0, link.QueryTimeCode());
  // The late tail lands in the input after the refusal; the next exchange
  // must throw it away rather than take it for a reply.
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  // A pause within the tail's time-out is no gap between bytes.
  peer.SetResponder([&](const Bytes&) {
    return Answer{{0, head}, {25, tail}};
  });
  EXPECT_EQ(1, link.QueryTimeCode());
}

TEST_F(PtyLinkTest, ReadTimeoutsKeepTheirWindowsMeaning) {
  ASSERT_EQ(1, link.SetTimeouts(10, 100, 1000, 10, 10));
  std::uint8_t buffer[8];
  // The interval time-out ends a read once bytes have begun to arrive.
  peer.SetResponder([](const Bytes&) { return Answer{{0, {0x55}}}; });
  ASSERT_EQ(1, link.SendFrame(kHello.data()));
  std::int64_t took = Timed([&] { EXPECT_EQ(1, link.Read(buffer, 8)); });
  EXPECT_EQ(1u, link.BytesRead());
  EXPECT_LT(took, 1000);  // the total time-out would be 1800 ms
  // A read that gets all its bytes returns at once.
  peer.SetResponder([](const Bytes&) { return Answer{{0, {1, 2, 3, 4}}}; });
  ASSERT_EQ(1, link.SendFrame(kHello.data()));
  took = Timed([&] { EXPECT_EQ(1, link.Read(buffer, 4)); });
  EXPECT_EQ(4u, link.BytesRead());
  EXPECT_LT(took, 1000);
}

TEST_F(PtyLinkTest, ASecondOpenerOfTheSameDeviceIsRefused) {
  CBoxLink second;
  EXPECT_EQ(0, second.Open(1, 0));
  EXPECT_EQ(0, second.m_isOpen);
  ASSERT_EQ(1, link.Close());
  EXPECT_EQ(1, second.Open(1, 0));
  CBoxLink third;
  EXPECT_EQ(0, third.Open(1, 0));
}

TEST(PtyDeviceNames, AMappedPortThatPointsNowhereDoesNotFallBack) {
  TempSettingsRoot root("/nonexistent/quorvel-port");
  CSerialPort port;
  EXPECT_EQ(0, port.Open(1, 0));
}

}  // namespace
