// The engine that both programs own: it connects to the box, compares the
// box's time code with the PC clock on every poll and, after six misses in a
// row and when its owner allows it, sets the PC clock's time of day.
#pragma once

#include <cstdint>

#include "clock/poll_timing.h"
#include "clock/time_code.h"
#include "link/box_link.h"
#include "platform/clock.h"

// What the engine saw and did, for its owner to report; the engine itself
// reports nothing. A difference is the box's code minus the PC clock reading
// in milliseconds, taken the short way round the day (within half a day
// either way), so a positive figure means the PC clock lags.
struct ClockFigures {
  // From the latest check.
  std::int32_t boxAnswered;  // its query brought a whole time code
  PackedTimeCode lastCode;   // the masked code of the latest such reply
  std::int32_t isPal;        // the mode the code was read in
  std::int32_t dropFrame;
  std::int32_t compared;         // a running code was compared with the clock
  std::int32_t withinTolerance;  // and was found in step
  std::int32_t differenceMs;     // what that comparison measured
  // From the latest setting that reached the system's set call; the counts
  // run from the engine's construction.
  std::uint32_t settingsTaken;
  std::uint32_t settingsRefused;
  platform::SYSTEMTIME setFrom;  // the clock reading that the setting replaced
  platform::SYSTEMTIME setTo;    // the record handed to the system
  std::int32_t setByMs;          // setTo minus setFrom
  std::int32_t setAccepted;
  std::uint32_t setError;  // the system's last error when it refused
};

class CTimeCodeClock {
 public:
  CTimeCodeClock();
  virtual ~CTimeCodeClock();
  CTimeCodeClock(const CTimeCodeClock&) = delete;
  CTimeCodeClock& operator=(const CTimeCodeClock&) = delete;

  void Connect(bool connect);
  // Nonzero only when this very call has set the PC clock.
  std::int32_t Poll();
  // 1: in tolerance, or no running time code; 0: a miss.
  std::int32_t CheckAgainstClock();
  std::int32_t SetClockFromTimeCode();
  std::int32_t FormatTimeCode(char* text);
  void RecordPoll(const platform::PreciseTime& before,
                  const platform::PreciseTime& after, PackedTimeCode code);

  // The settings word: bits 24-27 port (0 means 1), bit 29 PAL, bit 30
  // system time; every other bit is carried over unchanged.
  void LoadSettings();
  std::int32_t SaveSettings();

  std::int32_t m_noTimeCode;
  std::int32_t m_comPort;
  std::int32_t m_setClockEnabled;
  std::int32_t m_linkReady;
  std::int32_t m_dropFrame;
  std::int32_t m_useSystemTime;
  std::int32_t m_isPal;
  CBoxLink m_link;
  PackedTimeCode m_recentCodes[3];
  std::int32_t m_lineConfigured;
  std::int32_t m_portOpen;
  std::uint16_t m_settingsLow;
  std::uint32_t m_settingsWord;
  std::uint32_t m_missCount;
  platform::SYSTEMTIME m_clockTime;
  // The latest check's measurement, for owners that estimate within a frame.
  PollTiming m_lastPoll;
  ClockFigures m_figures;

 private:
  void RecordSetting(const platform::SYSTEMTIME& reading,
                     std::int32_t accepted);
};

// Where the settings word lives.
inline constexpr char kSettingsKeyPath[] =
    "SYSTEM\\CurrentControlSet\\Services\\QuorvelToClk";
inline constexpr char kSettingsValueName[] = "TcBoxInfo";
