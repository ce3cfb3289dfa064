#include "link/serial_port.h"

#include "link/user_notice.h"
#include "platform/clock.h"
#include "platform/system_error.h"

namespace {

constexpr std::uint32_t kStoreStateSettleMs = 300;

// The box may sit on COM1 to COM4 only; anything else means the first port.
const char* DeviceNameFor(std::int32_t portNumber) {
  switch (portNumber) {
    case 2:
      return "COM2";
    case 3:
      return "COM3";
    case 4:
      return "COM4";
    default:
      return "COM1";
  }
}

// A closed port holds no usable handle, so nothing may reach the platform.
bool HasDevice(const CSerialPort& port) {
  return port.m_isOpen && port.m_handle != platform::kInvalidSerialHandle;
}

int PurgeEverything(platform::SerialHandle handle) {
  return platform::Serial().Purge(
      handle, platform::kPurgeTxAbort | platform::kPurgeRxAbort |
                  platform::kPurgeTxClear | platform::kPurgeRxClear);
}

}  // namespace

CSerialPort::CSerialPort()
    : m_isOpen(0),
      m_handle(platform::kInvalidSerialHandle),
      m_dcb(),
      m_timeouts(),
      m_commErrors(0),
      m_bytesRead(0),
      m_bytesWritten(0),
      m_baudRate(38400),
      m_parity(platform::kOddParity),
      m_byteSize(8),
      m_portNumber(1),
      m_deviceLost(0),
      m_deviceError(0) {}

CSerialPort::~CSerialPort() { Close(); }

int CSerialPort::Open(std::int32_t portNumber, int overlapped) {
  const char* name = DeviceNameFor(portNumber);
  if (m_isOpen) Close();
  m_handle = platform::Serial().Open(name, overlapped != 0);
  if (m_handle == platform::kInvalidSerialHandle) {
    RaiseUserNotice(UserNotice::kPortOpenFailed);
    return 0;
  }
  m_isOpen = 1;
  m_portNumber = portNumber;
  m_deviceLost = 0;
  m_deviceError = 0;
  return 1;
}

int CSerialPort::Close() {
  if (!m_isOpen) return 1;
  m_isOpen = 0;
  PurgeEverything(m_handle);
  const int result = platform::Serial().Close(m_handle);
  // A closed handle's number may be reused by the next device anyone opens;
  // keeping it would let a stray call reach that device.
  m_handle = platform::kInvalidSerialHandle;
  return result;
}

int CSerialPort::FetchState() {
  if (!HasDevice(*this)) return 0;
  return platform::Serial().GetState(m_handle, &m_dcb);
}

int CSerialPort::StoreState() {
  const int result =
      HasDevice(*this) ? platform::Serial().SetState(m_handle, m_dcb) : 0;
  // Some devices need a moment before the new settings hold.
  platform::Sleep(kStoreStateSettleMs);
  return result;
}

int CSerialPort::ApplyLineSettings() {
  const int fetched = FetchState();
  m_dcb.BaudRate = m_baudRate;
  m_dcb.ByteSize = m_byteSize;
  m_dcb.Parity = m_parity;
  m_dcb.StopBits = platform::kOneStopBit;
  if (!fetched) return 0;
  return StoreState();
}

int CSerialPort::FetchTimeouts() {
  if (!HasDevice(*this)) return 0;
  return platform::Serial().GetTimeouts(m_handle, &m_timeouts);
}

int CSerialPort::StoreTimeouts() {
  if (!HasDevice(*this)) return 0;
  return platform::Serial().SetTimeouts(m_handle, m_timeouts);
}

int CSerialPort::SetTimeouts(std::uint32_t readInterval,
                             std::uint32_t readMultiplier,
                             std::uint32_t readConstant,
                             std::uint32_t writeMultiplier,
                             std::uint32_t writeConstant) {
  if (!FetchTimeouts()) return 0;
  m_timeouts.ReadIntervalTimeout = readInterval;
  m_timeouts.ReadTotalTimeoutMultiplier = readMultiplier;
  m_timeouts.ReadTotalTimeoutConstant = readConstant;
  m_timeouts.WriteTotalTimeoutMultiplier = writeMultiplier;
  m_timeouts.WriteTotalTimeoutConstant = writeConstant;
  return StoreTimeouts();
}

int CSerialPort::Read(void* buffer, std::uint32_t count, void* /*overlapped*/) {
  m_bytesRead = 0;
  if (!HasDevice(*this)) return 0;
  return NoteFailure(
      platform::Serial().Read(m_handle, buffer, count, &m_bytesRead));
}

int CSerialPort::Read(void* buffer, std::uint32_t count) {
  return Read(buffer, count, nullptr);
}

int CSerialPort::Write(const void* data, std::uint32_t count,
                       void* /*overlapped*/) {
  m_bytesWritten = 0;
  if (!HasDevice(*this)) return 0;
  return NoteFailure(
      platform::Serial().Write(m_handle, data, count, &m_bytesWritten));
}

int CSerialPort::Write(const void* data, std::uint32_t count) {
  return Write(data, count, nullptr);
}

std::uint32_t CSerialPort::BytesRead() const { return m_bytesRead; }

void CSerialPort::ExpectMessage(std::uint32_t count) {
  if (HasDevice(*this)) platform::Serial().ExpectMessage(m_handle, count);
}

int CSerialPort::NoteFailure(int result) {
  if (result == 0 && !m_deviceLost) {
    m_deviceLost = 1;
    m_deviceError = platform::GetLastError();
  }
  return result;
}

int CSerialPort::PurgeAll() {
  if (!HasDevice(*this)) return 0;
  return PurgeEverything(m_handle);
}

int CSerialPort::ClearInput() {
  ClearErrors(nullptr);
  if (!HasDevice(*this)) return 0;
  return platform::Serial().Purge(m_handle, platform::kPurgeRxClear);
}

int CSerialPort::ClearErrors(platform::COMSTAT* status) {
  if (!HasDevice(*this)) return 0;
  return platform::Serial().ClearErrors(m_handle, &m_commErrors, status);
}
