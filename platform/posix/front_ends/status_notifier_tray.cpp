// The tray in the panel over D-Bus with sd-bus. sd-bus objects belong to one thread: everything
// that touches the connection runs on the tray's own thread, and the layer's calls only leave
// their news under the lock and wake that thread.
#include "platform/posix/front_ends/status_notifier_tray.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <systemd/sd-bus.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <map>

#include "platform/posix/front_ends/icon_pixmaps.h"
#include "platform/posix/kernel/system_calls.h"

namespace platform {
namespace {

constexpr char kItemPath[] = "/StatusNotifierItem";
constexpr char kItemInterface[] = "org.kde.StatusNotifierItem";
constexpr char kMenuPath[] = "/MenuBar";
constexpr char kMenuInterface[] = "com.canonical.dbusmenu";
constexpr char kWatcherName[] = "org.kde.StatusNotifierWatcher";
constexpr char kWatcherPath[] = "/StatusNotifierWatcher";
constexpr char kWatcherOwnerRule[] =
    "type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',"
    "interface='org.freedesktop.DBus',member='NameOwnerChanged',"
    "arg0='org.kde.StatusNotifierWatcher'";
constexpr std::uint32_t kMenuProtocolVersion = 3;

std::string NewBusName() {
  static std::atomic<unsigned> trays{0};
  return "org.kde.StatusNotifierItem-" + std::to_string(getpid()) + "-" + std::to_string(++trays);
}

struct SlotRelease {
  void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};
using Slot = std::unique_ptr<sd_bus_slot, SlotRelease>;

// The menu protocol reads '_' as the mark of a mnemonic; the program's texts mean it literally.
std::string MenuLabel(const std::string& text) {
  std::string label;
  for (char c : text) {
    label += c;
    if (c == '_') {
      label += '_';
    }
  }
  return label;
}

bool SameMenu(const std::vector<MenuItemView>& a, const std::vector<MenuItemView>& b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].text != b[i].text || a[i].separator != b[i].separator ||
        a[i].Choosable() != b[i].Choosable()) {
      return false;
    }
  }
  return true;
}

int Reply(sd_bus_message* message) {
  return sd_bus_reply_method_return(message, "");
}

}  // namespace

// The connection and what the panel has been told; the connection's thread alone touches it
// once the thread runs.
struct StatusNotifierTray::BusState {
  sd_bus* bus = nullptr;
  Slot watcherMatch;
  Slot item;
  Slot menu;
  bool onBus = false;  ///< the item's objects and name are on the bus
  int shownIconNumber = 0;
  std::string shownTip;
  std::vector<MenuItemView> shownMenu;
  std::uint32_t menuRevision = 1;
  std::map<int, std::vector<IconPixmap>> pixmaps;  ///< by icon number, made when first asked for
};

struct StatusNotifierTray::Handlers {
  static int OnWatcherOwnerChanged(sd_bus_message* message, void* self, sd_bus_error* error);
  static int ItemProperty(sd_bus* bus, const char* path, const char* interface,
                          const char* property, sd_bus_message* reply, void* self,
                          sd_bus_error* error);
  static int ItemMethod(sd_bus_message* message, void* self, sd_bus_error* error);
  static int MenuProperty(sd_bus* bus, const char* path, const char* interface,
                          const char* property, sd_bus_message* reply, void* self,
                          sd_bus_error* error);
  static int GetLayout(sd_bus_message* message, void* self, sd_bus_error* error);
  static int GetGroupProperties(sd_bus_message* message, void* self, sd_bus_error* error);
  static int Event(sd_bus_message* message, void* self, sd_bus_error* error);
  static int EventGroup(sd_bus_message* message, void* self, sd_bus_error* error);
  static int AboutToShow(sd_bus_message* message, void* self, sd_bus_error* error);
  static int AboutToShowGroup(sd_bus_message* message, void* self, sd_bus_error* error);
  static int AppendMenuItem(StatusNotifierTray* tray, sd_bus_message* reply, int id, int depth);
  static int AppendMenuItemProperties(StatusNotifierTray* tray, sd_bus_message* reply, int id);
};

