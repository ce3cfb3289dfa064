// The link over a real pseudo-terminal: the termios backend, its time-outs
// and exclusive open, and the exchanges as a box on the other end sees them.
#include <gtest/gtest.h>

#include "link/box_link.h"
#include "tests/support/pty_box.h"
#include "tests/support/settings_sandbox.h"
#include "tools/boxsim/boxsim_core.h"

namespace {

using boxsim::Bytes;
using fakes::MonotonicMs;

class PtyLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(box.ok());
    settings_sandbox::MapCom1(box.slavePath());
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

  fakes::PtyBox box;
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

TEST_F(PtyLinkTest, HandshakeMakesThirtyTwoPassesWithPauses) {
  const std::int64_t took = Timed([&] { EXPECT_EQ(1, link.Handshake()); });
  EXPECT_EQ(1, link.m_handshakeOk);
  Bytes expected;
  for (int i = 0; i < 32; ++i)
    expected.insert(expected.end(), boxsim::kHelloRequest.begin(),
                    boxsim::kHelloRequest.end());
  EXPECT_EQ(expected, box.Received());
  EXPECT_GE(took, 32 * 30);
  EXPECT_LT(took, 8000);
}

// The four bytes after a bad head are still waiting: nobody read them.
TEST_F(PtyLinkTest, ABadHeaderIsRefusedWithoutReadingTheTail) {
  box.Do("reply 20 00 00 01 02 03 04");
  EXPECT_EQ(0, link.QueryTimeCode());
  EXPECT_EQ(0, link.m_replyLength);
  platform::COMSTAT status{};
  ASSERT_EQ(1, link.ClearErrors(&status));
  EXPECT_EQ(4u, status.cbInQue);
}

TEST_F(PtyLinkTest, QueryToASilentBoxReturnsAfterAboutFiftyMilliseconds) {
  box.Do("silence on");
  const std::int64_t took = Timed([&] { EXPECT_EQ(0, link.QueryTimeCode()); });
  EXPECT_GE(took, 45);
  EXPECT_LT(took, 500);
}

TEST_F(PtyLinkTest, ATailThatPausesTooLongEndsTheRead) {
  box.StallNextAnswer(3, 200);
  const int sent = box.AnswersSent();
  EXPECT_EQ(0, link.QueryTimeCode());
  // The late tail lands in the input after the refusal; the next exchange
  // must throw it away rather than take it for a reply.
  ASSERT_TRUE(fakes::WaitFor([&] { return box.AnswersSent() > sent; }));
  // A pause within the tail's time-out is no gap between bytes.
  box.StallNextAnswer(3, 25);
  EXPECT_EQ(1, link.QueryTimeCode());
}

TEST_F(PtyLinkTest, ReadTimeoutsKeepTheirWindowsMeaning) {
  ASSERT_EQ(1, link.SetTimeouts(10, 100, 1000, 10, 10));
  std::uint8_t buffer[8];
  // The interval time-out ends a read once bytes have begun to arrive.
  box.Do("reply 55");
  ASSERT_EQ(1, link.SendFrame(boxsim::kHelloRequest.data()));
  std::int64_t took = Timed([&] { EXPECT_EQ(1, link.Read(buffer, 8)); });
  EXPECT_EQ(1u, link.BytesRead());
  EXPECT_LT(took, 1000);  // the total time-out would be 1800 ms
  // A read that gets all its bytes returns at once.
  box.Do("reply 01 02 03 04");
  ASSERT_EQ(1, link.SendFrame(boxsim::kHelloRequest.data()));
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
  settings_sandbox::MapCom1("/nonexistent/quorvel-port");
  CSerialPort port;
  EXPECT_EQ(0, port.Open(1, 0));
}

}  // namespace
