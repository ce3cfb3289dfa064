#include "tools/boxsim/boxsim_core.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <sstream>

namespace boxsim {

// ---- Frames -------------------------------------------------------------

bool HasValidChecksum(const Bytes& frame) {
  return box_frames::HasValidChecksum(frame.data(), frame.size());
}

Bytes WithChecksum(Bytes body) {
  body.push_back(box_frames::Checksum(body.data(), body.size()));
  return body;
}

std::vector<RequestParser::Event> RequestParser::Feed(const std::uint8_t* bytes,
                                                      std::size_t count) {
  pending_.insert(pending_.end(), bytes, bytes + count);
  std::vector<Event> events;
  while (!pending_.empty()) {
    const std::size_t length = box_frames::FrameLength(pending_[0]);
    if (pending_.size() < length) break;
    Bytes frame(pending_.begin(), pending_.begin() + length);
    if (HasValidChecksum(frame)) {
      if (!discarded_.empty()) {
        events.push_back({std::move(discarded_), false});
        discarded_.clear();
      }
      events.push_back({std::move(frame), true});
      pending_.erase(pending_.begin(), pending_.begin() + length);
    } else {
      // No start marker: the frame may begin at any later byte.
      discarded_.push_back(pending_[0]);
      pending_.erase(pending_.begin());
    }
  }
  // Bytes given up on are reported once it is clear that nothing pending
  // could still turn them into part of a frame.
  if (pending_.empty() && !discarded_.empty()) {
    events.push_back({std::move(discarded_), false});
    discarded_.clear();
  }
  return events;
}

std::vector<RequestParser::Event> RequestParser::Flush() {
  std::vector<Event> events;
  // Nothing more will complete the partial frame, but a whole frame may hide
  // behind a stray header that announced a longer one.
  while (!pending_.empty()) {
    discarded_.push_back(pending_[0]);
    Bytes rest(pending_.begin() + 1, pending_.end());
    pending_.clear();
    std::vector<Event> found = Feed(rest.data(), rest.size());
    events.insert(events.end(), found.begin(), found.end());
  }
  if (!discarded_.empty()) {
    events.push_back({std::move(discarded_), false});
    discarded_.clear();
  }
  return events;
}

RequestKind ClassifyRequest(const Bytes& frame) {
  if (frame == kHelloRequest) return RequestKind::kHello;
  if (frame == kQueryRequest) return RequestKind::kQuery;
  return RequestKind::kUnknown;
}

// ---- Time code ----------------------------------------------------------

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

// ---- Commands -----------------------------------------------------------

namespace {

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  std::string word;
  while (in >> word) words.push_back(word);
  return words;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(c));
  return text;
}

std::string Trim(const std::string& text) {
  const char* space = " \t\r\n";
  const std::size_t first = text.find_first_not_of(space);
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(space) - first + 1);
}

bool ParseDecimal(const std::string& text, std::int64_t limit,
                  std::int64_t* value) {
  if (text.empty() || text.size() > 13) return false;
  std::int64_t result = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    result = result * 10 + (c - '0');
  }
  if (result > limit) return false;
  *value = result;
  return true;
}

bool ParseHexByte(std::string text, std::uint8_t* byte) {
  if (text.size() > 2 && (text[0] == '0') && (text[1] == 'x' || text[1] == 'X'))
    text = text.substr(2);
  if (text.empty() || text.size() > 2) return false;
  unsigned value = 0;
  for (char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    value = value * 16 +
            static_cast<unsigned>(std::isdigit(c) ? c - '0'
                                                  : std::tolower(c) - 'a' + 10);
  }
  *byte = static_cast<std::uint8_t>(value);
  return true;
}

bool ParseSwitch(const std::string& word, const char* yes, const char* no,
                 bool* flag) {
  if (word == yes)
    *flag = true;
  else if (word == no)
    *flag = false;
  else
    return false;
  return true;
}

// Offsets beyond ten days only wrap; the bound keeps the sums far from
// overflow.
constexpr std::int64_t kOffsetLimit = 10 * kMsPerDay;
constexpr std::int64_t kByteCountLimit = 4096;

bool ParseOffset(const std::string& word, Command* command) {
  command->relative = word[0] == '+' || word[0] == '-';
  const bool negative = word[0] == '-';
  std::int64_t value = 0;
  if (!ParseDecimal(command->relative ? word.substr(1) : word, kOffsetLimit,
                    &value))
    return false;
  command->number = negative ? -value : value;
  return true;
}

