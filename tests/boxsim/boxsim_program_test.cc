// The built simulator, driven once as its users drive it: through its link,
// its standard input, its script file, its log and its exit status. Every
// program test elsewhere plays against it too, so this one run covers what
// only the program itself does.
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/steady_ms.h"
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
  if (fakes::WaitFor(
          [&] { return ReadFile(path).find(line) != std::string::npos; }))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "no '" << line << "' in\n"
                                       << ReadFile(path);
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

// The exit status of a shell command line, or -1 when it did not end.
int StatusOf(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
  // Its standard input a pipe, whose end (should the test stop early) ends
  // it.
  FILE* box =
      popen(("exec " BOXSIM_PATH " --stdin-quit --utc --offset -3600000 "
             "--mode=ntsc-df --link " +
             link + " --script " + folder + "/faults.txt --log " + log + " >" +
             folder + "/out")
                .c_str(),
            "w");
  ASSERT_NE(box, nullptr);
  const std::string announce = "boxsim: ready on ";
  ASSERT_TRUE(LogShows(folder + "/out", announce + "/dev/pts/"));
  std::string device = ReadFile(folder + "/out").substr(announce.size());
  device.erase(device.find('\n'));
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

  fputs("silence on\nno such thing\n", box);
  fflush(box);
  ASSERT_TRUE(LogShows(log, "cmd silence on [stdin]"));
  EXPECT_TRUE(Exchange(fd, boxsim::kQueryRequest, 7, 150).bytes.empty());
  ASSERT_TRUE(LogShows(
      log, "cmd error: \"no such thing\": unknown command: no [stdin]"));
  EXPECT_TRUE(LogShows(log, " rx 20 01 21 tx 10 01 11 (hello)"));
  EXPECT_TRUE(LogShows(log, " rx 61 0C 03 70 tx - (silence)"));

  // A hang-up closes the line under the PC's end, ends the simulator and
  // takes its link away.
  fputs("hangup\n", box);
  fflush(box);
  pollfd ready = {fd, POLLIN, 0};
  ASSERT_EQ(poll(&ready, 1, 5000), 1);
  EXPECT_NE(ready.revents & (POLLHUP | POLLERR), 0);
  const int status = pclose(box);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  close(fd);
  struct stat info;
  EXPECT_NE(lstat(link.c_str(), &info), 0) << "link left behind";

  // Each run's status once its standard input ends; a file in the link's
  // place is never touched. Without --stdin-quit it goes on until a signal,
  // which ends it cleanly.
  const std::string file = folder + "/notes", script = folder + "/bad.txt";
  std::ofstream(file) << "keep me";
  std::ofstream(script) << "1 bogus\n";
  const struct {
    std::string args;
    int status;
  } runs[] = {
      {"--help", 0},         {"--stdin-quit", 0},
      {"--link " + file, 1}, {"--script " + script, 2},
      {"--link", 2},
  };
  for (const auto& run : runs) {
    EXPECT_EQ(
        StatusOf(BOXSIM_PATH " " + run.args + " </dev/null >/dev/null 2>&1"),
        run.status)
        << run.args;
  }
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(StatusOf("timeout -k 5 --preserve-status -s INT 0.3 " BOXSIM_PATH
                     " --quiet </dev/null"),
            0);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(300));
  EXPECT_EQ(ReadFile(file), "keep me");
}

}  // namespace
