#include "setup/framework.h"

#include "platform/clock.h"

namespace setup {
namespace {

CWinApp* g_application = nullptr;

std::uint32_t LowWord(std::uintptr_t value) { return value & 0xFFFF; }
std::uint32_t HighWord(std::uintptr_t value) { return (value >> 16) & 0xFFFF; }

bool Matches(const MessageMapEntry& entry, std::uint32_t message,
             std::uintptr_t wParam) {
  if (entry.message != message) return false;
  if (message != kMsgCommand) return true;
  return static_cast<std::uint32_t>(entry.id) == LowWord(wParam) &&
         entry.notification == HighWord(wParam);
}

const DialogTemplate* TemplateById(int id) {
  if (id == kSetupDialogId) return &SetupDialogTemplate();
  if (id == kAboutHelpDialogId) return &AboutHelpDialogTemplate();
  return nullptr;
}

}  // namespace

// ---- CCmdTarget ----

const MessageMap* CCmdTarget::GetThisMessageMap() {
  static const MessageMapEntry kEntries[] = {
      {0, 0, 0, HandlerSignature::kEnd, nullptr, nullptr, nullptr, nullptr}};
  static const MessageMap kMap = {nullptr, kEntries};
  return &kMap;
}

const MessageMap* CCmdTarget::GetMessageMap() const {
  return GetThisMessageMap();
}

bool CCmdTarget::DispatchToMap(std::uint32_t message, std::uintptr_t wParam,
                               std::intptr_t lParam, std::intptr_t* result) {
  for (const MessageMap* map = GetMessageMap(); map != nullptr;
       map = map->base) {
    for (const MessageMapEntry* entry = map->entries;
         entry->signature != HandlerSignature::kEnd; ++entry) {
      if (!Matches(*entry, message, wParam)) continue;
      Call(*entry, wParam, lParam, result);
      return true;
    }
  }
  return false;
}

void CCmdTarget::Call(const MessageMapEntry& entry, std::uintptr_t wParam,
                      std::intptr_t lParam, std::intptr_t* result) {
  *result = 0;
  switch (entry.signature) {
    case HandlerSignature::kVoid:
      (this->*entry.onVoid)();
      break;
    case HandlerSignature::kTimer:
      (this->*entry.onTimer)(wParam);
      break;
    case HandlerSignature::kSysCommand:
      (this->*entry.onSysCommand)(static_cast<std::uint32_t>(wParam), lParam);
      break;
    case HandlerSignature::kQueryDragIcon:
      *result =
          reinterpret_cast<std::intptr_t>((this->*entry.onQueryDragIcon)());
      break;
    case HandlerSignature::kEnd:
      break;
  }
}

// ---- CWnd ----

void CWnd::CheckRadioButton(int firstId, int lastId, int checkId) {
  for (int id = firstId; id <= lastId; ++id) {
    Windows().SetCheck(m_hWnd, id, id == checkId ? 1 : 0);
  }
}

void CWnd::CheckDlgButton(int id, int state) {
  Windows().SetCheck(m_hWnd, id, state);
}

int CWnd::IsDlgButtonChecked(int id) { return Windows().GetCheck(m_hWnd, id); }

void CWnd::SetDlgItemTextA(int id, const char* text) {
  Windows().SetItemText(m_hWnd, id, text);
}

void CWnd::EnableDlgItem(int id, bool enable) {
  Windows().EnableItem(m_hWnd, id, enable);
}

void CWnd::SetTimer(std::uintptr_t id, std::uint32_t milliseconds) {
  Windows().StartTimer(m_hWnd, id, milliseconds);
}

void CWnd::KillTimer(std::uintptr_t id) { Windows().StopTimer(m_hWnd, id); }

bool CWnd::IsIconic() { return Windows().IsMinimized(m_hWnd); }

// ---- CDialog ----

CDialog::CDialog(int templateId, CWnd* parent)
    : m_templateId(templateId), m_parent(parent) {}

CDialog::~CDialog() = default;

const MessageMap* CDialog::GetThisMessageMap() {
  static const MessageMapEntry kEntries[] = {
      {0, 0, 0, HandlerSignature::kEnd, nullptr, nullptr, nullptr, nullptr}};
  static const MessageMap kMap = {CCmdTarget::GetThisMessageMap(), kEntries};
  return &kMap;
}

const MessageMap* CDialog::GetMessageMap() const { return GetThisMessageMap(); }

std::intptr_t CDialog::DoModal() {
  const DialogTemplate* dialog = TemplateById(m_templateId);
  if (dialog == nullptr) return -1;
  DialogHandle owner = m_parent != nullptr ? m_parent->GetSafeHwnd() : nullptr;
  return Windows().RunModal(*dialog, owner, this);
}

void CDialog::EndDialog(std::intptr_t result) {
  if (m_hWnd != nullptr) Windows().EndModal(m_hWnd, result);
}

int CDialog::OnInitDialog() { return 1; }
void CDialog::OnOK() { EndDialog(kIdOk); }
void CDialog::OnCancel() { EndDialog(kIdCancel); }

int CDialog::Initialize(DialogHandle window) {
  m_hWnd = window;
  return OnInitDialog();
}

bool CDialog::Dispatch(std::uint32_t message, std::uintptr_t wParam,
                       std::intptr_t lParam, std::intptr_t* result) {
  m_wantDefault = false;
  if (DispatchToMap(message, wParam, lParam, result)) return !m_wantDefault;
  if (HandleOkCancel(message, wParam)) {
    *result = 0;
    return true;
  }
  // Commands that no window handles go to the application, as the framework
  // routes them.
  if (message == kMsgCommand && AfxGetApp() != nullptr) {
    return AfxGetApp()->DispatchToMap(message, wParam, lParam, result);
  }
  return false;
}

bool CDialog::HandleOkCancel(std::uint32_t message, std::uintptr_t wParam) {
  if (message != kMsgCommand || HighWord(wParam) != kNotifyClicked) {
    return false;
  }
  if (LowWord(wParam) == kIdOk) {
    OnOK();
    return true;
  }
  if (LowWord(wParam) == kIdCancel) {
    OnCancel();
    return true;
  }
  return false;
}

void CDialog::Destroyed() { m_hWnd = nullptr; }

// ---- CWinApp ----

CWinApp::CWinApp(const char*) { g_application = this; }

CWinApp::~CWinApp() {
  if (g_application == this) g_application = nullptr;
}

int CWinApp::InitInstance() { return 1; }
int CWinApp::Run() { return 0; }

const MessageMap* CWinApp::GetThisMessageMap() {
  static const MessageMapEntry kEntries[] = {
      {0, 0, 0, HandlerSignature::kEnd, nullptr, nullptr, nullptr, nullptr}};
  static const MessageMap kMap = {CCmdTarget::GetThisMessageMap(), kEntries};
  return &kMap;
}

const MessageMap* CWinApp::GetMessageMap() const { return GetThisMessageMap(); }

CWinApp* AfxGetApp() { return g_application; }

int AfxWinMain() {
  CWinApp* application = AfxGetApp();
  if (application == nullptr) return -1;
  if (application->InitInstance() == 0) return 0;
  return application->Run();
}

void MessageBeep(std::uint32_t type) { Windows().Beep(type); }

void Sleep(std::uint32_t milliseconds) { platform::Sleep(milliseconds); }

}  // namespace setup
