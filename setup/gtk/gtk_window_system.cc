// The dialog framework's window system on GTK 3. Each dialog is a window with
// a GtkFixed whose controls stand at the template's dialog-unit positions,
// scaled from the dialog font's metrics the way Windows scales them. A modal
// run is a nested main loop, so timers of an outer dialog keep firing while
// an inner box is open, as they do under a modal Windows dialog.
#include <glib-unix.h>
#include <gtk/gtk.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "setup/control_map.h"
#include "setup/window_system.h"

extern const unsigned char kAppIconBytes[];
extern const unsigned int kAppIconBytesSize;
extern const unsigned char kPictureIconBytes[];
extern const unsigned int kPictureIconBytesSize;

namespace setup {
namespace {

// Compact controls, so that they fit the small dialog-unit boxes the
// templates give them, and the dialog font of the templates' point size.
constexpr char kDialogCss[] =
    "* { font-family: Sans; font-size: 8pt; }\n"
    "button { padding: 0px 2px; min-height: 0px; min-width: 0px; }\n"
    "entry { padding: 0px 2px; min-height: 0px; }\n"
    "radiobutton, checkbutton { padding: 0px; min-height: 0px; }\n"
    "frame > label { margin: 0px; }\n";

struct DialogUnits {
  int charWidth;   // average character width in pixels
  int charHeight;  // character height in pixels
  int X(int units) const { return units * charWidth / 4; }
  int Y(int units) const { return units * charHeight / 8; }
};

struct DialogWindow;

struct TimerSource {
  DialogWindow* dialog;
  std::uintptr_t id;
  guint source;
};

struct DialogWindow {
  const DialogTemplate* source = nullptr;
  DialogEvents* events = nullptr;
  GtkWidget* window = nullptr;
  GtkWidget* menu = nullptr;
  GtkWidget* menuButton = nullptr;
  std::map<int, GtkWidget*> controls;
  std::map<int, std::uint32_t> styles;
  std::map<std::uintptr_t, guint> timers;
  guint mapWrite = 0;  // the pending first control map, if any
  GMainLoop* loop = nullptr;
  bool ended = false;
  std::intptr_t result = 0;
  // Set while the back end itself changes a check state, so that GTK's
  // "clicked" is not mistaken for the person's click.
  bool changingState = false;
};

std::string MnemonicText(const char* text) {
  std::string converted;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p == '&' && p[1] == '&') {
      converted += '&';
      ++p;
    } else if (*p == '&') {
      converted += '_';
    } else if (*p == '_') {
      converted += "__";
    } else {
      converted += *p;
    }
  }
  return converted;
}

std::string UpperCase(const char* text) {
  std::string upper = text;
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

GdkPixbuf* PixbufFromIco(const unsigned char* bytes, unsigned int size) {
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("ico", nullptr);
  if (loader == nullptr) return nullptr;
  GdkPixbuf* pixbuf = nullptr;
  if (gdk_pixbuf_loader_write(loader, bytes, size, nullptr) &&
      gdk_pixbuf_loader_close(loader, nullptr)) {
    pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
    if (pixbuf != nullptr) g_object_ref(pixbuf);
  }
  g_object_unref(loader);
  return pixbuf;
}

DialogUnits MeasureDialogUnits(GtkWidget* window,
                               const DialogTemplate& dialog) {
  PangoContext* context = gtk_widget_get_pango_context(window);
  PangoFontDescription* font = pango_font_description_from_string("Sans");
  pango_font_description_set_size(font, dialog.pointSize * PANGO_SCALE);
  PangoLayout* layout = pango_layout_new(context);
  pango_layout_set_font_description(layout, font);
  pango_layout_set_text(
      layout, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", -1);
  int width = 0;
  int height = 0;
  pango_layout_get_pixel_size(layout, &width, &height);
  g_object_unref(layout);
  pango_font_description_free(font);
  return {(width / 26 + 1) / 2, height};
}

void SendCommand(DialogWindow* dialog, int id) {
  std::intptr_t result = 0;
  std::uintptr_t wParam = static_cast<std::uint32_t>(id) & 0xFFFF;
  dialog->events->Dispatch(kMsgCommand, wParam, 0, &result);
}

void OnButtonClicked(GtkButton* button, gpointer data) {
  auto* dialog = static_cast<DialogWindow*>(data);
  if (dialog->changingState || dialog->ended) return;
  int id = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(button), "control-id"));
  SendCommand(dialog, id);
}

gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
  SendCommand(static_cast<DialogWindow*>(data), kIdCancel);
  return TRUE;  // the dialog decides whether the window goes
}

bool IsPlainPushButton(GtkWidget* widget) {
  return widget != nullptr && GTK_IS_BUTTON(widget) &&
         !GTK_IS_TOGGLE_BUTTON(widget);
}

// Escape is Cancel; Enter is OK unless a push button has the focus, which
// Enter then presses, as in a Windows dialog.
gboolean OnKeyPress(GtkWidget* window, GdkEventKey* event, gpointer data) {
  auto* dialog = static_cast<DialogWindow*>(data);
  if (event->keyval == GDK_KEY_Escape) {
    SendCommand(dialog, kIdCancel);
    return TRUE;
  }
  if (event->keyval == GDK_KEY_Return || event->keyval == GDK_KEY_KP_Enter) {
    GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(window));
    if (IsPlainPushButton(focus)) return FALSE;
    SendCommand(dialog, kIdOk);
    return TRUE;
  }
  return FALSE;
}

void OnMenuItem(GtkMenuItem* item, gpointer data) {
  auto* dialog = static_cast<DialogWindow*>(data);
  auto command = static_cast<std::uintptr_t>(
      GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(item), "command")));
  std::intptr_t result = 0;
  dialog->events->Dispatch(kMsgSysCommand, command, 0, &result);
}

gboolean OnTimer(gpointer data) {
  auto* timer = static_cast<TimerSource*>(data);
  DialogWindow* dialog = timer->dialog;
  std::intptr_t result = 0;
  dialog->events->Dispatch(kMsgTimer, timer->id, 0, &result);
  // Like a Windows timer it keeps firing until it is killed; a restart
  // inside the handler has put a fresh source in its place.
  auto armed = dialog->timers.find(timer->id);
  bool stillThis =
      armed != dialog->timers.end() && armed->second == timer->source;
  return stillThis ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

void FreeTimer(gpointer data) { delete static_cast<TimerSource*>(data); }

// The dialogs now open, innermost last.
std::vector<DialogWindow*> g_openDialogs;

struct ControlState {
  unsigned checked;
  bool enabled;
  std::string text;
};

ControlState StateOf(GtkWidget* widget) {
  const bool checked = GTK_IS_TOGGLE_BUTTON(widget) &&
                       gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(widget));
  const char* text = "";
  if (GTK_IS_ENTRY(widget)) text = gtk_entry_get_text(GTK_ENTRY(widget));
  if (GTK_IS_LABEL(widget)) text = gtk_label_get_text(GTK_LABEL(widget));
  if (GTK_IS_BUTTON(widget) && gtk_button_get_label(GTK_BUTTON(widget)))
    text = gtk_button_get_label(GTK_BUTTON(widget));
  return {checked ? 1u : 0u, gtk_widget_is_sensitive(widget) != 0, text};
}

// The map is written once a dialog is shown, and for every open dialog again
// on SIGUSR1, with the open message box first.
void WriteControlMap(DialogWindow* dialog) {
  CControlMap map;
  int originX = 0;
  int originY = 0;
  gdk_window_get_origin(gtk_widget_get_window(dialog->window), &originX,
                        &originY);
  map.BeginDialog(dialog->source->resourceId);
  auto describe = [&](const std::string& name, GtkWidget* widget) {
    int x = 0;
    int y = 0;
    gtk_widget_translate_coordinates(widget, dialog->window, 0, 0, &x, &y);
    GtkAllocation box;
    gtk_widget_get_allocation(widget, &box);
    const ControlState state = StateOf(widget);
    map.Control(name, originX + x, originY + y, box.width, box.height,
                state.checked, state.enabled, state.text);
  };
  for (const auto& control : dialog->controls) {
    describe(std::to_string(control.first), control.second);
  }
  if (dialog->menuButton != nullptr) describe("sysmenu", dialog->menuButton);
  GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(dialog->window));
  for (const auto& control : dialog->controls) {
    if (control.second == focus) map.Focus(control.first);
  }
  map.EndDialog(dialog->source->resourceId);
}

