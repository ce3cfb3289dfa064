// Our own small dialog framework: an application object, windows with the
// control operations the dialogs need, modal dialogs, and message maps that
// bind messages and control notifications to member handlers. It runs over
// whatever WindowSystem is installed (GTK, Win32, or the tests' fake).
#pragma once

#include <cstdint>

#include "setup/dialog_templates.h"
#include "setup/window_system.h"

namespace setup {

class CCmdTarget;

enum class HandlerSignature {
  kEnd,
  kVoid,           // void ()
  kTimer,          // void (std::uintptr_t id)
  kSysCommand,     // void (std::uint32_t code, std::intptr_t lParam)
  kQueryDragIcon,  // IconHandle ()
};

struct MessageMapEntry {
  std::uint32_t message;
  std::uint32_t notification;  // for kMsgCommand
  int id;                      // for kMsgCommand
  HandlerSignature signature;
  // The one handler that `signature` names; the others are null.
  void (CCmdTarget::*onVoid)();
  void (CCmdTarget::*onTimer)(std::uintptr_t);
  void (CCmdTarget::*onSysCommand)(std::uint32_t, std::intptr_t);
  IconHandle (CCmdTarget::*onQueryDragIcon)();
};

struct MessageMap {
  const MessageMap* base;
  const MessageMapEntry* entries;  // ends with a kEnd entry
};

class CCmdTarget {
 public:
  virtual ~CCmdTarget() = default;
  // Looks the message up in this object's map and its bases' maps and calls
  // the handler. False when no entry matches.
  bool DispatchToMap(std::uint32_t message, std::uintptr_t wParam,
                     std::intptr_t lParam, std::intptr_t* result);

 protected:
  static const MessageMap* GetThisMessageMap();
  virtual const MessageMap* GetMessageMap() const;

 private:
  void Call(const MessageMapEntry& entry, std::uintptr_t wParam,
            std::intptr_t lParam, std::intptr_t* result);
};

// A window: here always a dialog window, with the operations on its controls.
class CWnd : public CCmdTarget {
 public:
  DialogHandle GetSafeHwnd() const { return m_hWnd; }

  void CheckRadioButton(int firstId, int lastId, int checkId);
  void CheckDlgButton(int id, int state);
  int IsDlgButtonChecked(int id);
  void SetDlgItemTextA(int id, const char* text);
  void EnableDlgItem(int id, bool enable);
  void SetTimer(std::uintptr_t id, std::uint32_t milliseconds);
  void KillTimer(std::uintptr_t id);
  bool IsIconic();

  // Inside a handler: hand the message to the window system's default
  // processing when the handler returns.
  void Default() { m_wantDefault = true; }

 protected:
  DialogHandle m_hWnd = nullptr;
  bool m_wantDefault = false;
};

class CDialog : public CWnd, private DialogEvents {
 public:
  CDialog(int templateId, CWnd* parent);
  ~CDialog() override;

  // Runs the dialog modally; the value given to EndDialog, or -1 when the
  // window could not be created.
  std::intptr_t DoModal();
  void EndDialog(std::intptr_t result);

  virtual int OnInitDialog();
  virtual void OnOK();
  virtual void OnCancel();

 protected:
  static const MessageMap* GetThisMessageMap();
  const MessageMap* GetMessageMap() const override;

 private:
  int Initialize(DialogHandle window) override;
  bool Dispatch(std::uint32_t message, std::uintptr_t wParam,
                std::intptr_t lParam, std::intptr_t* result) override;
  void Destroyed() override;
  bool HandleOkCancel(std::uint32_t message, std::uintptr_t wParam);

  int m_templateId;
  CWnd* m_parent;
};

class CWinApp : public CCmdTarget {
 public:
  explicit CWinApp(const char* appName = nullptr);
  ~CWinApp() override;

  virtual int InitInstance();
  // The framework's own message loop, entered only when InitInstance returns
  // nonzero. Dialog programs do not need it.
  virtual int Run();
  int Enable3dControls() { return 1; }
  void OnHelp() {}

