// Serial devices over termios, with the Win32 meaning of every call: raw
// bytes, time-outs counted the Windows way, and exclusive use that holds
// against root as well (TIOCEXCL alone does not stop a privileged opener,
// so a non-blocking flock backs it up).
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#if defined(__linux__)
#include <sys/sysmacros.h>
#endif
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#if defined(__linux__)
#include <linux/serial.h>
#endif

#include "config/linux_config.h"
#include "platform/posix/serial_test_seam.h"
#include "platform/serial.h"

namespace platform {
namespace {

static_assert(sizeof(termios) <= sizeof(DCB::native),
              "the line settings record must hold a whole termios");

constexpr std::uint32_t MAXDWORD = 0xFFFFFFFFu;

// Win32 ClearCommError flags.
constexpr std::uint32_t CE_RXOVER = 0x0001;
constexpr std::uint32_t CE_OVERRUN = 0x0002;
constexpr std::uint32_t CE_RXPARITY = 0x0004;
constexpr std::uint32_t CE_FRAME = 0x0008;
constexpr std::uint32_t CE_BREAK = 0x0010;

struct ErrorCounts {
  std::int64_t frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
};

// What the driver has handed over but no Read has taken yet: a read takes
// everything the device holds in one system call, as a Windows driver fills
// its own buffer, and later Reads are served from here first.
struct ReceiveBuffer {
  unsigned char bytes[64];
  std::size_t start = 0;
  std::size_t end = 0;

