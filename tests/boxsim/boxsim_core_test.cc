#include "tools/boxsim/boxsim_core.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

namespace boxsim {
namespace {

Bytes Hex(const std::string& text) {
  Bytes bytes;
  for (std::size_t i = 0; i < text.size(); i += 3)
    bytes.push_back(static_cast<std::uint8_t>(
        std::strtoul(text.substr(i, 2).c_str(), nullptr, 16)));
  return bytes;
}

// ---- Time code ----------------------------------------------------------

TEST(BoxsimReply, TextShowsTheMaskedCodeHoursFirst) {
  EXPECT_EQ(TimeCodeText(0x22123055), "22:12:30:15");
}

// ---- Request framing ------------------------------------------------------

// "61 0C 03 70 | !13" lists events: complete frames plain, dropped bytes
// with a leading '!'.
std::string Describe(const std::vector<RequestParser::Event>& events) {
  std::string text;
  for (const RequestParser::Event& event : events) {
    if (!text.empty()) text += " | ";
    text += (event.complete ? "" : "!") + HexBytes(event.bytes);
  }
  return text;
}

struct ParserCase {
  std::vector<std::string> chunks;  // fed one after the other
  const char* fed;                  // events from all Feed calls
  const char* flushed;              // events from a Flush afterwards
};

TEST(BoxsimRequestParser, SplitsTheStreamIntoFrames) {
  const ParserCase cases[] = {
      {{"20 01 21 61 0C 03 70"}, "20 01 21 | 61 0C 03 70", ""},  // two at once
      {{"61", "0C 03", "70"}, "61 0C 03 70", ""},                // split
      {{"30 05 35"}, "30 05 35", ""},  // unknown kind, valid
      // The longest request.
      {{"0F 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 0F"},
       "0F 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 0F",
       ""},
      {{"20 01 22 20 01 21"}, "", "!20 01 22 | 20 01 21"},  // bad checksum
      // Garbage that resolves.
      {{"7F 20 01 21 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
       "!7F | 20 01 21 | 00 00 00 | 00 00 00 | 00 00 00 | 00 00 00 | 00 00 00",
       "!00 00"},
      {{"FE 61 0C 03 70"}, "", "!FE | 61 0C 03 70"},  // stray byte, query
      {{"13 20 01 21"}, "", "!13 | 20 01 21"},        // stray header waits
      {{"61 0C 03 71"}, "", "!61 0C 03 71"},          // bad query checksum
      {{"61 0C"}, "", "!61 0C"},                      // half a frame
  };
  for (const ParserCase& c : cases) {
    RequestParser parser;
    std::vector<RequestParser::Event> fed;
    for (const std::string& chunk : c.chunks) {
      const Bytes bytes = Hex(chunk);
      auto events = parser.Feed(bytes.data(), bytes.size());
      fed.insert(fed.end(), events.begin(), events.end());
    }
    EXPECT_EQ(Describe(fed), c.fed);
    EXPECT_EQ(Describe(parser.Flush()), c.flushed);
    EXPECT_FALSE(parser.HasPartial());
  }
}

// ---- Commands -------------------------------------------------------------

TEST(BoxsimCommand, AcceptsEveryCommandForm) {
  struct Case {
    const char* line;
    CommandKind kind;
    bool flag;
    std::int64_t number;
    bool relative;
  } cases[] = {
      {"  SILENCE   off ", CommandKind::kSilence, false, 0, false},
      {"short 0", CommandKind::kShort, false, 0, false},
      {"offset 250", CommandKind::kOffset, false, 250, false},
      {"offset -86400000", CommandKind::kOffset, false, -86400000, true},
      {"hangup", CommandKind::kHangup, false, 0, false},
      {"quit", CommandKind::kQuit, false, 0, false},
  };
  for (const Case& c : cases) {
    Command command;
    std::string error;
    ASSERT_TRUE(ParseCommand(c.line, &command, &error)) << c.line << error;
    EXPECT_EQ(
        std::tie(command.kind, command.flag, command.number, command.relative),
        std::tie(c.kind, c.flag, c.number, c.relative))
        << c.line;
  }
  Command command;
  std::string error;
  ASSERT_TRUE(ParseCommand("reply 74 0x0c ff 1", &command, &error));
  EXPECT_EQ(command.bytes, Hex("74 0C FF 01"));
}

TEST(BoxsimCommand, RefusesMalformedLinesWithAReason) {
  for (const char* line :
       {"", "bogus", "silence", "silence maybe", "checksum ok", "garbage 0",
        "short", "short 99999", "gap 1001", "reply", "reply 1G", "reply 123",
        "offset", "offset ++5", "offset +", "offset 99999999999999",
        "mode secam", "mode pal 2", "hangup now"}) {
    Command command;
    std::string error;
    EXPECT_FALSE(ParseCommand(line, &command, &error)) << line;
    EXPECT_FALSE(error.empty()) << line;
  }
}

// A schedule and a script's lines: times in seconds before their commands.
TEST(BoxsimSchedule, ReadsTimesInSecondsAndTheirCommands) {
  std::vector<ScheduledCommand> schedule, ignored;
  std::string error;
  ASSERT_TRUE(ParseSchedule("10:offset +5000; 20:silence on;;2.5:silence off",
                            &schedule, &error))
      << error;
  EXPECT_TRUE(ParseScriptLine(" 0.25\treply 10 01 11 ", &schedule, &error));
  ASSERT_EQ(schedule.size(), 4u);
  EXPECT_EQ(schedule[0].atMs, 10000);
  EXPECT_EQ(schedule[0].command.kind, CommandKind::kOffset);
  EXPECT_EQ(schedule[1].text, "silence on");
  EXPECT_EQ(schedule[2].atMs, 2500);
  EXPECT_EQ(schedule[3].atMs, 250);
  EXPECT_EQ(schedule[3].command.bytes, Hex("10 01 11"));
  for (const char* bad : {"10 silence on", "x:quit", "10:bogus", "-1:quit",
                          "1.2345:quit", "1.:quit", ":quit"})
    EXPECT_FALSE(ParseSchedule(bad, &ignored, &error)) << bad;
  for (const char* bad : {"3", "3 mode"})
    EXPECT_FALSE(ParseScriptLine(bad, &ignored, &error)) << bad;
}

// ---- The simulated box: a script of commands and requests -------------------

struct Step {
  const char* input;  // "> command" or request bytes
  const char* tx;     // expected answer ("" = none); ignored for commands
};

// A fresh box from `now` on; each request moves the time on by one second.
void Play(const std::vector<Step>& steps, BoxOptions options = {},
          TimeOfDay now = {22, 12, 30, 600}) {
  std::uint8_t counter = 0xA0;
  SimulatedBox box(options, [&counter] { return counter++; });
  for (const Step& step : steps) {
    SCOPED_TRACE(step.input);
    if (step.input[0] == '>') {
      Command command;
      std::string error;
      ASSERT_TRUE(ParseCommand(step.input + 1, &command, &error)) << error;
      box.Apply(command);
      continue;
    }
    const Answer answer = box.Respond(Hex(step.input), now);
    EXPECT_EQ(HexBytes(answer.tx), *step.tx ? step.tx : "-");
    EXPECT_FALSE(answer.note.empty());
    now = ShiftTimeOfDay(now, 1000);
  }
}

TEST(BoxsimBox, AnswersTheTwoExchangesAndFaultsAsCommanded) {
  Play({{"20 01 21", "10 01 11"},
        {"61 0C 03 70", "74 0C 15 31 12 22 FA"},
        {"30 05 35", ""},
        {"20 02 22", ""},
        {"61 0C 04 71", ""}});
  // Silence, freeze and a bad checksum last until undone.
  Play({{"> silence on", ""},
        {"61 0C 03 70", ""},
        {"> silence off", ""},
        {"61 0C 03 70", "74 0C 15 31 12 22 FA"},
        {"> freeze on", ""},
        {"61 0C 03 70", "74 0C 15 31 12 22 FA"},
        {"> freeze off", ""},
        {"61 0C 03 70", "74 0C 15 33 12 22 FC"},
        {"> checksum bad", ""},
        {"20 01 21", "10 01 12"},
        {"61 0C 03 70", "74 0C 15 35 12 22 FF"},
        {"> checksum good", ""},
        {"20 01 21", "10 01 11"}});
  // Garbage, a short reply and a given reply hit only the next answer.
  Play({{"> garbage 4", ""},
        {"61 0C 03 70", "A0 A1 A2 A3"},
        {"20 01 21", "10 01 11"},
        {"> short 3", ""},
        {"61 0C 03 70", "74 0C 15"},
        {"61 0C 03 70", "74 0C 15 33 12 22 FC"},
        {"> short 10", ""},
        {"20 01 21", "10 01 11"},
        {"> silence on", ""},
        {"> reply 12 01 11", ""},
        {"20 01 21", "12 01 11"},
        {"20 01 21", ""},
        {"> garbage 1", ""},
        {"30 05 35", "A4"}});
}

// The box counts with the PC side's own arithmetic; what is its own, the
// standard each mode stands for and the drop-frame flag, shows in the codes.
TEST(BoxsimBox, OffsetJumpsAndModeChangesShowInTheCode) {
  Play({{"> offset +5000", ""},
        {"61 0C 03 70", "74 0C 15 35 12 22 FE"},
        {"> offset -65000", ""},
        {"61 0C 03 70", "74 0C 15 31 11 22 F9"},
        {"> offset 0", ""},
        {"> mode ntsc-df", ""},
        {"61 0C 03 70", "74 0C 58 32 12 22 3E"},
        {"> mode ntsc", ""},
        {"61 0C 03 70", "74 0C 18 33 12 22 FF"}});
  // A starting offset carries across midnight either way, onto its first
  // millisecond or back from it.
  Play({{"61 0C 03 70", "74 0C 00 00 00 00 80"}}, {Mode::kPal, 1000},
       {23, 59, 59, 0});
  Play({{"61 0C 03 70", "74 0C 24 59 59 23 79"}}, {Mode::kPal, -1},
       {0, 0, 0, 0});
}

}  // namespace
}  // namespace boxsim
