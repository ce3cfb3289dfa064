#include "platform/beep.h"

#include <unistd.h>

#include <cerrno>

namespace platform {

// The terminal's bell, only when someone sits at a terminal: under systemd
// standard output is the journal, where a bell would be a stray byte.
void SystemMessageBeep(std::uint32_t) {
  const int savedErrno = errno;
  if (isatty(STDOUT_FILENO) == 1) {
    const ssize_t written = write(STDOUT_FILENO, "\a", 1);
    (void)written;
  }
  errno = savedErrno;
}

}  // namespace platform