// The text of the message box now open, if any.
std::string g_openMessageBox;

void WriteOpenMessageBox() {
  if (g_openMessageBox.empty()) return;
  CControlMap map;
  map.OpenMessageBox(g_openMessageBox);
}

gboolean WriteAllControlMaps(gpointer) {
  WriteOpenMessageBox();
  for (DialogWindow* dialog : g_openDialogs) {
    if (gtk_widget_get_mapped(dialog->window)) WriteControlMap(dialog);
  }
  return G_SOURCE_CONTINUE;
}

void WatchForStateRequests() {
  static bool watching = false;
  if (watching || !CControlMap::Wanted()) return;
  watching = true;
  g_unix_signal_add(SIGUSR1, WriteAllControlMaps, nullptr);
}

gboolean WriteControlMapWhenIdle(gpointer data) {
  auto* dialog = static_cast<DialogWindow*>(data);
  dialog->mapWrite = 0;
  WriteControlMap(dialog);
  return G_SOURCE_REMOVE;
}

gboolean OnMapped(GtkWidget*, GdkEvent*, gpointer data) {
  auto* dialog = static_cast<DialogWindow*>(data);
  if (dialog->mapWrite == 0)
    dialog->mapWrite = g_timeout_add(200, WriteControlMapWhenIdle, dialog);
  return FALSE;
}

class GtkWindowSystem : public WindowSystem {
 public:
  std::intptr_t RunModal(const DialogTemplate& source, DialogHandle owner,
                         DialogEvents* events) override;
  void EndModal(DialogHandle window, std::intptr_t result) override;
  void SetCheck(DialogHandle window, int id, int state) override;
  int GetCheck(DialogHandle window, int id) override;
  void SetItemText(DialogHandle window, int id, const char* text) override;
  void EnableItem(DialogHandle window, int id, bool enable) override;
  void StartTimer(DialogHandle window, std::uintptr_t id,
                  std::uint32_t milliseconds) override;
  void StopTimer(DialogHandle window, std::uintptr_t id) override;
  bool HasSystemMenu(DialogHandle window) override;
  void AppendSystemMenuSeparator(DialogHandle window) override;
  void AppendSystemMenuItem(DialogHandle window, std::uint32_t command,
                            const char* text) override;
  void ReadStringResource(int id, char* text, int size) override;
  IconHandle LoadIconResource(int id) override;
  void SetWindowIcon(DialogHandle window, bool big, IconHandle icon) override;
  // GTK does not ask a minimized window to paint, so the dialog's minimized
  // picture is the window icon; the paint calls are never reached.
  bool IsMinimized(DialogHandle window) override;
  PaintHandle BeginIconPaint(DialogHandle) override { return nullptr; }
  void EraseIconBackground(DialogHandle, PaintHandle) override {}
  int IconWidth() override { return 32; }
  int IconHeight() override { return 32; }
  ClientSize GetClientSize(DialogHandle window) override;
  void DrawIconAt(PaintHandle, int, int, IconHandle) override {}
  void EndIconPaint(DialogHandle, PaintHandle) override {}
  void Beep(std::uint32_t type) override;
  void ShowMessageBox(DialogHandle owner, const char* text, const char* caption,
                      std::uint32_t style) override;

 private:
  static DialogWindow* Of(DialogHandle window) {
    return static_cast<DialogWindow*>(window);
  }
  GtkWidget* Control(DialogHandle window, int id) {
    auto found = Of(window)->controls.find(id);
    return found != Of(window)->controls.end() ? found->second : nullptr;
  }
  GtkWidget* BuildControl(DialogWindow* dialog, const ControlTemplate& control,
                          GSList** radioGroup);
  void BuildWindow(DialogWindow* dialog, DialogHandle owner);
  void EnsureSystemMenu(DialogWindow* dialog);

  std::map<int, GdkPixbuf*> m_icons;
};