  CWnd* m_pMainWnd = nullptr;

 protected:
  static const MessageMap* GetThisMessageMap();
  const MessageMap* GetMessageMap() const override;
};

CWinApp* AfxGetApp();
// The framework's start: initialise the application object and run it.
int AfxWinMain();

void MessageBeep(std::uint32_t type);
void Sleep(std::uint32_t milliseconds);

inline constexpr std::uint32_t kHelpCommand = 0xE146;

}  // namespace setup

// Message map construction, inside namespace setup or with its names in scope.
#define DECLARE_MESSAGE_MAP()                            \
 protected:                                              \
  static const ::setup::MessageMap* GetThisMessageMap(); \
  const ::setup::MessageMap* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                 \
  const ::setup::MessageMap* theClass::GetMessageMap() const { \
    return GetThisMessageMap();                                \
  }                                                            \
  const ::setup::MessageMap* theClass::GetThisMessageMap() {   \
    using ThisClass [[maybe_unused]] = theClass;               \
    using TheBaseClass = baseClass;                            \
    static const ::setup::MessageMapEntry kEntries[] = {
#define END_MESSAGE_MAP()                                                     \
  {                                                                           \
    0, 0, 0, ::setup::HandlerSignature::kEnd, nullptr, nullptr, nullptr,      \
        nullptr                                                               \
  }                                                                           \
  }                                                                           \
  ;                                                                           \
  static const ::setup::MessageMap kMap = {TheBaseClass::GetThisMessageMap(), \
                                           kEntries};                         \
  return &kMap;                                                               \
  }

#define ON_BN_CLICKED(id, fn)                                    \
  {::setup::kMsgCommand,                                         \
   ::setup::kNotifyClicked,                                      \
   id,                                                           \
   ::setup::HandlerSignature::kVoid,                             \
   static_cast<void (::setup::CCmdTarget::*)()>(&ThisClass::fn), \
   nullptr,                                                      \
   nullptr,                                                      \
   nullptr},
#define ON_COMMAND(id, fn) ON_BN_CLICKED(id, fn)
#define ON_WM_TIMER()                                          \
  {::setup::kMsgTimer,                                         \
   0,                                                          \
   0,                                                          \
   ::setup::HandlerSignature::kTimer,                          \
   nullptr,                                                    \
   static_cast<void (::setup::CCmdTarget::*)(std::uintptr_t)>( \
       &ThisClass::OnTimer),                                   \
   nullptr,                                                    \
   nullptr},
#define ON_WM_SYSCOMMAND()                                                   \
  {::setup::kMsgSysCommand,                                                  \
   0,                                                                        \
   0,                                                                        \
   ::setup::HandlerSignature::kSysCommand,                                   \
   nullptr,                                                                  \
   nullptr,                                                                  \
   static_cast<void (::setup::CCmdTarget::*)(std::uint32_t, std::intptr_t)>( \
       &ThisClass::OnSysCommand),                                            \
   nullptr},
#define ON_WM_PAINT()                                                 \
  {::setup::kMsgPaint,                                                \
   0,                                                                 \
   0,                                                                 \
   ::setup::HandlerSignature::kVoid,                                  \
   static_cast<void (::setup::CCmdTarget::*)()>(&ThisClass::OnPaint), \
   nullptr,                                                           \
   nullptr,                                                           \
   nullptr},
#define ON_WM_QUERYDRAGICON()                                   \
  {::setup::kMsgQueryDragIcon,                                  \
   0,                                                           \
   0,                                                           \
   ::setup::HandlerSignature::kQueryDragIcon,                   \
   nullptr,                                                     \
   nullptr,                                                     \
   nullptr,                                                     \
   static_cast<::setup::IconHandle (::setup::CCmdTarget::*)()>( \
       &ThisClass::OnQueryDragIcon)},
