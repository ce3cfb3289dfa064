// Plays systemd's end of NOTIFY_SOCKET for the program tests: binds a unix
// datagram socket at the given path and appends every message it receives
// to the given file, one message per line with its newlines shown as '|'.
// Ends on SIGTERM or when the file cannot be written.
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: notify_listener SOCKET LOG\n");
    return 2;
  }
  const int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, argv[1], sizeof address.sun_path - 1);
  unlink(argv[1]);
  if (fd < 0 ||
      bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    std::perror("notify_listener");
    return 1;
  }
  std::FILE* log = std::fopen(argv[2], "a");
  if (log == nullptr) return 1;
  for (;;) {
    char message[4096];
    const ssize_t got = recv(fd, message, sizeof message - 1, 0);
    if (got < 0) continue;
    for (ssize_t i = 0; i < got; ++i) {
      if (message[i] == '\n') message[i] = '|';
    }
    message[got] = '\0';
    if (std::fprintf(log, "%s\n", message) < 0 || std::fflush(log) != 0)
      return 1;
  }
}
