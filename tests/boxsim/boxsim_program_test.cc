// The built simulator, driven as its users drive it: through the pseudo-
// terminal it prints, its standard input, its link, its log and signals.
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "link/box_frames.h"
#include "tests/support/boxsim_process.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

std::int64_t MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() -
                                                               start)
             .count() /
         1000;
}

int OpenRaw(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
  if (fd < 0) return fd;
  termios settings;
  tcgetattr(fd, &settings);
  cfmakeraw(&settings);
  tcsetattr(fd, TCSANOW, &settings);
  return fd;
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
  reply.elapsedMs = MillisecondsSince(start);
  return reply;
}

template <std::size_t N>
Bytes AsBytes(const std::uint8_t (&frame)[N]) {
  return Bytes(frame, frame + N);
}

const Bytes kHello = AsBytes(box_frames::kHelloRequest);
const Bytes kQuery = AsBytes(box_frames::kTimeCodeRequest);
const Bytes kHelloReply = AsBytes(box_frames::kHelloReply);

int Bcd(std::uint8_t byte) { return (byte >> 4) * 10 + (byte & 0x0F); }

// Seconds of the day that a time code reply stands for.
int ReplySecondOfDay(const Bytes& reply) {
  return (Bcd(reply[5] & 0x3F) * 60 + Bcd(reply[4] & 0x7F)) * 60 +
         Bcd(reply[3] & 0x7F);
}

int UtcSecondOfDay() {
  const time_t now = time(nullptr);
  tm fields;
  gmtime_r(&now, &fields);
  return (fields.tm_hour * 60 + fields.tm_min) * 60 + fields.tm_sec;
}

int SecondsApartOnTheDial(int a, int b) {
  const int difference = ((a - b) % 86400 + 86400) % 86400;
  return std::min(difference, 86400 - difference);
}

void ExpectValidTimeCodeReply(const Bytes& reply) {
  ASSERT_EQ(reply.size(), 7u);
  EXPECT_EQ(reply[0], box_frames::kTimeCodeReplyHeader);
  EXPECT_TRUE(box_frames::HasValidChecksum(reply.data(), reply.size()));
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class BoxsimProgram : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/boxsim-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
    logPath_ = folder_ + "/boxsim.log";
  }
  void TearDown() override {
    const std::string command = "rm -rf '" + folder_ + "'";
    EXPECT_EQ(system(command.c_str()), 0);
  }

  // Starts the simulator logging into the test's folder; returns its line.
  std::string StartBox(std::vector<std::string> args) {
    args.push_back("--log");
    args.push_back(logPath_);
    EXPECT_TRUE(box_.Start(args));
    const std::string device = box_.ReadyDevice();
    EXPECT_FALSE(device.empty()) << "no ready line";
    return device;
  }

  std::string Log() { return ReadFile(logPath_); }

  BoxsimProcess box_{BOXSIM_PATH};
  std::string folder_;
  std::string logPath_;
};

TEST_F(BoxsimProgram, AnswersHelloAndQueryWithPacedReplies) {
  const std::string device = StartBox({"--utc"});
  ASSERT_EQ(device.rfind("/dev/pts/", 0), 0u) << device;
  // Open to the serial ports' group, as a service in that group needs it.
  struct stat info;
  ASSERT_EQ(stat(device.c_str(), &info), 0);
  if (const group* dialout = getgrnam("dialout")) {
    EXPECT_EQ(info.st_gid, dialout->gr_gid);
    EXPECT_EQ(info.st_mode & 0777, 0660u);
  }
  const int fd = OpenRaw(device);
  ASSERT_GE(fd, 0);

  EXPECT_EQ(Exchange(fd, kHello, 3).bytes, kHelloReply);
  const Reply reply = Exchange(fd, kQuery, 7);
  ExpectValidTimeCodeReply(reply.bytes);
  // Seven bytes at 38400 baud 8O1 take 2 ms on the wire.
  EXPECT_GE(reply.elapsedMs, 2);
  EXPECT_LT(reply.elapsedMs, 1000);
  EXPECT_LE(
      SecondsApartOnTheDial(ReplySecondOfDay(reply.bytes), UtcSecondOfDay()),
      2);
  EXPECT_LT(Bcd(reply.bytes[2]), 25);
  close(fd);

  EXPECT_EQ(box_.Stop(SIGTERM), 0);
  const std::string log = Log();
  EXPECT_NE(log.find(" rx 20 01 21 tx 10 01 11 (hello)"), std::string::npos)
      << log;
  EXPECT_NE(log.find(" rx 61 0C 03 70 tx 74 "), std::string::npos) << log;
}

TEST_F(BoxsimProgram, OffsetAndDropFrameModeFromTheCommandLine) {
  const int fd =
      OpenRaw(StartBox({"--utc", "--offset", "-3600000", "--mode=ntsc-df"}));
  ASSERT_GE(fd, 0);
  const Reply reply = Exchange(fd, kQuery, 7);
  ExpectValidTimeCodeReply(reply.bytes);
  EXPECT_EQ(reply.bytes[2] & 0x40, 0x40);
  EXPECT_LT(Bcd(reply.bytes[2] & 0x3F), 30);
  EXPECT_LE(SecondsApartOnTheDial(ReplySecondOfDay(reply.bytes) + 3600,
                                  UtcSecondOfDay()),
            2);
  close(fd);
}