  std::size_t Held() const { return end - start; }
  std::uint32_t Take(unsigned char* into, std::uint32_t count) {
    const std::size_t n = Held() < count ? Held() : count;
    std::memcpy(into, bytes + start, n);
    start += n;
    return static_cast<std::uint32_t>(n);
  }
  void Clear() { start = end = 0; }
};

struct OpenDevice {
  COMMTIMEOUTS timeouts{};  // a fresh port waits for every byte, as on Windows
  ErrorCounts reported;
  // Known after the first try: a device without error counters (a
  // pseudo-terminal, many USB adapters) never grows them.
  bool hasErrorCounters = true;
  // How long one character takes on the line at its current settings.
  std::int64_t characterMicroseconds = 0;
  ReceiveBuffer received;
  // Set by ExpectMessage for the next read only: the message's length and
  // when all of it can have come.
  std::uint32_t expected = 0;
  std::int64_t messageDueUs = 0;
  std::uint32_t lastWritten = 0;
  // How long the other end takes to start its answer, as learnt from the
  // answers so far: the wait for a whole message includes it.
  std::int64_t turnaroundUs = 0;
};

struct SpeedCode {
  std::uint32_t baud;
  speed_t code;
};

const SpeedCode kSpeeds[] = {
    {50, B50},         {75, B75},         {110, B110},     {134, B134},
    {150, B150},       {200, B200},       {300, B300},     {600, B600},
    {1200, B1200},     {1800, B1800},     {2400, B2400},   {4800, B4800},
    {9600, B9600},     {19200, B19200},   {38400, B38400}, {57600, B57600},
    {115200, B115200}, {230400, B230400},
};

// Start bit, data bits, parity and stop bits of one character.
std::uint8_t ByteSizeOfFlags(tcflag_t cflag);

std::int64_t CharacterMicroseconds(const termios& tio) {
  std::uint32_t baud = 0;
  for (const SpeedCode& s : kSpeeds) {
    if (s.code == cfgetispeed(&tio)) baud = s.baud;
  }
  if (baud == 0) return 0;
  const std::int64_t bits = 1 + ByteSizeOfFlags(tio.c_cflag) +
                            ((tio.c_cflag & PARENB) ? 1 : 0) +
                            ((tio.c_cflag & CSTOPB) ? 2 : 1);
  return bits * 1000000 / baud;
}

std::int64_t NowUs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

std::int64_t NowMs() { return NowUs() / 1000; }

void SleepUs(std::int64_t us) {
  timespec pause{static_cast<time_t>(us / 1000000),
                 static_cast<long>(us % 1000000 * 1000)};
  nanosleep(&pause, nullptr);
}

bool SpeedCodeFor(std::uint32_t baud, speed_t* code) {
  for (const SpeedCode& s : kSpeeds) {
    if (s.baud == baud) {
      *code = s.code;
      return true;
    }
  }
  return false;
}

std::uint32_t BaudFor(speed_t code) {
  for (const SpeedCode& s : kSpeeds) {
    if (s.code == code) return s.baud;
  }
  return 0;
}

std::uint8_t ByteSizeOfFlags(tcflag_t cflag) {
  switch (cflag & CSIZE) {
    case CS5:
      return 5;
    case CS6:
      return 6;
    case CS7:
      return 7;
    default:
      return 8;
  }
}

bool SizeFlagFor(std::uint8_t byteSize, tcflag_t* flag) {
  switch (byteSize) {
    case 5:
      *flag = CS5;
      return true;
    case 6:
      *flag = CS6;
      return true;
    case 7:
      *flag = CS7;
      return true;
    case 8:
      *flag = CS8;
      return true;
    default:
      return false;
  }
}

std::uint8_t ParityOf(tcflag_t cflag) {
  if (!(cflag & PARENB)) return 0;
#ifdef CMSPAR
  if (cflag & CMSPAR) return (cflag & PARODD) ? 3 : 4;
#endif
  return (cflag & PARODD) ? 1 : 2;
}

bool ParityFlagsFor(std::uint8_t parity, tcflag_t* flags) {
  switch (parity) {
    case 0:
      *flags = 0;
      return true;
    case 1:
      *flags = PARENB | PARODD;
      return true;
    case 2:
      *flags = PARENB;
      return true;
#ifdef CMSPAR
    case 3:
      *flags = PARENB | PARODD | CMSPAR;
      return true;
    case 4:
      *flags = PARENB | CMSPAR;
      return true;
#endif
    default:
      return false;
  }
}

tcflag_t ParityMask() {
#ifdef CMSPAR
  return PARENB | PARODD | CMSPAR;
#else
  return PARENB | PARODD;
#endif
}

}  // namespace

// Writes the four fields that the port class owns into `tio`; everything
// else stays as the device reported it.
bool EncodeLineSettings(const DCB& dcb, termios* tio) {
  speed_t speed;
  tcflag_t size;
  tcflag_t parity;
  if (!SpeedCodeFor(dcb.BaudRate, &speed) ||
      !SizeFlagFor(dcb.ByteSize, &size) ||
      !ParityFlagsFor(dcb.Parity, &parity) || dcb.StopBits > 2) {
    return false;
  }
  if (cfsetispeed(tio, speed) != 0 || cfsetospeed(tio, speed) != 0)
    return false;
  tio->c_cflag = (tio->c_cflag & ~(CSIZE | ParityMask() | CSTOPB)) | size |
                 parity | (dcb.StopBits != 0 ? CSTOPB : 0);
  return true;
}

void DecodeLineSettings(const termios& tio, DCB* dcb) {
  dcb->BaudRate = BaudFor(cfgetospeed(&tio));
  dcb->ByteSize = ByteSizeOfFlags(tio.c_cflag);
  dcb->Parity = ParityOf(tio.c_cflag);
  dcb->StopBits = (tio.c_cflag & CSTOPB) ? 2 : 0;
}

namespace {

// Only "COM1".."COM255" name ports; where each is, the configuration says.
bool DevicePathFor(const char* name, std::string* path) {
  if (name == nullptr || std::strncmp(name, "COM", 3) != 0) return false;
  char* end = nullptr;
  const long number = std::strtol(name + 3, &end, 10);
  if (end == name + 3 || *end != '\0' || number < 1 || number > 255)
    return false;
  *path = config::PortDevicePath(static_cast<unsigned>(number));
  return true;
}

// The Win32 device is raw: no echo, no line editing, no character mapping,
// no modem control hang-ups, reads that return what is there.
bool MakeRaw(int fd, termios* tio) {
  if (tcgetattr(fd, tio) != 0) return false;
  cfmakeraw(tio);
  tio->c_cflag |= CLOCAL | CREAD;
  tio->c_cc[VMIN] = 0;
  tio->c_cc[VTIME] = 0;
  return tcsetattr(fd, TCSANOW, tio) == 0;
}

// Pseudo-terminals stand in for the box in tests and demonstrations.
bool IsPseudoTerminal(int fd) {
#if defined(__linux__)
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode)) return false;
  const unsigned kind = major(info.st_rdev);
  return kind >= 136 && kind <= 143;  // the Unix98 pseudo-terminal slaves
#else
  (void)fd;
  return false;
#endif
}