GtkWidget* GtkWindowSystem::BuildControl(DialogWindow* dialog,
                                         const ControlTemplate& control,
                                         GSList** radioGroup) {
  GtkWidget* widget = nullptr;
  switch (KindOf(control)) {
    case ControlKind::kPushButton:
    case ControlKind::kDefaultPushButton:
      widget = gtk_button_new_with_label(control.caption);
      break;
    case ControlKind::kRadioButton:
      widget = gtk_radio_button_new_with_label(*radioGroup, control.caption);
      *radioGroup = gtk_radio_button_get_group(GTK_RADIO_BUTTON(widget));
      break;
    case ControlKind::kCheckBox:
      widget = gtk_check_button_new_with_label(control.caption);
      break;
    case ControlKind::kToggleButton:
      widget = gtk_toggle_button_new_with_label(control.caption);
      break;
    case ControlKind::kGroupBox:
      widget = gtk_frame_new(control.caption);
      break;
    case ControlKind::kEdit:
      widget = gtk_entry_new();
      gtk_editable_set_editable(GTK_EDITABLE(widget), FALSE);
      gtk_entry_set_width_chars(GTK_ENTRY(widget), 1);
      if (control.style & style::kEditCenter)
        gtk_entry_set_alignment(GTK_ENTRY(widget), 0.5f);
      break;
    case ControlKind::kText:
      widget = gtk_label_new(control.caption);
      gtk_label_set_line_wrap(GTK_LABEL(widget), TRUE);
      // A dialog unit is a quarter of an average character: wrap the text
      // at the template's width.
      gtk_label_set_width_chars(GTK_LABEL(widget), control.cx / 4);
      gtk_label_set_max_width_chars(GTK_LABEL(widget), control.cx / 4);
      gtk_label_set_xalign(GTK_LABEL(widget), 0.0f);
      gtk_label_set_yalign(GTK_LABEL(widget), 0.0f);
      break;
    case ControlKind::kIcon:
      widget = gtk_image_new_from_pixbuf(
          static_cast<GdkPixbuf*>(LoadIconResource(control.iconId)));
      gtk_widget_set_halign(widget, GTK_ALIGN_START);
      gtk_widget_set_valign(widget, GTK_ALIGN_START);
      break;
  }
  if (GTK_IS_BUTTON(widget)) {
    g_object_set_data(G_OBJECT(widget), "control-id",
                      GINT_TO_POINTER(control.id));
    g_signal_connect(widget, "clicked", G_CALLBACK(OnButtonClicked), dialog);
  }
  gtk_widget_set_can_focus(widget, (control.style & style::kTabStop) != 0 ||
                                       KindOf(control) == ControlKind::kEdit);
  return widget;
}

// Tab moves through the tab stops in template order, as in a Windows
// dialog, not in GTK's order by position; the default push button is shown
// as such.
void SetTabOrder(DialogWindow* dialog, GtkWidget* fixed) {
  const DialogTemplate& source = *dialog->source;
  GList* chain = nullptr;
  for (int i = 0; i < source.controlCount; ++i) {
    const ControlTemplate& control = source.controls[i];
    if (control.id == kNoControlId) continue;
    GtkWidget* widget = dialog->controls[control.id];
    if (control.style & style::kTabStop) chain = g_list_append(chain, widget);
    if (KindOf(control) == ControlKind::kDefaultPushButton) {
      gtk_widget_set_can_default(widget, TRUE);
      gtk_window_set_default(GTK_WINDOW(dialog->window), widget);
    }
  }
  // The explicit focus chain is deprecated in GTK 3.24 but is still the only
  // way to give a GtkFixed a tab order of its own.
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  gtk_container_set_focus_chain(GTK_CONTAINER(fixed), chain);
  G_GNUC_END_IGNORE_DEPRECATIONS
  g_list_free(chain);
}

