#pragma once

// The windows of the process, by handle: what the message functions, dialogs and menus look up.

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/posix/desktop/message_queue.h"
#include "platform/posix/front_ends/front_end.h"
#include "platform/posix/kernel/kernel_objects.h"
#include "platform/win32.h"

namespace platform {

/// The one object of type T in the process, made on first use (safely from any thread).
template <typename T>
T& TheOne() {
  static T one;
  return one;
}

/// A dialog's control: what the front end is shown, but with the real text of a password edit.
using DialogControl = DialogControlView;

/// One window. The fields set at creation never change; the rest is guarded by `lock`.
struct WindowRecord {
  HWND handle = nullptr;
  WNDPROC procedure = nullptr;
  DLGPROC dialogProcedure = nullptr;  ///< set for dialogs, which have no window procedure
  HWND owner = nullptr;
  std::shared_ptr<MessageQueue> queue;  ///< of the thread that created the window

  std::mutex lock;
  std::string title;
  bool visible = false;
  bool destroying = false;
  std::vector<DialogControl> controls;    ///< dialogs only
  std::vector<unsigned char> extraBytes;  ///< the class's cbWndExtra, zeroed at creation
};

class WindowTable {
 public:
  /// Gives the record a new handle (never one used before) and registers it.
  HWND Add(std::shared_ptr<WindowRecord> record);
  void Remove(HWND window);
  /// The record, or null with the last error ERROR_INVALID_WINDOW_HANDLE.
  std::shared_ptr<WindowRecord> Find(HWND window) const;
  std::vector<HWND> OwnedBy(HWND owner) const;

 private:
  mutable std::mutex lock_;
  std::map<HWND, std::shared_ptr<WindowRecord>> windows_;
  std::uintptr_t nextHandle_ = 0x10000;
};

/// A record for a new window of the calling thread, owned by `owner`; null (with the last error
/// ERROR_INVALID_WINDOW_HANDLE) when `owner` is given but is not a window.
std::shared_ptr<WindowRecord> NewWindowRecord(HWND owner, std::string title);

/// Calls the window's procedure (or dialog procedure) on the calling thread; 0 for no window.
LRESULT CallWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

/// Tells the front end about a dialog (a window with controls); does nothing for other windows.
void ReportDialog(WindowRecord& record, DialogChange change);

/// Remembers where the front end last saw the mouse.
void MoveCursor(POINT position);

}  // namespace platform
