// The dialog framework's window system on Win32: real modal dialogs, built at
// run time as in-memory dialog templates from the shared template tables.
#include <windows.h>

#include <string>
#include <vector>

#include "setup/control_map.h"
#include "setup/window_system.h"

namespace setup {
namespace {

constexpr WORD kButtonAtom = 0x0080;
constexpr WORD kEditAtom = 0x0081;
constexpr WORD kStaticAtom = 0x0082;
// A timer of the back end's own (the test aid below), never handed to the
// dialog.
constexpr UINT_PTR kControlMapTimer = 0x7FF0;

// An in-memory dialog template: DLGTEMPLATE, its strings, then each
// DLGITEMTEMPLATE on a DWORD boundary.
class TemplateBuilder {
 public:
  explicit TemplateBuilder(const DialogTemplate& dialog) {
    Dword(dialog.style);
    Dword(dialog.exStyle);
    Word(static_cast<WORD>(dialog.controlCount));
    Word(0);  // x
    Word(0);  // y
    Word(static_cast<WORD>(dialog.cx));
    Word(static_cast<WORD>(dialog.cy));
    Word(0);  // no menu
    Word(0);  // the standard dialog class
    Text(dialog.caption);
    if (dialog.style & style::kSetFont) {
      Word(static_cast<WORD>(dialog.pointSize));
      Text(dialog.fontName);
    }
    for (int i = 0; i < dialog.controlCount; ++i) Item(dialog.controls[i]);
  }

  const DLGTEMPLATE* Get() const {
    return reinterpret_cast<const DLGTEMPLATE*>(m_words.data());
  }

 private:
  void Word(WORD value) { m_words.push_back(value); }
  void Dword(DWORD value) {
    Word(LOWORD(value));
    Word(HIWORD(value));
  }
  void Text(const char* text) {
    for (const char* p = text; *p != '\0'; ++p)
      Word(static_cast<WORD>(static_cast<unsigned char>(*p)));
    Word(0);
  }
  void AlignToDword() {
    if (m_words.size() % 2 != 0) Word(0);
  }

  static WORD AtomOf(ControlClass controlClass) {
    switch (controlClass) {
      case ControlClass::kEdit:
        return kEditAtom;
      case ControlClass::kStatic:
        return kStaticAtom;
      case ControlClass::kButton:
        break;
    }
    return kButtonAtom;
  }

  void Item(const ControlTemplate& control) {
    AlignToDword();
    Dword(control.style | WS_CHILD | WS_VISIBLE);
    Dword(control.exStyle);
    Word(static_cast<WORD>(control.x));
    Word(static_cast<WORD>(control.y));
    Word(static_cast<WORD>(control.cx));
    Word(static_cast<WORD>(control.cy));
    Word(static_cast<WORD>(control.id));
    Word(0xFFFF);
    Word(AtomOf(control.controlClass));
    if (control.iconId != 0) {
      Word(0xFFFF);
      Word(static_cast<WORD>(control.iconId));
    } else {
      Text(control.caption);
    }
    Word(0);  // no creation data
  }

  std::vector<WORD> m_words;
};

struct ModalRun {
  const DialogTemplate* source;
  DialogEvents* events;
};

HWND Hwnd(DialogHandle window) { return static_cast<HWND>(window); }

ModalRun* RunOf(HWND window) {
  return reinterpret_cast<ModalRun*>(GetWindowLongPtrA(window, DWLP_USER));
}

// The map is written every half second while a dialog is open.
void WriteControlMap(HWND window, const DialogTemplate& source) {
  CControlMap map;
  map.BeginDialog(source.resourceId);
  RECT frame;
  GetWindowRect(window, &frame);
  map.Window(frame.left, frame.top, frame.right - frame.left,
             frame.bottom - frame.top);
  for (int i = 0; i < source.controlCount; ++i) {
    const int id = source.controls[i].id;
    if (id == kNoControlId) continue;
    HWND control = GetDlgItem(window, id);
    RECT box;
    GetWindowRect(control, &box);
    char text[256] = "";
    GetWindowTextA(control, text, sizeof text);
    map.Control(std::to_string(id), box.left, box.top, box.right - box.left,
                box.bottom - box.top, IsDlgButtonChecked(window, id),
                IsWindowEnabled(control) != 0, text);
  }
  map.EndDialog(source.resourceId);
}

// Messages whose result a dialog procedure returns itself rather than
// through DWLP_MSGRESULT.
bool ReturnsResultDirectly(UINT message) {
  return message == WM_QUERYDRAGICON || message == WM_INITDIALOG;
}

INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam,
                            LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* run = reinterpret_cast<ModalRun*>(lParam);
    SetWindowLongPtrA(window, DWLP_USER, lParam);
    if (CControlMap::Wanted()) SetTimer(window, kControlMapTimer, 500, nullptr);
    return run->events->Initialize(window);
  }
  ModalRun* run = RunOf(window);
  if (run == nullptr) return FALSE;
  if (message == WM_TIMER && wParam == kControlMapTimer) {
    WriteControlMap(window, *run->source);
    return TRUE;
  }
  if (message == WM_DESTROY) {
    run->events->Destroyed();
    return FALSE;
  }
  std::intptr_t result = 0;
  if (!run->events->Dispatch(message, wParam, lParam, &result)) return FALSE;
  if (ReturnsResultDirectly(message)) return static_cast<INT_PTR>(result);
  SetWindowLongPtrA(window, DWLP_MSGRESULT, result);
  return TRUE;
}

