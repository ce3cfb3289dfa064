// What the Linux service hands to systemd and chrony: the notification
// sender against a socket of the test's own, bound at a path and under an
// abstract name as systemd may hand either; and the administrator's override
// of chrony's socket path, the first line of <settings root>/refclock-socket.
#include "platform/posix/notify_socket.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <stddef.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>

#include "config/linux_config.h"

namespace {

// A datagram socket bound at `name` as it would appear in $NOTIFY_SOCKET, or
// -1.
int BoundSocket(const std::string& name) {
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  name.copy(address.sun_path, name.size());
  if (name[0] == '@') address.sun_path[0] = '\0';
  const socklen_t length =
      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0) return fd;
  close(fd);
  return -1;
}

int OpenDescriptors() {
  int count = 0;
  DIR* fds = opendir("/proc/self/fd");
  if (fds == nullptr) return -1;
  while (readdir(fds) != nullptr) ++count;
  closedir(fds);
  return count;
}

// The live line goes out every second for as long as the service runs: the
// messages share one socket, so none is left open per message.
TEST(NotifySocket, DeliversDatagramsToPathAndAbstractNamesOverOneSocket) {
  const std::string pid = std::to_string(getpid());
  for (const std::string& name :
       {"/tmp/quorvel-notify-" + pid, "@quorvel-notify-" + pid}) {
    SCOPED_TRACE(name);
    const int fd = BoundSocket(name);
    ASSERT_GE(fd, 0);
    setenv("NOTIFY_SOCKET", name.c_str(), 1);
    const int before = OpenDescriptors();
    for (const char* message : {"READY=1\nSTATUS=Running\n", "STATUS=again"}) {
      EXPECT_EQ(platform::SendServiceNotification(message), 1);
      char got[512];
      const ssize_t size = recv(fd, got, sizeof got, MSG_DONTWAIT);
      EXPECT_EQ(std::string(got, size > 0 ? size : 0), message);
    }
    EXPECT_LE(OpenDescriptors(), before + 1);
    close(fd);
    if (name[0] == '/') unlink(name.c_str());
  }
  unsetenv("NOTIFY_SOCKET");
}

TEST(NotifySocket, RefusesWhatCannotBeASocketName) {
  const std::string tooLong = "/tmp/" + std::string(120, 'x');
  const struct {
    const char* name;  // nullptr: unset
    int error;
  } cases[] = {
      {nullptr, ENOTCONN},
      {"", ENOTCONN},
      {"run/notify", EAFNOSUPPORT},
      {"/tmp/quorvel-no-such-notify-socket", ENOENT},
      {tooLong.c_str(), ENAMETOOLONG},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name == nullptr ? "unset" : c.name);
    if (c.name == nullptr) {
      unsetenv("NOTIFY_SOCKET");
    } else {
      setenv("NOTIFY_SOCKET", c.name, 1);
    }
    errno = 0;
    EXPECT_EQ(platform::SendServiceNotification("READY=1\n"), 0);
    EXPECT_EQ(errno, c.error);
  }
  unsetenv("NOTIFY_SOCKET");
}

TEST(RefclockSocketPath, FirstLineOfTheOverrideElseTheDefault) {
  char folder[] = "/tmp/quorvel-refclock-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  setenv("CONFIGURATION_DIRECTORY", folder, 1);
  const std::string file = std::string(folder) + "/refclock-socket";
  const struct {
    const char* content;  // nullptr: no file
    std::string path;
  } cases[] = {
      {nullptr, std::string("/run/chrony.quorvel.sock")},
      {"", std::string("/run/chrony.quorvel.sock")},
      {"\nsecond line", std::string("/run/chrony.quorvel.sock")},
      {"/run/house.sock", "/run/house.sock"},
      {"/run/house.sock\n/run/other.sock\n", "/run/house.sock"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content == nullptr ? "no file" : c.content);
    unlink(file.c_str());
    if (c.content != nullptr) std::ofstream(file) << c.content;
    EXPECT_EQ(config::RefclockSocketPath(), c.path);
  }
  unlink(file.c_str());
  rmdir(folder);
  unsetenv("CONFIGURATION_DIRECTORY");
}

}  // namespace
