// One serial device for the link to the box: exclusive open, the box's line
// settings (38400 baud, 8 data bits, odd parity, one stop bit), Win32-style
// time-outs and blocking reads and writes that keep their byte counts.
#pragma once

#include <cstdint>

#include "platform/serial.h"

class CSerialPort {
 public:
  CSerialPort();
  ~CSerialPort();
  CSerialPort(const CSerialPort&) = delete;
  CSerialPort& operator=(const CSerialPort&) = delete;

  // Port numbers 2 to 4 open "COM2".."COM4"; every other number opens "COM1".
  int Open(std::int32_t portNumber, int overlapped);
  int Close();

  int FetchState();
  // Waits 300 ms after handing the settings over, whatever the result.
  int StoreState();
  int ApplyLineSettings();

  int FetchTimeouts();
  int StoreTimeouts();
  // All five in milliseconds, in the order of the time-out record.
  int SetTimeouts(std::uint32_t readInterval, std::uint32_t readMultiplier,
                  std::uint32_t readConstant, std::uint32_t writeMultiplier,
                  std::uint32_t writeConstant);

  // The overlapped record is carried for the interface's sake only: nothing
  // asks for asynchronous use, and it must be null.
  int Read(void* buffer, std::uint32_t count, void* overlapped);
  int Read(void* buffer, std::uint32_t count);
  int Write(const void* data, std::uint32_t count, void* overlapped);
  int Write(const void* data, std::uint32_t count);
  std::uint32_t BytesRead() const;
  // The next read starts a message of `count` bytes, which a later read may
  // finish: the device may then take it in one go.
  void ExpectMessage(std::uint32_t count);

  int PurgeAll();
  int ClearInput();
  int ClearErrors(platform::COMSTAT* status);

  std::int32_t m_isOpen;
  platform::SerialHandle m_handle;
  platform::DCB m_dcb;
  platform::COMMTIMEOUTS m_timeouts;
  std::uint32_t m_commErrors;
  std::uint32_t m_bytesRead;
  std::uint32_t m_bytesWritten;
  std::uint32_t m_baudRate;
  std::uint8_t m_parity;
  std::uint8_t m_byteSize;
  std::int32_t m_portNumber;
  // Set when a read or write on the open port failed (not merely timed out):
  // the device is gone, as a USB adapter pulled out. Cleared by Open.
  std::int32_t m_deviceLost;
  std::uint32_t m_deviceError;  // the system's error of that failure

 private:
  int NoteFailure(int result);
};
