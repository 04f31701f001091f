#pragma once

// The front end the tests drive the program with: it records what the desktop layer shows and
// acts as a user would, through the front end's input functions.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "platform/posix/front_ends/front_end.h"

namespace platform {

/// A front end for tests: records everything shown, and drives the program like a user.
class ProgrammaticFrontEnd : public FrontEnd {
 public:
  struct IconEvent {
    NotifyIconChange change;
    NotifyIconView icon;
  };
  struct DialogEvent {
    DialogChange change;
    DialogView dialog;
  };

  void OnNotifyIcon(NotifyIconChange change, const NotifyIconView& icon) override;
  void ShowMenu(const MenuView& menu) override;
  void OnDialog(DialogChange change, const DialogView& dialog) override;
  void OnClipboardText(const std::string& text) override;
  bool TerminalAttached() override;
  void WriteToTerminal(const std::string& bytes) override;
  /// Has no place for it: false.
  bool ShowOutputLine(const std::string& line) override;

  void AttachTerminal(bool attached);

  std::vector<IconEvent> IconEvents() const;
  std::vector<MenuView> MenusShown() const;
  std::vector<DialogEvent> DialogEvents() const;
  std::vector<std::string> ClipboardTexts() const;
  std::string TerminalOutput() const;

  /// Waits until at least `count` menus have been shown; FALSE when `limit` passed first.
  bool WaitForMenus(std::size_t count, std::chrono::milliseconds limit) const;

  bool ClickIcon(HWND owner, UINT iconId, UINT mouseMessage, POINT cursor = {0, 0});
  /// Choose from, or close, the most recently shown menu.
  bool ChooseMenuItemById(UINT id);
  bool ChooseMenuItemAt(UINT position);
  bool CloseMenu();
  bool TypeText(HWND dialog, int controlId, const std::string& text);
  bool ToggleCheckBox(HWND dialog, int controlId);
  bool PressButton(HWND dialog, int controlId);

 private:
  /// The most recently shown menu; false when none was shown.
  bool LastMenu(MenuView& menu) const;

  mutable std::mutex lock_;
  mutable std::condition_variable menuShown_;
  std::vector<IconEvent> iconEvents_;
  std::vector<MenuView> menus_;
  std::vector<DialogEvent> dialogEvents_;
  std::vector<std::string> clipboardTexts_;
  std::string terminalOutput_;
  bool terminalAttached_ = false;
};

}  // namespace platform
