// Wakes every 153 ms and does nothing else: what one wake-up costs on this
// machine at this moment, the floor under any service that polls.
//
//   wake_probe                 one bare wake-up a period
//   wake_probe --exchange DEV  a poll's bare bones against the box on DEV:
//                              the wait on a pipe, the input purge, the
//                              query, the sleep until the answer is in and
//                              its read, with none of the program around them
//
// The second is Ventrel's floor: two wake-ups and five system calls a poll.
// Ventrel's cost above it is its own code; above the first, the price of the
// exchange itself.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "link/box_frames.h"

namespace {

int RunExchanges(const char* device) {
  const int fd = open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  termios tio;
  if (fd < 0 || tcgetattr(fd, &tio) != 0) {
    std::perror(device);
    return 1;
  }
  cfmakeraw(&tio);
  cfsetspeed(&tio, B38400);
  tcsetattr(fd, TCSANOW, &tio);
  int stop[2];
  if (pipe(stop) != 0) return 1;
  const auto& query = box_frames::kTimeCodeRequest;
  // The query and the answer at 11 bits a byte, 38400 baud.
  const timespec answerIn{
      0, (sizeof query + box_frames::kTimeCodeReplyLength) * 286000};
  unsigned char answer[64];
  for (;;) {
    pollfd p{stop[0], POLLIN, 0};
    poll(&p, 1, 153);
    tcflush(fd, TCIFLUSH);
    if (write(fd, query, sizeof query) < 0) return 1;
    nanosleep(&answerIn, nullptr);
    if (read(fd, answer, sizeof answer) < 0) continue;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--exchange") == 0)
    return RunExchanges(argv[2]);
  const timespec period{0, 153000000};
  for (;;) nanosleep(&period, nullptr);
}
