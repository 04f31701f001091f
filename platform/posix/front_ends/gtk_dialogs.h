#pragma once

// The program's dialogs as real windows on the desktop, and its clipboard as the desktop's, with
// GTK 3. A desktop front end hands its OnDialog and OnClipboardText calls on to this class.
//
// GTK runs on a thread of its own, in its own main loop; the calls below only queue work for it,
// so they never block on the desktop. What a person does in a window goes back through the
// layer's input functions (SetDialogControlText, ToggleDialogCheckBox, PressDialogButton), so the
// program reads typed text with GetDlgItemTextA and gets its WM_COMMAND as it does on Windows.
// Keys: Tab and Shift+Tab move, Enter presses the default button (or the focused push button),
// Esc and the window's close box press "Cancel".

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/posix/front_ends/front_end.h"

namespace platform {

struct GtkDialogWindow;

class GtkDialogs {
 public:
  GtkDialogs();
  /// Stops.
  ~GtkDialogs();
  GtkDialogs(const GtkDialogs&) = delete;
  GtkDialogs& operator=(const GtkDialogs&) = delete;

  /// Connects to the display and starts GTK's thread. GTK is told not to change the process's
  /// locale. False, with no thread left running, when there is no display to connect to. Once
  /// started, calling again does nothing and returns true.
  bool Start();
  /// Closes every window and ends GTK's thread; what is on the clipboard stays only where a
  /// clipboard manager took it. Does nothing when not started.
  void Stop();

  /// Shows, updates, hides or closes the dialog's window. Changes the program made update the
  /// widgets without going back to the program; changes that come back from the person's own
  /// input are recognised and leave the widgets alone. Any thread; ignored when not started.
  void OnDialog(DialogChange change, const DialogView& dialog);
  /// Puts the text on the desktop's clipboard (CLIPBOARD), and hands it to a clipboard manager
  /// where there is one, so that it outlives the program. Any thread; ignored when not started.
  void OnClipboardText(const std::string& text);

  /// The label a check box shows on this desktop for the template's `text`: the template's own
  /// words, except where they name Windows.
  static std::string CheckBoxLabel(const std::string& text);

 private:
  /// Queues `task` for GTK's thread, in order; false when not started. `last`: nothing may be
  /// queued after it.
  bool Post(std::function<void()> task, bool last = false);
  /// Runs the queued tasks; GTK's thread.
  void RunQueued();
  static int RunQueuedSource(void* self);

  // GTK's thread only.
  void Apply(DialogChange change, const DialogView& dialog);
  void Build(GtkDialogWindow& window, const DialogView& dialog);
  void Update(GtkDialogWindow& window, const DialogView& dialog, bool resync);
  void CloseAll();

  std::mutex lock_;
  bool running_ = false;
  bool drainScheduled_ = false;
  std::deque<std::function<void()>> queue_;
  std::thread thread_;
  void* loop_ = nullptr;  ///< GTK's GMainLoop; GTK's thread and Stop only

  std::map<HWND, std::unique_ptr<GtkDialogWindow>> windows_;  ///< GTK's thread only
};

}  // namespace platform
