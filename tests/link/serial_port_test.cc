// CSerialPort over a scripted device: which platform calls each operation
// makes, in which order, and what it reports.
#include "link/serial_port.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "link/user_notice.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_serial.h"

#ifndef _WIN32
#include "platform/posix/serial_test_seam.h"
#endif

namespace {

using Calls = std::vector<std::string>;

// Speed, byte size, parity and stop bits.
std::tuple<std::uint32_t, int, int, int> Line(const platform::DCB& dcb) {
  return {dcb.BaudRate, dcb.ByteSize, dcb.Parity, dcb.StopBits};
}

std::vector<UserNotice> g_notices;
void RecordNotice(UserNotice notice) { g_notices.push_back(notice); }

class SerialPortTest : public ::testing::Test {
 protected:
  SerialPortTest() {
    g_notices.clear();
    SetUserNoticeHandler(&RecordNotice);
  }
  ~SerialPortTest() override { SetUserNoticeHandler(nullptr); }

  // Opens COM1 and forgets the calls that took.
  void OpenCom1() {
    ASSERT_EQ(1, port.Open(1, 0));
    device.calls.clear();
  }

  fakes::FakeSerial device;
  fake::FakeClock clock;  // the link's waits pass at once
  CSerialPort port;
};

TEST_F(SerialPortTest, PortNumbersMapToDeviceNamesAndAreKeptAsGiven) {
  const struct {
    int number;
    const char* name;
  } cases[] = {{1, "COM1"}, {2, "COM2"}, {3, "COM3"},  {4, "COM4"},
               {0, "COM1"}, {5, "COM1"}, {15, "COM1"}, {-1, "COM1"}};
  for (const auto& c : cases) {
    CSerialPort each;
    device.calls.clear();
    ASSERT_EQ(1, each.Open(c.number, 0));
    EXPECT_EQ(Calls{std::string("Open ") + c.name}, device.calls);
    EXPECT_EQ(c.number, each.m_portNumber);
  }
}

// One port through its life: the calls each step makes and what it keeps.
TEST_F(SerialPortTest, OpenLossReopenAndClose) {
  EXPECT_EQ(1, port.Close());
  EXPECT_TRUE(device.calls.empty());

  // The first failing call marks the device lost with that call's error; a
  // reopen purges and closes first, and starts clean.
  OpenCom1();
  device.gone = true;
  std::uint8_t buffer[4] = {};
  EXPECT_EQ(0, port.Read(buffer, 3));
  EXPECT_EQ(0, port.Write(buffer, 3));
  EXPECT_EQ(std::make_tuple(1, fakes::FakeSerial::kGoneError),
            std::tie(port.m_deviceLost, port.m_deviceError));
  device.gone = false;
  device.calls.clear();
  ASSERT_EQ(1, port.Open(2, 0));
  EXPECT_EQ((Calls{"Purge 15", "Close", "Open COM2"}), device.calls);
  EXPECT_EQ(std::make_tuple(0, 0u),
            std::tie(port.m_deviceLost, port.m_deviceError));

  // A device held by another program fails the open with the notice and
  // leaves the port closed.
  device.failOpen = true;
  device.calls.clear();
  EXPECT_EQ(0, port.Open(3, 0));
  EXPECT_EQ((Calls{"Purge 15", "Close", "Open COM3"}), device.calls);
  EXPECT_EQ(std::make_tuple(0, 2), std::tie(port.m_isOpen, port.m_portNumber));
  EXPECT_TRUE(device.openHandles.empty());
  EXPECT_EQ(std::vector<UserNotice>{UserNotice::kPortOpenFailed}, g_notices);
  device.failOpen = false;

  // A close reports the handle's result and forgets the handle either way;
  // closing again makes no call, and destroying an open port closes it.
  for (int result : {1, 0}) {
    OpenCom1();
    device.failClose = result == 0;
    EXPECT_EQ(result, port.Close());
    EXPECT_EQ(1, port.Close());
    EXPECT_EQ((Calls{"Purge 15", "Close"}), device.calls);
    EXPECT_EQ(platform::kInvalidSerialHandle, port.m_handle);
  }
  {
    CSerialPort other;
    ASSERT_EQ(1, other.Open(4, 0));
    device.calls.clear();
  }
  EXPECT_EQ((Calls{"Purge 15", "Close"}), device.calls);

  // On the closed port everything fails without reaching the device.
  device.calls.clear();
  platform::COMSTAT status{};
  port.m_bytesRead = port.m_bytesWritten = 99;
  for (int result :
       {port.FetchState(), port.FetchTimeouts(), port.StoreTimeouts(),
        port.SetTimeouts(10, 10, 20, 10, 10), port.ApplyLineSettings(),
        port.Read(buffer, 3), port.Write(buffer, 3), port.PurgeAll(),
        port.ClearInput(), port.ClearErrors(&status)})
    EXPECT_EQ(0, result);
  EXPECT_EQ(std::make_tuple(0u, 0u),
            std::tie(port.m_bytesRead, port.m_bytesWritten));
  EXPECT_TRUE(device.calls.empty());
}

// Line settings write four fields and keep the rest; a failing fetch gives
// up at once, a failing store still waits its 300 ms.
TEST_F(SerialPortTest, LineSettingsTimeOutsAndPurgesReachTheDevice) {
  device.state = {9600, 7, 2, 2, {}};
  std::memset(device.state.native, 0x5A, sizeof device.state.native);
  OpenCom1();
  EXPECT_EQ(1, port.ApplyLineSettings());
  EXPECT_EQ(std::make_tuple(38400u, 8, 1, 0), Line(device.state));
  for (unsigned char b : device.state.native) ASSERT_EQ(0x5A, b);
  device.failGetState = true;
  EXPECT_EQ(0, port.ApplyLineSettings());
  device.failGetState = false;
  device.failSetState = true;
  EXPECT_EQ(0, port.ApplyLineSettings());
  EXPECT_EQ(0, port.StoreState());
  EXPECT_EQ((Calls{"GetState", "SetState", "GetState", "GetState", "SetState",
                   "SetState"}),
            device.calls);
  EXPECT_EQ((std::vector<std::uint32_t>{300, 300, 300}), clock.Sleeps());

  // The time-outs go in field by field, and not at all when they cannot be
  // fetched first.
  EXPECT_EQ(1, port.SetTimeouts(1, 2, 3, 4, 5));
  const platform::COMMTIMEOUTS& t = device.timeouts;
  EXPECT_EQ(std::make_tuple(1u, 2u, 3u, 4u, 5u),
            std::tie(t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier,
                     t.ReadTotalTimeoutConstant, t.WriteTotalTimeoutMultiplier,
                     t.WriteTotalTimeoutConstant));
  device.failGetTimeouts = true;
  EXPECT_EQ(0, port.SetTimeouts(10, 10, 20, 10, 10));
  EXPECT_EQ(3u, t.ReadTotalTimeoutConstant);

  // Clearing the input takes the errors first and purges the input only; a
  // full purge aborts and clears both ways. Each reports the device's result.
  device.reportedErrors = 0x8;
  device.calls.clear();
  EXPECT_EQ(1, port.ClearInput());
  EXPECT_EQ(1, port.PurgeAll());
  EXPECT_EQ((Calls{"ClearErrors", "Purge 8", "Purge 15"}), device.calls);
  EXPECT_EQ(0x8u, port.m_commErrors);
  device.failPurge = true;
  EXPECT_EQ(0, port.ClearInput());
  EXPECT_EQ(0, port.PurgeAll());
}

#ifndef _WIN32
// A pseudo-terminal drops parity, so only the flags themselves show that a
// box gets odd parity and one stop bit; the first row is what the port asks.
TEST_F(SerialPortTest, LineSettingsBecomeTermiosFlags) {
  OpenCom1();
  ASSERT_EQ(1, port.ApplyLineSettings());
  const tcflag_t kOwned = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
  const struct {
    std::uint32_t baud;
    std::uint8_t size, parity, stop;
    bool ok;
    tcflag_t flags;
  } rows[] = {
      {device.state.BaudRate, device.state.ByteSize, device.state.Parity,
       device.state.StopBits, true, CS8 | PARENB | PARODD},
      {9600, 7, 2, 0, true, CS7 | PARENB},
      {19200, 8, 0, 0, true, CS8},  // a speed code with its low bit clear
      {9600, 8, 0, 2, true, CS8 | CSTOPB},
      {9600, 8, 3, 0, true, CS8 | PARENB | PARODD | CMSPAR},
      {9600, 8, 4, 0, true, CS8 | PARENB | CMSPAR},
      {9600, 8, 5, 0, false, 0},
      {9600, 8, 0, 3, false, 0},
      {9600, 9, 0, 0, false, 0},
      {12345, 8, 0, 0, false, 0},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(testing::Message() << r.baud << " " << +r.size << " "
                                    << +r.parity << " " << +r.stop);
    platform::DCB dcb = {r.baud, r.size, r.parity, r.stop, {}};
    termios tio = {};
    tio.c_cflag = CS5 | PARENB | PARODD | CMSPAR | CSTOPB | CREAD;
    ASSERT_EQ(platform::EncodeLineSettings(dcb, &tio), r.ok);
    if (!r.ok) continue;
    EXPECT_EQ(tio.c_cflag & kOwned, r.flags);
    EXPECT_NE(tio.c_cflag & CREAD, 0u);  // not the port's to clear
    platform::DCB back = {};
    platform::DecodeLineSettings(tio, &back);
    EXPECT_EQ(Line(back),
              std::make_tuple(r.baud, r.size, r.parity, r.stop == 0 ? 0 : 2));
  }
}
#endif

}  // namespace
