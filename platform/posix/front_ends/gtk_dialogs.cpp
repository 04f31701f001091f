// The dialogs and the clipboard in GTK 3. Everything GTK is touched on GTK's own thread: the
// layer's calls queue tasks, which one idle source on GTK's main context runs in order.
//
// A window keeps, per edit and check box, the values it sent to the program that the program
// has not yet reported back. A report that matches the oldest of them is our own input coming
// back and is dropped; one that comes while input is still on its way is older than the widget
// and is dropped too; any other is the program's own change and is shown.
#include "platform/posix/front_ends/gtk_dialogs.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <future>
#include <vector>

namespace platform {
namespace {

using resources::ControlKind;

// The longest edit text read back from the program.
constexpr int kTextCapacity = 65536;

// GTK takes UTF-8 only; the program's bytes are shown with anything else replaced.
std::string Utf8(const std::string& bytes) {
  gchar* valid = g_utf8_make_valid(bytes.data(), static_cast<gssize>(bytes.size()));
  std::string text = valid;
  g_free(valid);
  return text;
}

std::string CheckValue(bool checked) {
  return checked ? "1" : "0";
}

// Whether `reported`, as the layer shows a control's value, is `sent`: a password edit is shown
// as one '*' per byte.
bool SameValue(ControlKind kind, const std::string& reported, const std::string& sent) {
  if (kind == ControlKind::kPasswordEdit) {
    return reported.size() == sent.size() &&
           std::all_of(reported.begin(), reported.end(), [](char c) { return c == '*'; });
  }
  return reported == sent;
}

bool IsCancel(const DialogControlView& control) {
  return IsPushButton(control.kind) && control.text == "Cancel";
}

}  // namespace

// GTK's state of one dialog's window.
struct GtkDialogWindow {
  struct Control {
    GtkDialogWindow* window = nullptr;
    DialogControlView view;
    GtkWidget* widget = nullptr;
    /// Values sent to the program that it has not reported back yet, oldest first.
    std::deque<std::string> pending;
  };

  HWND handle = nullptr;
  GtkWidget* top = nullptr;
  GtkWidget* firstEdit = nullptr;  ///< takes the keyboard when the window first shows
  std::vector<std::unique_ptr<Control>> controls;  ///< in template order
  int defaultId = -1;
  int cancelId = -1;
  bool updating = false;  ///< set while the program's values are put into the widgets
};

namespace {

void OnEditChanged(GtkEditable* editable, gpointer data) {
  auto* control = static_cast<GtkDialogWindow::Control*>(data);
  if (control->window->updating) {
    return;
  }
  const std::string text = gtk_entry_get_text(GTK_ENTRY(editable));
  if (SetDialogControlText(control->window->handle, control->view.id, text)) {
    control->pending.push_back(text);
  }
}

void OnToggled(GtkToggleButton* button, gpointer data) {
  auto* control = static_cast<GtkDialogWindow::Control*>(data);
  if (control->window->updating) {
    return;
  }
  if (ToggleDialogCheckBox(control->window->handle, control->view.id)) {
    control->pending.push_back(CheckValue(gtk_toggle_button_get_active(button)));
  }
}

void OnClicked(GtkButton* /*button*/, gpointer data) {
  auto* control = static_cast<GtkDialogWindow::Control*>(data);
  PressDialogButton(control->window->handle, control->view.id);
}

// Esc presses Cancel. Enter presses the focused push button, which GTK does itself, and
// otherwise the default button, wherever the focus is, as in any dialog.
gboolean OnKeyPress(GtkWidget* top, GdkEventKey* event, gpointer data) {
  auto* window = static_cast<GtkDialogWindow*>(data);
  if (event->keyval == GDK_KEY_Escape) {
    if (window->cancelId >= 0) {
      PressDialogButton(window->handle, window->cancelId);
    }
    return TRUE;
  }
  if (event->keyval != GDK_KEY_Return && event->keyval != GDK_KEY_KP_Enter &&
      event->keyval != GDK_KEY_ISO_Enter) {
    return FALSE;
  }
  GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(top));
  if (focus != nullptr && GTK_IS_BUTTON(focus) && !GTK_IS_TOGGLE_BUTTON(focus)) {
    return FALSE;
  }
  if (window->defaultId >= 0) {
    PressDialogButton(window->handle, window->defaultId);
  }
  return TRUE;
}

// The close box answers as Cancel does; the program closes the window when it destroys the
// dialog.
gboolean OnDelete(GtkWidget* /*top*/, GdkEvent* /*event*/, gpointer data) {
  auto* window = static_cast<GtkDialogWindow*>(data);
  if (window->cancelId >= 0) {
    PressDialogButton(window->handle, window->cancelId);
  }
  return TRUE;
}

}  // namespace

