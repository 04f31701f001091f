#include "platform/posix/front_ends/desktop_front_end.h"

#include <systemd/sd-bus.h>

#include "platform/posix/front_ends/gtk_dialogs.h"
#include "platform/posix/front_ends/status_notifier_tray.h"

namespace platform {

namespace {

constexpr char kTrayId[] = "zarnik-viewer";
constexpr char kTrayTitle[] = "Zarnik Viewer";

// The tray icon and its menu in the panel; the dialogs as windows of the desktop.
class DesktopFrontEnd : public FrontEnd {
 public:
  DesktopFrontEnd() : tray_(kTrayId, kTrayTitle) {}

  /// The tray needs the session bus; the dialogs need a display, and without one the settings
  /// dialog cannot be shown, while the tray still updates and ends the program.
  bool Start() {
    if (!tray_.Start()) {
      return false;
    }
    dialogs_.Start();
    return true;
  }

  void OnNotifyIcon(NotifyIconChange change, const NotifyIconView& icon) override {
    tray_.OnNotifyIcon(change, icon);
  }
  void ShowMenu(const MenuView& menu) override { tray_.ShowMenu(menu); }
  void OnDialog(DialogChange change, const DialogView& dialog) override {
    dialogs_.OnDialog(change, dialog);
  }
  void OnClipboardText(const std::string& text) override { dialogs_.OnClipboardText(text); }
  bool TerminalAttached() override { return false; }
  void WriteToTerminal(const std::string&) override {}
  bool ShowOutputLine(const std::string&) override { return false; }

 private:
  StatusNotifierTray tray_;
  GtkDialogs dialogs_;
};

}  // namespace

DesktopBusProbe ProbeDesktopBus() {
  DesktopBusProbe probe;
  probe.built = true;
  sd_bus* bus = nullptr;
  if (sd_bus_open_user(&bus) < 0) {
    return probe;
  }
  probe.reachable = true;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  int owned = 0;
  if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                         "org.freedesktop.DBus", "NameHasOwner", &error, &reply, "s",
                         "org.kde.StatusNotifierWatcher") >= 0 &&
      sd_bus_message_read(reply, "b", &owned) >= 0) {
    probe.trayWatcher = owned != 0;
  }
  sd_bus_message_unref(reply);
  sd_bus_error_free(&error);
  sd_bus_flush_close_unref(bus);
  return probe;
}

std::unique_ptr<FrontEnd> StartDesktopFrontEnd() {
  auto frontEnd = std::make_unique<DesktopFrontEnd>();
  if (!frontEnd->Start()) {
    return nullptr;
  }
  return frontEnd;
}

}  // namespace platform
