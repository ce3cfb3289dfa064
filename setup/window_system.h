// The window system seen from the dialog framework: what a dialog back end
// must offer so that the same dialog logic runs over Win32 dialogs, over GTK 3
// and over the recording fake of the tests. Names avoid those that Win32
// headers turn into macros (SetDlgItemText, MessageBox, LoadString ...), since
// the Win32 back end includes this after <windows.h>.
#pragma once

#include <cstdint>

#include "setup/dialog_templates.h"

namespace setup {

// A dialog window as its back end knows it; null means none.
using DialogHandle = void*;
// A loaded icon as its back end knows it; null means none.
using IconHandle = void*;
// A paint context opened by BeginIconPaint; null when there is none.
using PaintHandle = void*;

// Message numbers, as the dialog framework's message maps name them. They
// keep the values of their Win32 counterparts so that the Win32 back end hands
// them over unchanged.
inline constexpr std::uint32_t kMsgInitDialog = 0x0110;
inline constexpr std::uint32_t kMsgCommand = 0x0111;
inline constexpr std::uint32_t kMsgSysCommand = 0x0112;
inline constexpr std::uint32_t kMsgTimer = 0x0113;
inline constexpr std::uint32_t kMsgPaint = 0x000F;
inline constexpr std::uint32_t kMsgQueryDragIcon = 0x0037;
inline constexpr std::uint32_t kNotifyClicked = 0;  // button notification

inline constexpr std::uint32_t kBeepSimple = 0xFFFFFFFF;
inline constexpr std::uint32_t kBoxOk = 0x00000000;
inline constexpr std::uint32_t kBoxIconError = 0x00000010;

// What a back end calls on the dialog it runs; the framework's CDialog
// implements it.
class DialogEvents {
 public:
  virtual ~DialogEvents() = default;
  // The window exists with all its controls; the dialog initialises it.
  // Returns nonzero to let the back end put the focus on the first tab stop.
  virtual int Initialize(DialogHandle window) = 0;
  // One window message. Returns true when the dialog handled it; `result` is
  // then the message's result. False asks for the back end's default.
  virtual bool Dispatch(std::uint32_t message, std::uintptr_t wParam,
                        std::intptr_t lParam, std::intptr_t* result) = 0;
  // The window is gone (the modal run has ended).
  virtual void Destroyed() = 0;
};

struct ClientSize {
  int width;
  int height;
};

class WindowSystem {
 public:
  virtual ~WindowSystem() = default;

  // Builds the window from `dialog`, runs it modally over `owner` (null for
  // none) and returns the value given to EndModal, or -1 when the window
  // could not be created.
  virtual std::intptr_t RunModal(const DialogTemplate& dialog,
                                 DialogHandle owner, DialogEvents* events) = 0;
  virtual void EndModal(DialogHandle window, std::intptr_t result) = 0;

  // Controls by their ID. Check states: 0 unchecked, 1 checked.
  virtual void SetCheck(DialogHandle window, int id, int state) = 0;
  virtual int GetCheck(DialogHandle window, int id) = 0;
  virtual void SetItemText(DialogHandle window, int id, const char* text) = 0;
  virtual void EnableItem(DialogHandle window, int id, bool enable) = 0;

  // A restartable timer on the window's own thread: setting an armed timer
  // starts its count-down again. Ticks arrive as kMsgTimer.
  virtual void StartTimer(DialogHandle window, std::uintptr_t id,
                          std::uint32_t milliseconds) = 0;
  virtual void StopTimer(DialogHandle window, std::uintptr_t id) = 0;

  // The window's system menu; false when it has none.
  virtual bool HasSystemMenu(DialogHandle window) = 0;
  virtual void AppendSystemMenuSeparator(DialogHandle window) = 0;
  virtual void AppendSystemMenuItem(DialogHandle window, std::uint32_t command,
                                    const char* text) = 0;

  // Resources: the text of string `id` (empty when there is none) and icon
  // group `id`.
  virtual void ReadStringResource(int id, char* text, int size) = 0;
  virtual IconHandle LoadIconResource(int id) = 0;
  virtual void SetWindowIcon(DialogHandle window, bool big,
                             IconHandle icon) = 0;

  // Painting a minimized window.
  virtual bool IsMinimized(DialogHandle window) = 0;
  virtual PaintHandle BeginIconPaint(DialogHandle window) = 0;
  virtual void EraseIconBackground(DialogHandle window, PaintHandle paint) = 0;
  virtual int IconWidth() = 0;
  virtual int IconHeight() = 0;
  virtual ClientSize GetClientSize(DialogHandle window) = 0;
  virtual void DrawIconAt(PaintHandle paint, int x, int y, IconHandle icon) = 0;
  virtual void EndIconPaint(DialogHandle window, PaintHandle paint) = 0;

  virtual void Beep(std::uint32_t type) = 0;
  // A modal message box; returns when the person has closed it.
  virtual void ShowMessageBox(DialogHandle owner, const char* text,
                              const char* caption, std::uint32_t style) = 0;
};

// The window system of this build (GTK or Win32), defined by the back end.
WindowSystem& NativeWindowSystem();

// Installs a replacement (tests); nullptr restores the native one.
void UseWindowSystem(WindowSystem* windows);
WindowSystem& Windows();

}  // namespace setup
