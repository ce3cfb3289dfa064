// The link over a real pseudo-terminal: the termios backend, its time-outs
// and exclusive open, and the exchanges as a box on the other end sees them.
// The box is the simulator program, as the program tests play it; its
// standard input takes commands and its log shows what it heard.
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "link/box_link.h"
#include "tests/support/settings_sandbox.h"
#include "tests/support/steady_ms.h"
#include "tools/boxsim/boxsim_core.h"

namespace {

using fakes::MonotonicMs;
using fakes::WaitFor;

class PtyLinkTest : public ::testing::Test {
 protected:
  // A reply starts 15 ms after its request, past the interval time-out: only
  // the total one, long enough for a loaded machine, may run before a read's
  // first byte. A link left by a run that did not end cleanly is replaced; the
  // script's comment and blank line are skipped and its lines run in order.
  void SetUp() override {
    char pattern[] = "/tmp/quorvel-pty-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
    ASSERT_EQ(0, symlink("/dev/null", (folder_ + "/com1").c_str()));
    std::ofstream(folder_ + "/script")
        << "# for a test\n\n0 mode ntsc\n0 mode ntsc-df\n";
    box_ = popen(("exec " BOXSIM_PATH
                  " --stdin-quit --turnaround 15 --utc --offset -3600000 "
                  "--mode=pal --script " +
                  folder_ + "/script --link " + folder_ + "/com1 --log " +
                  folder_ + "/log >" + folder_ + "/out")
                     .c_str(),
                 "w");
    ASSERT_NE(box_, nullptr);
    ASSERT_TRUE(WaitFor(
        [&] { return Count("out", "boxsim: ready on /dev/pts/") > 0; }));
    settings_sandbox::MapCom1(folder_ + "/com1");
    ASSERT_EQ(1, link.Open(1, 0));
    ASSERT_EQ(1, link.SetTimeouts(10, 100, 1000, 10, 10));
  }
  void TearDown() override {
    link.Close();
    if (box_) pclose(box_);
    std::filesystem::remove_all(folder_);
  }

  // How often `text` occurs in one of the simulator's files.
  int Count(const char* file, const std::string& text) {
    std::stringstream all;
    all << std::ifstream(folder_ + "/" + file).rdbuf();
    int n = 0;
    for (std::size_t at = 0;
         (at = all.str().find(text, at)) != std::string::npos; ++at)
      ++n;
    return n;
  }

  // A command of the simulator's language, once the simulator has taken it.
  void Do(const std::string& command) {
    const int before = Count("log", "[stdin]");
    fputs((command + "\n").c_str(), box_);
    fflush(box_);
    ASSERT_TRUE(WaitFor([&] { return Count("log", "[stdin]") > before; }));
  }

  // Milliseconds that `call` took.
  template <typename Call>
  static std::int64_t Timed(Call call) {
    const std::int64_t start = MonotonicMs();
    call();
    return MonotonicMs() - start;
  }

  std::string folder_;
  FILE* box_ = nullptr;
  CBoxLink link;
};

// One simulator run, its steps in an order where each leaves the line as the
// next expects.
TEST_F(PtyLinkTest, ExchangesAndTimeOutsKeepTheirWindowsMeaning) {
  ASSERT_EQ(1, link.ApplyLineSettings());
  ASSERT_EQ(1, link.FetchState());
  EXPECT_EQ(38400u, link.m_dcb.BaudRate);
  ASSERT_EQ(1, link.FetchTimeouts());
  EXPECT_EQ(1000u, link.m_timeouts.ReadTotalTimeoutConstant);

  // A USB adapter hands a reply over in pieces; a pause inside one that is
  // shorter than the interval time-out must not cut it, with or without a
  // message size to wait for (the hello's reply has none).
  Do("gap 4");
  const std::int64_t took = Timed([&] { EXPECT_EQ(1, link.Handshake()); });
  EXPECT_GE(took, 32 * 30);
  EXPECT_LT(took, 8000);
  EXPECT_EQ(1, link.QueryTimeCode());
  EXPECT_EQ(7, link.m_replyLength);
  EXPECT_EQ(0x40, link.m_reply[2] & 0x40) << "no drop-frame flag";
  Do("gap 0");

  // The interval time-out ends a read once bytes have begun to arrive; a
  // read that gets all its bytes returns at once.
  std::uint8_t buffer[8];
  const struct {
    const char* reply;
    std::uint32_t asked, got;
  } reads[] = {{"reply 55", 8, 1}, {"reply 01 02 03 04", 4, 4}};
  for (const auto& r : reads) {
    Do(r.reply);
    ASSERT_EQ(1, link.SendFrame(boxsim::kHelloRequest.data()));
    EXPECT_LT(Timed([&] { EXPECT_EQ(1, link.Read(buffer, r.asked)); }), 1000);
    EXPECT_EQ(r.got, link.BytesRead());  // the total time-out is 1800 ms
  }

  // A tail that stops short ends the read once the line is quiet; bytes
  // left over from an earlier exchange are thrown away rather than taken
  // for a reply.
  Do("short 5");
  EXPECT_LT(Timed([&] { EXPECT_EQ(0, link.QueryTimeCode()); }), 800);
  Do("reply 74 0C 15");
  ASSERT_EQ(1, link.SendFrame(boxsim::kHelloRequest.data()));
  platform::COMSTAT waiting{};
  ASSERT_TRUE(WaitFor(
      [&] { return link.ClearErrors(&waiting) == 1 && waiting.cbInQue == 3; }));
  EXPECT_EQ(1, link.QueryTimeCode());
  EXPECT_EQ(7, link.m_replyLength);

  // Each wait ends a little past its deadline, by a varying amount: a few
  // rounds see one that a read must not take for "no deadline".
  Do("silence on");
  ASSERT_EQ(1, link.SetTimeouts(10, 10, 20, 10, 10));
  for (int round = 0; round < 5; ++round) {
    const std::int64_t silent =
        Timed([&] { EXPECT_EQ(0, link.QueryTimeCode()); });
    EXPECT_GE(silent, 45);
    EXPECT_LT(silent, 500);
  }
  EXPECT_EQ(5, Count("log", "rx 61 0C 03 70 tx - (silence)"));
  Do("silence off");
  Do("no such thing");
  EXPECT_EQ(1, Count("log", "error: \"no such thing\": unknown command: no"));

  // The device is the first opener's until it closes. A pseudo-terminal
  // drops the parity bit; asking for it again after a reopen must not turn
  // every reconnect into a failed connect.
  CBoxLink second;
  EXPECT_EQ(0, second.Open(1, 0));
  ASSERT_EQ(1, link.Close());
  ASSERT_EQ(1, second.Open(1, 0));
  EXPECT_EQ(0, link.Open(1, 0));
  EXPECT_EQ(1, second.ApplyLineSettings());
  ASSERT_EQ(1, second.SetTimeouts(10, 100, 1000, 10, 10));
  EXPECT_EQ(1, second.QueryTimeCode());

  // A hang-up ends the simulator, which takes its link away, and leaves the
  // link's device lost.
  Do("hangup");
  EXPECT_EQ(0, pclose(box_));
  box_ = nullptr;
  struct stat info;
  EXPECT_NE(0, lstat((folder_ + "/com1").c_str(), &info)) << "link left";
  EXPECT_EQ(0, second.QueryTimeCode());
  EXPECT_EQ(1, second.m_deviceLost);

  // A mapped port that points nowhere does not fall back to another device.
  second.Close();
  settings_sandbox::MapCom1("/nonexistent/quorvel-port");
  EXPECT_EQ(0, second.Open(1, 0));
}

}  // namespace