TEST_F(BoxsimProgram, LinkLivesAsLongAsTheSimulator) {
  const std::string link = folder_ + "/dosdevices/deeper/com1";
  ASSERT_EQ(mkdir((folder_ + "/dosdevices").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((folder_ + "/dosdevices/deeper").c_str(), 0755), 0);
  ASSERT_EQ(symlink("/dev/null", link.c_str()), 0);  // a stale link

  const std::string device = StartBox({"--link", link});
  char target[PATH_MAX] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(device, target);

  // Programs open and close the port again and again.
  for (int round = 0; round < 5; ++round) {
    const int fd = OpenRaw(link);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Exchange(fd, kHello, 3).bytes, kHelloReply) << round;
    close(fd);
  }

  EXPECT_EQ(box_.Stop(SIGINT), 0);
  struct stat info;
  EXPECT_NE(lstat(link.c_str(), &info), 0) << "link left behind";
}

TEST_F(BoxsimProgram, CreatesMissingFoldersForTheLink) {
  const std::string link = folder_ + "/a/b/com2";
  StartBox({"--link", link});
  struct stat info;
  ASSERT_EQ(lstat(link.c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  EXPECT_EQ(box_.Stop(SIGTERM), 0);
}

TEST_F(BoxsimProgram, CommandsOnStandardInputTakeEffectAndAreLogged) {
  const int fd = OpenRaw(StartBox({}));
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(box_.Send("silence on"));
  usleep(100000);
  EXPECT_TRUE(Exchange(fd, kQuery, 7, 150).bytes.empty());
  box_.Send("silence off");
  box_.Send("reply 12 34");
  usleep(100000);
  EXPECT_EQ(Exchange(fd, kHello, 2).bytes, (Bytes{0x12, 0x34}));
  box_.Send("short 2");
  box_.Send("no such thing");
  usleep(100000);
  EXPECT_EQ(Exchange(fd, kQuery, 7, 150).bytes.size(), 2u);
  ExpectValidTimeCodeReply(Exchange(fd, kQuery, 7).bytes);

  // A hang-up closes the line under the PC's end and ends the simulator.
  box_.Send("hangup");
  EXPECT_EQ(box_.WaitExit(5000), 0);
  pollfd ready = {fd, POLLIN, 0};
  ASSERT_EQ(poll(&ready, 1, 1000), 1);
  EXPECT_NE(ready.revents & (POLLHUP | POLLERR), 0);
  close(fd);
  const std::string log = Log();
  for (const char* expected :
       {"cmd silence on [stdin]", "rx 61 0C 03 70 tx - (silence)",
        "rx 20 01 21 tx 12 34 (reply)", "short 2 of 7",
        "cmd error: \"no such thing\": unknown command: no [stdin]"})
    EXPECT_NE(log.find(expected), std::string::npos) << expected << "\n" << log;
}

TEST_F(BoxsimProgram, ScriptFileFeedsTheSchedule) {
  const std::string script = folder_ + "/faults.txt";
  std::ofstream(script) << "# faults for a test\n0 checksum bad\n\n";
  const int fd = OpenRaw(StartBox({"--script", script}));
  ASSERT_GE(fd, 0);
  usleep(100000);
  Bytes badHello = kHelloReply;
  ++badHello.back();
  EXPECT_EQ(Exchange(fd, kHello, 3).bytes, badHello);
  close(fd);
}

TEST_F(BoxsimProgram, ServesAGivenDeviceAndLogsOnlyCommandsWhenQuiet) {
  // The test's own pseudo-terminal stands in for a serial device; its master
  // is the PC's end.
  const int pc = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(pc, 0);
  ASSERT_EQ(grantpt(pc), 0);
  ASSERT_EQ(unlockpt(pc), 0);
  const std::string device = ptsname(pc);
  EXPECT_EQ(StartBox({"--device", device, "--quiet"}), device);
  EXPECT_EQ(Exchange(pc, kHello, 3).bytes, kHelloReply);
  box_.Send("hangup");
  EXPECT_EQ(box_.WaitExit(5000), 0);
  close(pc);

  const std::string log = Log();
  EXPECT_NE(log.find("cmd hangup [stdin]"), std::string::npos) << log;
  EXPECT_EQ(log.find(" rx "), std::string::npos) << log;
}

// Runs that end on their own, with their exit status after the end of
// standard input; -1 is a run that goes on.
TEST_F(BoxsimProgram, EndsWithTheStatusOfEachRun) {
  const std::string file = folder_ + "/notes", script = folder_ + "/bad.txt";
  std::ofstream(file) << "keep me";
  std::ofstream(script) << "1 bogus\n";
  const struct {
    std::vector<std::string> args;
    int status;
  } cases[] = {
      {{"--help"}, 0},
      {{"--stdin-quit"}, 0},
      {{"--quiet"}, -1},  // end of input alone does not end it
      {{"--link", file}, 1},
      {{"--script", script}, 2},
      {{"--mode", "secam"}, 2},
      {{"--offset", "soon"}, 2},
      {{"--schedule", "5:explode"}, 2},
      {{"--frobnicate", "1"}, 2},
      {{"--link"}, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0]);
    BoxsimProcess run(BOXSIM_PATH);
    ASSERT_TRUE(run.Start(c.args));
    if (c.status <= 0) {
      EXPECT_NE(run.FirstLine().find("boxsim"), std::string::npos);
    }
    run.CloseStdin();
    EXPECT_EQ(run.WaitExit(c.status < 0 ? 300 : 5000), c.status);
    if (c.status < 0) {
      EXPECT_EQ(run.Stop(SIGINT), 0);
    }
  }
  EXPECT_EQ(ReadFile(file), "keep me");
}

}  // namespace
