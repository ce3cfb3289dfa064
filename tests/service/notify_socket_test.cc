// The notification sender against a socket of the test's own, bound at a
// path and under an abstract name as systemd may hand either.
#include "platform/posix/notify_socket.h"

#include <gtest/gtest.h>
#include <stddef.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace {

// A bound datagram socket; `name` as it would appear in $NOTIFY_SOCKET.
class TestSocket {
 public:
  explicit TestSocket(const std::string& name) : name_(name) {
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    name.copy(address.sun_path, name.size());
    if (name[0] == '@') address.sun_path[0] = '\0';
    if (name[0] == '/') unlink(name.c_str());
    const socklen_t length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
    bound_ = bind(fd_, reinterpret_cast<sockaddr*>(&address), length) == 0;
  }
  ~TestSocket() {
    close(fd_);
    if (name_[0] == '/') unlink(name_.c_str());
  }
  bool bound() const { return bound_; }
  std::string Receive() {
    char buffer[512];
    const ssize_t got = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
    return got < 0 ? "<nothing>" : std::string(buffer, got);
  }

 private:
  std::string name_;
  int fd_;
  bool bound_;
};

std::string Unique(const char* prefix) {
  return prefix + std::to_string(getpid());
}

TEST(NotifySocket, DeliversOneDatagramToPathAndAbstractNames) {
  const char* message = "READY=1\nSTATUS=Running\n";
  for (const std::string& name :
       {Unique("/tmp/quorvel-notify-"), Unique("@quorvel-notify-")}) {
    SCOPED_TRACE(name);
    TestSocket listener(name);
    ASSERT_TRUE(listener.bound());
    setenv("NOTIFY_SOCKET", name.c_str(), 1);
    EXPECT_EQ(platform::SendServiceNotification(message), 1);
    EXPECT_EQ(listener.Receive(), message);
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
      {"vsock:2:1234", EAFNOSUPPORT},
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

}  // namespace