bool ParseArguments(const std::vector<std::string>& words, Command* command,
                    std::string* error) {
  const std::string& name = words[0];
  const std::size_t arguments = words.size() - 1;
  const std::string first = arguments ? Lower(words[1]) : "";
  auto fail = [&](const char* usage) {
    *error = std::string("usage: ") + usage;
    return false;
  };
  if (name == "silence" || name == "freeze") {
    command->kind =
        name == "silence" ? CommandKind::kSilence : CommandKind::kFreeze;
    if (arguments != 1 || !ParseSwitch(first, "on", "off", &command->flag))
      return fail(name == "silence" ? "silence on|off" : "freeze on|off");
  } else if (name == "checksum") {
    command->kind = CommandKind::kChecksum;
    if (arguments != 1 || !ParseSwitch(first, "bad", "good", &command->flag))
      return fail("checksum bad|good");
  } else if (name == "garbage" || name == "short") {
    const bool garbage = name == "garbage";
    command->kind = garbage ? CommandKind::kGarbage : CommandKind::kShort;
    if (arguments != 1 ||
        !ParseDecimal(first, kByteCountLimit, &command->number) ||
        (garbage && command->number == 0))
      return fail(garbage ? "garbage N (N from 1 to 4096)"
                          : "short K (K from 0 to 4096)");
  } else if (name == "reply") {
    command->kind = CommandKind::kReply;
    if (arguments == 0) return fail("reply HEX HEX ...");
    for (std::size_t i = 1; i < words.size(); ++i) {
      std::uint8_t byte = 0;
      if (!ParseHexByte(words[i], &byte))
        return fail("reply HEX HEX ... (bytes like 10 01 11)");
      command->bytes.push_back(byte);
    }
  } else if (name == "offset") {
    command->kind = CommandKind::kOffset;
    if (arguments != 1 || !ParseOffset(first, command))
      return fail("offset MS|+MS|-MS (up to 10 days)");
  } else if (name == "mode") {
    command->kind = CommandKind::kMode;
    if (arguments != 1 || !ParseMode(first, &command->mode))
      return fail("mode pal|ntsc|ntsc-df");
  } else if (name == "hangup" || name == "quit") {
    command->kind = name == "quit" ? CommandKind::kQuit : CommandKind::kHangup;
    if (arguments != 0) return fail(name == "quit" ? "quit" : "hangup");
  } else {
    *error = "unknown command: " + words[0];
    return false;
  }
  return true;
}

}  // namespace

bool ParseCommand(const std::string& line, Command* command,
                  std::string* error) {
  std::vector<std::string> words = Words(line);
  if (words.empty()) {
    *error = "empty command";
    return false;
  }
  words[0] = Lower(words[0]);
  Command parsed;
  if (!ParseArguments(words, &parsed, error)) return false;
  *command = parsed;
  return true;
}

bool ParseSeconds(const std::string& text, std::int64_t* milliseconds) {
  const std::size_t dot = text.find('.');
  const std::string whole = text.substr(0, dot);
  std::string fraction = dot == std::string::npos ? "" : text.substr(dot + 1);
  std::int64_t seconds = 0;
  if (!ParseDecimal(whole, 100LL * 24 * 3600, &seconds)) return false;
  if (fraction.size() > 3) return false;
  std::int64_t thousandths = 0;
  if (!fraction.empty()) {
    fraction.append(3 - fraction.size(), '0');
    if (!ParseDecimal(fraction, 999, &thousandths)) return false;
  } else if (dot != std::string::npos) {
    return false;
  }
  *milliseconds = seconds * 1000 + thousandths;
  return true;
}

namespace {

bool AddScheduled(const std::string& time, const std::string& text,
                  std::vector<ScheduledCommand>* schedule, std::string* error) {
  ScheduledCommand entry;
  if (!ParseSeconds(Trim(time), &entry.atMs)) {
    *error = "bad time \"" + Trim(time) + "\" (seconds, e.g. 10 or 2.5)";
    return false;
  }
  entry.text = Trim(text);
  if (!ParseCommand(entry.text, &entry.command, error)) {
    *error = "\"" + entry.text + "\": " + *error;
    return false;
  }
  schedule->push_back(entry);
  return true;
}

}  // namespace

bool ParseSchedule(const std::string& text,
                   std::vector<ScheduledCommand>* schedule,
                   std::string* error) {
  std::istringstream in(text);
  std::string item;
  while (std::getline(in, item, ';')) {
    if (Trim(item).empty()) continue;
    const std::size_t colon = item.find(':');
    if (colon == std::string::npos) {
      *error = "\"" + Trim(item) + "\": expected T:command";
      return false;
    }
    if (!AddScheduled(item.substr(0, colon), item.substr(colon + 1), schedule,
                      error))
      return false;
  }
  return true;
}

bool ParseScriptLine(const std::string& line,
                     std::vector<ScheduledCommand>* schedule,
                     std::string* error) {
  const std::string trimmed = Trim(line);
  if (trimmed.empty() || trimmed[0] == '#') return true;
  const std::size_t space = trimmed.find_first_of(" \t");
  if (space == std::string::npos) {
    *error = "\"" + trimmed + "\": expected T command";
    return false;
  }
  return AddScheduled(trimmed.substr(0, space), trimmed.substr(space + 1),
                      schedule, error);
}

// ---- The simulated box ----------------------------------------------------

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
