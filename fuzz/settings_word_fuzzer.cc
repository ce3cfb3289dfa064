// The settings value's text as its file may hold it: at most 32 bytes, cut
// at the first NUL. A word is accepted exactly when the text is an optional
// 0x, one to eight hex digits and white space; its value is what strtoul
// reads; and the text a save writes reads back as the same word.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_check.h"
#include "platform/posix/settings_word.h"

namespace {

constexpr std::size_t kLongestValueText = 32;

bool LooksLikeWord(const char* text) {
  const char* p = text;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) p += 2;
  const std::size_t digits = std::strspn(p, "0123456789abcdefABCDEF");
  const char* rest = p + digits;
  return digits >= 1 && digits <= 8 &&
         std::strspn(rest, " \t\r\n") == std::strlen(rest);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  char text[kLongestValueText + 1] = {};
  std::memcpy(text, data, size < kLongestValueText ? size : kLongestValueText);

  std::uint32_t word = 0xDEADBEEF;
  const bool accepted = platform::ParseSettingsWord(text, &word);
  FUZZ_CHECK(accepted == LooksLikeWord(text));
  if (!accepted) return 0;
  FUZZ_CHECK(word == std::strtoul(text, nullptr, 16));

  char saved[16];
  std::snprintf(saved, sizeof saved, "0x%08X\n", static_cast<unsigned>(word));
  std::uint32_t reread = ~word;
  FUZZ_CHECK(platform::ParseSettingsWord(saved, &reread) && reread == word);
  return 0;
}
