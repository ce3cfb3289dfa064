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
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
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
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

// Whether `line` shows in the file within 5 s: the simulator takes commands
// between requests, so a request sent before the line shows may beat it.
bool LogShows(const std::string& path, const std::string& line) {
  return fakes::WaitFor(
      [&] { return ReadFile(path).find(line) != std::string::npos; });
}

// Writes a request and reads until `expected` bytes came or the line stayed
// quiet for `quietMs`.
Bytes Exchange(int fd, const Bytes& request, std::size_t expected,
               int quietMs = 300) {
  Bytes reply;
  EXPECT_EQ(write(fd, request.data(), request.size()),
            static_cast<ssize_t>(request.size()));
  while (reply.size() < expected) {
    pollfd ready = {fd, POLLIN, 0};
    if (poll(&ready, 1, quietMs) <= 0) break;
    std::uint8_t buffer[64];
    const ssize_t count = read(fd, buffer, sizeof buffer);
    if (count <= 0) break;
    reply.insert(reply.end(), buffer, buffer + count);
  }
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

  // A link left by an earlier run that did not end cleanly is replaced. The
  // simulator leaves the line raw, as a box's line is.
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
  ASSERT_TRUE(LogShows(folder + "/out", "boxsim: ready on /dev/pts/"));
  const int fd = open(link.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);

  ASSERT_TRUE(LogShows(log, "cmd reply 12 34 (next answer) [schedule]"));
  EXPECT_EQ(Exchange(fd, boxsim::kHelloRequest, 2), (Bytes{0x12, 0x34}));
  EXPECT_EQ(Exchange(fd, boxsim::kHelloRequest, 3), boxsim::kHelloReply);
  // Seven bytes at 38400 baud 8O1 take 2 ms on the wire.
  const Clock::time_point asked = Clock::now();
  const Bytes reply = Exchange(fd, boxsim::kQueryRequest, 7);
  EXPECT_GE(Clock::now() - asked, std::chrono::milliseconds(2));
  ASSERT_EQ(reply.size(), 7u);
  EXPECT_EQ(reply[0], box_frames::kTimeCodeReplyHeader);
  EXPECT_TRUE(boxsim::HasValidChecksum(reply));
  EXPECT_EQ(reply[2] & 0x40, 0x40) << "no drop-frame flag";

  fputs("silence on\nno such thing\n", box);
  fflush(box);
  ASSERT_TRUE(LogShows(log, "cmd silence on [stdin]"));
  EXPECT_TRUE(Exchange(fd, boxsim::kQueryRequest, 7, 150).empty());
  EXPECT_TRUE(LogShows(
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
