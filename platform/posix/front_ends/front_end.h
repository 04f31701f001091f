#pragma once

// Where the desktop layer meets whoever shows it: a terminal for a person, or a test. The layer
// tells the front end what changed (the tray icon, a popup menu to show, a dialog, the clipboard);
// the front end feeds input back through the functions below, which are safe to call from any
// thread and reach the program through the message queue of the window's thread, as mouse and
// keyboard input do on Windows.

#include <shared_mutex>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "resources/dialog_templates.h"

namespace platform {

enum class NotifyIconChange { kAdded, kModified, kDeleted };

/// One tray icon as it stands after a change.
struct NotifyIconView {
  HWND owner = nullptr;
  UINT id = 0;
  int iconNumber = 0;  ///< the resource number LoadIconA was given; 0: no icon
  std::string tip;     ///< at most 63 characters
  UINT callbackMessage = 0;
  bool hasCallback = false;  ///< mouse events reach the owner only when set
};

/// A copy of one menu item, taken when the menu was shown.
struct MenuItemView {
  std::string text;
  UINT id = 0;
  bool grayed = false;
  bool disabled = false;
  bool separator = false;
  bool Choosable() const { return !grayed && !disabled && !separator; }
};

/// A popup menu to show. `serial` names this showing: a choice must quote it, so that a choice
/// made from a menu that has since been replaced is refused.
struct MenuView {
  unsigned serial = 0;
  HWND owner = nullptr;
  int x = 0;
  int y = 0;
  UINT flags = 0;
  std::vector<MenuItemView> items;  ///< top to bottom
};

enum class DialogChange { kShown, kChanged, kHidden, kDestroyed };

/// A copy of one dialog control. A password edit shows one '*' per character, never its text.
struct DialogControlView {
  int id = -1;
  resources::ControlKind kind = resources::ControlKind::kStatic;
  std::string text;
  bool checked = false;
};

/// Edits take typed text.
inline bool IsEdit(resources::ControlKind kind) {
  return kind == resources::ControlKind::kEdit || kind == resources::ControlKind::kPasswordEdit;
}
inline bool IsPushButton(resources::ControlKind kind) {
  return kind == resources::ControlKind::kPushButton ||
         kind == resources::ControlKind::kDefaultPushButton;
}

struct DialogView {
  HWND dialog = nullptr;
  std::string caption;
  std::vector<DialogControlView> controls;  ///< in template order
};

/// What the layer tells the front end. Calls come on the thread that made the change (the
/// window's own thread for menus and dialogs, any thread for the tray icon and the clipboard) and
/// must not block for long. They may call the input functions below, nothing else of the layer.
class FrontEnd {
 public:
  virtual ~FrontEnd() = default;
  virtual void OnNotifyIcon(NotifyIconChange change, const NotifyIconView& icon) = 0;
  /// The menu stays open until ChooseMenuItem or CloseMenu, or until another menu replaces it.
  virtual void ShowMenu(const MenuView& menu) = 0;
  virtual void OnDialog(DialogChange change, const DialogView& dialog) = 0;
  virtual void OnClipboardText(const std::string& text) = 0;
  /// Whether a terminal is attached; the clipboard text then also goes to it as OSC 52.
  virtual bool TerminalAttached() = 0;
  virtual void WriteToTerminal(const std::string& bytes) = 0;
  /// A line of the program's own output: shown apart from the tray's drawing, and true, when the
  /// front end has a place for it; false leaves it to standard output.
  virtual bool ShowOutputLine(const std::string& line) = 0;
};

/// Applies a change of the tray icon to the one a front end shows (`shown`, `current`): added or
/// modified shows `icon`; deleted hides the icon shown when it is that one.
void TrackNotifyIcon(NotifyIconChange change, const NotifyIconView& icon, bool& shown,
                     NotifyIconView& current);

/// Installs the front end (null: none; menus then close at once and nothing is shown). Waits
/// until calls into the old front end that are in progress have returned, so the old one may be
/// destroyed afterwards; must not be called from within a call into a front end.
void SetFrontEnd(FrontEnd* frontEnd);
FrontEnd* InstalledFrontEnd();

/// The installed front end, held for one call into it: SetFrontEnd waits while one is held.
class FrontEndInUse {
 public:
  FrontEndInUse();
  FrontEnd* operator->() const { return frontEnd_; }
  explicit operator bool() const { return frontEnd_ != nullptr; }

 private:
  std::shared_lock<std::shared_mutex> hold_;
  FrontEnd* frontEnd_;
};

// ---- Input from the front end: thread-safe, through the window thread's queue ----

/// A mouse event on the tray icon: posts the icon's callback message to its owner with the icon
/// identifier as wParam and `mouseMessage` (WM_RBUTTONUP, WM_LBUTTONUP, ...) as lParam, and
/// remembers `cursor` for GetCursorPos. FALSE when there is no such icon or it has no callback.
bool PostNotifyIconMouseEvent(HWND owner, UINT iconId, UINT mouseMessage, POINT cursor = {0, 0});

/// Chooses the item at `position` of the open menu `serial`: the menu closes and WM_COMMAND with
/// the item's identifier is posted to its owner. FALSE (and the menu stays open) for a greyed,
/// disabled or separator item; FALSE for a menu that is no longer open.
bool ChooseMenuItem(unsigned serial, UINT position);
/// Closes the open menu `serial` without a choice. FALSE when it was not open.
bool CloseMenu(unsigned serial);

/// Replaces the text of an edit control, as typing would. FALSE for an unknown dialog or a
/// control that is not an edit.
bool SetDialogControlText(HWND dialog, int controlId, const std::string& text);
/// Clicks a check box: it toggles and the dialog gets WM_COMMAND (BN_CLICKED) with its identifier.
bool ToggleDialogCheckBox(HWND dialog, int controlId);
/// Clicks a push button: the dialog gets WM_COMMAND (BN_CLICKED) with its identifier.
bool PressDialogButton(HWND dialog, int controlId);

/// The resource number behind an icon handle of LoadIconA; 0 for anything else.
int IconResourceNumber(HICON icon);

}  // namespace platform
