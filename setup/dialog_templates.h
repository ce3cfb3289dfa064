// Moravel's two dialog templates, described once. The Win32 back end builds
// an in-memory dialog template from them, the GTK back end places its widgets
// at the same dialog-unit positions, and the test fake takes its controls,
// groups and captions from them, so the window systems cannot drift apart.
#pragma once

#include <cstdint>

namespace setup {

// Style bits carry the values of their Win32 counterparts.
namespace style {
inline constexpr std::uint32_t kPopup = 0x80000000;
inline constexpr std::uint32_t kChild = 0x40000000;
inline constexpr std::uint32_t kVisible = 0x10000000;
inline constexpr std::uint32_t kCaption = 0x00C00000;
inline constexpr std::uint32_t kBorder = 0x00800000;
inline constexpr std::uint32_t kSysMenu = 0x00080000;
inline constexpr std::uint32_t kGroup = 0x00020000;
inline constexpr std::uint32_t kTabStop = 0x00010000;
inline constexpr std::uint32_t kModalFrame = 0x00000080;  // DS_MODALFRAME
inline constexpr std::uint32_t kSetFont = 0x00000040;     // DS_SETFONT

inline constexpr std::uint32_t kPushButton = 0x0000;
inline constexpr std::uint32_t kDefPushButton = 0x0001;
inline constexpr std::uint32_t kAutoCheckBox = 0x0003;
inline constexpr std::uint32_t kGroupBox = 0x0007;
inline constexpr std::uint32_t kAutoRadioButton = 0x0009;
inline constexpr std::uint32_t kPushLike = 0x1000;

inline constexpr std::uint32_t kEditCenter = 0x0001;
inline constexpr std::uint32_t kEditUpperCase = 0x0008;
inline constexpr std::uint32_t kEditAutoHScroll = 0x0080;
inline constexpr std::uint32_t kEditReadOnly = 0x0800;

inline constexpr std::uint32_t kStaticLeft = 0x0000;
inline constexpr std::uint32_t kStaticIcon = 0x0003;
inline constexpr std::uint32_t kStaticNoPrefix = 0x0080;

inline constexpr std::uint32_t kExModalFrame = 0x00000001;
inline constexpr std::uint32_t kExTransparent = 0x00000020;
inline constexpr std::uint32_t kExClientEdge = 0x00000200;
inline constexpr std::uint32_t kExStaticEdge = 0x00020000;
inline constexpr std::uint32_t kExAppWindow = 0x00040000;
}  // namespace style

enum class ControlClass { kButton, kEdit, kStatic };

// What a control is, as far as a window system must tell kinds apart.
enum class ControlKind {
  kPushButton,
  kDefaultPushButton,
  kRadioButton,   // auto radio button
  kCheckBox,      // auto check box
  kToggleButton,  // auto check box drawn as a push button
  kGroupBox,
  kEdit,
  kText,
  kIcon,
};

inline constexpr int kNoControlId = -1;
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

struct ControlTemplate {
  int id;  // kNoControlId for texts, group boxes and pictures
  ControlClass controlClass;
  std::uint32_t style;  // kChild and kVisible are implied
  std::uint32_t exStyle;
  const char* caption;  // for an icon: unused, see iconId
  int iconId;           // icon group of a static icon, else 0
  short x, y, cx, cy;   // dialog units
};

struct DialogTemplate {
  int resourceId;
  std::uint32_t style;
  std::uint32_t exStyle;
  short cx, cy;  // dialog units
  const char* caption;
  const char* fontName;
  int pointSize;
  const ControlTemplate* controls;
  int controlCount;
};

ControlKind KindOf(const ControlTemplate& control);
// The control with `id`, or null.
const ControlTemplate* FindControl(const DialogTemplate& dialog, int id);
// The index of the first control of the radio set that holds `index`: the
// nearest control at or before it that starts a group.
int GroupStart(const DialogTemplate& dialog, int index);

// Resource identifiers.
inline constexpr int kAboutHelpDialogId = 100;
inline constexpr int kAboutMenuStringId = 101;
inline constexpr int kSetupDialogId = 102;
inline constexpr int kAppIconId = 128;
inline constexpr int kPictureIconId = 129;

// The string table; null for an unknown identifier.
const char* StringTableText(int id);

const DialogTemplate& SetupDialogTemplate();
const DialogTemplate& AboutHelpDialogTemplate();

// Control identifiers of the main dialog.
namespace control {
inline constexpr int kTimeCodeBox = 1000;
inline constexpr int kTestRun = 1001;
inline constexpr int kStatusBox = 1002;
inline constexpr int kHelp = 1003;
inline constexpr int kLocalTime = 1004;
inline constexpr int kSystemTime = 1005;
inline constexpr int kSave = 1006;
inline constexpr int kCom1 = 1007;
inline constexpr int kCom2 = 1008;
inline constexpr int kCom3 = 1009;
inline constexpr int kCom4 = 1010;
inline constexpr int kNtsc = 1011;
inline constexpr int kPal = 1012;
inline constexpr int kSetPcClock = 1013;
inline constexpr int kBeepOnSet = 1014;
}  // namespace control

}  // namespace setup
