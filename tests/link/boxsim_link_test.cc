// The link against the real box simulator on a pseudo-terminal, steered
// through its command input: the path that the programs take in the field.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "link/box_frames.h"
#include "link/box_link.h"
#include "tests/support/boxsim_process.h"
#include "tests/support/pty_box.h"
#include "tests/support/settings_sandbox.h"

namespace {

using fakes::MonotonicMs;

// The simulator logs each command when it takes effect; the log is read to
// know that it has.
class BoxSimulator {
 public:
  BoxSimulator() {
    char folder[] = "/tmp/quorvel-boxsim-XXXXXX";
    if (mkdtemp(folder) == nullptr) return;
    folder_ = folder;
    log_ = folder_ + "/box.log";
    if (process_.Start({"--log", log_})) device_ = process_.ReadyDevice();
  }
  ~BoxSimulator() {
    process_.Stop(SIGTERM);
    unlink(log_.c_str());
    rmdir(folder_.c_str());
  }

  const std::string& device() const { return device_; }

  // Sends one command and waits until the simulator has logged it.
  bool Command(const std::string& text) {
    if (!process_.Send(text)) return false;
    for (const std::int64_t giveUp = MonotonicMs() + 3000;
         MonotonicMs() < giveUp;
         std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
      std::ifstream file(log_);
      std::stringstream all;
      all << file.rdbuf();
      if (all.str().find("cmd " + text) != std::string::npos) return true;
    }
    return false;
  }

 private:
  BoxsimProcess process_{QUORVEL_BOXSIM};
  std::string folder_;
  std::string log_;
  std::string device_;
};

bool IsPackedBcd(std::uint8_t byte, std::uint8_t tensLimit) {
  return (byte & 0x0F) <= 9 && ((byte >> 4) & 0x07) <= tensLimit;
}

class BoxSimLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(box.device().empty()) << "the box simulator did not start";
    settings_sandbox::MapCom1(box.device());
    ASSERT_EQ(1, link.Open(1, 0));
    ASSERT_EQ(1, link.ApplyLineSettings());
    ASSERT_EQ(1, link.SetTimeouts(10, 10, 20, 10, 10));
  }

  BoxSimulator box;
  CBoxLink link;
};

TEST_F(BoxSimLinkTest, HandshakeAndQueriesSucceed) {
  ASSERT_EQ(1, link.Handshake());
  std::uint32_t previous = 0;
  for (int i = 0; i < 3; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    ASSERT_EQ(1, link.QueryTimeCode());
    ASSERT_EQ(7, link.m_replyLength);
    EXPECT_EQ(box_frames::kTimeCodeReplyHeader, link.m_reply[0]);
    for (int b : {2, 3, 4, 5})  // frames, seconds, minutes, hours
      EXPECT_TRUE(IsPackedBcd(link.m_reply[b], b == 2 || b == 5 ? 2 : 5)) << b;
    const std::uint32_t code = link.m_reply[5] << 24 | link.m_reply[4] << 16 |
                               link.m_reply[3] << 8 | link.m_reply[2];
    // A running code: 60 ms is more than a frame.
    EXPECT_NE(code, previous);
    previous = code;
  }
}

TEST_F(BoxSimLinkTest, EachFaultOfTheBoxIsRefusedAndTheLinkRecovers) {
  const struct {
    const char* fault;
    const char* cure;
  } cases[] = {{"silence on", "silence off"}, {"checksum bad", "checksum good"},
               {"short 5", nullptr},          {"short 2", nullptr},
               {"reply 13 01 02", nullptr},   {"garbage 7", nullptr}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    ASSERT_TRUE(box.Command(c.fault));
    const std::int64_t start = MonotonicMs();
    EXPECT_EQ(0, link.QueryTimeCode());
    EXPECT_LT(MonotonicMs() - start, 1000);
    EXPECT_STREQ("BOX NOT responding! LED ON? Cables?", link.m_statusText);
    if (c.cure != nullptr) {
      ASSERT_TRUE(box.Command(c.cure));
    }
    // Bytes of a refused answer may still be on their way; the next
    // exchange throws away only what has arrived when it starts.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(1, link.QueryTimeCode());
  }
}

TEST_F(BoxSimLinkTest, AHungUpBoxFailsWithoutBlocking) {
  ASSERT_EQ(1, link.QueryTimeCode());
  ASSERT_TRUE(box.Command("hangup"));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const std::int64_t start = MonotonicMs();
  EXPECT_EQ(0, link.QueryTimeCode());
  EXPECT_EQ(0, link.Handshake());
  EXPECT_LT(MonotonicMs() - start, 1500);
}

}  // namespace
