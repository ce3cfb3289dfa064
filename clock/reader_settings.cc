// The settings word, shared by the setup dialog (which saves it) and the
// service (which reads it when its worker starts).
#include <cstdint>

#include "clock/time_code_clock.h"
#include "platform/settings_store.h"
#include "platform/system_error.h"

namespace {

constexpr std::uint32_t kPortShift = 24;
constexpr std::uint32_t kPortBits = 0x0F000000;
constexpr std::uint32_t kPalBit = 1u << 29;
constexpr std::uint32_t kSystemTimeBit = 1u << 30;

}  // namespace

void CTimeCodeClock::LoadSettings() {
  m_comPort = 1;
  m_settingsLow = 0;
  m_isPal = 0;
  m_useSystemTime = 0;
  m_settingsWord = 0;

  platform::SettingsKey key;
  if (!platform::OpenSettingsKey(kSettingsKeyPath, &key)) return;
  // A value shorter than four bytes fills the low bytes only, as the
  // registry would; a longer one is no value at all.
  std::uint32_t word = 0;
  std::uint32_t size = sizeof word;
  const int found =
      platform::ReadSettingsValue(key, kSettingsValueName, &word, &size);
  platform::CloseSettingsKey(key);
  if (!found) return;

  m_settingsWord = word;
  m_settingsLow = static_cast<std::uint16_t>(word & 0xFFFF);
  if (word & kSystemTimeBit) m_useSystemTime = 1;
  if (word & kPalBit) m_isPal = 1;
  const std::int32_t port =
      static_cast<std::int32_t>((word & kPortBits) >> kPortShift);
  m_comPort = port == 0 ? 1 : port;
}

std::int32_t CTimeCodeClock::SaveSettings() {
  std::uint32_t word =
      ((static_cast<std::uint32_t>(m_comPort) & 0xF) << kPortShift) |
      (m_settingsWord & ~kPortBits);
  word = m_useSystemTime ? (word | kSystemTimeBit) : (word & ~kSystemTimeBit);
  word = m_isPal ? (word | kPalBit) : (word & ~kPalBit);
  word = (word & 0xFFFF0000) | m_settingsLow;
  m_settingsWord = word;

  platform::SettingsKey key;
  if (!platform::OpenSettingsKey(kSettingsKeyPath, &key)) return 0;
  // A write that did not reach the store is not reported as a save; its
  // error outlives the closing, for the caller to tell the user why.
  const int written =
      platform::WriteSettingsDword(key, kSettingsValueName, m_settingsWord);
  const std::uint32_t error = platform::GetLastError();
  platform::CloseSettingsKey(key);
  if (!written) platform::SetLastError(error);
  return written ? 1 : 0;
}
