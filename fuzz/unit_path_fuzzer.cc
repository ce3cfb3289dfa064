// The program path as it goes into the unit's ExecStart= line. The path is
// whatever the installing user's system gives (any byte but NUL), and
// systemd reads the word back by its own rules, modelled here: words end at
// a blank, tab, newline or carriage return outside quotes; "..." and '...'
// quote; a backslash starts a C escape inside and outside quotes; '%' starts
// a specifier and "%%" is a literal '%'. A unit line ends at a newline or a
// carriage return.
//
// What must always hold: the word stays on one line, systemd reads back
// exactly one word from it, and that word is the path; the whole unit has
// as many lines as for a plain path.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_check.h"
#include "service/systemd_unit.h"

namespace {

bool IsSeparator(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// The escapes a writer of unit words may need; any other one is refused, so
// the quoting must not produce it.
bool Unescape(char c, std::string* word) {
  switch (c) {
    case '\\':
    case '"':
    case '\'':
      *word += c;
      return true;
    case 'n':
      *word += '\n';
      return true;
    case 'r':
      *word += '\r';
      return true;
    case 't':
      *word += '\t';
      return true;
    default:
      return false;
  }
}

// The words of `text` once unquoted and unescaped; false on anything this
// reader does not know (a trailing backslash, an unclosed quote, an unknown
// escape).
bool SplitWords(const std::string& text, std::string* first, int* count) {
  *count = 0;
  std::size_t i = 0;
  for (;;) {
    while (i < text.size() && IsSeparator(text[i])) ++i;
    if (i == text.size()) return true;
    std::string word;
    char quote = 0;
    for (; i < text.size(); ++i) {
      const char c = text[i];
      if (quote == 0 && IsSeparator(c)) break;
      if (c == '\\') {
        if (++i == text.size() || !Unescape(text[i], &word)) return false;
      } else if (quote == 0 && (c == '"' || c == '\'')) {
        quote = c;
      } else if (c == quote) {
        quote = 0;
      } else {
        word += c;
      }
    }
    if (quote != 0) return false;
    if (++*count == 1) *first = word;
  }
}

// The word after specifier expansion; false when it holds a specifier.
bool ResolveSpecifiers(const std::string& word, std::string* resolved) {
  resolved->clear();
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (word[i] != '%') {
      *resolved += word[i];
    } else if (i + 1 < word.size() && word[i + 1] == '%') {
      *resolved += '%';
      ++i;
    } else {
      return false;
    }
  }
  return true;
}

std::size_t Lines(const std::string& text) {
  std::size_t lines = 0;
  for (const char c : text) lines += c == '\n' || c == '\r';
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  // A program path is absolute; its first byte alone keeps systemd's
  // prefixes ('-', '@', '+', ...) out of play.
  std::string path = "/";
  for (std::size_t i = 0; i < size; ++i)
    if (data[i] != 0) path += static_cast<char>(data[i]);

  const std::string word = QuoteUnitPath(path);
  FUZZ_CHECK(Lines(word) == 0);
  std::string first;
  int words = 0;
  FUZZ_CHECK(SplitWords(word, &first, &words));
  FUZZ_CHECK(words == 1);
  std::string resolved;
  FUZZ_CHECK(ResolveSpecifiers(first, &resolved));
  FUZZ_CHECK(resolved == path);

  static const std::size_t plainLines = Lines(RenderUnit("/usr/bin/ventrel"));
  FUZZ_CHECK(Lines(RenderUnit(path)) == plainLines);
  return 0;
}