GtkDialogs::GtkDialogs() = default;

GtkDialogs::~GtkDialogs() {
  Stop();
}

std::string GtkDialogs::CheckBoxLabel(const std::string& text) {
  return text == "Autostart with Windows" ? "Start automatically at login" : text;
}

bool GtkDialogs::Start() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (running_) {
      return true;
    }
  }
  std::promise<bool> started;
  std::future<bool> result = started.get_future();
  thread_ = std::thread([this, &started] {
    // Before GTK's first initialisation, which would otherwise set the whole process's locale
    // from the environment while other threads run.
    static std::once_flag keepLocale;
    std::call_once(keepLocale, gtk_disable_setlocale);
    if (!gtk_init_check(nullptr, nullptr)) {
      started.set_value(false);
      return;
    }
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    {
      std::lock_guard<std::mutex> hold(lock_);
      loop_ = loop;
      running_ = true;
    }
    started.set_value(true);
    g_main_loop_run(loop);
    g_main_loop_unref(loop);
  });
  if (!result.get()) {
    thread_.join();
    return false;
  }
  return true;
}

void GtkDialogs::Stop() {
  // The last task: nothing is queued after it.
  const bool wasRunning = Post(
      [this] {
        CloseAll();
        // Nobody answers for our clipboard any more: let it go, or pasting would wait on us.
        gtk_clipboard_clear(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
        // Without the main loop, nothing else would send the X server what was just done.
        gdk_display_flush(gdk_display_get_default());
        g_main_loop_quit(static_cast<GMainLoop*>(loop_));
      },
      true);
  if (wasRunning) {
    thread_.join();
    loop_ = nullptr;
  }
}

void GtkDialogs::OnDialog(DialogChange change, const DialogView& dialog) {
  Post([this, change, dialog] { Apply(change, dialog); });
}

void GtkDialogs::OnClipboardText(const std::string& text) {
  Post([text] {
    GtkClipboard* clipboard = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
    const std::string valid = Utf8(text);
    gtk_clipboard_set_text(clipboard, valid.c_str(), static_cast<gint>(valid.size()));
    // Handed to a clipboard manager, when one runs, so it stays after the program ends.
    gtk_clipboard_set_can_store(clipboard, nullptr, 0);
    gtk_clipboard_store(clipboard);
  });
}

// ---- GTK's thread ----

bool GtkDialogs::Post(std::function<void()> task, bool last) {
  std::lock_guard<std::mutex> hold(lock_);
  if (!running_) {
    return false;
  }
  running_ = !last;
  queue_.push_back(std::move(task));
  if (!drainScheduled_) {
    drainScheduled_ = true;
    GSource* source = g_idle_source_new();
    g_source_set_callback(source, &GtkDialogs::RunQueuedSource, this, nullptr);
    g_source_attach(source, g_main_context_default());
    g_source_unref(source);
  }
  return true;
}

int GtkDialogs::RunQueuedSource(void* self) {
  static_cast<GtkDialogs*>(self)->RunQueued();
  return G_SOURCE_REMOVE;
}

void GtkDialogs::RunQueued() {
  for (;;) {
    std::function<void()> task;
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (queue_.empty()) {
        drainScheduled_ = false;
        return;
      }
      task = std::move(queue_.front());
      queue_.pop_front();
    }
    task();
  }
}

