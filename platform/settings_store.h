// The store that keeps the settings word: the registry on Windows, a file
// store in the registry's image elsewhere, below the settings folder that
// the machine's configuration names. Four operations, as the registry
// offers them.
#pragma once

#include <cstdint>

namespace platform {

using SettingsKey = std::intptr_t;

// Opens the key below the machine root (HKEY_LOCAL_MACHINE on Windows),
// creating it when it is missing and the caller may. Returns nonzero and
// fills `key` on success.
int OpenSettingsKey(const char* path, SettingsKey* key);

// Reads a value of at most *size bytes into `data`; *size becomes the
// value's length. Returns 0 when there is no such value, when it is longer
// than *size, or when it cannot be read.
int ReadSettingsValue(SettingsKey key, const char* name, void* data,
                      std::uint32_t* size);

// Writes a 32-bit word (REG_DWORD). Returns nonzero on success.
int WriteSettingsDword(SettingsKey key, const char* name, std::uint32_t value);

void CloseSettingsKey(SettingsKey key);

}  // namespace platform
