// A test aid that the real program carries, because the GUI tests drive the
// real program: with MORAVEL_CONTROL_MAP naming a file, the window-system
// back end appends where each dialog's controls are on the screen and what
// they show, so that a test clicks them with real pointer events and reads
// their state back. Lines:
//   dialog ID
//   window X Y WIDTH HEIGHT                    (the dialog's frame, Win32)
//   NAME X Y WIDTH HEIGHT CHECKED ENABLED TEXT (NAME a control ID or sysmenu)
//   focus ID                                   (the control with the focus)
//   end ID
//   messagebox TEXT                            (an open message box, GTK)
#pragma once

#include <cstdio>
#include <string>

class CControlMap {
 public:
  // True when a test asked for the map.
  static bool Wanted();

  // Opens the map for appending; writes nothing when it is not wanted or
  // cannot be opened.
  CControlMap();
  ~CControlMap();
  CControlMap(const CControlMap&) = delete;
  CControlMap& operator=(const CControlMap&) = delete;

  void BeginDialog(int dialogId);
  void Window(long x, long y, long width, long height);
  void Control(const std::string& name, long x, long y, long width, long height,
               unsigned checked, bool enabled, const std::string& text);
  void Focus(int controlId);
  void EndDialog(int dialogId);
  // Line breaks in the text become blanks, so the box stays one line.
  void OpenMessageBox(std::string text);

 private:
  std::FILE* m_out;
};
