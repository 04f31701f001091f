#pragma once

// The tray icon and its menu in a desktop panel, over D-Bus: the icon is a StatusNotifierItem
// (org.kde.StatusNotifierItem, registered with the panel's org.kde.StatusNotifierWatcher), its
// menu a com.canonical.dbusmenu, which is what KDE Plasma, XFCE, Cinnamon, LXQt, waybar and GNOME
// with the AppIndicator extension show. A desktop front end hands it the tray icon and menu calls
// of the layer; clicks in the panel come back through the layer's input functions, as a person's
// clicks at a Windows desktop would.
//
// The connection runs on a thread of its own that sleeps until the bus or a call of ours has
// something for it, so an idle tray costs no CPU. The panel reads the menu before it shows it,
// without waiting for a click to be answered, so the tray keeps the last menu the program built
// and asks for a fresh one (a right click on the icon, as the program knows it) when the item
// registers, when the panel is about to show the menu, and after each choice.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/front_ends/front_end.h"

namespace platform {

class StatusNotifierTray {
 public:
  /// `id` names the program to the panel (e.g. its desktop entry's name), `title` is the name a
  /// person reads.
  StatusNotifierTray(std::string id, std::string title);
  /// Stops.
  ~StatusNotifierTray();
  StatusNotifierTray(const StatusNotifierTray&) = delete;
  StatusNotifierTray& operator=(const StatusNotifierTray&) = delete;

  /// Connects to the bus at `address` (a D-Bus address such as "unix:path=/run/user/1000/bus";
  /// empty: the user's session bus) and starts the connection's thread. False, with nothing
  /// started, when there is no such bus; true at once when already started. The icon appears
  /// once the layer adds it, registered with the panel's watcher as soon as there is one.
  bool Start(const std::string& address = "");
  /// Leaves the bus (the icon disappears from the panel) and ends the connection's thread.
  /// Does nothing when not started.
  void Stop();

  /// The layer's tray icon changes: added registers the item with the watcher, modified signals
  /// the new picture or tip to the panel, deleted leaves the bus. Returns at once.
  void OnNotifyIcon(NotifyIconChange change, const NotifyIconView& icon);
  /// A menu the program built: the one the panel shows from now on. Returns at once.
  void ShowMenu(const MenuView& menu);

  /// The bus name the item is known by while it is shown: org.kde.StatusNotifierItem-PID-N.
  const std::string& BusName() const { return busName_; }

  /// The menu protocol's id of the item at `position` of the program's menu; id 0 is the menu's
  /// root, which no item of the program has.
  static int MenuItemId(std::size_t position) { return static_cast<int>(position) + 1; }

 private:
  struct BusState;

  /// Wakes the connection's thread to publish what changed.
  void Wake();

  // The connection's thread.
  void Run();
  void ApplyChanges();
  void Enter();
  void Leave();
  void RegisterWithWatcher();
  /// Asks the program for a fresh menu: a right click on the icon.
  void RequestMenu();
  void Click(UINT down, UINT up);

  // The D-Bus side, on the connection's thread: sd-bus's callbacks, which reach in here.
  struct Handlers;
  /// One "clicked" (or other) event on the menu item `id`; true when `id` names an item.
  bool HandleMenuEvent(int id, const std::string& eventId);

  const std::string id_;
  const std::string title_;
  const std::string busName_;
  std::unique_ptr<BusState> bus_;  ///< set while started; the connection's thread owns its inside
  std::thread thread_;

  // What the layer told us, for the connection's thread to publish.
  mutable std::mutex lock_;
  int wake_ = -1;  ///< an eventfd that wakes the connection's thread; set while started
  bool stopping_ = false;
  bool iconShown_ = false;
  NotifyIconView icon_;
  MenuView menu_;
  bool menuFresh_ = false;  ///< a menu came that the thread has not yet compared with the last
};

}  // namespace platform
