#include "tools/boxsim/simulated_box.h"

#include <cstdio>

namespace boxsim {

namespace {

constexpr std::uint8_t kReplyByte1 = 0x0C;

const char* OnOff(bool on) { return on ? "on" : "off"; }

}  // namespace

SimulatedBox::SimulatedBox(const BoxOptions& options, RandomByte randomByte)
    : mode_(options.mode),
      offsetMs_(options.offsetMs),
      randomByte_(std::move(randomByte)) {}

Answer SimulatedBox::Respond(const Bytes& request, const TimeOfDay& now) {
  Answer answer;
  // A reply or garbage asked for by hand goes out whatever the box's state.
  if (replyPending_) {
    replyPending_ = false;
    answer.tx = std::move(replyNext_);
    replyNext_.clear();
    answer.note = "reply";
    return answer;
  }
  if (garbageNext_ > 0) {
    for (std::size_t i = 0; i < garbageNext_; ++i)
      answer.tx.push_back(randomByte_());
    answer.note = "garbage " + std::to_string(garbageNext_);
    garbageNext_ = 0;
    return answer;
  }
  if (silent_) {
    answer.note = "silence";
    return answer;
  }
  answer = Normal(request, now);
  ApplyFaults(&answer);
  return answer;
}

Answer SimulatedBox::Normal(const Bytes& request, const TimeOfDay& now) {
  Answer answer;
  switch (ClassifyRequest(request)) {
    case RequestKind::kHello:
      answer.tx = kHelloReply;
      answer.note = "hello";
      break;
    case RequestKind::kQuery: {
      const bool repeat = frozen_ && haveLastCode_;
      if (!repeat) {
        lastCode_ = BoxTimeCode(ShiftTimeOfDay(now, offsetMs_), mode_);
        haveLastCode_ = true;
      }
      answer.tx = BuildTimeCodeReply(lastCode_, kReplyByte1);
      answer.note = TimeCodeNote(lastCode_);
      if (repeat) answer.note += ", frozen";
      break;
    }
    case RequestKind::kUnknown:
      answer.note = "unknown request";
      break;
  }
  return answer;
}

std::string SimulatedBox::TimeCodeNote(PackedTimeCode code) const {
  // Hours first, as a person reads a time; frames last.
  return "query " + TimeCodeText(code) + " " + ModeName(mode_);
}

void SimulatedBox::ApplyFaults(Answer* answer) {
  if (answer->tx.empty()) return;
  if (badChecksum_) {
    answer->tx.back() = static_cast<std::uint8_t>(answer->tx.back() + 1);
    answer->note += ", bad checksum";
  }
  if (shortPending_) {
    shortPending_ = false;
    const std::size_t full = answer->tx.size();
    if (shortNext_ < full) answer->tx.resize(shortNext_);
    answer->note += ", short " + std::to_string(answer->tx.size()) + " of " +
                    std::to_string(full);
  }
}

std::string SimulatedBox::Apply(const Command& command) {
  switch (command.kind) {
    case CommandKind::kSilence:
      silent_ = command.flag;
      return std::string("silence ") + OnOff(silent_);
    case CommandKind::kFreeze:
      frozen_ = command.flag;
      return std::string("freeze ") + OnOff(frozen_);
    case CommandKind::kChecksum:
      badChecksum_ = command.flag;
      return std::string("checksum ") + (badChecksum_ ? "bad" : "good");
    case CommandKind::kGarbage:
      garbageNext_ = static_cast<std::size_t>(command.number);
      return "garbage " + std::to_string(garbageNext_) + " (next answer)";
    case CommandKind::kShort:
      shortNext_ = static_cast<std::size_t>(command.number);
      shortPending_ = true;
      return "short " + std::to_string(shortNext_) + " (next reply)";
    case CommandKind::kReply:
      replyNext_ = command.bytes;
      replyPending_ = true;
      return "reply " + HexBytes(replyNext_) + " (next answer)";
    case CommandKind::kGap:
      gapMs_ = command.number;
      return "gap " + std::to_string(gapMs_) +
             " ms (after each reply's first byte)";
    case CommandKind::kOffset: {
      const std::int64_t before = offsetMs_;
      offsetMs_ =
          command.relative ? offsetMs_ + command.number : command.number;
      // Keep the stored offset within a day so repeated jumps cannot grow it
      // without bound; the time of day it gives is the same.
      offsetMs_ %= kMsPerDay;
      return "offset " +
             std::string(command.relative && command.number >= 0 ? "+" : "") +
             std::to_string(command.number) + " (" + std::to_string(before) +
             " -> " + std::to_string(offsetMs_) + " ms)";
    }
    case CommandKind::kMode:
      mode_ = command.mode;
      return std::string("mode ") + ModeName(mode_);
    case CommandKind::kHangup:
      return "hangup";
    case CommandKind::kQuit:
      return "quit";
  }
  return "?";
}

std::string HexBytes(const Bytes& bytes) {
  if (bytes.empty()) return "-";
  std::string text;
  char hex[4];
  for (std::uint8_t byte : bytes) {
    std::snprintf(hex, sizeof hex, "%02X", byte);
    if (!text.empty()) text += ' ';
    text += hex;
  }
  return text;
}

}  // namespace boxsim