// A pseudo-terminal carries no parity and always eight bits. Linux drops
// those bits when other settings change with them, but refuses the whole
// call (EINVAL) when they are the only change, which every reconnect to the
// same line would be. There the line keeps what it can carry.
int ApplyTermios(int fd, termios* tio) {
  if (tcsetattr(fd, TCSANOW, tio) == 0) return 1;
  if (errno != EINVAL || !IsPseudoTerminal(fd)) return 0;
  termios current;
  if (tcgetattr(fd, &current) != 0) return 0;
  const tcflag_t fixed = CSIZE | ParityMask();
  tio->c_cflag = (tio->c_cflag & ~fixed) | (current.c_cflag & fixed);
  return tcsetattr(fd, TCSANOW, tio) == 0;
}

// Remaining wait in ms until `deadline`, or -1 for none.
int RemainingMs(std::int64_t deadline, std::int64_t now) {
  if (deadline < 0) return -1;
  const std::int64_t left = deadline - now;
  if (left <= 0) return 0;
  return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

int EarlierWait(int a, int b) {
  if (a < 0) return b;
  if (b < 0) return a;
  return a < b ? a : b;
}

class PosixSerial : public SerialBackend {
 public:
  SerialHandle Open(const char* name, bool /*overlapped*/) override {
    std::string path;
    if (!DevicePathFor(name, &path)) return kInvalidSerialHandle;
    const int fd =
        ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return kInvalidSerialHandle;
    termios tio;
    if (!TakeExclusive(fd) || !MakeRaw(fd, &tio)) {
      Release(fd);
      return kInvalidSerialHandle;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    OpenDevice& device = devices_[fd];
    device = OpenDevice{};
    device.characterMicroseconds = CharacterMicroseconds(tio);
    return fd;
  }

  int Close(SerialHandle handle) override {
    const int fd = static_cast<int>(handle);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (devices_.erase(fd) == 0) return 0;
    }
    return Release(fd);
  }

  int GetState(SerialHandle handle, DCB* dcb) override {
    if (!IsOpen(handle)) return 0;
    termios tio;
    if (tcgetattr(static_cast<int>(handle), &tio) != 0) return 0;
    std::memset(dcb->native, 0, sizeof dcb->native);
    std::memcpy(dcb->native, &tio, sizeof tio);
    DecodeLineSettings(tio, dcb);
    return 1;
  }

  int SetState(SerialHandle handle, const DCB& dcb) override {
    if (!IsOpen(handle)) return 0;
    termios tio;
    std::memcpy(&tio, dcb.native, sizeof tio);
    if (!EncodeLineSettings(dcb, &tio)) return 0;
    if (!ApplyTermios(static_cast<int>(handle), &tio)) return 0;
    std::lock_guard<std::mutex> lock(mutex_);
    auto device = devices_.find(static_cast<int>(handle));
    if (device != devices_.end())
      device->second.characterMicroseconds = CharacterMicroseconds(tio);
    return 1;
  }

  int GetTimeouts(SerialHandle handle, COMMTIMEOUTS* timeouts) override {
    std::lock_guard<std::mutex> lock(mutex_);
    auto device = devices_.find(static_cast<int>(handle));
    if (device == devices_.end()) return 0;
    *timeouts = device->second.timeouts;
    return 1;
  }

  int SetTimeouts(SerialHandle handle, const COMMTIMEOUTS& timeouts) override {
    std::lock_guard<std::mutex> lock(mutex_);
    auto device = devices_.find(static_cast<int>(handle));
    if (device == devices_.end()) return 0;
    device->second.timeouts = timeouts;
    return 1;
  }

  int Read(SerialHandle handle, void* buffer, std::uint32_t count,
           std::uint32_t* delivered) override {
    *delivered = 0;
    OpenDevice* device;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto found = devices_.find(static_cast<int>(handle));
      if (found == devices_.end()) return 0;
      device = &found->second;
    }
    // The owner reads and closes a port from one thread, so the record
    // stays put while the read uses it.
    return ReadWithTimeouts(static_cast<int>(handle), *device,
                            static_cast<unsigned char*>(buffer), count,
                            delivered);
  }

  int Write(SerialHandle handle, const void* data, std::uint32_t count,
            std::uint32_t* sent) override {
    *sent = 0;
    COMMTIMEOUTS t;
    if (!GetTimeouts(handle, &t)) return 0;
    const int result = WriteWithTimeout(static_cast<int>(handle),
                                        static_cast<const unsigned char*>(data),
                                        count, t, sent);
    std::lock_guard<std::mutex> lock(mutex_);
    auto device = devices_.find(static_cast<int>(handle));
    if (device != devices_.end()) device->second.lastWritten = *sent;
    return result;
  }

  int Purge(SerialHandle handle, std::uint32_t flags) override {
    const int fd = static_cast<int>(handle);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto device = devices_.find(fd);
      if (device == devices_.end()) return 0;
      if (flags & kPurgeRxClear) device->second.received.Clear();
    }
    // Reads and writes are synchronous here, so there is never a pending
    // one to abort; only the two buffers can be thrown away.
    const bool input = flags & kPurgeRxClear;
    const bool output = flags & kPurgeTxClear;
    if (input || output) {
      const int which = input && output ? TCIOFLUSH
                        : input         ? TCIFLUSH
                                        : TCOFLUSH;
      if (tcflush(fd, which) != 0) return 0;
    }
    return 1;
  }

  void ExpectMessage(SerialHandle handle, std::uint32_t count) override {
    std::lock_guard<std::mutex> lock(mutex_);
    auto device = devices_.find(static_cast<int>(handle));
    if (device == devices_.end()) return;
    OpenDevice& d = device->second;
    d.expected = count;
    // The request still has to cross the line, the other end to turn
    // round, and the answer to come back.
    if (d.characterMicroseconds > 0) {
      d.messageDueUs = NowUs() + d.turnaroundUs +
                       d.characterMicroseconds * (d.lastWritten + count);
    }
  }

  int ClearErrors(SerialHandle handle, std::uint32_t* errors,
                  COMSTAT* status) override {
    std::lock_guard<std::mutex> lock(mutex_);
    auto device = devices_.find(static_cast<int>(handle));
    if (device == devices_.end()) return 0;
    const int fd = static_cast<int>(handle);
    *errors = NewErrors(fd, &device->second);
    if (status != nullptr) {
      int queued = 0;
      status->cbInQue = ioctl(fd, FIONREAD, &queued) == 0 ? queued : 0;
      status->cbInQue += device->second.received.Held();
      queued = 0;
      status->cbOutQue = ioctl(fd, TIOCOUTQ, &queued) == 0 ? queued : 0;
    }
    return 1;
  }

 private:
  static bool TakeExclusive(int fd) {
    if (ioctl(fd, TIOCEXCL) != 0) return false;
    return flock(fd, LOCK_EX | LOCK_NB) == 0;
  }

  static int Release(int fd) {
    // The exclusive flag outlives the descriptor on a pseudo-terminal whose
    // master stays open; a later open by another user would be refused.
    ioctl(fd, TIOCNXCL);
    return ::close(fd) == 0;
  }

  // The error counters a real UART keeps; devices without them (a
  // pseudo-terminal) report none.
  static std::uint32_t NewErrors(int fd, OpenDevice* device) {
#if defined(__linux__) && defined(TIOCGICOUNT)
    if (!device->hasErrorCounters) return 0;
    ErrorCounts* reported = &device->reported;
    serial_icounter_struct counts;
    std::memset(&counts, 0, sizeof counts);
    if (ioctl(fd, TIOCGICOUNT, &counts) != 0) {
      if (errno == ENOTTY || errno == EINVAL) device->hasErrorCounters = false;
      return 0;
    }
    std::uint32_t flags = 0;
    if (counts.frame != reported->frame) flags |= CE_FRAME;
    if (counts.overrun != reported->overrun) flags |= CE_OVERRUN;
    if (counts.parity != reported->parity) flags |= CE_RXPARITY;
    if (counts.brk != reported->brk) flags |= CE_BREAK;
    if (counts.buf_overrun != reported->bufOverrun) flags |= CE_RXOVER;
    reported->frame = counts.frame;
    reported->overrun = counts.overrun;
    reported->parity = counts.parity;
    reported->brk = counts.brk;
    reported->bufOverrun = counts.buf_overrun;
    return flags;
#else
    (void)fd;
    (void)device;
    return 0;
#endif
  }

  // A character that has begun to arrive brings the rest of the read's
  // characters behind it at the line's pace: waiting for them once, within
  // the time-outs, costs one wake-up instead of one per character.
  static void AwaitCharacters(const OpenDevice& device, std::uint32_t missing,
                              int waitMs) {
    if (missing < 2 || device.characterMicroseconds == 0) return;
    std::int64_t us = device.characterMicroseconds * (missing - 1);
    if (waitMs >= 0 && us > std::int64_t{waitMs} * 1000) us = waitMs * 1000;
    SleepUs(us);
  }

  // Takes what the device holds into the receive buffer without waiting:
  // the count, or -1 when the device went away (errno set). A raw line
  // reads nothing as 0 bytes, so only after poll() said there is input
  // does 0 mean that the other end hung up.
  static int Fill(int fd, ReceiveBuffer& r, bool inputSignalled) {
    const ssize_t n = ::read(fd, r.bytes, sizeof r.bytes);
    if (n > 0) {
      r.start = 0;
      r.end = static_cast<std::size_t>(n);
      return static_cast<int>(n);
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
    if (n == 0 && !inputSignalled) return 0;
    if (n == 0) errno = EIO;
    return -1;
  }

  // Sleeps until a whole expected message can be in and takes what came:
  // when the other end keeps its pace that is the one wake-up the message
  // costs. An answer that was still coming means a slower turn-round than
  // learnt; a whole one lets the learnt one shrink a little, so that it
  // follows a faster other end too. Silence teaches nothing.
  static int AwaitMessage(int fd, OpenDevice& device, std::int64_t dueUs,
                          std::int64_t deadlineMs, std::uint32_t message) {
    std::int64_t us = dueUs - NowUs();
    if (deadlineMs >= 0) {
      const std::int64_t left = (deadlineMs - NowMs()) * 1000;
      if (left < us) us = left;
    }
    if (us > 0) SleepUs(us);
    const int held = Fill(fd, device.received, false);
    const std::int64_t c = device.characterMicroseconds;
    if (held > 0 && static_cast<std::uint32_t>(held) < message) {
      device.turnaroundUs += c * (message - held);
      if (device.turnaroundUs > 16 * c) device.turnaroundUs = 16 * c;
    } else if (held > 0) {
      device.turnaroundUs -= c / 16;
      if (device.turnaroundUs < 0) device.turnaroundUs = 0;
    }
    return held;
  }

  static int ReadWithTimeouts(int fd, OpenDevice& device, unsigned char* buffer,
                              std::uint32_t count, std::uint32_t* delivered) {
    const COMMTIMEOUTS& t = device.timeouts;
    const std::int64_t start = NowMs();
    const bool returnAtOnce = t.ReadIntervalTimeout == MAXDWORD &&
                              t.ReadTotalTimeoutMultiplier == 0 &&
                              t.ReadTotalTimeoutConstant == 0;
    const std::uint64_t total =
        static_cast<std::uint64_t>(t.ReadTotalTimeoutMultiplier) * count +
        t.ReadTotalTimeoutConstant;
    const std::int64_t totalDeadline =
        total == 0 ? -1 : start + static_cast<std::int64_t>(total);
    const bool useInterval =
        t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != MAXDWORD;
    std::uint32_t got = device.received.Take(buffer, count);
    std::int64_t lastByte = got > 0 ? start : -1;
    // The first wait for the line covers the whole message when one is
    // expected; what this read does not take stays for the next.
    std::uint32_t awaited = device.expected > count ? device.expected : count;
    const std::int64_t messageDue = device.messageDueUs;
    device.expected = 0;
    device.messageDueUs = 0;
    if (got == 0 && messageDue > 0 && !returnAtOnce) {
      if (AwaitMessage(fd, device, messageDue, totalDeadline, awaited) < 0)
        return 0;
      got = device.received.Take(buffer, count);
      if (got > 0) lastByte = NowMs();
      awaited = count;
    }
    while (got < count) {
      const std::int64_t now = NowMs();
      int wait = returnAtOnce ? 0 : RemainingMs(totalDeadline, now);
      if (useInterval && lastByte >= 0) {
        wait = EarlierWait(wait,
                           RemainingMs(lastByte + t.ReadIntervalTimeout, now));
      }
      const bool timedOut = wait == 0;
      pollfd p{fd, POLLIN, 0};
      const int ready = ::poll(&p, 1, wait);
      if (ready < 0) {
        if (errno == EINTR) continue;
        break;
      }
      if (ready == 0) {
        if (timedOut) break;
        continue;
      }
      if (!(p.revents & POLLIN)) {
        *delivered = got;
        errno = EIO;
        return 0;  // the other end hung up, or the device failed
      }
      AwaitCharacters(device, awaited - got, wait);
      awaited = count;
      const int n = Fill(fd, device.received, true);
      if (n > 0) {
        got += device.received.Take(buffer + got, count - got);
        lastByte = NowMs();
        continue;
      }
      if (n == 0) continue;
      *delivered = got;
      return 0;  // the device went away
    }
    *delivered = got;
    return 1;
  }

  static int WriteWithTimeout(int fd, const unsigned char* data,
                              std::uint32_t count, const COMMTIMEOUTS& t,
                              std::uint32_t* sent) {
    const std::uint64_t total =
        static_cast<std::uint64_t>(t.WriteTotalTimeoutMultiplier) * count +
        t.WriteTotalTimeoutConstant;
    const std::int64_t deadline =
        total == 0 ? -1 : NowMs() + static_cast<std::int64_t>(total);
    std::uint32_t done = 0;
    while (done < count) {
      const ssize_t n = ::write(fd, data + done, count - done);
      if (n > 0) {
        done += static_cast<std::uint32_t>(n);
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EINTR) {
        *sent = done;
        return 0;
      }
      const int wait = RemainingMs(deadline, NowMs());
      if (wait == 0) break;
      pollfd p{fd, POLLOUT, 0};
      if (::poll(&p, 1, wait) < 0 && errno != EINTR) {
        *sent = done;
        return 0;
      }
    }
    *sent = done;
    return 1;
  }

  bool IsOpen(SerialHandle handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    return devices_.count(static_cast<int>(handle)) != 0;
  }

  std::mutex mutex_;
  std::map<int, OpenDevice> devices_;
};

}  // namespace

SerialBackend& SystemSerial() {
  static PosixSerial serial;
  return serial;
}

}  // namespace platform
