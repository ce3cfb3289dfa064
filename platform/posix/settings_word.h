// The text of a settings value in the file store, as read from its file.
#pragma once

#include <cstdint>

namespace platform {

// Accepts an optional 0x, one to eight hex digits and trailing white space;
// anything else is no word. `text` ends at its first NUL.
bool ParseSettingsWord(const char* text, std::uint32_t* word);

}  // namespace platform