void GtkWindowSystem::BuildWindow(DialogWindow* dialog, DialogHandle owner) {
  const DialogTemplate& source = *dialog->source;
  dialog->window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  GtkWindow* window = GTK_WINDOW(dialog->window);
  gtk_window_set_title(window, source.caption);
  gtk_window_set_resizable(window, FALSE);
  gtk_window_set_modal(window, TRUE);
  if (owner != nullptr)
    gtk_window_set_transient_for(window, GTK_WINDOW(Of(owner)->window));
  gtk_window_set_skip_taskbar_hint(
      window, (source.exStyle & style::kExAppWindow) == 0 && owner != nullptr);

  GtkCssProvider* css = gtk_css_provider_new();
  gtk_css_provider_load_from_data(css, kDialogCss, -1, nullptr);
  gtk_style_context_add_provider_for_screen(
      gtk_widget_get_screen(dialog->window), GTK_STYLE_PROVIDER(css),
      GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  g_object_unref(css);

  GtkWidget* header = gtk_header_bar_new();
  gtk_header_bar_set_title(GTK_HEADER_BAR(header), source.caption);
  gtk_header_bar_set_show_close_button(GTK_HEADER_BAR(header), TRUE);
  gtk_header_bar_set_decoration_layout(GTK_HEADER_BAR(header), ":close");
  gtk_window_set_titlebar(window, header);
  g_object_set_data(G_OBJECT(dialog->window), "header", header);

  DialogUnits units = MeasureDialogUnits(dialog->window, source);
  GtkWidget* fixed = gtk_fixed_new();
  gtk_widget_set_size_request(fixed, units.X(source.cx), units.Y(source.cy));
  gtk_container_add(GTK_CONTAINER(dialog->window), fixed);

  GSList* radioGroup = nullptr;
  for (int i = 0; i < source.controlCount; ++i) {
    const ControlTemplate& control = source.controls[i];
    if (control.style & style::kGroup) radioGroup = nullptr;
    GtkWidget* widget = BuildControl(dialog, control, &radioGroup);
    if (KindOf(control) != ControlKind::kIcon) {
      gtk_widget_set_size_request(widget, units.X(control.cx),
                                  units.Y(control.cy));
    }
    gtk_fixed_put(GTK_FIXED(fixed), widget, units.X(control.x),
                  units.Y(control.y));
    if (control.id != kNoControlId) {
      dialog->controls[control.id] = widget;
      dialog->styles[control.id] = control.style;
    }
  }
  SetTabOrder(dialog, fixed);
  g_signal_connect(dialog->window, "delete-event", G_CALLBACK(OnDelete),
                   dialog);
  g_signal_connect(dialog->window, "key-press-event", G_CALLBACK(OnKeyPress),
                   dialog);
  g_signal_connect(dialog->window, "map-event", G_CALLBACK(OnMapped), dialog);
}

GtkWidget* FirstTabStop(DialogWindow* dialog) {
  const DialogTemplate& source = *dialog->source;
  for (int i = 0; i < source.controlCount; ++i) {
    const ControlTemplate& control = source.controls[i];
    if ((control.style & style::kTabStop) && control.id != kNoControlId)
      return dialog->controls[control.id];
  }
  return nullptr;
}

std::intptr_t GtkWindowSystem::RunModal(const DialogTemplate& source,
                                        DialogHandle owner,
                                        DialogEvents* events) {
  DialogWindow dialog;
  dialog.source = &source;
  dialog.events = events;
  BuildWindow(&dialog, owner);
  WatchForStateRequests();
  g_openDialogs.push_back(&dialog);
  if (events->Initialize(&dialog) != 0) {
    GtkWidget* first = FirstTabStop(&dialog);
    if (first != nullptr) gtk_widget_grab_focus(first);
  }
  if (!dialog.ended) {
    gtk_widget_show_all(dialog.window);
    gtk_window_present(GTK_WINDOW(dialog.window));
    dialog.loop = g_main_loop_new(nullptr, FALSE);
    g_main_loop_run(dialog.loop);
    g_main_loop_unref(dialog.loop);
  }
  events->Destroyed();
  g_openDialogs.pop_back();
  for (const auto& timer : dialog.timers) g_source_remove(timer.second);
  dialog.timers.clear();
  // A dialog closed within moments of showing must not be written later.
  if (dialog.mapWrite != 0) g_source_remove(dialog.mapWrite);
  g_signal_handlers_disconnect_by_data(dialog.window, &dialog);
  for (const auto& control : dialog.controls)
    g_signal_handlers_disconnect_by_data(control.second, &dialog);
  gtk_widget_destroy(dialog.window);
  return dialog.result;
}

void GtkWindowSystem::EndModal(DialogHandle window, std::intptr_t result) {
  DialogWindow* dialog = Of(window);
  dialog->ended = true;
  dialog->result = result;
  // The window goes, and its timers with it.
  for (const auto& timer : dialog->timers) g_source_remove(timer.second);
  dialog->timers.clear();
  gtk_widget_hide(dialog->window);
  if (dialog->loop != nullptr) g_main_loop_quit(dialog->loop);
}

void GtkWindowSystem::SetCheck(DialogHandle window, int id, int state) {
  GtkWidget* widget = Control(window, id);
  if (widget == nullptr || !GTK_IS_TOGGLE_BUTTON(widget)) return;
  Of(window)->changingState = true;
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(widget), state == 1);
  Of(window)->changingState = false;
}