void GtkDialogs::Apply(DialogChange change, const DialogView& dialog) {
  auto found = windows_.find(dialog.dialog);
  if (change == DialogChange::kShown) {
    const bool fresh = found == windows_.end();
    if (fresh) {
      auto window = std::make_unique<GtkDialogWindow>();
      Build(*window, dialog);
      found = windows_.emplace(dialog.dialog, std::move(window)).first;
    }
    GtkDialogWindow& window = *found->second;
    Update(window, dialog, true);
    gtk_widget_show_all(window.top);
    // The first edit takes the keyboard, once it is shown: a widget not yet shown would take
    // the window's focus without the focus chain that Tab follows.
    if (fresh && window.firstEdit != nullptr) {
      gtk_widget_grab_focus(window.firstEdit);
    }
    gtk_window_present(GTK_WINDOW(window.top));
    return;
  }
  if (found == windows_.end()) {
    return;  // never shown
  }
  GtkDialogWindow& window = *found->second;
  if (change == DialogChange::kChanged) {
    Update(window, dialog, false);
  } else if (change == DialogChange::kHidden) {
    gtk_widget_hide(window.top);
  } else {
    gtk_widget_destroy(window.top);
    windows_.erase(found);
  }
}

// A grid in template order: a label with the edit after it on one row, a check box under the
// edits, other buttons across the width, and the default button with the buttons after it in
// one row of equal buttons at the bottom.
void GtkDialogs::Build(GtkDialogWindow& window, const DialogView& dialog) {
  window.handle = dialog.dialog;
  window.top = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  GtkWindow* top = GTK_WINDOW(window.top);
  gtk_window_set_title(top, Utf8(dialog.caption).c_str());
  gtk_window_set_resizable(top, FALSE);
  gtk_window_set_type_hint(top, GDK_WINDOW_TYPE_HINT_DIALOG);
  gtk_window_set_position(top, GTK_WIN_POS_CENTER);
  gtk_container_set_border_width(GTK_CONTAINER(top), 12);
  g_signal_connect(window.top, "key-press-event", G_CALLBACK(OnKeyPress), &window);
  g_signal_connect(window.top, "delete-event", G_CALLBACK(OnDelete), &window);

  GtkWidget* grid = gtk_grid_new();
  gtk_grid_set_row_spacing(GTK_GRID(grid), 8);
  gtk_grid_set_column_spacing(GTK_GRID(grid), 12);
  gtk_container_add(GTK_CONTAINER(top), grid);

  int row = 0;
  GtkWidget* buttonRow = nullptr;
  GtkWidget* firstEdit = nullptr;
  for (std::size_t i = 0; i < dialog.controls.size(); ++i) {
    auto control = std::make_unique<GtkDialogWindow::Control>();
    control->window = &window;
    control->view = dialog.controls[i];
    const DialogControlView& view = control->view;
    const bool labelsNext = view.kind == ControlKind::kStatic && i + 1 < dialog.controls.size() &&
                            IsEdit(dialog.controls[i + 1].kind);
    if (view.kind == ControlKind::kStatic) {
      control->widget = gtk_label_new(nullptr);
      gtk_label_set_xalign(GTK_LABEL(control->widget), 0.0f);
      gtk_grid_attach(GTK_GRID(grid), control->widget, 0, row, labelsNext ? 1 : 2, 1);
      row += labelsNext ? 0 : 1;
    } else if (IsEdit(view.kind)) {
      control->widget = gtk_entry_new();
      gtk_widget_set_hexpand(control->widget, TRUE);
      gtk_entry_set_width_chars(GTK_ENTRY(control->widget), 24);
      if (view.kind == ControlKind::kPasswordEdit) {
        gtk_entry_set_visibility(GTK_ENTRY(control->widget), FALSE);
        gtk_entry_set_input_purpose(GTK_ENTRY(control->widget), GTK_INPUT_PURPOSE_PASSWORD);
      }
      g_signal_connect(control->widget, "changed", G_CALLBACK(OnEditChanged), control.get());
      gtk_grid_attach(GTK_GRID(grid), control->widget, 1, row++, 1, 1);
      firstEdit = firstEdit != nullptr ? firstEdit : control->widget;
    } else if (view.kind == ControlKind::kCheckBox) {
      control->widget = gtk_check_button_new_with_label("");
      g_signal_connect(control->widget, "toggled", G_CALLBACK(OnToggled), control.get());
      gtk_grid_attach(GTK_GRID(grid), control->widget, 1, row++, 1, 1);
    } else {
      control->widget = gtk_button_new_with_label("");
      g_signal_connect(control->widget, "clicked", G_CALLBACK(OnClicked), control.get());
      if (view.kind == ControlKind::kDefaultPushButton && buttonRow == nullptr) {
        window.defaultId = view.id;
        buttonRow = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
        gtk_box_set_homogeneous(GTK_BOX(buttonRow), TRUE);
        gtk_widget_set_margin_top(buttonRow, 4);
        gtk_grid_attach(GTK_GRID(grid), buttonRow, 0, row++, 2, 1);
        gtk_widget_set_can_default(control->widget, TRUE);
        gtk_window_set_default(top, control->widget);
      }
      if (buttonRow != nullptr) {
        gtk_box_pack_start(GTK_BOX(buttonRow), control->widget, TRUE, TRUE, 0);
      } else {
        gtk_grid_attach(GTK_GRID(grid), control->widget, 0, row++, 2, 1);
      }
      if (IsCancel(view)) {
        window.cancelId = view.id;
      }
    }
    window.controls.push_back(std::move(control));
  }
  window.firstEdit = firstEdit;
}

