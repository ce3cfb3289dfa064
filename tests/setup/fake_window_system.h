// A window system for dialog tests: it builds its controls from the same
// dialog templates as the real back ends, behaves like auto check boxes when
// the test clicks (the dialog reads no radio button, so theirs show only what
// the dialog sets), keeps a restartable timer per window that fires only when
// the test says so, and records beeps, message boxes, menu entries and icons.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "setup/window_system.h"

namespace fakes {

struct FakeControl {
  const setup::ControlTemplate* source;
  int check;
  bool enabled;
  std::string text;
};

struct FakeDialog {
  setup::DialogEvents* events = nullptr;
  std::map<int, FakeControl> controls;             // by ID
  std::vector<std::string> systemMenu;             // "-" for a separator
  std::map<std::uintptr_t, std::uint32_t> timers;  // id -> milliseconds
  int timerStarts = 0;
  setup::IconHandle bigIcon = nullptr;
  setup::IconHandle smallIcon = nullptr;
  bool ended = false;
  std::intptr_t result = 0;
  int initResult = 0;
};

class FakeWindowSystem : public setup::WindowSystem {
 public:
  using ModalScript = std::function<void(FakeDialog&)>;

  FakeWindowSystem() { setup::UseWindowSystem(this); }
  ~FakeWindowSystem() override { setup::UseWindowSystem(nullptr); }

  // What happens while a dialog of this template runs modally. A run that
  // its script leaves open returns -2.
  void OnModal(int templateId, ModalScript script) {
    m_scripts[templateId] = std::move(script);
  }

  // Person-like actions on the innermost open dialog. A click on a disabled
  // control does nothing and returns false.
  bool Click(int id) {
    FakeDialog& dialog = Current();
    FakeControl& clicked = Control(id);
    if (!clicked.enabled || dialog.ended) return false;
    const setup::ControlKind kind = setup::KindOf(*clicked.source);
    if (kind == setup::ControlKind::kCheckBox ||
        kind == setup::ControlKind::kToggleButton)
      clicked.check = clicked.check == 1 ? 0 : 1;
    Command(id);
    return true;
  }
  // Fires timer `id` when it is armed; false when it is not.
  bool Tick(std::uintptr_t id = 1) {
    if (Current().ended || Current().timers.count(id) == 0) return false;
    Send(setup::kMsgTimer, id);
    return true;
  }
  bool SysCommand(std::uint32_t code) {
    return Send(setup::kMsgSysCommand, code);
  }
  void Command(int id) {
    Send(setup::kMsgCommand, static_cast<std::uint32_t>(id) & 0xFFFF);
  }

  FakeDialog& Current() {
    if (m_open.empty()) throw std::logic_error("no dialog open");
    return *m_open.back();
  }
  FakeControl& Control(int id) { return Current().controls.at(id); }
  int Check(int id) { return Control(id).check; }
  bool Enabled(int id) { return Control(id).enabled; }
  const std::string& Text(int id) { return Control(id).text; }

  // Settings of the fake itself.
  bool m_hasSystemMenu = true;
  std::string m_aboutString = "&About Moravel...";

  // Records.
  std::vector<int> m_modalRuns;  // template IDs, in order of their start
  std::vector<std::uint32_t> m_beeps;
  // "caption: text (style)", and " owned" when it has an owner.
  std::vector<std::string> m_messageBoxes;
  // Called at each message box, e.g. to look at the dialog meanwhile.
  std::function<void()> m_onMessageBox;

