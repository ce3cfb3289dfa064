#include "tests/setup/fake_window_system.h"

#include <cstring>
#include <stdexcept>

namespace setup {
// The dialog library asks for the build's window system when none is
// installed; in tests that would be a fault.
WindowSystem& NativeWindowSystem() {
  throw std::logic_error("no window system installed");
}
}  // namespace setup

namespace fakes {
namespace {

using setup::ControlKind;

char g_icons[256];

}  // namespace

FakeWindowSystem::FakeWindowSystem() { setup::UseWindowSystem(this); }
FakeWindowSystem::~FakeWindowSystem() { setup::UseWindowSystem(nullptr); }

setup::IconHandle FakeWindowSystem::IconOf(int id) {
  return &g_icons[id & 0xFF];
}

void FakeWindowSystem::OnModal(int templateId, ModalScript script) {
  m_scripts[templateId] = std::move(script);
}

FakeDialog& FakeWindowSystem::Current() {
  if (m_open.empty()) throw std::logic_error("no dialog open");
  return *m_open.back();
}

FakeDialog& FakeWindowSystem::Of(setup::DialogHandle window) {
  for (auto& dialog : m_open) {
    if (dialog.get() == window) return *dialog;
  }
  throw std::logic_error("not an open dialog");
}

FakeControl* FakeWindowSystem::Find(FakeDialog& dialog, int id) {
  for (FakeControl& control : dialog.controls) {
    if (control.source->id == id) return &control;
  }
  return nullptr;
}

FakeControl& FakeWindowSystem::Control(int id) {
  FakeControl* control = Find(Current(), id);
  if (control == nullptr) throw std::logic_error("no such control");
  return *control;
}

bool FakeWindowSystem::TimerArmed(std::uintptr_t id) {
  return Current().timers.count(id) != 0;
}

std::intptr_t FakeWindowSystem::RunModal(const setup::DialogTemplate& source,
                                         setup::DialogHandle,
                                         setup::DialogEvents* events) {
  m_modalRuns.push_back(source.resourceId);
  auto dialog = std::make_unique<FakeDialog>();
  dialog->source = &source;
  dialog->events = events;
  for (int i = 0; i < source.controlCount; ++i) {
    FakeControl control;
    control.source = &source.controls[i];
    control.text = source.controls[i].caption;
    dialog->controls.push_back(control);
  }
  FakeDialog& opened = *dialog;
  m_open.push_back(std::move(dialog));
  opened.initResult = events->Initialize(&opened);
  auto script = m_scripts.find(source.resourceId);
  if (script != m_scripts.end()) {
    script->second(opened);
  } else {
    Command(setup::kIdOk);
  }
  std::intptr_t result = opened.ended ? opened.result : -2;
  events->Destroyed();
  m_open.pop_back();
  m_modalResults.push_back(result);
  return result;
}

void FakeWindowSystem::EndModal(setup::DialogHandle window,
                                std::intptr_t result) {
  FakeDialog& dialog = Of(window);
  dialog.ended = true;
  dialog.result = result;
  // Ending the modal run destroys the window, and its timers with it.
  dialog.timers.clear();
}

bool FakeWindowSystem::Send(std::uint32_t message, std::uintptr_t wParam,
                            std::intptr_t lParam, std::intptr_t* result) {
  FakeDialog& dialog = Current();
  if (dialog.ended) return false;
  std::intptr_t ignored = 0;
  return dialog.events->Dispatch(message, wParam, lParam,
                                 result != nullptr ? result : &ignored);
}

void FakeWindowSystem::ApplyAutoState(FakeDialog& dialog, int index) {
  const setup::DialogTemplate& source = *dialog.source;
  FakeControl& clicked = dialog.controls[index];
  switch (setup::KindOf(*clicked.source)) {
    case ControlKind::kCheckBox:
    case ControlKind::kToggleButton:
      clicked.check = clicked.check == 1 ? 0 : 1;
      break;
    case ControlKind::kRadioButton: {
      int first = setup::GroupStart(source, index);
      for (int i = first; i < source.controlCount; ++i) {
        if (i > first && (source.controls[i].style & setup::style::kGroup))
          break;
        if (setup::KindOf(source.controls[i]) == ControlKind::kRadioButton)
          dialog.controls[i].check = i == index ? 1 : 0;
      }
      break;
    }
    default:
      break;
  }
}

bool FakeWindowSystem::Click(int id) {
  FakeDialog& dialog = Current();
  for (std::size_t i = 0; i < dialog.controls.size(); ++i) {
    if (dialog.controls[i].source->id != id) continue;
    if (!dialog.controls[i].enabled || dialog.ended) return false;
    ApplyAutoState(dialog, static_cast<int>(i));
    Command(id);
    return true;
  }
  throw std::logic_error("no such control to click");
}

void FakeWindowSystem::Command(int id) {
  std::uintptr_t wParam = static_cast<std::uint32_t>(id) & 0xFFFF;
  Send(setup::kMsgCommand, wParam, 0, nullptr);
}

bool FakeWindowSystem::Tick(std::uintptr_t id) {
  if (Current().ended || !TimerArmed(id)) return false;
  Send(setup::kMsgTimer, id, 0, nullptr);
  return true;
}

bool FakeWindowSystem::SysCommand(std::uint32_t code) {
  return Send(setup::kMsgSysCommand, code, 0, nullptr);
}

std::intptr_t FakeWindowSystem::QueryDragIcon() {
  std::intptr_t result = 0;
  Send(setup::kMsgQueryDragIcon, 0, 0, &result);
  return result;
}

void FakeWindowSystem::SetCheck(setup::DialogHandle window, int id, int state) {
  FakeControl* control = Find(Of(window), id);
  if (control != nullptr) control->check = state;
}

int FakeWindowSystem::GetCheck(setup::DialogHandle window, int id) {
  FakeControl* control = Find(Of(window), id);
  return control != nullptr ? control->check : 0;
}

void FakeWindowSystem::SetItemText(setup::DialogHandle window, int id,
                                   const char* text) {
  FakeControl* control = Find(Of(window), id);
  if (control != nullptr) control->text = text;
  m_textLog.emplace_back(id, text);
}

void FakeWindowSystem::EnableItem(setup::DialogHandle window, int id,
                                  bool enable) {
  FakeControl* control = Find(Of(window), id);
  if (control != nullptr) control->enabled = enable;
}

void FakeWindowSystem::StartTimer(setup::DialogHandle window, std::uintptr_t id,
                                  std::uint32_t milliseconds) {
  FakeDialog& dialog = Of(window);
  dialog.timers[id] = milliseconds;
  ++dialog.timerStarts;
}

void FakeWindowSystem::StopTimer(setup::DialogHandle window,
                                 std::uintptr_t id) {
  Of(window).timers.erase(id);
}

bool FakeWindowSystem::HasSystemMenu(setup::DialogHandle) {
  return m_hasSystemMenu;
}

void FakeWindowSystem::AppendSystemMenuSeparator(setup::DialogHandle window) {
  Of(window).systemMenu.push_back("-");
}

void FakeWindowSystem::AppendSystemMenuItem(setup::DialogHandle window,
                                            std::uint32_t command,
                                            const char* text) {
  Of(window).systemMenu.push_back(std::to_string(command) + ":" + text);
}

void FakeWindowSystem::ReadStringResource(int id, char* text, int size) {
  std::string value = id == setup::kAboutMenuStringId ? m_aboutString : "";
  std::strncpy(text, value.c_str(), static_cast<std::size_t>(size) - 1);
  text[size - 1] = '\0';
}

setup::IconHandle FakeWindowSystem::LoadIconResource(int id) {
  return IconOf(id);
}

void FakeWindowSystem::SetWindowIcon(setup::DialogHandle window, bool big,
                                     setup::IconHandle icon) {
  (big ? Of(window).bigIcon : Of(window).smallIcon) = icon;
}

void FakeWindowSystem::Beep(std::uint32_t type) { m_beeps.push_back(type); }

void FakeWindowSystem::ShowMessageBox(setup::DialogHandle owner,
                                      const char* text, const char* caption,
                                      std::uint32_t style) {
  m_messageBoxes.push_back({owner, text, caption, style});
  if (m_onMessageBox) m_onMessageBox(m_messageBoxes.back());
}

}  // namespace fakes