class Win32WindowSystem : public WindowSystem {
 public:
  std::intptr_t RunModal(const DialogTemplate& source, DialogHandle owner,
                         DialogEvents* events) override {
    TemplateBuilder dialog(source);
    ModalRun run = {&source, events};
    return DialogBoxIndirectParamA(GetModuleHandleA(nullptr), dialog.Get(),
                                   Hwnd(owner), DialogProc,
                                   reinterpret_cast<LPARAM>(&run));
  }
  void EndModal(DialogHandle window, std::intptr_t result) override {
    ::EndDialog(Hwnd(window), result);
  }
  void SetCheck(DialogHandle window, int id, int state) override {
    ::CheckDlgButton(Hwnd(window), id, static_cast<UINT>(state));
  }
  int GetCheck(DialogHandle window, int id) override {
    return static_cast<int>(::IsDlgButtonChecked(Hwnd(window), id));
  }
  void SetItemText(DialogHandle window, int id, const char* text) override {
    ::SetDlgItemTextA(Hwnd(window), id, text);
  }
  void EnableItem(DialogHandle window, int id, bool enable) override {
    ::EnableWindow(::GetDlgItem(Hwnd(window), id), enable ? TRUE : FALSE);
  }
  void StartTimer(DialogHandle window, std::uintptr_t id,
                  std::uint32_t milliseconds) override {
    ::SetTimer(Hwnd(window), id, milliseconds, nullptr);
  }
  void StopTimer(DialogHandle window, std::uintptr_t id) override {
    ::KillTimer(Hwnd(window), id);
  }
  bool HasSystemMenu(DialogHandle window) override {
    return ::GetSystemMenu(Hwnd(window), FALSE) != nullptr;
  }
  void AppendSystemMenuSeparator(DialogHandle window) override {
    ::AppendMenuA(::GetSystemMenu(Hwnd(window), FALSE), MF_SEPARATOR, 0,
                  nullptr);
  }
  void AppendSystemMenuItem(DialogHandle window, std::uint32_t command,
                            const char* text) override {
    ::AppendMenuA(::GetSystemMenu(Hwnd(window), FALSE), MF_STRING, command,
                  text);
  }
  void ReadStringResource(int id, char* text, int size) override {
    if (::LoadStringA(GetModuleHandleA(nullptr), static_cast<UINT>(id), text,
                      size) <= 0) {
      text[0] = '\0';
    }
  }
  IconHandle LoadIconResource(int id) override {
    return ::LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id));
  }
  void SetWindowIcon(DialogHandle window, bool big, IconHandle icon) override {
    ::SendMessageA(Hwnd(window), WM_SETICON, big ? ICON_BIG : ICON_SMALL,
                   reinterpret_cast<LPARAM>(icon));
  }
  bool IsMinimized(DialogHandle window) override {
    return ::IsIconic(Hwnd(window)) != FALSE;
  }
  PaintHandle BeginIconPaint(DialogHandle window) override {
    return ::BeginPaint(Hwnd(window), &m_paint);
  }
  void EraseIconBackground(DialogHandle window, PaintHandle paint) override {
    ::SendMessageA(Hwnd(window), WM_ICONERASEBKGND,
                   reinterpret_cast<WPARAM>(paint), 0);
  }
  int IconWidth() override { return ::GetSystemMetrics(SM_CXICON); }
  int IconHeight() override { return ::GetSystemMetrics(SM_CYICON); }
  ClientSize GetClientSize(DialogHandle window) override {
    RECT client;
    ::GetClientRect(Hwnd(window), &client);
    return {client.right - client.left, client.bottom - client.top};
  }
  void DrawIconAt(PaintHandle paint, int x, int y, IconHandle icon) override {
    ::DrawIcon(static_cast<HDC>(paint), x, y, static_cast<HICON>(icon));
  }
  void EndIconPaint(DialogHandle window, PaintHandle) override {
    ::EndPaint(Hwnd(window), &m_paint);
  }
  void Beep(std::uint32_t type) override { ::MessageBeep(type); }
  void ShowMessageBox(DialogHandle owner, const char* text, const char* caption,
                      std::uint32_t style) override {
    ::MessageBoxA(Hwnd(owner), text, caption, style);
  }

 private:
  // Painting happens on the one user-interface thread, one window at a time.
  PAINTSTRUCT m_paint = {};
};

}  // namespace

WindowSystem& NativeWindowSystem() {
  static Win32WindowSystem windows;
  return windows;
}

}  // namespace setup