int GtkWindowSystem::GetCheck(DialogHandle window, int id) {
  GtkWidget* widget = Control(window, id);
  if (widget == nullptr || !GTK_IS_TOGGLE_BUTTON(widget)) return 0;
  return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(widget)) ? 1 : 0;
}

void GtkWindowSystem::SetItemText(DialogHandle window, int id,
                                  const char* text) {
  GtkWidget* widget = Control(window, id);
  if (widget == nullptr) return;
  if (GTK_IS_ENTRY(widget)) {
    // An upper-case edit box shows every text in capitals, as Windows does.
    bool upper = (Of(window)->styles[id] & style::kEditUpperCase) != 0;
    gtk_entry_set_text(GTK_ENTRY(widget),
                       upper ? UpperCase(text).c_str() : text);
  } else if (GTK_IS_LABEL(widget)) {
    gtk_label_set_text(GTK_LABEL(widget), text);
  } else if (GTK_IS_BUTTON(widget)) {
    gtk_button_set_label(GTK_BUTTON(widget), text);
  }
}

void GtkWindowSystem::EnableItem(DialogHandle window, int id, bool enable) {
  GtkWidget* widget = Control(window, id);
  if (widget != nullptr) gtk_widget_set_sensitive(widget, enable);
}

void GtkWindowSystem::StartTimer(DialogHandle window, std::uintptr_t id,
                                 std::uint32_t milliseconds) {
  DialogWindow* dialog = Of(window);
  StopTimer(window, id);
  auto* timer = new TimerSource{dialog, id, 0};
  timer->source = g_timeout_add_full(G_PRIORITY_DEFAULT, milliseconds, OnTimer,
                                     timer, FreeTimer);
  dialog->timers[id] = timer->source;
}

void GtkWindowSystem::StopTimer(DialogHandle window, std::uintptr_t id) {
  DialogWindow* dialog = Of(window);
  auto armed = dialog->timers.find(id);
  if (armed == dialog->timers.end()) return;
  g_source_remove(armed->second);
  dialog->timers.erase(armed);
}

bool GtkWindowSystem::HasSystemMenu(DialogHandle window) {
  return (Of(window)->source->style & style::kSysMenu) != 0;
}

// The window's menu: a menu button at the start of the header bar, where a
// GTK user looks for it.
void GtkWindowSystem::EnsureSystemMenu(DialogWindow* dialog) {
  if (dialog->menu != nullptr) return;
  dialog->menu = gtk_menu_new();
  dialog->menuButton = gtk_menu_button_new();
  gtk_menu_button_set_popup(GTK_MENU_BUTTON(dialog->menuButton), dialog->menu);
  gtk_button_set_image(
      GTK_BUTTON(dialog->menuButton),
      gtk_image_new_from_pixbuf(gdk_pixbuf_scale_simple(
          static_cast<GdkPixbuf*>(LoadIconResource(kAppIconId)), 16, 16,
          GDK_INTERP_NEAREST)));
  gtk_widget_set_tooltip_text(dialog->menuButton, "Window menu");
  auto* header = static_cast<GtkWidget*>(
      g_object_get_data(G_OBJECT(dialog->window), "header"));
  gtk_header_bar_pack_start(GTK_HEADER_BAR(header), dialog->menuButton);
}

