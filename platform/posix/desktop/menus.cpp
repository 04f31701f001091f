// Popup menus: the menus being built, and the one menu the front end shows at a time. The
// front end gets a copy of the items, because the program destroys its menu as soon as
// TrackPopupMenu returns; the choice comes back later as WM_COMMAND through the owner's queue.
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/posix/desktop/window_table.h"

namespace platform {
namespace {

constexpr UINT kAppend = 0xFFFFFFFF;
constexpr UINT kSupportedFlags = MF_GRAYED | MF_DISABLED | MF_BYPOSITION | MF_SEPARATOR;

class MenuTable {
 public:
  HMENU Create() {
    std::lock_guard<std::mutex> hold(lock_);
    HMENU menu = reinterpret_cast<HMENU>(nextHandle_);
    nextHandle_ += 4;
    menus_[menu];
    return menu;
  }

  bool Insert(HMENU menu, UINT position, UINT flags, MenuItemView item) {
    std::lock_guard<std::mutex> hold(lock_);
    auto found = menus_.find(menu);
    if (found == menus_.end()) {
      SetLastErrorCode(ERROR_INVALID_MENU_HANDLE);
      return false;
    }
    std::vector<MenuItemView>& items = found->second;
    std::size_t before = items.size();
    if ((flags & MF_BYPOSITION) != 0) {
      if (position != kAppend && position < items.size()) {
        before = position;
      }
    } else {
      before = 0;
      while (before < items.size() && items[before].id != position) {
        ++before;
      }
      if (before == items.size()) {
        SetLastErrorCode(ERROR_INVALID_PARAMETER);
        return false;
      }
    }
    items.insert(items.begin() + static_cast<std::ptrdiff_t>(before), std::move(item));
    return true;
  }

  bool Destroy(HMENU menu) {
    std::lock_guard<std::mutex> hold(lock_);
    return menus_.erase(menu) == 1;
  }

  bool Copy(HMENU menu, std::vector<MenuItemView>* items) const {
    std::lock_guard<std::mutex> hold(lock_);
    auto found = menus_.find(menu);
    if (found == menus_.end()) {
      return false;
    }
    *items = found->second;
    return true;
  }

 private:
  mutable std::mutex lock_;
  std::map<HMENU, std::vector<MenuItemView>> menus_;
  std::uintptr_t nextHandle_ = 0x20000;
};

// The menu on show, as on Windows at most one at a time: a new one replaces it.
class OpenMenu {
 public:
  unsigned Open(HWND owner, const std::vector<MenuItemView>& items) {
    std::lock_guard<std::mutex> hold(lock_);
    owner_ = owner;
    items_ = items;
    open_ = true;
    return ++serial_;
  }

  /// Closes the menu and gives the identifier to send when the item may be chosen.
  bool Choose(unsigned serial, UINT position, HWND* owner, UINT* id) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!open_ || serial != serial_ || position >= items_.size() || !items_[position].Choosable()) {
      return false;
    }
    open_ = false;
    *owner = owner_;
    *id = items_[position].id;
    return true;
  }

  bool Close(unsigned serial) {
    std::lock_guard<std::mutex> hold(lock_);
    const bool wasOpen = open_ && serial == serial_;
    open_ = open_ && !wasOpen;
    return wasOpen;
  }

 private:
  std::mutex lock_;
  HWND owner_ = nullptr;
  std::vector<MenuItemView> items_;
  bool open_ = false;
  unsigned serial_ = 0;
};

}  // namespace

bool ChooseMenuItem(unsigned serial, UINT position) {
  HWND owner;
  UINT id;
  if (!TheOne<OpenMenu>().Choose(serial, position, &owner, &id)) {
    return false;
  }
  // A menu command carries the identifier in the low word and 0 in the high word and lParam.
  return PostMessageA(owner, WM_COMMAND, MAKEWPARAM(LOWORD(id), 0), 0) != FALSE;
}

bool CloseMenu(unsigned serial) {
  return TheOne<OpenMenu>().Close(serial);
}

}  // namespace platform

using platform::MenuTable;
using platform::TheOne;

HMENU CreatePopupMenu() {
  return TheOne<MenuTable>().Create();
}

BOOL InsertMenuA(HMENU menu, UINT position, UINT flags, UINT_PTR id, LPCSTR text) {
  // Submenus, bitmaps and owner-drawn items are not needed by the program.
  if ((flags & ~platform::kSupportedFlags) != 0) {
    platform::SetLastErrorCode(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  platform::MenuItemView item;
  item.separator = (flags & MF_SEPARATOR) != 0;
  item.grayed = (flags & MF_GRAYED) != 0;
  item.disabled = (flags & MF_DISABLED) != 0;
  item.id = static_cast<UINT>(id);
  if (!item.separator && text != nullptr) {
    item.text = text;
  }
  return TheOne<MenuTable>().Insert(menu, position, flags, std::move(item)) ? TRUE : FALSE;
}

BOOL DestroyMenu(HMENU menu) {
  if (!TheOne<MenuTable>().Destroy(menu)) {
    platform::SetLastErrorCode(ERROR_INVALID_MENU_HANDLE);
    return FALSE;
  }
  return TRUE;
}

BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int /*reserved*/, HWND owner,
                    const RECT* /*rect*/) {
  platform::MenuView view;
  if (!TheOne<MenuTable>().Copy(menu, &view.items)) {
    platform::SetLastErrorCode(ERROR_INVALID_MENU_HANDLE);
    return FALSE;
  }
  if (!IsWindow(owner)) {
    return FALSE;
  }
  platform::FrontEndInUse frontEnd;
  if (!frontEnd) {
    return TRUE;  // nobody to show it to: it closes at once without a choice
  }
  view.owner = owner;
  view.x = x;
  view.y = y;
  view.flags = flags;
  // Opened before the front end hears of it, so that it may choose at once.
  view.serial = TheOne<platform::OpenMenu>().Open(owner, view.items);
  frontEnd->ShowMenu(view);
  return TRUE;
}