StatusNotifierTray::StatusNotifierTray(std::string id, std::string title)
    : id_(std::move(id)), title_(std::move(title)), busName_(NewBusName()) {}

StatusNotifierTray::~StatusNotifierTray() {
  Stop();
}

bool StatusNotifierTray::Start(const std::string& address) {
  if (bus_) {
    return true;
  }
  auto state = std::make_unique<BusState>();
  int result;
  if (address.empty()) {
    result = sd_bus_open_user(&state->bus);
  } else {
    result = sd_bus_new(&state->bus);
    if (result >= 0) {
      result = sd_bus_set_address(state->bus, address.c_str());
    }
    if (result >= 0) {
      result = sd_bus_set_bus_client(state->bus, 1);
    }
    if (result >= 0) {
      result = sd_bus_start(state->bus);
    }
  }
  // A watcher that appears or restarts is told about the item again.
  sd_bus_slot* match = nullptr;
  if (result >= 0) {
    result = sd_bus_add_match_async(state->bus, &match, kWatcherOwnerRule,
                                    &Handlers::OnWatcherOwnerChanged, nullptr, this);
  }
  state->watcherMatch.reset(match);
  const int wake = result >= 0 ? eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK) : -1;
  if (wake < 0) {
    state->watcherMatch.reset();
    sd_bus_close_unref(state->bus);
    return false;
  }
  {
    std::lock_guard<std::mutex> hold(lock_);
    wake_ = wake;
    stopping_ = false;
    menuFresh_ = true;
  }
  bus_ = std::move(state);
  thread_ = std::thread(&StatusNotifierTray::Run, this);
  return true;
}

void StatusNotifierTray::Stop() {
  if (!bus_) {
    return;
  }
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
    const std::uint64_t one = 1;
    RetryOnInterrupt([&] { return write(wake_, &one, sizeof one); });
  }
  thread_.join();
  // Closing the connection gives up the item's name: the panel drops the icon.
  bus_->item.reset();
  bus_->menu.reset();
  bus_->watcherMatch.reset();
  sd_bus_close_unref(bus_->bus);
  bus_.reset();
  std::lock_guard<std::mutex> hold(lock_);
  close(wake_);
  wake_ = -1;
}

void StatusNotifierTray::OnNotifyIcon(NotifyIconChange change, const NotifyIconView& icon) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    TrackNotifyIcon(change, icon, iconShown_, icon_);
  }
  Wake();
}

void StatusNotifierTray::ShowMenu(const MenuView& menu) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    menu_ = menu;
    menuFresh_ = true;
  }
  Wake();
}

void StatusNotifierTray::Wake() {
  // Set only while started, and the caller's news is under the lock: a tray not started picks
  // it up when it starts.
  std::lock_guard<std::mutex> hold(lock_);
  if (wake_ >= 0 && !stopping_) {
    const std::uint64_t one = 1;
    RetryOnInterrupt([&] { return write(wake_, &one, sizeof one); });
  }
}

// ---- The connection's thread ----

void StatusNotifierTray::Run() {
  bool connected = true;
  for (;;) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (stopping_) {
        return;
      }
    }
    if (connected) {
      ApplyChanges();
      int processed;
      while ((processed = sd_bus_process(bus_->bus, nullptr)) > 0) {
      }
      connected = processed >= 0;
    }
    pollfd watched[2] = {{wake_, POLLIN, 0}, {-1, 0, 0}};
    int timeoutMs = -1;
    if (connected) {
      watched[1].fd = sd_bus_get_fd(bus_->bus);
      watched[1].events = static_cast<short>(sd_bus_get_events(bus_->bus));
      std::uint64_t until = 0;
      if (sd_bus_get_timeout(bus_->bus, &until) >= 0 && until != UINT64_MAX) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const std::uint64_t nowUs = static_cast<std::uint64_t>(now.tv_sec) * 1000000u +
                                    static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
        timeoutMs = until <= nowUs ? 0 : static_cast<int>((until - nowUs + 999) / 1000);
      }
    }
    // A lost bus leaves only the wake-up to wait for: the panel is gone with it.
    PollWithin(watched, connected ? 2 : 1, timeoutMs);
    if ((watched[0].revents & POLLIN) != 0) {
      std::uint64_t count;
      RetryOnInterrupt([&] { return read(wake_, &count, sizeof count); });
    }
  }
}

