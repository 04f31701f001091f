// The notification area: the program's tray icons by owner window and identifier, and the mouse
// events the front end reports on them.
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

#include "platform/posix/desktop/window_table.h"

namespace platform {
namespace {

constexpr std::size_t kTipCapacity = sizeof(NOTIFYICONDATAA::szTip) - 1;

class NotifyIconArea {
 public:
  bool Apply(DWORD message, const NOTIFYICONDATAA& data) {
    // One change at a time, reported in the order made: the animation changes the icon from
    // several threads at once.
    std::lock_guard<std::mutex> inOrder(changes_);
    NotifyIconChange change;
    NotifyIconView view;
    {
      std::lock_guard<std::mutex> hold(lock_);
      const Key key{data.hWnd, data.uID};
      auto found = icons_.find(key);
      switch (message) {
        case NIM_ADD:
          if (found != icons_.end() || !IsWindow(data.hWnd)) {
            return false;
          }
          view.owner = data.hWnd;
          view.id = data.uID;
          Update(&view, data);
          icons_.emplace(key, view);
          change = NotifyIconChange::kAdded;
          break;
        case NIM_MODIFY:
          if (found == icons_.end()) {
            return false;
          }
          Update(&found->second, data);
          view = found->second;
          change = NotifyIconChange::kModified;
          break;
        case NIM_DELETE:
          if (found == icons_.end()) {
            return false;
          }
          view = found->second;
          icons_.erase(found);
          change = NotifyIconChange::kDeleted;
          break;
        default:
          return false;
      }
    }
    if (FrontEndInUse frontEnd; frontEnd) {
      frontEnd->OnNotifyIcon(change, view);
    }
    return true;
  }

  bool CallbackOf(HWND owner, UINT id, UINT* callbackMessage) const {
    std::lock_guard<std::mutex> hold(lock_);
    auto found = icons_.find(Key{owner, id});
    if (found == icons_.end() || !found->second.hasCallback) {
      return false;
    }
    *callbackMessage = found->second.callbackMessage;
    return true;
  }

 private:
  using Key = std::pair<HWND, UINT>;

  static void Update(NotifyIconView* view, const NOTIFYICONDATAA& data) {
    if ((data.uFlags & NIF_MESSAGE) != 0) {
      view->hasCallback = true;
      view->callbackMessage = data.uCallbackMessage;
    }
    if ((data.uFlags & NIF_ICON) != 0) {
      view->iconNumber = IconResourceNumber(data.hIcon);
    }
    if ((data.uFlags & NIF_TIP) != 0) {
      // The tip need not be terminated within its field; never read past it.
      view->tip.assign(data.szTip, strnlen(data.szTip, kTipCapacity));
    }
  }

  std::mutex changes_;
  mutable std::mutex lock_;
  std::map<Key, NotifyIconView> icons_;
};

}  // namespace

bool PostNotifyIconMouseEvent(HWND owner, UINT iconId, UINT mouseMessage, POINT cursor) {
  UINT callbackMessage;
  if (!TheOne<NotifyIconArea>().CallbackOf(owner, iconId, &callbackMessage)) {
    return false;
  }
  MoveCursor(cursor);
  return PostMessageA(owner, callbackMessage, iconId, static_cast<LPARAM>(mouseMessage)) != FALSE;
}

}  // namespace platform

BOOL Shell_NotifyIconA(DWORD message, PNOTIFYICONDATAA data) {
  if (data == nullptr) {
    return FALSE;
  }
  return platform::TheOne<platform::NotifyIconArea>().Apply(message, *data) ? TRUE : FALSE;
}
