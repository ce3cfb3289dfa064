// The Windows build's own serial calls against a simulated box on a
// pseudo-terminal. Run by wine_pty_driver.sh, which maps COM1 to a working
// box and COM2 to one that never answers.
//
// Wine sets a pseudo-terminal's line settings only once: Linux refuses the
// parity bit there, and when that is the only change (as on every later
// SetCommState) the whole call fails. So each port is connected once, and
// a reopen of COM1 does not hand it line settings again.
#include <gtest/gtest.h>

#include <cstdint>

#include "link/box_frames.h"
#include "link/box_link.h"
#include "tests/support/steady_ms.h"

namespace {

using fakes::MonotonicMs;

// Opens the port and prepares it exactly as the clock engine does.
void Connect(CBoxLink* link, int port) {
  ASSERT_EQ(1, link->Open(port, 0));
  ASSERT_EQ(1, link->ApplyLineSettings());
  ASSERT_EQ(1, link->SetTimeouts(10, 10, 20, 10, 10));
}

// A reopen takes the port back without new line settings.
TEST(WinePort, AWorkingBoxAnswersAfterAReopenAndASilentOneFailsQuickly) {
  CBoxLink link;
  Connect(&link, 1);
  ASSERT_EQ(1, link.FetchState());
  EXPECT_EQ(38400u, link.m_dcb.BaudRate);
  ASSERT_EQ(1, link.FetchTimeouts());
  EXPECT_EQ(20u, link.m_timeouts.ReadTotalTimeoutConstant);
  std::int64_t start = MonotonicMs();
  EXPECT_EQ(1, link.Handshake());
  EXPECT_GE(MonotonicMs() - start, 32 * 30);
  EXPECT_EQ(1, link.Close());
  ASSERT_EQ(1, link.Open(1, 0));
  ASSERT_EQ(1, link.SetTimeouts(10, 10, 20, 10, 10));
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(1, link.QueryTimeCode()) << "query " << i;
    EXPECT_EQ(7, link.m_replyLength);
    EXPECT_EQ(box_frames::kTimeCodeReplyHeader, link.m_reply[0]);
  }
  EXPECT_STREQ("BOX connected and responding.", link.m_statusText);

  // A silent box fails both exchanges quickly.
  Connect(&link, 2);
  start = MonotonicMs();
  EXPECT_EQ(0, link.Handshake());
  EXPECT_LT(MonotonicMs() - start, 900);  // one pass, not 32
  start = MonotonicMs();
  EXPECT_EQ(0, link.QueryTimeCode());
  const std::int64_t took = MonotonicMs() - start;
  EXPECT_GE(took, 40);
  EXPECT_LT(took, 1000);
  EXPECT_STREQ("BOX NOT responding! LED ON? Cables?", link.m_statusText);
}

}  // namespace