// Shows the program's values. `resync` (the dialog shown) takes them all, whatever is on its
// way; otherwise reports of our own input are recognised as described at the top.
void GtkDialogs::Update(GtkDialogWindow& window, const DialogView& dialog, bool resync) {
  window.updating = true;
  // The layer reports the controls of the template, in its order: ours.
  const std::size_t count = std::min(dialog.controls.size(), window.controls.size());
  for (std::size_t i = 0; i < count; ++i) {
    const DialogControlView& reported = dialog.controls[i];
    GtkDialogWindow::Control& control = *window.controls[i];
    const bool input = IsEdit(reported.kind) || reported.kind == ControlKind::kCheckBox;
    if (input && !resync && !control.pending.empty()) {
      const std::string value =
          IsEdit(reported.kind) ? reported.text : CheckValue(reported.checked);
      if (SameValue(reported.kind, value, control.pending.front())) {
        control.pending.pop_front();
      }
      continue;
    }
    control.pending.clear();
    control.view = reported;
    if (IsEdit(reported.kind)) {
      std::string text = reported.text;
      if (reported.kind == ControlKind::kPasswordEdit) {
        // The report hides the password; the widget needs it to edit it.
        std::vector<char> buffer(kTextCapacity);
        GetDlgItemTextA(window.handle, reported.id, buffer.data(), kTextCapacity);
        text = buffer.data();
      }
      text = Utf8(text);
      if (text != gtk_entry_get_text(GTK_ENTRY(control.widget))) {
        gtk_entry_set_text(GTK_ENTRY(control.widget), text.c_str());
      }
    } else if (reported.kind == ControlKind::kStatic) {
      const std::string text = Utf8(reported.text);
      if (text != gtk_label_get_text(GTK_LABEL(control.widget))) {
        gtk_label_set_text(GTK_LABEL(control.widget), text.c_str());
      }
    } else {
      const bool checkBox = reported.kind == ControlKind::kCheckBox;
      const std::string text = Utf8(checkBox ? CheckBoxLabel(reported.text) : reported.text);
      const gchar* shown = gtk_button_get_label(GTK_BUTTON(control.widget));
      if (shown == nullptr || text != shown) {
        gtk_button_set_label(GTK_BUTTON(control.widget), text.c_str());
      }
      if (checkBox) {
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(control.widget), reported.checked);
      }
    }
  }
  window.updating = false;
}

void GtkDialogs::CloseAll() {
  for (auto& entry : windows_) {
    gtk_widget_destroy(entry.second->top);
  }
  windows_.clear();
}

}  // namespace platform
