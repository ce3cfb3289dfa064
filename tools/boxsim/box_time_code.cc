#include "tools/boxsim/box_time_code.h"

namespace boxsim {

const char* ModeName(Mode mode) {
  switch (mode) {
    case Mode::kPal:
      return "pal";
    case Mode::kNtsc:
      return "ntsc";
    case Mode::kNtscDropFrame:
      return "ntsc-df";
  }
  return "?";
}

bool ParseMode(const std::string& text, Mode* mode) {
  for (Mode candidate : {Mode::kPal, Mode::kNtsc, Mode::kNtscDropFrame}) {
    if (text == ModeName(candidate)) {
      *mode = candidate;
      return true;
    }
  }
  return false;
}

std::int64_t ToMilliseconds(const TimeOfDay& time) {
  return ((time.hour * 60LL + time.minute) * 60 + time.second) * 1000 +
         time.millisecond;
}

TimeOfDay ShiftTimeOfDay(const TimeOfDay& time, std::int64_t offsetMs) {
  std::int64_t ms = (ToMilliseconds(time) + offsetMs % kMsPerDay) % kMsPerDay;
  if (ms < 0) ms += kMsPerDay;
  TimeOfDay shifted;
  shifted.millisecond = static_cast<int>(ms % 1000);
  shifted.second = static_cast<int>(ms / 1000 % 60);
  shifted.minute = static_cast<int>(ms / 60000 % 60);
  shifted.hour = static_cast<int>(ms / 3600000);
  return shifted;
}

PackedTimeCode BoxTimeCode(const TimeOfDay& time, Mode mode) {
  const bool dropFrame = mode == Mode::kNtscDropFrame;
  PackedTimeCode code =
      ClockToTimeCode(static_cast<std::uint16_t>(time.hour),
                      static_cast<std::uint16_t>(time.minute),
                      static_cast<std::uint16_t>(time.second),
                      static_cast<std::uint16_t>(time.millisecond),
                      mode == Mode::kPal ? 1 : 0, dropFrame ? 1 : 0);
  if (dropFrame) code |= kDropFrameFlag;
  return code;
}

Bytes BuildTimeCodeReply(PackedTimeCode code, std::uint8_t byte1) {
  Bytes reply(box_frames::kTimeCodeReplyLength);
  box_frames::BuildTimeCodeReply(code, byte1, reply.data());
  return reply;
}

std::string TimeCodeText(PackedTimeCode code) {
  char text[12];
  FormatPackedTimeCode(code & kTimeCodeMask, text);
  return text;
}

}  // namespace boxsim
