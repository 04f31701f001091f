#include "platform/posix/front_ends/programmatic_front_end.h"

#include <algorithm>

namespace platform {

void ProgrammaticFrontEnd::OnNotifyIcon(NotifyIconChange change, const NotifyIconView& icon) {
  std::lock_guard<std::mutex> hold(lock_);
  iconEvents_.push_back(IconEvent{change, icon});
}

void ProgrammaticFrontEnd::ShowMenu(const MenuView& menu) {
  std::lock_guard<std::mutex> hold(lock_);
  menus_.push_back(menu);
  menuShown_.notify_all();
}

void ProgrammaticFrontEnd::OnDialog(DialogChange change, const DialogView& dialog) {
  std::lock_guard<std::mutex> hold(lock_);
  dialogEvents_.push_back(DialogEvent{change, dialog});
}

void ProgrammaticFrontEnd::OnClipboardText(const std::string& text) {
  std::lock_guard<std::mutex> hold(lock_);
  clipboardTexts_.push_back(text);
}

bool ProgrammaticFrontEnd::TerminalAttached() {
  std::lock_guard<std::mutex> hold(lock_);
  return terminalAttached_;
}

void ProgrammaticFrontEnd::WriteToTerminal(const std::string& bytes) {
  std::lock_guard<std::mutex> hold(lock_);
  terminalOutput_ += bytes;
}

bool ProgrammaticFrontEnd::ShowOutputLine(const std::string&) {
  return false;
}

void ProgrammaticFrontEnd::AttachTerminal(bool attached) {
  std::lock_guard<std::mutex> hold(lock_);
  terminalAttached_ = attached;
}

std::vector<ProgrammaticFrontEnd::IconEvent> ProgrammaticFrontEnd::IconEvents() const {
  std::lock_guard<std::mutex> hold(lock_);
  return iconEvents_;
}

std::vector<MenuView> ProgrammaticFrontEnd::MenusShown() const {
  std::lock_guard<std::mutex> hold(lock_);
  return menus_;
}

std::vector<ProgrammaticFrontEnd::DialogEvent> ProgrammaticFrontEnd::DialogEvents() const {
  std::lock_guard<std::mutex> hold(lock_);
  return dialogEvents_;
}

std::vector<std::string> ProgrammaticFrontEnd::ClipboardTexts() const {
  std::lock_guard<std::mutex> hold(lock_);
  return clipboardTexts_;
}

std::string ProgrammaticFrontEnd::TerminalOutput() const {
  std::lock_guard<std::mutex> hold(lock_);
  return terminalOutput_;
}

bool ProgrammaticFrontEnd::WaitForMenus(std::size_t count, std::chrono::milliseconds limit) const {
  std::unique_lock<std::mutex> hold(lock_);
  return menuShown_.wait_for(hold, limit, [&] { return menus_.size() >= count; });
}

bool ProgrammaticFrontEnd::ClickIcon(HWND owner, UINT iconId, UINT mouseMessage, POINT cursor) {
  return PostNotifyIconMouseEvent(owner, iconId, mouseMessage, cursor);
}

bool ProgrammaticFrontEnd::LastMenu(MenuView& menu) const {
  std::lock_guard<std::mutex> hold(lock_);
  if (menus_.empty()) {
    return false;
  }
  menu = menus_.back();
  return true;
}

bool ProgrammaticFrontEnd::ChooseMenuItemById(UINT id) {
  MenuView menu;
  if (!LastMenu(menu)) {
    return false;
  }
  auto found = std::find_if(menu.items.begin(), menu.items.end(), [&](const MenuItemView& item) {
    return !item.separator && item.id == id;
  });
  return found != menu.items.end() &&
         ChooseMenuItem(menu.serial, static_cast<UINT>(found - menu.items.begin()));
}

bool ProgrammaticFrontEnd::ChooseMenuItemAt(UINT position) {
  MenuView menu;
  return LastMenu(menu) && ChooseMenuItem(menu.serial, position);
}

bool ProgrammaticFrontEnd::CloseMenu() {
  MenuView menu;
  return LastMenu(menu) && platform::CloseMenu(menu.serial);
}

bool ProgrammaticFrontEnd::TypeText(HWND dialog, int controlId, const std::string& text) {
  return SetDialogControlText(dialog, controlId, text);
}

bool ProgrammaticFrontEnd::ToggleCheckBox(HWND dialog, int controlId) {
  return ToggleDialogCheckBox(dialog, controlId);
}

bool ProgrammaticFrontEnd::PressButton(HWND dialog, int controlId) {
  return PressDialogButton(dialog, controlId);
}

}  // namespace platform
