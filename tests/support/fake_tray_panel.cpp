#include "tests/support/fake_tray_panel.h"

namespace test_support {
namespace {

constexpr char kMenuPath[] = "/MenuBar";
constexpr char kMenuInterface[] = "com.canonical.dbusmenu";

int RegisterItem(sd_bus_message* message, void* panel, sd_bus_error* /*error*/) {
  const char* service = nullptr;
  if (sd_bus_message_read(message, "s", &service) >= 0) {
    static_cast<std::vector<std::string>*>(panel)->push_back(service);
  }
  return sd_bus_reply_method_return(message, "");
}

int CountSignal(sd_bus_message* message, void* counts, sd_bus_error* /*error*/) {
  ++(*static_cast<std::map<std::string, int>*>(counts))[sd_bus_message_get_member(message)];
  return 0;
}

const sd_bus_vtable kWatcher[] = {
    SD_BUS_VTABLE_START(0), SD_BUS_METHOD("RegisterStatusNotifierItem", "s", "", &RegisterItem, 0),
    SD_BUS_VTABLE_END};

// Reads one a{sv} of menu item properties; strings and booleans only, the rest skipped.
std::map<std::string, std::string> ReadProperties(sd_bus_message* message) {
  std::map<std::string, std::string> properties;
  sd_bus_message_enter_container(message, 'a', "{sv}");
  while (sd_bus_message_enter_container(message, 'e', "sv") > 0) {
    const char* name = nullptr;
    const char* type = nullptr;
    sd_bus_message_read(message, "s", &name);
    sd_bus_message_peek_type(message, nullptr, &type);
    const std::string contents = type == nullptr ? "" : type;
    if (contents == "s") {
      const char* text = nullptr;
      sd_bus_message_read(message, "v", "s", &text);
      properties[name] = text;
    } else if (contents == "b") {
      int value = 0;
      sd_bus_message_read(message, "v", "b", &value);
      properties[name] = value ? "true" : "false";
    } else {
      sd_bus_message_skip(message, "v");
    }
    sd_bus_message_exit_container(message);
  }
  sd_bus_message_exit_container(message);
  return properties;
}

}  // namespace

FakeTrayPanel::FakeTrayPanel(const std::string& address) {
  if (sd_bus_new(&bus_) < 0 || sd_bus_set_address(bus_, address.c_str()) < 0 ||
      sd_bus_set_bus_client(bus_, 1) < 0 || sd_bus_start(bus_) < 0) {
    return;
  }
  ready_ =
      sd_bus_add_object_vtable(bus_, &watcher_, "/StatusNotifierWatcher",
                               "org.kde.StatusNotifierWatcher", kWatcher, &registered_) >= 0 &&
      sd_bus_add_match(bus_, &signalMatch_, "type='signal',interface='org.kde.StatusNotifierItem'",
                       &CountSignal, &signals_) >= 0 &&
      sd_bus_add_match(bus_, nullptr, "type='signal',interface='com.canonical.dbusmenu'",
                       &CountSignal, &signals_) >= 0 &&
      sd_bus_request_name(bus_, "org.kde.StatusNotifierWatcher", 0) >= 0;
}

FakeTrayPanel::~FakeTrayPanel() {
  sd_bus_slot_unref(watcher_);
  sd_bus_slot_unref(signalMatch_);
  sd_bus_flush_close_unref(bus_);
}

bool FakeTrayPanel::WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit,
                            const std::function<void()>& between) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    while (sd_bus_process(bus_, nullptr) > 0) {
    }
    if (between) {
      between();
    }
    if (done()) {
      return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    sd_bus_wait(bus_, 5000);  // microseconds: the window's queue is looked at between waits
  }
}

int FakeTrayPanel::signals(const std::string& member) const {
  auto found = signals_.find(member);
  return found == signals_.end() ? 0 : found->second;
}

bool FakeTrayPanel::NameHasOwner(const std::string& name) {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  int has = 0;
  if (sd_bus_call_method(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                         "org.freedesktop.DBus", "NameHasOwner", &error, &reply, "s",
                         name.c_str()) >= 0) {
    sd_bus_message_read(reply, "b", &has);
  }
  sd_bus_message_unref(reply);
  sd_bus_error_free(&error);
  return has != 0;
}

