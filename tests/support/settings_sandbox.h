// A settings store of the test's own: a fresh temporary root where the store
// is a folder, an emptied key where it is the registry. Natively every test
// program that links this gets a private root before its first test, so
// nothing reads or writes the machine's settings; under Wine the prefix is
// private to the build tree already.
#pragma once

#include <cstdint>
#include <string>

#include "clock/time_code_clock.h"
#include "platform/settings_store.h"

namespace settings_sandbox {

void Reset();
// A fresh root whose dosdevices/com1 points at `target`, so COM1 opens it
// (where the root is a folder).
void MapCom1(const std::string& target);
bool KeyExists();
// Writes raw bytes as the value, bypassing the store's own writer.
void PutRawValue(const void* data, std::uint32_t size);
// The value's bytes as stored.
std::string RawValue();
// While on, a save fails with a system error (the key is read-only where it
// is the registry; where it is a folder, the value's name is taken by a
// folder, which stops even a user who may write anywhere). The system's text
// for that error is given back.
std::string BlockSaving(bool on);
// The key's folder (where the root is a folder).
std::string KeyFolder();

// The settings word through the store's own writer and reader; a word that
// cannot be read comes back as 0xDEADBEEF.
inline bool StoreWord(std::uint32_t word) {
  platform::SettingsKey key;
  if (!platform::OpenSettingsKey(kSettingsKeyPath, &key)) return false;
  const bool stored =
      platform::WriteSettingsDword(key, kSettingsValueName, word);
  platform::CloseSettingsKey(key);
  return stored;
}

inline std::uint32_t StoredWord() {
  platform::SettingsKey key;
  std::uint32_t word = 0xDEADBEEF;
  std::uint32_t size = sizeof word;
  if (!platform::OpenSettingsKey(kSettingsKeyPath, &key)) return word;
  if (!platform::ReadSettingsValue(key, kSettingsValueName, &word, &size))
    word = 0xDEADBEEF;
  platform::CloseSettingsKey(key);
  return word;
}

}  // namespace settings_sandbox