void StatusNotifierTray::ApplyChanges() {
  bool shown;
  NotifyIconView icon;
  bool menuFresh;
  std::vector<MenuItemView> items;
  {
    std::lock_guard<std::mutex> hold(lock_);
    shown = iconShown_;
    icon = icon_;
    menuFresh = menuFresh_;
    menuFresh_ = false;
    items = menu_.items;
  }
  BusState& state = *bus_;
  if (shown && !state.onBus) {
    state.shownIconNumber = icon.iconNumber;
    state.shownTip = icon.tip;
    Enter();
  } else if (!shown && state.onBus) {
    Leave();
  } else if (shown) {
    if (icon.iconNumber != state.shownIconNumber) {
      state.shownIconNumber = icon.iconNumber;
      sd_bus_emit_signal(state.bus, kItemPath, kItemInterface, "NewIcon", "");
    }
    if (icon.tip != state.shownTip) {
      state.shownTip = icon.tip;
      sd_bus_emit_signal(state.bus, kItemPath, kItemInterface, "NewToolTip", "");
    }
  }
  // Panels read the layout again when told it changed; a menu like the last one changes nothing.
  if (menuFresh && !SameMenu(items, state.shownMenu)) {
    state.shownMenu = items;
    ++state.menuRevision;
    if (state.onBus) {
      sd_bus_emit_signal(state.bus, kMenuPath, kMenuInterface, "LayoutUpdated", "ui",
                         state.menuRevision, 0);
    }
  }
}

