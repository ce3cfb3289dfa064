// Serial devices through the Win32 communications calls themselves; the
// device's own DCB travels whole inside DCB::native.
#include <windows.h>

#include <cstring>

#include "platform/serial.h"

namespace platform {
namespace {

static_assert(sizeof(::DCB) <= sizeof(DCB::native),
              "the line settings record must hold a whole Win32 DCB");

HANDLE ToWin32(SerialHandle handle) { return reinterpret_cast<HANDLE>(handle); }

class Win32Serial : public SerialBackend {
 public:
  SerialHandle Open(const char* name, bool overlapped) override {
    HANDLE handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING,
                                overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return kInvalidSerialHandle;
    return reinterpret_cast<SerialHandle>(handle);
  }

  int Close(SerialHandle handle) override {
    return CloseHandle(ToWin32(handle)) ? 1 : 0;
  }

  int GetState(SerialHandle handle, DCB* dcb) override {
    ::DCB native;
    std::memset(&native, 0, sizeof native);
    native.DCBlength = sizeof native;
    if (!GetCommState(ToWin32(handle), &native)) return 0;
    std::memset(dcb->native, 0, sizeof dcb->native);
    std::memcpy(dcb->native, &native, sizeof native);
    dcb->BaudRate = native.BaudRate;
    dcb->ByteSize = native.ByteSize;
    dcb->Parity = native.Parity;
    dcb->StopBits = native.StopBits;
    return 1;
  }

  int SetState(SerialHandle handle, const DCB& dcb) override {
    ::DCB native;
    std::memcpy(&native, dcb.native, sizeof native);
    native.DCBlength = sizeof native;
    native.BaudRate = dcb.BaudRate;
    native.ByteSize = dcb.ByteSize;
    native.Parity = dcb.Parity;
    native.StopBits = dcb.StopBits;
    return SetCommState(ToWin32(handle), &native) ? 1 : 0;
  }

  int GetTimeouts(SerialHandle handle, COMMTIMEOUTS* timeouts) override {
    ::COMMTIMEOUTS native;
    if (!GetCommTimeouts(ToWin32(handle), &native)) return 0;
    timeouts->ReadIntervalTimeout = native.ReadIntervalTimeout;
    timeouts->ReadTotalTimeoutMultiplier = native.ReadTotalTimeoutMultiplier;
    timeouts->ReadTotalTimeoutConstant = native.ReadTotalTimeoutConstant;
    timeouts->WriteTotalTimeoutMultiplier = native.WriteTotalTimeoutMultiplier;
    timeouts->WriteTotalTimeoutConstant = native.WriteTotalTimeoutConstant;
    return 1;
  }

  int SetTimeouts(SerialHandle handle, const COMMTIMEOUTS& timeouts) override {
    ::COMMTIMEOUTS native;
    native.ReadIntervalTimeout = timeouts.ReadIntervalTimeout;
    native.ReadTotalTimeoutMultiplier = timeouts.ReadTotalTimeoutMultiplier;
    native.ReadTotalTimeoutConstant = timeouts.ReadTotalTimeoutConstant;
    native.WriteTotalTimeoutMultiplier = timeouts.WriteTotalTimeoutMultiplier;
    native.WriteTotalTimeoutConstant = timeouts.WriteTotalTimeoutConstant;
    return SetCommTimeouts(ToWin32(handle), &native) ? 1 : 0;
  }

  int Read(SerialHandle handle, void* buffer, std::uint32_t count,
           std::uint32_t* delivered) override {
    DWORD moved = 0;
    const BOOL ok = ReadFile(ToWin32(handle), buffer, count, &moved, nullptr);
    *delivered = moved;
    return ok ? 1 : 0;
  }

  int Write(SerialHandle handle, const void* data, std::uint32_t count,
            std::uint32_t* sent) override {
    DWORD moved = 0;
    const BOOL ok = WriteFile(ToWin32(handle), data, count, &moved, nullptr);
    *sent = moved;
    return ok ? 1 : 0;
  }

  int Purge(SerialHandle handle, std::uint32_t flags) override {
    return PurgeComm(ToWin32(handle), flags) ? 1 : 0;
  }

  int ClearErrors(SerialHandle handle, std::uint32_t* errors,
                  COMSTAT* status) override {
    DWORD flags = 0;
    ::COMSTAT native;
    std::memset(&native, 0, sizeof native);
    if (!ClearCommError(ToWin32(handle), &flags,
                        status != nullptr ? &native : nullptr))
      return 0;
    *errors = flags;
    if (status != nullptr) {
      status->cbInQue = native.cbInQue;
      status->cbOutQue = native.cbOutQue;
    }
    return 1;
  }
};

}  // namespace

SerialBackend& SystemSerial() {
  static Win32Serial serial;
  return serial;
}

}  // namespace platform
