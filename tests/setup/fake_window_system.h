// A window system for dialog tests: it builds its controls from the same
// dialog templates as the real back ends, behaves like auto radio buttons and
// auto check boxes when the test clicks, keeps a restartable timer per window
// that fires only when the test says so, and records texts, beeps, message
// boxes, menu entries and icons.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "setup/window_system.h"

namespace fakes {

struct FakeControl {
  const setup::ControlTemplate* source;
  int check = 0;
  bool enabled = true;
  std::string text;
};

struct FakeDialog {
  const setup::DialogTemplate* source = nullptr;
  setup::DialogEvents* events = nullptr;
  std::vector<FakeControl> controls;
  std::vector<std::string> systemMenu;             // "-" for a separator
  std::map<std::uintptr_t, std::uint32_t> timers;  // id -> milliseconds
  int timerStarts = 0;
  setup::IconHandle bigIcon = nullptr;
  setup::IconHandle smallIcon = nullptr;
  bool ended = false;
  std::intptr_t result = 0;
  int initResult = 0;
};

struct FakeMessageBox {
  setup::DialogHandle owner;
  std::string text;
  std::string caption;
  std::uint32_t style;
};

class FakeWindowSystem : public setup::WindowSystem {
 public:
  using ModalScript = std::function<void(FakeDialog&)>;

  FakeWindowSystem();
  ~FakeWindowSystem() override;

  // What happens while a dialog of this template runs modally. Without a
  // script the dialog is closed at once with its OK command.
  void OnModal(int templateId, ModalScript script);

  // Person-like actions on the innermost open dialog. A click on a disabled
  // control does nothing and returns false.
  bool Click(int id);
  // Fires timer `id` when it is armed; false when it is not.
  bool Tick(std::uintptr_t id = 1);
  bool SysCommand(std::uint32_t code);
  std::intptr_t QueryDragIcon();
  void Command(int id);

  FakeDialog& Current();
  FakeControl& Control(int id);
  int Check(int id) { return Control(id).check; }
  bool Enabled(int id) { return Control(id).enabled; }
  const std::string& Text(int id) { return Control(id).text; }
  bool TimerArmed(std::uintptr_t id = 1);

  // Settings of the fake itself.
  bool m_hasSystemMenu = true;
  std::string m_aboutString = "&About Moravel...";

  // Records.
  std::vector<int> m_modalRuns;  // template IDs, in order of their start
  std::vector<std::intptr_t> m_modalResults;
  std::vector<std::uint32_t> m_beeps;
  std::vector<FakeMessageBox> m_messageBoxes;
  std::vector<std::pair<int, std::string>> m_textLog;
  // Called at each message box, e.g. to look at the dialog meanwhile.
  std::function<void(const FakeMessageBox&)> m_onMessageBox;

  // setup::WindowSystem
  std::intptr_t RunModal(const setup::DialogTemplate& dialog,
                         setup::DialogHandle owner,
                         setup::DialogEvents* events) override;
  void EndModal(setup::DialogHandle window, std::intptr_t result) override;
  void SetCheck(setup::DialogHandle window, int id, int state) override;
  int GetCheck(setup::DialogHandle window, int id) override;
  void SetItemText(setup::DialogHandle window, int id,
                   const char* text) override;
  void EnableItem(setup::DialogHandle window, int id, bool enable) override;
  void StartTimer(setup::DialogHandle window, std::uintptr_t id,
                  std::uint32_t milliseconds) override;
  void StopTimer(setup::DialogHandle window, std::uintptr_t id) override;
  bool HasSystemMenu(setup::DialogHandle window) override;
  void AppendSystemMenuSeparator(setup::DialogHandle window) override;
  void AppendSystemMenuItem(setup::DialogHandle window, std::uint32_t command,
                            const char* text) override;
  void ReadStringResource(int id, char* text, int size) override;
  setup::IconHandle LoadIconResource(int id) override;
  void SetWindowIcon(setup::DialogHandle window, bool big,
                     setup::IconHandle icon) override;
  // Never minimized: only Windows paints a minimized dialog's icon, and
  // these tests look at no pixels.
  bool IsMinimized(setup::DialogHandle) override { return false; }
  setup::PaintHandle BeginIconPaint(setup::DialogHandle) override {
    return nullptr;
  }
  void EraseIconBackground(setup::DialogHandle, setup::PaintHandle) override {}
  int IconWidth() override { return 32; }
  int IconHeight() override { return 32; }
  setup::ClientSize GetClientSize(setup::DialogHandle) override { return {}; }
  void DrawIconAt(setup::PaintHandle, int, int, setup::IconHandle) override {}
  void EndIconPaint(setup::DialogHandle, setup::PaintHandle) override {}
  void Beep(std::uint32_t type) override;
  void ShowMessageBox(setup::DialogHandle owner, const char* text,
                      const char* caption, std::uint32_t style) override;

  // Icons hand out the address of these, by group.
  static setup::IconHandle IconOf(int id);

 private:
  FakeDialog& Of(setup::DialogHandle window);
  FakeControl* Find(FakeDialog& dialog, int id);
  void ApplyAutoState(FakeDialog& dialog, int index);
  bool Send(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam,
            std::intptr_t* result);

  std::vector<std::unique_ptr<FakeDialog>> m_open;  // innermost last
  std::map<int, ModalScript> m_scripts;
};

}  // namespace fakes
