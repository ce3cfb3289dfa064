// Serial devices, with the meaning of the Win32 communications calls. The
// port class keeps the logic; a backend only moves bytes and settings, so
// tests can put a scripted device in its place.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

using SerialHandle = std::intptr_t;
inline constexpr SerialHandle kInvalidSerialHandle = -1;

// The Win32 codes, under names of our own: windows.h makes the Win32 names
// macros, which would collide in any file that includes both.
inline constexpr std::uint8_t kOddParity = 1;   // ODDPARITY
inline constexpr std::uint8_t kOneStopBit = 0;  // ONESTOPBIT

inline constexpr std::uint32_t kPurgeTxAbort = 0x1;  // PURGE_TXABORT
inline constexpr std::uint32_t kPurgeRxAbort = 0x2;  // PURGE_RXABORT
inline constexpr std::uint32_t kPurgeTxClear = 0x4;  // PURGE_TXCLEAR
inline constexpr std::uint32_t kPurgeRxClear = 0x8;  // PURGE_RXCLEAR

// A device's whole line settings as fetched. The four named fields are the
// ones the port class writes; `native` holds the rest of the device's own
// record (a termios or a DCB) so that a store hands every other setting back
// exactly as it was read.
struct DCB {
  std::uint32_t BaudRate;
  std::uint8_t ByteSize;
  std::uint8_t Parity;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
  std::uint8_t StopBits;  // 0 one, 1 one and a half, 2 two
  alignas(8) unsigned char native[120];
};

// Time-outs in milliseconds with the Win32 meaning: a read of N bytes ends
// when N have come, when more than ReadIntervalTimeout passes between two
// bytes, or when ReadTotalTimeoutMultiplier * N + ReadTotalTimeoutConstant
// have passed; a write ends after WriteTotalTimeoutMultiplier * N +
// WriteTotalTimeoutConstant at most.
struct COMMTIMEOUTS {
  std::uint32_t ReadIntervalTimeout;
  std::uint32_t ReadTotalTimeoutMultiplier;
  std::uint32_t ReadTotalTimeoutConstant;
  std::uint32_t WriteTotalTimeoutMultiplier;
  std::uint32_t WriteTotalTimeoutConstant;
};

struct COMSTAT {
  std::uint32_t cbInQue;
  std::uint32_t cbOutQue;
};

// Every call returns nonzero for success, 0 for failure, as the Win32 call
// would; a read or write that ends by time-out succeeds with the count.
class SerialBackend {
 public:
  virtual ~SerialBackend() = default;
  // Opens "COM1".."COM4" for exclusive use; kInvalidSerialHandle on failure.
  virtual SerialHandle Open(const char* name, bool overlapped) = 0;
  virtual int Close(SerialHandle handle) = 0;
  virtual int GetState(SerialHandle handle, DCB* dcb) = 0;
  virtual int SetState(SerialHandle handle, const DCB& dcb) = 0;
  virtual int GetTimeouts(SerialHandle handle, COMMTIMEOUTS* timeouts) = 0;
  virtual int SetTimeouts(SerialHandle handle,
                          const COMMTIMEOUTS& timeouts) = 0;
  virtual int Read(SerialHandle handle, void* buffer, std::uint32_t count,
                   std::uint32_t* delivered) = 0;
  virtual int Write(SerialHandle handle, const void* data, std::uint32_t count,
                    std::uint32_t* sent) = 0;
  virtual int Purge(SerialHandle handle, std::uint32_t flags) = 0;
  virtual int ClearErrors(SerialHandle handle, std::uint32_t* errors,
                          COMSTAT* status) = 0;
  // A hint and no more: the next read starts a message of `count` bytes in
  // all. A backend that pays for every wake-up may wait for the whole message
  // at once, within that read's own time-outs.
  virtual void ExpectMessage(SerialHandle /*handle*/, std::uint32_t /*count*/) {
  }
};

// The operating system's serial devices.
SerialBackend& SystemSerial();

// Installs a replacement (tests); nullptr restores the operating system's.
void UseSerialBackend(SerialBackend* backend);

// The backend currently installed.
SerialBackend& Serial();

}  // namespace platform
