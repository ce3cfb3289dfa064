// The frame rules at their edges. The two exchanges' bytes, written out by
// hand, are the box simulator test's: its box answers with these pieces.
#include "link/box_frames.h"

#include <gtest/gtest.h>

#include <set>

namespace {

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
