#include "setup/dialog_templates.h"

namespace setup {
namespace {

using namespace style;

constexpr ControlClass kButton = ControlClass::kButton;
constexpr ControlClass kEdit = ControlClass::kEdit;
constexpr ControlClass kStatic = ControlClass::kStatic;
constexpr int kNone = kNoControlId;

constexpr std::uint32_t kToggle = kAutoCheckBox | kPushLike;
constexpr std::uint32_t kDisplayEdit =
    kEditReadOnly | kEditCenter | kEditAutoHScroll | kBorder;

const ControlTemplate kSetupControls[] = {
    {1003, kButton, kPushButton | kTabStop, 0, "HELP", 0, 54, 90, 35, 14},
    {1006, kButton, kPushButton | kTabStop, 0, "SAVE", 0, 14, 90, 35, 14},
    {kIdOk, kButton, kDefPushButton | kTabStop, 0, "EXIT", 0, 93, 90, 36, 14},
    {1004, kButton, kAutoRadioButton | kGroup | kTabStop, 0, "Local time", 0,
     154, 17, 48, 10},
    {1005, kButton, kAutoRadioButton | kTabStop, 0, "System time (GMT)", 0, 154,
     29, 75, 10},
    {1007, kButton, kAutoRadioButton | kGroup | kTabStop, 0, "COM1", 0, 148, 55,
     36, 10},
    {1008, kButton, kAutoRadioButton | kTabStop, 0, "COM2", 0, 148, 67, 36, 10},
    {1009, kButton, kAutoRadioButton | kTabStop, 0, "COM3", 0, 191, 56, 36, 10},
    {1010, kButton, kAutoRadioButton | kTabStop, 0, "COM4", 0, 191, 68, 36, 10},
    {1011, kButton, kAutoRadioButton | kGroup | kTabStop, 0, "NTSC", 0, 148, 93,
     35, 10},
    {1012, kButton, kAutoRadioButton | kTabStop, 0, "PAL", 0, 192, 93, 29, 10},
    {1001, kButton, kToggle | kGroup | kTabStop,
     kExStaticEdge | kExClientEdge | kExModalFrame, "TEST/RUN", 0, 58, 38, 67,
     18},
    {1000, kEdit, kDisplayEdit | kEditUpperCase, kExStaticEdge, "", 0, 12, 18,
     121, 17},
    {kNone, kStatic, kStaticLeft | kGroup, 0, "Time code:", 0, 14, 9, 36, 8},
    {kNone, kStatic, kStaticLeft | kGroup, 0,
     "NOTE: The internal switches of the Quorvel-A/B/C model must be set to  "
     "(sw1-sw8) 11110111 for this test program to work properly.",
     0, 11, 109, 218, 20},
    {1002, kEdit, kDisplayEdit, kExStaticEdge, "", 0, 11, 71, 121, 16},
    {kNone, kStatic, kStaticLeft | kGroup, 0, "Status of BOX/Time Code", 0, 13,
     62, 90, 8},
    {kNone, kButton, kGroupBox, 0, "Set Time Code As", 0, 144, 7, 87, 36},
    {kNone, kButton, kGroupBox, 0, "Choose Serial Port", 0, 144, 45, 87, 36},
    {kNone, kButton, kGroupBox, 0, "Time Code Format", 0, 144, 83, 87, 22},
    {kNone, kStatic, kStaticIcon, 0, "", kPictureIconId, 27, 39, 20, 20},
    {1013, kButton, kAutoCheckBox | kTabStop, 0, "Set PC Clock", 0, 79, 8, 58,
     10},
    {1014, kButton, kToggle, kExTransparent, "D", 0, 219, 11, 8, 8},
};

const ControlTemplate kAboutHelpControls[] = {
    {kNone, kStatic, kStaticIcon, 0, "", kPictureIconId, 10, 11, 21, 20},
    {kNone, kStatic, kStaticLeft | kStaticNoPrefix, 0, "Moravel Version 1.0", 0,
     39, 7, 74, 8},
    {kIdOk, kButton, kDefPushButton | kGroup | kTabStop, 0, "OK", 0, 186, 7, 50,
     14},
    {1017, kStatic, kStaticLeft | kGroup, 0,
     "EXIT: Will cause the program to exit and close the serial port if it "
     "has been opened.",
     0, 7, 107, 104, 27},
    {1020, kStatic, kStaticLeft | kGroup, 0,
     "SET PC CLOCK: This check box will only be available after the TEST "
     "button is selected. Checking this box will cause the PC's clock to be "
     "set to match the time code that is being read.",
     0, 132, 97, 104, 52},
    {1015, kStatic, kStaticLeft | kGroup, 0,
     "SAVE: This button will cause the settings that have been choosen at the "
     "Local/System, Com Port and NTSC/PAL check boxes to be saved in the "
     "registry to be used the next time the program loads and to be used if "
     "you install the Ventrel software.",
     0, 7, 35, 104, 67},
    {1019, kStatic, kStaticLeft | kGroup, 0,
     "TEST/RUN: This button will attempt to open the serial com port "
     "specified and then to communicate with an Quorvel to get time code "
     "reader data. The data will be displayed in the time edit box.",
     0, 132, 34, 104, 59},
    {1016, kStatic, kStaticLeft | kGroup, 0, "HELP: Brings up this dialog box.",
     0, 132, 215, 104, 12},
    {1021, kStatic, kStaticLeft | kGroup, 0,
     "LOCAL/SYSTEM: Select the radio button that represents the time code "
     "connected. This is only important if you will be checking the \"Set PC "
     "Clock\" button or installing the Ventrel software.",
     0, 132, 152, 104, 57},
    {1018, kStatic, kStaticLeft | kGroup, 0,
     "SERIAL PORT: Choose the radio button of the available serial com port "
     "that the Quorvel is connected to and that is otherwise available.",
     0, 8, 138, 104, 42},
    {1022, kStatic, kStaticLeft | kGroup, 0,
     "NTSC/PAL: Slect the button that represents the time code that is being "
     "read by the Quorvel. Important for Set Clock and Ventrel applications.",
     0, 7, 185, 104, 47},
};

template <int N>
constexpr int CountOf(const ControlTemplate (&)[N]) {
  return N;
}

const DialogTemplate kSetupDialog = {
    kSetupDialogId,
    kPopup | kVisible | kCaption | kSysMenu | kModalFrame | kSetFont,
    kExAppWindow,
    238,
    135,
    "Moravel- Quorvel Time Code to set PC's Clock",
    "MS Sans Serif",
    8,
    kSetupControls,
    CountOf(kSetupControls),
};

const DialogTemplate kAboutHelpDialog = {
    kAboutHelpDialogId,
    kPopup | kCaption | kSysMenu | kModalFrame | kSetFont,
    0,
    243,
    239,
    "About  Moravel & Help",
    "MS Sans Serif",
    8,
    kAboutHelpControls,
    CountOf(kAboutHelpControls),
};

}  // namespace

ControlKind KindOf(const ControlTemplate& control) {
  if (control.controlClass == ControlClass::kEdit) return ControlKind::kEdit;
  if (control.controlClass == ControlClass::kStatic) {
    return (control.style & 0x1F) == kStaticIcon ? ControlKind::kIcon
                                                 : ControlKind::kText;
  }
  switch (control.style & 0x0F) {
    case kDefPushButton:
      return ControlKind::kDefaultPushButton;
    case kAutoCheckBox:
      return (control.style & kPushLike) != 0 ? ControlKind::kToggleButton
                                              : ControlKind::kCheckBox;
    case kAutoRadioButton:
      return ControlKind::kRadioButton;
    case kGroupBox:
      return ControlKind::kGroupBox;
    default:
      return ControlKind::kPushButton;
  }
}

const ControlTemplate* FindControl(const DialogTemplate& dialog, int id) {
  for (int i = 0; i < dialog.controlCount; ++i) {
    if (dialog.controls[i].id == id) return &dialog.controls[i];
  }
  return nullptr;
}

int GroupStart(const DialogTemplate& dialog, int index) {
  while (index > 0 && (dialog.controls[index].style & kGroup) == 0) --index;
  return index;
}

const char* StringTableText(int id) {
  return id == kAboutMenuStringId ? "&About Moravel..." : nullptr;
}

const DialogTemplate& SetupDialogTemplate() { return kSetupDialog; }
const DialogTemplate& AboutHelpDialogTemplate() { return kAboutHelpDialog; }

}  // namespace setup
