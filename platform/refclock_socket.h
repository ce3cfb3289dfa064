// The datagram socket on which a time daemon takes samples of a reference
// clock: one datagram per sample, in the daemon's own layout (a timeval, a
// double offset, pulse, leap, padding and the magic 0x534f434b). Only where
// the system has local datagram sockets; elsewhere nothing exists and nothing
// is sent.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The socket that this machine's time daemon is configured to take samples
// on; empty where there is none.
std::string RefclockSocketPath();

// True when a socket is there at `path` now.
bool RefclockSocketExists(const std::string& path);

class RefclockSender {
 public:
  explicit RefclockSender(std::string path);
  ~RefclockSender();
  RefclockSender(const RefclockSender&) = delete;
  RefclockSender& operator=(const RefclockSender&) = delete;

  // One sample: the PC clock's UTC time of the measurement and the
  // reference's time minus the PC clock at that moment, both in
  // microseconds. False when the daemon did not take it (not running, its
  // socket gone or full); the next send tries again.
  bool Send(std::int64_t sampleUtcUs, std::int64_t offsetUs);

 private:
  std::string m_path;
  int m_socket;
};

}  // namespace platform
