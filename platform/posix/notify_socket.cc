#include "platform/posix/notify_socket.h"

#include <stddef.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace platform {
namespace {

// The address and its length; the abstract name's length counts its NUL
// and excludes any terminator, as the kernel compares every byte given.
bool NotifyAddress(const char* name, sockaddr_un* address, socklen_t* length) {
  if (name == nullptr || name[0] == '\0') {
    errno = ENOTCONN;
    return false;
  }
  if (name[0] != '/' && name[0] != '@') {
    errno = EAFNOSUPPORT;
    return false;
  }
  const std::size_t size = std::strlen(name);
  if (size >= sizeof address->sun_path) {
    errno = ENAMETOOLONG;
    return false;
  }
  std::memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  std::memcpy(address->sun_path, name, size);
  if (name[0] == '@') address->sun_path[0] = '\0';
  *length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + size +
                                   (name[0] == '@' ? 0 : 1));
  return true;
}

// One sending socket for the life of the process: the live line goes out
// every second while the service runs, and a socket made and closed for each
// would triple the system calls it costs. Unconnected, so every send names
// the address as the environment gives it then.
int SendingSocket() {
  static std::mutex lock;
  static int sender = -1;
  std::lock_guard<std::mutex> guard(lock);
  if (sender < 0) sender = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  return sender;
}

}  // namespace

int SendServiceNotification(const char* message) {
  sockaddr_un address;
  socklen_t length;
  if (!NotifyAddress(std::getenv("NOTIFY_SOCKET"), &address, &length)) return 0;
  const int fd = SendingSocket();
  if (fd < 0) return 0;
  const std::size_t size = std::strlen(message);
  const ssize_t sent =
      sendto(fd, message, size, MSG_NOSIGNAL,
             reinterpret_cast<const sockaddr*>(&address), length);
  if (sent == static_cast<ssize_t>(size)) return 1;
  if (sent >= 0) errno = EMSGSIZE;
  return 0;
}

}  // namespace platform
