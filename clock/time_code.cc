#include "clock/time_code.h"

#include <cstdio>

namespace {

constexpr std::uint32_t kPalFrameMs = 40;
constexpr std::uint32_t kNtscLastFrame = 29;

std::uint32_t EncodeBcd(std::uint32_t value) {
  return (value / 10) * 16 + value % 10;
}

// Tens read through the field's own tens bits only; units nibbles of 10 to 15
// are taken at face value, as the box's digits are not validated.
std::uint32_t DecodeBcd(std::uint8_t byte, std::uint8_t tensMask) {
  return ((byte >> 4) & tensMask) * 10u + (byte & 0x0Fu);
}

std::uint32_t NtscFrameFromMs(std::uint32_t ms) {
  const std::uint32_t frame = ms * 10 / 333;
  return frame > kNtscLastFrame ? kNtscLastFrame : frame;
}

struct TimeOfDay {
  std::uint32_t hour, minute, second, frame;
};

// Full carry and borrow. Only the exact top (or zero) of a field rolls over,
// so malformed digits above it pass through unchanged in size.
void AddOneFrame(TimeOfDay& t) {
  if (t.frame != kNtscLastFrame) {
    ++t.frame;
    return;
  }
  t.frame = 0;
  if (t.second != 59) {
    ++t.second;
    return;
  }
  t.second = 0;
  if (t.minute != 59) {
    ++t.minute;
    return;
  }
  t.minute = 0;
  t.hour = t.hour != 23 ? t.hour + 1 : 0;
}

void TakeOneFrame(TimeOfDay& t) {
  if (t.frame != 0) {
    --t.frame;
    return;
  }
  t.frame = kNtscLastFrame;
  if (t.second != 0) {
    --t.second;
    return;
  }
  t.second = 59;
  if (t.minute != 0) {
    --t.minute;
    return;
  }
  t.minute = 59;
  t.hour = t.hour != 0 ? t.hour - 1 : 23;
}

// The drop-frame correction seen from the clock: the code runs a frame ahead
// in the second half of a ten-minute block's early seconds and a frame behind
// late in the first half. Malformed values only matter by their sign.
int ClockSideDropCorrection(std::uint32_t minute, std::uint32_t second) {
  return static_cast<int>((minute % 10) / 5) -
         static_cast<int>(second * 10 / 333);
}

}  // namespace

PackedTimeCode PackTimeCode(std::uint8_t frames, std::uint8_t seconds,
                            std::uint8_t minutes, std::uint8_t hours) {
  return (static_cast<PackedTimeCode>(hours) << 24) |
         (static_cast<PackedTimeCode>(minutes) << 16) |
         (static_cast<PackedTimeCode>(seconds) << 8) | frames;
}

PackedTimeCode ClockToTimeCode(std::uint16_t hour, std::uint16_t minute,
                               std::uint16_t second, std::uint16_t milliseconds,
                               int isPal, int dropFrame) {
  std::uint32_t frames =
      isPal ? milliseconds / kPalFrameMs : NtscFrameFromMs(milliseconds);
  std::uint32_t sec = second;
  if (!isPal && dropFrame) {
    const int k = ClockSideDropCorrection(minute, second);
    if (k >= 1) {
      if (frames == kNtscLastFrame) {
        frames = 0;
        ++sec;
      } else {
        ++frames;
      }
    } else if (k <= -1) {
      if (frames == 0) {
        frames = kNtscLastFrame;
        --sec;
      } else {
        --frames;
      }
    }
  }
  return (EncodeBcd(hour) << 24) | (EncodeBcd(minute) << 16) |
         (EncodeBcd(sec) << 8) | EncodeBcd(frames);
}

void TimeCodeToClock(std::uint8_t frames, std::uint8_t seconds,
                     std::uint8_t minutes, std::uint8_t hours, int isPal,
                     int dropFrame, platform::SYSTEMTIME& time) {
  TimeOfDay t{DecodeBcd(hours, 0x3), DecodeBcd(minutes, 0x7),
              DecodeBcd(seconds, 0x7), DecodeBcd(frames, 0x3)};
  if (isPal) {
    time.wMilliseconds = static_cast<std::uint16_t>(t.frame * kPalFrameMs);
  } else {
    if (dropFrame) {
      const int k = static_cast<int>(t.second * 10 / 333) -
                    static_cast<int>((minutes & 0x0Fu) / 5);
      if (k >= 1) AddOneFrame(t);
      if (k <= -1) TakeOneFrame(t);
    }
    time.wMilliseconds = static_cast<std::uint16_t>(t.frame * 333 / 10);
  }
  time.wSecond = static_cast<std::uint16_t>(t.second);
  time.wMinute = static_cast<std::uint16_t>(t.minute);
  time.wHour = static_cast<std::uint16_t>(t.hour);
}

bool WithinTolerance(PackedTimeCode code, PackedTimeCode clockCode) {
  const std::uint32_t low = clockCode - 2;
  const std::uint32_t high = clockCode + 2;
  return low <= code && code <= high;
}

int FormatPackedTimeCode(PackedTimeCode code, char* text) {
  std::snprintf(text, 12, "%8.8X", static_cast<unsigned>(code));
  for (int i = 7; i >= 2; --i) text[i + i / 2] = text[i];
  text[2] = ':';
  text[5] = ':';
  text[8] = ':';
  text[11] = '\0';
  return 11;
}
