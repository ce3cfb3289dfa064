#include "platform/refclock_socket.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "config/linux_config.h"

namespace platform {
namespace {

constexpr int kSampleMagic = 0x534f434b;

// The daemon's layout, field for field; it checks the size and the magic.
struct SockSample {
  struct timeval tv;
  double offset;
  int pulse;
  int leap;
  int pad;
  int magic;
};

}  // namespace

std::string RefclockSocketPath() { return config::RefclockSocketPath(); }

bool RefclockSocketExists(const std::string& path) {
  struct stat status = {};
  return stat(path.c_str(), &status) == 0 && S_ISSOCK(status.st_mode);
}

RefclockSender::RefclockSender(std::string path)
    : m_path(std::move(path)),
      m_socket(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)) {}

RefclockSender::~RefclockSender() {
  if (m_socket >= 0) close(m_socket);
}

bool RefclockSender::Send(std::int64_t sampleUtcUs, std::int64_t offsetUs) {
  struct sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  if (m_socket < 0 || m_path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, m_path.c_str(), m_path.size() + 1);

  SockSample sample = {};
  sample.tv.tv_sec = static_cast<time_t>(sampleUtcUs / 1000000);
  sample.tv.tv_usec = static_cast<suseconds_t>(sampleUtcUs % 1000000);
  sample.offset = static_cast<double>(offsetUs) / 1e6;
  sample.magic = kSampleMagic;
  // Unconnected: each send finds the socket anew, so a restarted daemon's
  // new socket takes the samples again.
  return sendto(m_socket, &sample, sizeof sample, MSG_NOSIGNAL,
                reinterpret_cast<const struct sockaddr*>(&address),
                sizeof address) == static_cast<ssize_t>(sizeof sample);
}

}  // namespace platform
