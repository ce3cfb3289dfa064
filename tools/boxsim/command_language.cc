#include "tools/boxsim/command_language.h"

#include <cctype>
#include <sstream>

namespace boxsim {

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
constexpr std::int64_t kGapLimitMs = 1000;

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
  } else if (name == "gap") {
    command->kind = CommandKind::kGap;
    if (arguments != 1 || !ParseDecimal(first, kGapLimitMs, &command->number))
      return fail("gap MS (MS from 0 to 1000)");
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

}  // namespace boxsim