void GtkWindowSystem::AppendSystemMenuSeparator(DialogHandle window) {
  DialogWindow* dialog = Of(window);
  bool empty = dialog->menu == nullptr;
  EnsureSystemMenu(dialog);
  // A menu of its own needs no separator before its first entry.
  if (empty) return;
  gtk_menu_shell_append(GTK_MENU_SHELL(dialog->menu),
                        gtk_separator_menu_item_new());
}

void GtkWindowSystem::AppendSystemMenuItem(DialogHandle window,
                                           std::uint32_t command,
                                           const char* text) {
  DialogWindow* dialog = Of(window);
  EnsureSystemMenu(dialog);
  GtkWidget* item = gtk_menu_item_new_with_mnemonic(MnemonicText(text).c_str());
  g_object_set_data(G_OBJECT(item), "command", GUINT_TO_POINTER(command));
  g_signal_connect(item, "activate", G_CALLBACK(OnMenuItem), dialog);
  gtk_menu_shell_append(GTK_MENU_SHELL(dialog->menu), item);
  gtk_widget_show_all(dialog->menu);
}

void GtkWindowSystem::ReadStringResource(int id, char* text, int size) {
  const char* value = StringTableText(id);
  std::snprintf(text, static_cast<std::size_t>(size), "%s",
                value != nullptr ? value : "");
}

IconHandle GtkWindowSystem::LoadIconResource(int id) {
  auto cached = m_icons.find(id);
  if (cached != m_icons.end()) return cached->second;
  GdkPixbuf* pixbuf = nullptr;
  if (id == kAppIconId)
    pixbuf = PixbufFromIco(kAppIconBytes, kAppIconBytesSize);
  if (id == kPictureIconId)
    pixbuf = PixbufFromIco(kPictureIconBytes, kPictureIconBytesSize);
  m_icons[id] = pixbuf;
  return pixbuf;
}

void GtkWindowSystem::SetWindowIcon(DialogHandle window, bool big,
                                    IconHandle icon) {
  if (icon == nullptr) return;
  auto* pixbuf = static_cast<GdkPixbuf*>(icon);
  GtkWindow* gtkWindow = GTK_WINDOW(Of(window)->window);
  if (big) {
    gtk_window_set_icon(gtkWindow, pixbuf);
    return;
  }
  GList* icons = gtk_window_get_icon_list(gtkWindow);
  GdkPixbuf* small =
      gdk_pixbuf_scale_simple(pixbuf, 16, 16, GDK_INTERP_NEAREST);
  icons = g_list_append(icons, small);
  gtk_window_set_icon_list(gtkWindow, icons);
  g_list_free(icons);
  g_object_unref(small);
}

bool GtkWindowSystem::IsMinimized(DialogHandle window) {
  GdkWindow* gdkWindow = gtk_widget_get_window(Of(window)->window);
  return gdkWindow != nullptr &&
         (gdk_window_get_state(gdkWindow) & GDK_WINDOW_STATE_ICONIFIED) != 0;
}

ClientSize GtkWindowSystem::GetClientSize(DialogHandle window) {
  GtkWidget* content = gtk_bin_get_child(GTK_BIN(Of(window)->window));
  GtkAllocation box;
  gtk_widget_get_allocation(content, &box);
  return {box.width, box.height};
}

void GtkWindowSystem::Beep(std::uint32_t) {
  gdk_display_beep(gdk_display_get_default());
}

void GtkWindowSystem::ShowMessageBox(DialogHandle owner, const char* text,
                                     const char* caption, std::uint32_t style) {
  GtkWindow* parent =
      owner != nullptr ? GTK_WINDOW(Of(owner)->window) : nullptr;
  GtkMessageType type =
      (style & kBoxIconError) != 0 ? GTK_MESSAGE_ERROR : GTK_MESSAGE_OTHER;
  GtkWidget* box = gtk_message_dialog_new(parent, GTK_DIALOG_MODAL, type,
                                          GTK_BUTTONS_OK, "%s", text);
  gtk_window_set_title(GTK_WINDOW(box), caption);
  g_openMessageBox = text;
  gtk_dialog_run(GTK_DIALOG(box));
  g_openMessageBox.clear();
  gtk_widget_destroy(box);
}

}  // namespace

WindowSystem& NativeWindowSystem() {
  static GtkWindowSystem windows;
  return windows;
}

}  // namespace setup
