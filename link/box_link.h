// The box's frame protocol over a serial port: header (kind in bits 4-7,
// length code n in bits 0-3), n+1 data bytes, an 8-bit additive checksum.
#pragma once

#include <cstdint>

#include "link/serial_port.h"

class CBoxLink : public CSerialPort {
 public:
  CBoxLink();

  // message holds the header and n+1 data bytes; the checksum is added here.
  int SendFrame(const std::uint8_t* message);
  // Returns the reply's length (3, 5, 7 or 11) when a whole valid frame was
  // read, else 0. `reply` needs room for 11 bytes.
  int ReadReply(std::uint8_t* reply);
  int QueryTimeCode();
  int Handshake();

  std::int32_t m_handshakeOk;
  std::int32_t m_replyLength;
  std::uint8_t m_reply[20];
  char m_statusText[40];
};

inline constexpr char kBoxRespondingText[] = "BOX connected and responding.";
inline constexpr char kBoxNotRespondingText[] =
    "BOX NOT responding! LED ON? Cables?";
