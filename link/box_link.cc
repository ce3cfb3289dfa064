#include "link/box_link.h"

#include <cstring>

#include "platform/clock.h"

namespace {

constexpr int kHandshakePasses = 32;
constexpr std::uint32_t kHandshakePauseMs = 30;
constexpr std::uint32_t kReplyHeadBytes = 3;

const std::uint8_t kHelloRequest[] = {0x20, 0x01};
const std::uint8_t kHelloReply[] = {0x10, 0x01, 0x11};
const std::uint8_t kTimeCodeRequest[] = {0x61, 0x0C, 0x03};

int LengthCode(std::uint8_t header) { return header & 0x0F; }
int Kind(std::uint8_t header) { return header >> 4; }

// The box answers only with kind 1 or 7 and length codes 0, 2, 4 or 8.
bool IsAcceptedKind(std::uint8_t header) {
  return Kind(header) == 1 || Kind(header) == 7;
}
bool IsAcceptedLengthCode(int n) {
  return n == 0 || n == 2 || n == 4 || n == 8;
}

std::uint8_t Checksum(const std::uint8_t* bytes, int count) {
  std::uint8_t sum = 0;
  for (int i = 0; i < count; ++i)
    sum = static_cast<std::uint8_t>(sum + bytes[i]);
  return sum;
}

void CopyText(char* destination, const char* text) {
  std::strcpy(destination, text);
}

}  // namespace

CBoxLink::CBoxLink()
    : m_handshakeOk(0), m_replyLength(0), m_reply(), m_statusText() {}

int CBoxLink::SendFrame(const std::uint8_t* message) {
  const int n = LengthCode(message[0]);
  std::uint8_t frame[20];
  std::memcpy(frame, message, n + 2);
  frame[n + 2] = Checksum(frame, n + 2);
  // A write cut short by its time-out still counts as sent: the reply read
  // that follows tells whether the box heard it.
  return Write(frame, n + 3);
}

int CBoxLink::ReadReply(std::uint8_t* reply) {
  std::uint8_t head[kReplyHeadBytes];
  Read(head, kReplyHeadBytes);
  if (BytesRead() != kReplyHeadBytes) return 0;

  reply[0] = head[0];
  if (!IsAcceptedKind(head[0])) return 0;
  const int n = LengthCode(head[0]);
  if (!IsAcceptedLengthCode(n)) return 0;
  reply[1] = head[1];
  reply[2] = head[2];

  if (n > 0) {
    std::uint8_t tail[8];
    Read(tail, n);
    // A cut tail must not be completed by whatever an earlier reply left in
    // the buffer: that could pass the checksum and hand out an old code.
    if (BytesRead() != static_cast<std::uint32_t>(n)) return 0;
    std::memcpy(reply + 3, tail, n);
  }

  if (Checksum(reply, n + 2) != reply[n + 2]) return 0;
  return n + 3;
}

int CBoxLink::QueryTimeCode() {
  ClearInput();
  if (SendFrame(kTimeCodeRequest)) {
    m_replyLength = ReadReply(m_reply);
    if (m_replyLength != 0) {
      CopyText(m_statusText, kBoxRespondingText);
      return 1;
    }
  }
  CopyText(m_statusText, kBoxNotRespondingText);
  return 0;
}

int CBoxLink::Handshake() {
  int result = 0;
  for (int pass = 0; pass < kHandshakePasses; ++pass) {
    ClearInput();
    if (SendFrame(kHelloRequest)) {
      std::uint8_t reply[20];
      if (ReadReply(reply) != 3 ||
          std::memcmp(reply, kHelloReply, sizeof kHelloReply) != 0) {
        m_handshakeOk = 0;
        return 0;
      }
      result = 1;
    }
    platform::Sleep(kHandshakePauseMs);
  }
  m_handshakeOk = result;
  return result;
}