std::string FakeTrayPanel::StringProperty(const std::string& item, const char* path,
                                          const char* interface, const char* name) {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  char* value = nullptr;
  std::string text = "(error)";
  if (sd_bus_get_property_string(bus_, item.c_str(), path, interface, name, &error, &value) >= 0) {
    text = value;
  }
  free(value);
  sd_bus_error_free(&error);
  return text;
}

bool FakeTrayPanel::BoolProperty(const std::string& item, const char* name) {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  int value = 0;
  sd_bus_get_property_trivial(bus_, item.c_str(), "/StatusNotifierItem",
                              "org.kde.StatusNotifierItem", name, &error, 'b', &value);
  sd_bus_error_free(&error);
  return value != 0;
}

std::vector<FakeTrayPanel::Pixmap> FakeTrayPanel::IconPixmaps(const std::string& item) {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  std::vector<Pixmap> pixmaps;
  if (sd_bus_get_property(bus_, item.c_str(), "/StatusNotifierItem", "org.kde.StatusNotifierItem",
                          "IconPixmap", &error, &reply, "a(iiay)") >= 0 &&
      sd_bus_message_enter_container(reply, 'a', "(iiay)") > 0) {
    while (sd_bus_message_enter_container(reply, 'r', "iiay") > 0) {
      Pixmap pixmap;
      const void* bytes = nullptr;
      std::size_t size = 0;
      sd_bus_message_read(reply, "ii", &pixmap.width, &pixmap.height);
      sd_bus_message_read_array(reply, 'y', &bytes, &size);
      pixmap.argb.assign(static_cast<const char*>(bytes), size);
      pixmaps.push_back(pixmap);
      sd_bus_message_exit_container(reply);
    }
  }
  sd_bus_message_unref(reply);
  sd_bus_error_free(&error);
  return pixmaps;
}

std::string FakeTrayPanel::ToolTip(const std::string& item) {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  std::string title = "(error)";
  const char* icon = nullptr;
  const char* text = nullptr;
  if (sd_bus_get_property(bus_, item.c_str(), "/StatusNotifierItem", "org.kde.StatusNotifierItem",
                          "ToolTip", &error, &reply, "(sa(iiay)ss)") >= 0 &&
      sd_bus_message_enter_container(reply, 'r', "sa(iiay)ss") > 0 &&
      sd_bus_message_read(reply, "s", &icon) >= 0 && sd_bus_message_skip(reply, "a(iiay)") >= 0 &&
      sd_bus_message_read(reply, "s", &text) >= 0) {
    title = text;
  }
  sd_bus_message_unref(reply);
  sd_bus_error_free(&error);
  return title;
}

std::vector<FakeTrayPanel::MenuEntry> FakeTrayPanel::MenuLayout(const std::string& item,
                                                                unsigned* revision) {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  std::vector<MenuEntry> entries;
  std::uint32_t layoutRevision = 0;
  if (sd_bus_call_method(bus_, item.c_str(), kMenuPath, kMenuInterface, "GetLayout", &error, &reply,
                         "iias", 0, -1, 0) >= 0 &&
      sd_bus_message_read(reply, "u", &layoutRevision) >= 0 &&
      sd_bus_message_enter_container(reply, 'r', "ia{sv}av") > 0) {
    int rootId = -1;
    sd_bus_message_read(reply, "i", &rootId);
    ReadProperties(reply);
    sd_bus_message_enter_container(reply, 'a', "v");
    while (sd_bus_message_enter_container(reply, 'v', "(ia{sv}av)") > 0) {
      MenuEntry entry;
      sd_bus_message_enter_container(reply, 'r', "ia{sv}av");
      sd_bus_message_read(reply, "i", &entry.id);
      entry.properties = ReadProperties(reply);
      sd_bus_message_skip(reply, "av");
      sd_bus_message_exit_container(reply);
      sd_bus_message_exit_container(reply);
      entries.push_back(entry);
    }
  }
  if (revision != nullptr) {
    *revision = layoutRevision;
  }
  sd_bus_message_unref(reply);
  sd_bus_error_free(&error);
  return entries;
}

}  // namespace test_support