void StatusNotifierTray::Enter() {
  static const sd_bus_vtable kItem[] = {
      SD_BUS_VTABLE_START(0),
      SD_BUS_PROPERTY("Category", "s", &Handlers::ItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
      SD_BUS_PROPERTY("Id", "s", &Handlers::ItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
      SD_BUS_PROPERTY("Title", "s", &Handlers::ItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
      SD_BUS_PROPERTY("Status", "s", &Handlers::ItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
      SD_BUS_PROPERTY("WindowId", "i", &Handlers::ItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
      SD_BUS_PROPERTY("IconName", "s", &Handlers::ItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
      SD_BUS_PROPERTY("IconPixmap", "a(iiay)", &Handlers::ItemProperty, 0, 0),
      SD_BUS_PROPERTY("ToolTip", "(sa(iiay)ss)", &Handlers::ItemProperty, 0, 0),
      SD_BUS_PROPERTY("ItemIsMenu", "b", &Handlers::ItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
      SD_BUS_PROPERTY("Menu", "o", &Handlers::ItemProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
      SD_BUS_METHOD("Activate", "ii", "", &Handlers::ItemMethod, SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_METHOD("SecondaryActivate", "ii", "", &Handlers::ItemMethod,
                    SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_METHOD("ContextMenu", "ii", "", &Handlers::ItemMethod, SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_METHOD("Scroll", "is", "", &Handlers::ItemMethod, SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_SIGNAL("NewTitle", "", 0),
      SD_BUS_SIGNAL("NewIcon", "", 0),
      SD_BUS_SIGNAL("NewToolTip", "", 0),
      SD_BUS_SIGNAL("NewStatus", "s", 0),
      SD_BUS_VTABLE_END};
  static const sd_bus_vtable kMenu[] = {
      SD_BUS_VTABLE_START(0),
      SD_BUS_PROPERTY("Version", "u", &Handlers::MenuProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
      SD_BUS_PROPERTY("TextDirection", "s", &Handlers::MenuProperty, 0,
                      SD_BUS_VTABLE_PROPERTY_CONST),
      SD_BUS_PROPERTY("Status", "s", &Handlers::MenuProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
      SD_BUS_PROPERTY("IconThemePath", "as", &Handlers::MenuProperty, 0,
                      SD_BUS_VTABLE_PROPERTY_CONST),
      SD_BUS_METHOD("GetLayout", "iias", "u(ia{sv}av)", &Handlers::GetLayout,
                    SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_METHOD("GetGroupProperties", "aias", "a(ia{sv})", &Handlers::GetGroupProperties,
                    SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_METHOD("Event", "isvu", "", &Handlers::Event, SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_METHOD("EventGroup", "a(isvu)", "ai", &Handlers::EventGroup,
                    SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_METHOD("AboutToShow", "i", "b", &Handlers::AboutToShow, SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_METHOD("AboutToShowGroup", "ai", "aiai", &Handlers::AboutToShowGroup,
                    SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_SIGNAL("ItemsPropertiesUpdated", "a(ia{sv})a(ias)", 0),
      SD_BUS_SIGNAL("LayoutUpdated", "ui", 0),
      SD_BUS_SIGNAL("ItemActivationRequested", "iu", 0),
      SD_BUS_VTABLE_END};
  BusState& state = *bus_;
  sd_bus_slot* item = nullptr;
  sd_bus_slot* menu = nullptr;
  sd_bus_add_object_vtable(state.bus, &item, kItemPath, kItemInterface, kItem, this);
  sd_bus_add_object_vtable(state.bus, &menu, kMenuPath, kMenuInterface, kMenu, this);
  state.item.reset(item);
  state.menu.reset(menu);
  // The bus handles our messages in order: the name is ours before the watcher hears of it.
  sd_bus_request_name_async(state.bus, nullptr, busName_.c_str(), 0, nullptr, nullptr);
  state.onBus = true;
  RegisterWithWatcher();
  RequestMenu();
}

void StatusNotifierTray::Leave() {
  BusState& state = *bus_;
  state.item.reset();
  state.menu.reset();
  sd_bus_release_name_async(state.bus, nullptr, busName_.c_str(), nullptr, nullptr);
  state.onBus = false;
}

void StatusNotifierTray::RegisterWithWatcher() {
  // No watcher yet is no failure: the item registers when one appears.
  sd_bus_call_method_async(bus_->bus, nullptr, kWatcherName, kWatcherPath, kWatcherName,
                           "RegisterStatusNotifierItem", nullptr, nullptr, "s", busName_.c_str());
}

void StatusNotifierTray::RequestMenu() {
  NotifyIconView icon;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (!iconShown_) {
      return;
    }
    icon = icon_;
  }
  PostNotifyIconMouseEvent(icon.owner, icon.id, WM_RBUTTONUP);
}

void StatusNotifierTray::Click(UINT down, UINT up) {
  NotifyIconView icon;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (!iconShown_) {
      return;
    }
    icon = icon_;
  }
  PostNotifyIconMouseEvent(icon.owner, icon.id, down);
  PostNotifyIconMouseEvent(icon.owner, icon.id, up);
}

int StatusNotifierTray::Handlers::OnWatcherOwnerChanged(sd_bus_message* message, void* self,
                                                        sd_bus_error* /*error*/) {
  auto* tray = static_cast<StatusNotifierTray*>(self);
  const char* name = nullptr;
  const char* oldOwner = nullptr;
  const char* newOwner = nullptr;
  if (sd_bus_message_read(message, "sss", &name, &oldOwner, &newOwner) >= 0 &&
      newOwner != nullptr && newOwner[0] != '\0' && tray->bus_->onBus) {
    tray->RegisterWithWatcher();
  }
  return 0;
}

// ---- org.kde.StatusNotifierItem ----

int StatusNotifierTray::Handlers::ItemProperty(sd_bus* /*bus*/, const char* /*path*/,
                                               const char* /*interface*/, const char* property,
                                               sd_bus_message* reply, void* self,
                                               sd_bus_error* /*error*/) {
  auto* tray = static_cast<StatusNotifierTray*>(self);
  const std::string name = property;
  if (name == "Category") {
    return sd_bus_message_append(reply, "s", "ApplicationStatus");
  }
  if (name == "Id") {
    return sd_bus_message_append(reply, "s", tray->id_.c_str());
  }
  if (name == "Title") {
    return sd_bus_message_append(reply, "s", tray->title_.c_str());
  }
  if (name == "Status") {
    return sd_bus_message_append(reply, "s", "Active");
  }
  if (name == "WindowId") {
    return sd_bus_message_append(reply, "i", 0);
  }
  if (name == "IconName") {
    return sd_bus_message_append(reply, "s", "");
  }
  if (name == "ItemIsMenu") {
    return sd_bus_message_append(reply, "b", 1);
  }
  if (name == "Menu") {
    return sd_bus_message_append(reply, "o", kMenuPath);
  }
  BusState& state = *tray->bus_;
  if (name == "ToolTip") {
    return sd_bus_message_append(reply, "(sa(iiay)ss)", "", 0, state.shownTip.c_str(), "");
  }
  // IconPixmap
  auto found = state.pixmaps.find(state.shownIconNumber);
  if (found == state.pixmaps.end()) {
    found = state.pixmaps.emplace(state.shownIconNumber, IconPixmaps(state.shownIconNumber)).first;
  }
  int result = sd_bus_message_open_container(reply, 'a', "(iiay)");
  for (const IconPixmap& pixmap : found->second) {
    if (result >= 0) {
      result = sd_bus_message_open_container(reply, 'r', "iiay");
    }
    if (result >= 0) {
      result = sd_bus_message_append(reply, "ii", pixmap.width, pixmap.height);
    }
    if (result >= 0) {
      result = sd_bus_message_append_array(reply, 'y', pixmap.argb.data(), pixmap.argb.size());
    }
    if (result >= 0) {
      result = sd_bus_message_close_container(reply);
    }
  }
  return result >= 0 ? sd_bus_message_close_container(reply) : result;
}

int StatusNotifierTray::Handlers::ItemMethod(sd_bus_message* message, void* self,
                                             sd_bus_error* /*error*/) {
  auto* tray = static_cast<StatusNotifierTray*>(self);
  const std::string member = sd_bus_message_get_member(message);
  // A click on the icon is a press and a release, as the notification area reports it; the
  // middle button and the wheel mean nothing to the program.
  if (member == "Activate") {
    tray->Click(WM_LBUTTONDOWN, WM_LBUTTONUP);
  } else if (member == "ContextMenu") {
    tray->Click(WM_RBUTTONDOWN, WM_RBUTTONUP);
  }
  return Reply(message);
}

// ---- com.canonical.dbusmenu ----

int StatusNotifierTray::Handlers::MenuProperty(sd_bus* /*bus*/, const char* /*path*/,
                                               const char* /*interface*/, const char* property,
                                               sd_bus_message* reply, void* /*self*/,
                                               sd_bus_error* /*error*/) {
  const std::string name = property;
  if (name == "Version") {
    return sd_bus_message_append(reply, "u", kMenuProtocolVersion);
  }
  if (name == "TextDirection") {
    return sd_bus_message_append(reply, "s", "ltr");
  }
  if (name == "Status") {
    return sd_bus_message_append(reply, "s", "normal");
  }
  return sd_bus_message_append(reply, "as", 0);  // IconThemePath
}

int StatusNotifierTray::Handlers::AppendMenuItemProperties(StatusNotifierTray* tray,
                                                           sd_bus_message* reply, int id) {
  const std::vector<MenuItemView>& items = tray->bus_->shownMenu;
  int result = sd_bus_message_open_container(reply, 'a', "{sv}");
  if (result < 0) {
    return result;
  }
  if (id == 0) {
    result = sd_bus_message_append(reply, "{sv}", "children-display", "s", "submenu");
  } else {
    const MenuItemView& item = items[static_cast<std::size_t>(id - 1)];
    if (item.separator) {
      result = sd_bus_message_append(reply, "{sv}", "type", "s", "separator");
    } else {
      result = sd_bus_message_append(reply, "{sv}{sv}", "label", "s", MenuLabel(item.text).c_str(),
                                     "enabled", "b", item.Choosable() ? 1 : 0);
    }
  }
  return result >= 0 ? sd_bus_message_close_container(reply) : result;
}

int StatusNotifierTray::Handlers::AppendMenuItem(StatusNotifierTray* tray, sd_bus_message* reply,
                                                 int id, int depth) {
  int result = sd_bus_message_open_container(reply, 'r', "ia{sv}av");
  if (result >= 0) {
    result = sd_bus_message_append(reply, "i", id);
  }
  if (result >= 0) {
    result = AppendMenuItemProperties(tray, reply, id);
  }
  if (result >= 0) {
    result = sd_bus_message_open_container(reply, 'a', "v");
  }
  // Only the root has children; a depth of -1 means all levels.
  if (id == 0 && depth != 0) {
    for (std::size_t i = 0; result >= 0 && i < tray->bus_->shownMenu.size(); ++i) {
      result = sd_bus_message_open_container(reply, 'v', "(ia{sv}av)");
      if (result >= 0) {
        result = AppendMenuItem(tray, reply, MenuItemId(i), depth - 1);
      }
      if (result >= 0) {
        result = sd_bus_message_close_container(reply);
      }
    }
  }
  if (result >= 0) {
    result = sd_bus_message_close_container(reply);
  }
  return result >= 0 ? sd_bus_message_close_container(reply) : result;
}

namespace {

bool KnownMenuId(int id, std::size_t itemCount) {
  return id >= 0 && static_cast<std::size_t>(id) <= itemCount;
}

int UnknownMenuId(sd_bus_error* error, int id) {
  return sd_bus_error_setf(error, SD_BUS_ERROR_INVALID_ARGS, "No menu item has the id %d", id);
}

}  // namespace

int StatusNotifierTray::Handlers::GetLayout(sd_bus_message* message, void* self,
                                            sd_bus_error* error) {
  auto* tray = static_cast<StatusNotifierTray*>(self);
  std::int32_t parent = 0;
  std::int32_t depth = -1;
  int result = sd_bus_message_read(message, "ii", &parent, &depth);
  if (result < 0) {
    return result;
  }
  if (!KnownMenuId(parent, tray->bus_->shownMenu.size())) {
    return UnknownMenuId(error, parent);
  }
  sd_bus_message* reply = nullptr;
  result = sd_bus_message_new_method_return(message, &reply);
  if (result >= 0) {
    result = sd_bus_message_append(reply, "u", tray->bus_->menuRevision);
  }
  if (result >= 0) {
    result = AppendMenuItem(tray, reply, parent, depth);
  }
  if (result >= 0) {
    result = sd_bus_send(nullptr, reply, nullptr);
  }
  sd_bus_message_unref(reply);
  return result;
}

int StatusNotifierTray::Handlers::GetGroupProperties(sd_bus_message* message, void* self,
                                                     sd_bus_error* /*error*/) {
  auto* tray = static_cast<StatusNotifierTray*>(self);
  const void* ids = nullptr;
  std::size_t size = 0;
  int result = sd_bus_message_read_array(message, 'i', &ids, &size);
  if (result < 0) {
    return result;
  }
  std::vector<std::int32_t> wanted(size / sizeof(std::int32_t));
  if (!wanted.empty()) {
    std::memcpy(wanted.data(), ids, wanted.size() * sizeof(std::int32_t));
  }
  sd_bus_message* reply = nullptr;
  result = sd_bus_message_new_method_return(message, &reply);
  if (result >= 0) {
    result = sd_bus_message_open_container(reply, 'a', "(ia{sv})");
  }
  // Ids that name no item are left out.
  for (std::int32_t id : wanted) {
    if (result < 0 || !KnownMenuId(id, tray->bus_->shownMenu.size())) {
      continue;
    }
    result = sd_bus_message_open_container(reply, 'r', "ia{sv}");
    if (result >= 0) {
      result = sd_bus_message_append(reply, "i", id);
    }
    if (result >= 0) {
      result = AppendMenuItemProperties(tray, reply, id);
    }
    if (result >= 0) {
      result = sd_bus_message_close_container(reply);
    }
  }
  if (result >= 0) {
    result = sd_bus_message_close_container(reply);
  }
  if (result >= 0) {
    result = sd_bus_send(nullptr, reply, nullptr);
  }
  sd_bus_message_unref(reply);
  return result;
}

bool StatusNotifierTray::HandleMenuEvent(int id, const std::string& eventId) {
  unsigned serial;
  std::size_t itemCount;
  {
    std::lock_guard<std::mutex> hold(lock_);
    serial = menu_.serial;
    itemCount = menu_.items.size();
  }
  if (!KnownMenuId(id, itemCount)) {
    return false;
  }
  // The root (id 0) is no command of the program: "Exit" is command 0, and it has id 1 here.
  if (id == 0 || eventId != "clicked") {
    return true;
  }
  ChooseMenuItem(serial, static_cast<UINT>(id - 1));
  RequestMenu();
  return true;
}

int StatusNotifierTray::Handlers::Event(sd_bus_message* message, void* self, sd_bus_error* error) {
  auto* tray = static_cast<StatusNotifierTray*>(self);
  std::int32_t id = 0;
  const char* eventId = nullptr;
  const int result = sd_bus_message_read(message, "is", &id, &eventId);
  if (result < 0) {
    return result;
  }
  if (!tray->HandleMenuEvent(id, eventId)) {
    return UnknownMenuId(error, id);
  }
  return Reply(message);
}

int StatusNotifierTray::Handlers::EventGroup(sd_bus_message* message, void* self,
                                             sd_bus_error* /*error*/) {
  auto* tray = static_cast<StatusNotifierTray*>(self);
  std::vector<std::int32_t> unknown;
  int result = sd_bus_message_enter_container(message, 'a', "(isvu)");
  while (result >= 0 && (result = sd_bus_message_enter_container(message, 'r', "isvu")) > 0) {
    std::int32_t id = 0;
    const char* eventId = nullptr;
    result = sd_bus_message_read(message, "is", &id, &eventId);
    if (result >= 0) {
      result = sd_bus_message_skip(message, "vu");
    }
    if (result >= 0) {
      result = sd_bus_message_exit_container(message);
    }
    if (result >= 0 && !tray->HandleMenuEvent(id, eventId)) {
      unknown.push_back(id);
    }
  }
  if (result < 0) {
    return result;
  }
  sd_bus_message* reply = nullptr;
  result = sd_bus_message_new_method_return(message, &reply);
  if (result >= 0) {
    result = sd_bus_message_append_array(reply, 'i', unknown.data(),
                                         unknown.size() * sizeof(std::int32_t));
  }
  if (result >= 0) {
    result = sd_bus_send(nullptr, reply, nullptr);
  }
  sd_bus_message_unref(reply);
  return result;
}

// The panel is about to show the menu: the program builds a fresh one, which reaches the panel
// as LayoutUpdated if it differs. The one the panel has meanwhile is the last the program built.
int StatusNotifierTray::Handlers::AboutToShow(sd_bus_message* message, void* self,
                                              sd_bus_error* /*error*/) {
  auto* tray = static_cast<StatusNotifierTray*>(self);
  std::int32_t id = 0;
  const int result = sd_bus_message_read(message, "i", &id);
  if (result < 0) {
    return result;
  }
  if (id == 0) {
    tray->RequestMenu();
  }
  return sd_bus_reply_method_return(message, "b", 0);
}

int StatusNotifierTray::Handlers::AboutToShowGroup(sd_bus_message* message, void* self,
                                                   sd_bus_error* /*error*/) {
  auto* tray = static_cast<StatusNotifierTray*>(self);
  const void* ids = nullptr;
  std::size_t size = 0;
  const int result = sd_bus_message_read_array(message, 'i', &ids, &size);
  if (result < 0) {
    return result;
  }
  std::vector<std::int32_t> wanted(size / sizeof(std::int32_t));
  if (!wanted.empty()) {
    std::memcpy(wanted.data(), ids, wanted.size() * sizeof(std::int32_t));
  }
  for (std::int32_t id : wanted) {
    if (id == 0) {
      tray->RequestMenu();
      break;
    }
  }
  return sd_bus_reply_method_return(message, "aiai", 0, 0);
}

}  // namespace platform
