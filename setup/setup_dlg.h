// Moravel's main window: chooses the box's settings, saves them for the
// service, and tests the box with a live time code display.
#pragma once

#include <cstdint>

#include "clock/time_code_clock.h"
#include "setup/framework.h"

namespace setup {

inline constexpr char kSerialPortClosedText[] = "Serial Port Closed";
inline constexpr char kNotTestingText[] = "Not Testing";
inline constexpr char kInitializingText[] = "Initializing";
inline constexpr char kPortOpenText[] = "Com Port Open. Quorvel found";
inline constexpr char kInitErrorText[] = "Initialization Error! Check Settings";
inline constexpr char kNoTimeCodeText[] = "No_Time_Code";
// A failed SAVE: this line, then the system's text for why.
inline constexpr char kNotSavedText[] = "The settings were not saved.";
inline constexpr char kNotSavedCaption[] = "Settings Not Saved";

inline constexpr std::uintptr_t kPollTimerId = 1;
inline constexpr std::uint32_t kPollIntervalMs = 150;
inline constexpr std::uint32_t kAboutCommand = 0x10;
// The status box is refreshed when the tick count exceeds this.
inline constexpr std::int32_t kTicksPerStatusRefresh = 20;

class CSetupDlg : public CDialog {
 public:
  explicit CSetupDlg(CWnd* parent = nullptr);
  ~CSetupDlg() override;

  int OnInitDialog() override;
  void OnOK() override;

  IconHandle m_appIcon;
  std::int32_t m_tickCount;
  std::int32_t m_running;
  std::int32_t m_beepOnSet;
  CTimeCodeClock m_clock;

 protected:
  void OnSysCommand(std::uint32_t code, std::intptr_t lParam);
  void OnPaint();
  IconHandle OnQueryDragIcon();
  void OnLocalTime();
  void OnSystemTime();
  void OnCom1();
  void OnCom2();
  void OnCom3();
  void OnCom4();
  void OnHelp();
  void OnSave();
  void OnTestRun();
  void OnNtsc();
  void OnPal();
  void OnSetPcClock();
  void OnTimer(std::uintptr_t id);
  void OnBeepOnSet();

  DECLARE_MESSAGE_MAP()

 private:
  void AppendAboutEntry();
  void ShowSettings();
  void StartTest();
  void StopTest();
  void ShowTimeCode();
  void RefreshStatusEveryFewTicks();
  void OpenAboutHelp();
};

}  // namespace setup
