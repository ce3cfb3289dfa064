// The frame bytes as the box sends and expects them, written out by hand:
// every other test builds its frames from these pieces, so only these rows
// would catch a wrong byte in them.
#include "link/box_frames.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

template <std::size_t N>
Bytes AsBytes(const std::uint8_t (&frame)[N]) {
  return Bytes(frame, frame + N);
}

TEST(BoxFrames, TheTwoExchangesAreTheBoxsBytes) {
  EXPECT_EQ(AsBytes(box_frames::kHelloRequest), (Bytes{0x20, 0x01, 0x21}));
  EXPECT_EQ(AsBytes(box_frames::kHelloReply), (Bytes{0x10, 0x01, 0x11}));
  EXPECT_EQ(AsBytes(box_frames::kTimeCodeRequest),
            (Bytes{0x61, 0x0C, 0x03, 0x70}));
  const struct {
    std::uint32_t code;
    std::uint8_t byte1;
    Bytes wire;
  } replies[] = {
      {0x22123015, 0x0C, {0x74, 0x0C, 0x15, 0x30, 0x12, 0x22, 0xF9}},
      {0x23595964, 0x00, {0x74, 0x00, 0x64, 0x59, 0x59, 0x23, 0xAD}},
      {0xFFFFFFFF, 0xFF, {0x74, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x6F}},
  };
  for (const auto& r : replies) {
    Bytes reply(box_frames::kTimeCodeReplyLength);
    box_frames::BuildTimeCodeReply(r.code, r.byte1, reply.data());
    EXPECT_EQ(reply, r.wire);
    EXPECT_TRUE(box_frames::HasValidChecksum(reply.data(), reply.size()));
  }
}

TEST(BoxFrames, LengthsAndChecksumsFollowTheHeader) {
  EXPECT_EQ(box_frames::FrameLength(0x20), 3u);
  EXPECT_EQ(box_frames::FrameLength(0x74), 7u);
  EXPECT_EQ(box_frames::FrameLength(0x0F), box_frames::kMaxFrameLength);
  std::uint8_t frame[] = {0x02, 0xFF, 0xFF, 0xFF, 0x00};
  EXPECT_EQ(box_frames::CompleteFrame(frame), 5u);
  EXPECT_EQ(frame[4], 0xFF);  // the sum wraps at 256
  const std::uint8_t tooShort[] = {0x00};
  EXPECT_FALSE(box_frames::HasValidChecksum(tooShort, 1));
  const std::uint8_t shortest[] = {0x05, 0x05};
  EXPECT_TRUE(box_frames::HasValidChecksum(shortest, 2));
  const std::uint8_t wrong[] = {0x10, 0x01, 0x12};
  EXPECT_FALSE(box_frames::HasValidChecksum(wrong, 3));
}

TEST(BoxFrames, OnlyKindsOneAndSevenWithLengthCodesZeroTwoFourEightAnswer) {
  const std::set<int> accepted = {0x10, 0x12, 0x14, 0x18,
                                  0x70, 0x72, 0x74, 0x78};
  for (int header = 0; header < 256; ++header)
    EXPECT_EQ(
        accepted.count(header) == 1,
        box_frames::IsAcceptedReplyHeader(static_cast<std::uint8_t>(header)))
        << header;
}

}  // namespace
