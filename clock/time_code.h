// Arithmetic between the box's packed time codes and the PC clock. Integer
// arithmetic only; no state, no platform call.
//
// A PackedTimeCode holds four packed-BCD bytes: hours in bits 24-31, minutes
// 16-23, seconds 8-15, frames 0-7. Masked with kTimeCodeMask only the digit
// bits remain, and masked codes of well-formed times compare as numbers in
// time-of-day order. Bit 6 of the frames byte is the drop-frame flag.
#pragma once

#include <cstdint>

#include "platform/clock.h"

using PackedTimeCode = std::uint32_t;

inline constexpr PackedTimeCode kTimeCodeMask = 0x3F7F7F3F;
inline constexpr PackedTimeCode kDropFrameFlag = 0x40;

// The unmasked word from a reply's bytes 2 to 5.
PackedTimeCode PackTimeCode(std::uint8_t frames, std::uint8_t seconds,
                            std::uint8_t minutes, std::uint8_t hours);

// The masked code that a box in step with this clock reading shows.
PackedTimeCode ClockToTimeCode(std::uint16_t hour, std::uint16_t minute,
                               std::uint16_t second, std::uint16_t milliseconds,
                               int isPal, int dropFrame);

// Fills wHour, wMinute, wSecond and wMilliseconds of `time` from the code's
// bytes; the date fields keep what they hold. Malformed digits pass through
// (an hour of 24 or more, up to 1800 ms), for the set call to refuse.
void TimeCodeToClock(std::uint8_t frames, std::uint8_t seconds,
                     std::uint8_t minutes, std::uint8_t hours, int isPal,
                     int dropFrame, platform::SYSTEMTIME& time);

// clockCode - 2 <= code <= clockCode + 2, on the whole words.
bool WithinTolerance(PackedTimeCode code, PackedTimeCode clockCode);

// Writes "HH:MM:SS:FF" and a NUL into text (room for 12); returns 11.
int FormatPackedTimeCode(PackedTimeCode code, char* text);