  // setup::WindowSystem
  std::intptr_t RunModal(const setup::DialogTemplate& source,
                         setup::DialogHandle,
                         setup::DialogEvents* events) override {
    m_modalRuns.push_back(source.resourceId);
    m_open.push_back(std::make_unique<FakeDialog>());
    FakeDialog& opened = *m_open.back();
    opened.events = events;
    for (int i = 0; i < source.controlCount; ++i) {
      const setup::ControlTemplate& control = source.controls[i];
      if (control.id == setup::kNoControlId) continue;
      opened.controls[control.id] = {&control, 0, true, control.caption};
    }
    opened.initResult = events->Initialize(&opened);
    auto script = m_scripts.find(source.resourceId);
    if (script != m_scripts.end()) script->second(opened);
    const std::intptr_t result = opened.ended ? opened.result : -2;
    events->Destroyed();
    m_open.pop_back();
    return result;
  }
  void EndModal(setup::DialogHandle window, std::intptr_t result) override {
    FakeDialog& dialog = Of(window);
    dialog.ended = true;
    dialog.result = result;
    // Ending the modal run destroys the window, and its timers with it.
    dialog.timers.clear();
  }
  // A control the template lacks is a fault: at() throws.
  void SetCheck(setup::DialogHandle window, int id, int state) override {
    Of(window).controls.at(id).check = state;
  }
  int GetCheck(setup::DialogHandle window, int id) override {
    return Of(window).controls.at(id).check;
  }
  void SetItemText(setup::DialogHandle window, int id,
                   const char* text) override {
    Of(window).controls.at(id).text = text;
  }
  void EnableItem(setup::DialogHandle window, int id, bool enable) override {
    Of(window).controls.at(id).enabled = enable;
  }
  void StartTimer(setup::DialogHandle window, std::uintptr_t id,
                  std::uint32_t milliseconds) override {
    Of(window).timers[id] = milliseconds;
    ++Of(window).timerStarts;
  }
  void StopTimer(setup::DialogHandle window, std::uintptr_t id) override {
    Of(window).timers.erase(id);
  }
  bool HasSystemMenu(setup::DialogHandle) override { return m_hasSystemMenu; }
  void AppendSystemMenuSeparator(setup::DialogHandle window) override {
    Of(window).systemMenu.push_back("-");
  }
  void AppendSystemMenuItem(setup::DialogHandle window, std::uint32_t command,
                            const char* text) override {
    Of(window).systemMenu.push_back(std::to_string(command) + ":" + text);
  }
  void ReadStringResource(int id, char* text, int size) override {
    std::snprintf(text, static_cast<std::size_t>(size), "%s",
                  id == setup::kAboutMenuStringId ? m_aboutString.c_str() : "");
  }
  setup::IconHandle LoadIconResource(int id) override { return IconOf(id); }
  void SetWindowIcon(setup::DialogHandle window, bool big,
                     setup::IconHandle icon) override {
    (big ? Of(window).bigIcon : Of(window).smallIcon) = icon;
  }
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
  void Beep(std::uint32_t type) override { m_beeps.push_back(type); }
  void ShowMessageBox(setup::DialogHandle owner, const char* text,
                      const char* caption, std::uint32_t style) override {
    m_messageBoxes.push_back(std::string(caption) + ": " + text + " (" +
                             std::to_string(style) + ")" +
                             (owner != nullptr ? " owned" : ""));
    if (m_onMessageBox) m_onMessageBox();
  }

  // Icons hand out the address of these, by group.
  static setup::IconHandle IconOf(int id) {
    static char icons[256];
    return &icons[id & 0xFF];
  }

 private:
  // The dialog must still be open: a handle kept past its window is a fault.
  FakeDialog& Of(setup::DialogHandle window) {
    for (auto& dialog : m_open) {
      if (dialog.get() == window) return *dialog;
    }
    throw std::logic_error("not an open dialog");
  }
  bool Send(std::uint32_t message, std::uintptr_t wParam) {
    FakeDialog& dialog = Current();
    std::intptr_t result = 0;
    return !dialog.ended &&
           dialog.events->Dispatch(message, wParam, 0, &result);
  }

  std::vector<std::unique_ptr<FakeDialog>> m_open;  // innermost last
  std::map<int, ModalScript> m_scripts;
};

}  // namespace fakes
