#pragma once

#include <systemd/sd-bus.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace test_support {

/// A desktop panel as tray items see it, on a bus of the test's: the StatusNotifierWatcher that
/// items register with, and the host that reads their icons and menus and clicks them. All its
/// calls are made on the test's thread; WaitFor lets the bus and the test's own work run.
class FakeTrayPanel {
 public:
  /// Connects to the bus at `address` and takes the watcher's name.
  explicit FakeTrayPanel(const std::string& address);
  /// Leaves the bus: to the items, the panel has gone away.
  ~FakeTrayPanel();
  FakeTrayPanel(const FakeTrayPanel&) = delete;
  FakeTrayPanel& operator=(const FakeTrayPanel&) = delete;

  bool ready() const { return ready_; }

  /// Handles the panel's messages and runs `between` (such as a window's message loop) until
  /// `done` holds or `limit` has passed; whether `done` came true.
  bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit,
               const std::function<void()>& between = nullptr);

  /// The bus names items registered with, in order.
  const std::vector<std::string>& registered() const { return registered_; }
  /// How often each signal (by member name) came from any item or menu.
  int signals(const std::string& member) const;
  /// Whether `name` has an owner on the bus.
  bool NameHasOwner(const std::string& name);

  std::string StringProperty(const std::string& item, const char* path, const char* interface,
                             const char* name);
  bool BoolProperty(const std::string& item, const char* name);

  struct Pixmap {
    int width = 0;
    int height = 0;
    std::string argb;
  };
  std::vector<Pixmap> IconPixmaps(const std::string& item);
  /// The title of the item's tool tip.
  std::string ToolTip(const std::string& item);

  /// One entry of a menu layout: the menu protocol's id and the properties, booleans as "true"
  /// or "false".
  struct MenuEntry {
    int id = 0;
    std::map<std::string, std::string> properties;
  };
  /// The root's children from GetLayout on /MenuBar; `revision` gets the layout's revision.
  std::vector<MenuEntry> MenuLayout(const std::string& item, unsigned* revision = nullptr);
  /// Calls `method` of the item's object at `path` with arguments as sd_bus_call_method takes
  /// them (such as "isvu", id, "clicked", "i", 0, 0 for a menu click); false when it answered
  /// with an error.
  template <typename... Arguments>
  bool Call(const std::string& item, const char* path, const char* interface, const char* method,
            const char* types, Arguments... arguments) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    const bool answered = sd_bus_call_method(bus_, item.c_str(), path, interface, method, &error,
                                             nullptr, types, arguments...) >= 0;
    sd_bus_error_free(&error);
    return answered;
  }

 private:
  sd_bus* bus_ = nullptr;
  sd_bus_slot* watcher_ = nullptr;
  sd_bus_slot* signalMatch_ = nullptr;
  bool ready_ = false;
  std::vector<std::string> registered_;
  std::map<std::string, int> signals_;
};

}  // namespace test_support
