// What the Linux service hands to systemd and chrony: the notification
// sender against a socket of the test's own, bound at a path and under an
// abstract name as systemd may hand either; and the administrator's override
// of chrony's socket path, the first line of <settings root>/refclock-socket.
#include "platform/posix/notify_socket.h"

#include <gtest/gtest.h>
#include <stddef.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>

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

std::ptrdiff_t OpenDescriptors() {
  const std::filesystem::directory_iterator fds("/proc/self/fd");
  return std::distance(begin(fds), end(fds));
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
    const auto before = OpenDescriptors();
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
  const std::pair<const char*, int> cases[] = {
      // name (nullptr: unset), errno
      {nullptr, ENOTCONN},
      {"", ENOTCONN},
      {"run/notify", EAFNOSUPPORT},
      {"/tmp/quorvel-no-such-notify-socket", ENOENT},
      {tooLong.c_str(), ENAMETOOLONG},
  };
  for (const auto& [name, error] : cases) {
    SCOPED_TRACE(name == nullptr ? "unset" : name);
    name == nullptr ? unsetenv("NOTIFY_SOCKET")
                    : setenv("NOTIFY_SOCKET", name, 1);
    errno = 0;
    EXPECT_EQ(platform::SendServiceNotification("READY=1\n"), 0);
    EXPECT_EQ(errno, error);
  }
  unsetenv("NOTIFY_SOCKET");
}

TEST(RefclockSocketPath, FirstLineOfTheOverrideElseTheDefault) {
  char folder[] = "/tmp/quorvel-refclock-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  setenv("CONFIGURATION_DIRECTORY", folder, 1);
  const std::string file = std::string(folder) + "/refclock-socket";
  const char* const kDefault = "/run/chrony.quorvel.sock";
  const std::pair<const char*, const char*> cases[] = {
      // file (or none), path
      {nullptr, kDefault},
      {"", kDefault},
      {"\nsecond line", kDefault},
      {"/run/house.sock", "/run/house.sock"},
      {"/run/house.sock\n/run/other.sock\n", "/run/house.sock"},
  };
  for (const auto& [content, path] : cases) {
    SCOPED_TRACE(content == nullptr ? "no file" : content);
    unlink(file.c_str());
    if (content != nullptr) std::ofstream(file) << content;
    EXPECT_EQ(config::RefclockSocketPath(), path);
  }
  std::filesystem::remove_all(folder);
  unsetenv("CONFIGURATION_DIRECTORY");
}

}  // namespace
