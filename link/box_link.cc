#include "link/box_link.h"

#include <cstring>

#include "link/box_frames.h"
#include "platform/clock.h"

namespace {

constexpr int kHandshakePasses = 32;
constexpr std::uint32_t kHandshakePauseMs = 30;
constexpr std::uint32_t kReplyHeadBytes = 3;

void CopyText(char* destination, const char* text) {
  std::strcpy(destination, text);
}

}  // namespace

CBoxLink::CBoxLink()
    : m_handshakeOk(0), m_replyLength(0), m_reply(), m_statusText() {}

int CBoxLink::SendFrame(const std::uint8_t* message) {
  std::uint8_t frame[box_frames::kMaxFrameLength];
  std::memcpy(frame, message, box_frames::FrameLength(message[0]) - 1);
  const std::size_t length = box_frames::CompleteFrame(frame);
  // A write cut short by its time-out still counts as sent: the reply read
  // that follows tells whether the box heard it.
  return Write(frame, static_cast<std::uint32_t>(length));
}

int CBoxLink::ReadReply(std::uint8_t* reply) {
  std::uint8_t head[kReplyHeadBytes];
  Read(head, kReplyHeadBytes);
  if (BytesRead() != kReplyHeadBytes) return 0;

  reply[0] = head[0];
  if (!box_frames::IsAcceptedReplyHeader(head[0])) return 0;
  const int n = box_frames::LengthCode(head[0]);
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

  const std::size_t length = box_frames::FrameLength(head[0]);
  if (!box_frames::HasValidChecksum(reply, length)) return 0;
  return static_cast<int>(length);
}

int CBoxLink::QueryTimeCode() {
  ClearInput();
  if (SendFrame(box_frames::kTimeCodeRequest)) {
    // The head and the tail are two reads, but the line may deliver the
    // whole reply to the first: one wake-up per poll instead of two.
    ExpectMessage(box_frames::kTimeCodeReplyLength);
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
    if (SendFrame(box_frames::kHelloRequest)) {
      std::uint8_t reply[20];
      if (ReadReply(reply) != sizeof box_frames::kHelloReply ||
          std::memcmp(reply, box_frames::kHelloReply,
                      sizeof box_frames::kHelloReply) != 0) {
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
