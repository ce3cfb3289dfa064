// The built simulator, driven once as its users drive it: through its link,
// its standard input, its script file, its log and its exit status. Every
// program test elsewhere plays against it too, so this one run covers what
// only the program itself does.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/boxsim_process.h"
#include "tools/boxsim/request_frames.h"

namespace {

using boxsim::Bytes;
using Clock = std::chrono::steady_clock;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Waits up to 5 s for `line` in the log: the simulator takes commands
// between requests, so a request sent before the line shows may beat it.
::testing::AssertionResult LogShows(const std::string& path,
                                    const std::string& line) {
  const auto giveUp = Clock::now() + std::chrono::seconds(5);
  while (ReadFile(path).find(line) == std::string::npos) {
    if (Clock::now() > giveUp)
      return ::testing::AssertionFailure() << "no '" << line << "' in\n"
                                           << ReadFile(path);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return ::testing::AssertionSuccess();
}

struct Reply {
  Bytes bytes;
  std::int64_t elapsedMs;
};

// Writes a request and reads until `expected` bytes came or the line stayed
// quiet for `quietMs`.
Reply Exchange(int fd, const Bytes& request, std::size_t expected,
               int quietMs = 300) {
  Reply reply;
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(write(fd, request.data(), request.size()),
            static_cast<ssize_t>(request.size()));
  while (reply.bytes.size() < expected) {
    pollfd ready = {fd, POLLIN, 0};
    if (poll(&ready, 1, quietMs) <= 0) break;
    std::uint8_t buffer[64];
    const ssize_t count = read(fd, buffer, sizeof buffer);
    if (count <= 0) break;
    reply.bytes.insert(reply.bytes.end(), buffer, buffer + count);
  }
  reply.elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                        Clock::now() - start)
                        .count();
  return reply;
}

TEST(BoxsimProgram, PlaysTheBoxOnItsLinkUntilAHangUp) {
  char pattern[] = "/tmp/boxsim-test-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string folder = pattern, log = folder + "/boxsim.log";
  struct RemoveFolder {
    std::string path;
    ~RemoveFolder() { std::filesystem::remove_all(path); }
  } removeFolder{folder};

  // A link left by an earlier run that did not end cleanly is replaced.
  const std::string link = folder + "/com1";
  ASSERT_EQ(symlink("/dev/null", link.c_str()), 0);
  std::ofstream(folder + "/faults.txt") << "# for a test\n\n0 reply 12 34\n";
  BoxsimProcess box(BOXSIM_PATH);
  ASSERT_TRUE(
      box.Start({"--utc", "--offset", "-3600000", "--mode=ntsc-df", "--link",
                 link, "--script", folder + "/faults.txt", "--log", log}));
  const std::string device = box.ReadyDevice();
  ASSERT_EQ(device.rfind("/dev/pts/", 0), 0u) << device;
  char target[PATH_MAX] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(device, target);

  const int fd = open(link.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  termios settings;
  tcgetattr(fd, &settings);
  cfmakeraw(&settings);
  tcsetattr(fd, TCSANOW, &settings);

  ASSERT_TRUE(LogShows(log, "cmd reply 12 34 (next answer) [schedule]"));
  EXPECT_EQ(Exchange(fd, boxsim::kHelloRequest, 2).bytes, (Bytes{0x12, 0x34}));
  EXPECT_EQ(Exchange(fd, boxsim::kHelloRequest, 3).bytes, boxsim::kHelloReply);
  const Reply reply = Exchange(fd, boxsim::kQueryRequest, 7);
  ASSERT_EQ(reply.bytes.size(), 7u);
  EXPECT_EQ(reply.bytes[0], box_frames::kTimeCodeReplyHeader);
  EXPECT_TRUE(boxsim::HasValidChecksum(reply.bytes));
  EXPECT_EQ(reply.bytes[2] & 0x40, 0x40) << "no drop-frame flag";
  // Seven bytes at 38400 baud 8O1 take 2 ms on the wire.
  EXPECT_GE(reply.elapsedMs, 2);
  EXPECT_LT(reply.elapsedMs, 1000);

  ASSERT_TRUE(box.Send("silence on"));
  ASSERT_TRUE(box.Send("no such thing"));
  ASSERT_TRUE(LogShows(log, "cmd silence on [stdin]"));
  EXPECT_TRUE(Exchange(fd, boxsim::kQueryRequest, 7, 150).bytes.empty());
  ASSERT_TRUE(LogShows(
      log, "cmd error: \"no such thing\": unknown command: no [stdin]"));
  EXPECT_TRUE(LogShows(log, " rx 20 01 21 tx 10 01 11 (hello)"));
  EXPECT_TRUE(LogShows(log, " rx 61 0C 03 70 tx - (silence)"));

  // A hang-up closes the line under the PC's end, ends the simulator and
  // takes its link away.
  box.Send("hangup");
  EXPECT_EQ(box.WaitExit(5000), 0);
  pollfd ready = {fd, POLLIN, 0};
  ASSERT_EQ(poll(&ready, 1, 1000), 1);
  EXPECT_NE(ready.revents & (POLLHUP | POLLERR), 0);
  close(fd);
  struct stat info;
  EXPECT_NE(lstat(link.c_str(), &info), 0) << "link left behind";

  // Each run's status once its standard input ends (-1: it goes on until a
  // signal); a file in the link's place is never touched.
  const std::string file = folder + "/notes", script = folder + "/bad.txt";
  std::ofstream(file) << "keep me";
  std::ofstream(script) << "1 bogus\n";
  const struct {
    std::vector<std::string> args;
    int status;
  } runs[] = {
      {{"--help"}, 0},           {{"--stdin-quit"}, 0}, {{"--link", file}, 1},
      {{"--script", script}, 2}, {{"--link"}, 2},       {{"--quiet"}, -1},
  };
  for (const auto& run : runs) {
    SCOPED_TRACE(run.args[0]);
    BoxsimProcess process(BOXSIM_PATH);
    ASSERT_TRUE(process.Start(run.args));
    process.CloseStdin();
    EXPECT_EQ(process.WaitExit(run.status < 0 ? 300 : 5000), run.status);
    if (run.status < 0) {
      EXPECT_EQ(process.Stop(SIGINT), 0);
    }
  }
  EXPECT_EQ(ReadFile(file), "keep me");
}

}  // namespace
