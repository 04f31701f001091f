#include "platform/posix/front_ends/status_notifier_tray.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/front_ends/front_end.h"
#include "platform/win32.h"
#include "tests/platform/posix/desktop/recording_window.h"
#include "tests/support/fake_tray_panel.h"
#include "tests/support/private_session_bus.h"
#include "tests/support/scratch_directory.h"

namespace {

using desktop_test::DispatchWaiting;
using desktop_test::kTrayCallback;
using desktop_test::RecordingWindow;
using platform::StatusNotifierTray;
using test_support::FakeTrayPanel;
using test_support::PrivateSessionBus;
using namespace std::chrono_literals;

constexpr auto kLimit = 10s;
enum Command : UINT { kExit = 0, kSettings = 1, kUpdate = 2, kAbout = 3 };
const char kIdleTip[] = "Zarnik Viewer";
const char kUpdatingTip[] = "Zarnik Viewer updating...";

// The front end the program would have: its tray calls go to the tray in the panel.
class TrayOnly : public platform::FrontEnd {
 public:
  explicit TrayOnly(StatusNotifierTray* tray) : tray_(tray) {}
  void OnNotifyIcon(platform::NotifyIconChange change,
                    const platform::NotifyIconView& icon) override {
    tray_->OnNotifyIcon(change, icon);
  }
  void ShowMenu(const platform::MenuView& menu) override { tray_->ShowMenu(menu); }
  void OnDialog(platform::DialogChange, const platform::DialogView&) override {}
  void OnClipboardText(const std::string&) override {}
  bool TerminalAttached() override { return false; }
  void WriteToTerminal(const std::string&) override {}
  bool ShowOutputLine(const std::string&) override { return false; }

 private:
  StatusNotifierTray* tray_;
};

// The tray program in small: a right click on its icon builds the menu, the first three items
// greyed while an update runs.
class StatusNotifierTrayTest : public ::testing::Test {
 protected:
  StatusNotifierTrayTest() : tray_("zarnik-viewer", "Zarnik Viewer"), frontEnd_(&tray_) {
    window_.React([this](HWND window, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
      if (message == kTrayCallback && lParam == WM_RBUTTONUP) {
        HMENU menu = CreatePopupMenu();
        const UINT flags = updating_ ? MF_BYPOSITION | MF_GRAYED | MF_DISABLED : MF_BYPOSITION;
        InsertMenuA(menu, 0, MF_BYPOSITION, kExit, "Exit");
        InsertMenuA(menu, 0, flags, kAbout, "About...");
        InsertMenuA(menu, 0, flags, kSettings, "Settings...");
        InsertMenuA(menu, 0, flags, kUpdate, "Update");
        TrackPopupMenu(menu, 0, 0, 0, 0, window, nullptr);
        DestroyMenu(menu);
        return 0;
      }
      return DefWindowProcA(window, message, wParam, lParam);
    });
    platform::SetFrontEnd(&frontEnd_);
  }
  ~StatusNotifierTrayTest() override {
    platform::SetFrontEnd(nullptr);
    tray_.Stop();
  }

  void SetIcon(DWORD change, int picture, const char* tip) {
    NOTIFYICONDATAA data = desktop_test::TrayIconData(instance_, window_.handle(), picture, tip);
    ASSERT_TRUE(Shell_NotifyIconA(change, &data));
  }

  bool Wait(FakeTrayPanel& panel, const std::function<bool()>& done) {
    return panel.WaitFor(done, kLimit, [] { DispatchWaiting(); });
  }

  static bool Click(FakeTrayPanel& panel, const std::string& item, int id) {
    return panel.Call(item, "/MenuBar", "com.canonical.dbusmenu", "Event", "isvu", id, "clicked",
                      "i", 0, 0u);
  }
  static bool AboutToShow(FakeTrayPanel& panel, const std::string& item) {
    return panel.Call(item, "/MenuBar", "com.canonical.dbusmenu", "AboutToShow", "i", 0);
  }

  std::vector<UINT> Commands() const {
    std::vector<UINT> commands;
    for (const auto& received : window_.Messages(WM_COMMAND)) {
      commands.push_back(LOWORD(received.wParam));
    }
    return commands;
  }

  // Labels and enabled flags of the menu the panel reads, as "label:true".
  static std::vector<std::string> Shown(const std::vector<FakeTrayPanel::MenuEntry>& entries) {
    std::vector<std::string> shown;
    for (const auto& entry : entries) {
      shown.push_back(entry.properties.at("label") + ":" + entry.properties.at("enabled"));
    }
    return shown;
  }

  PrivateSessionBus bus_;
  HINSTANCE instance_ = reinterpret_cast<HINSTANCE>(0x400000);
  std::atomic<bool> updating_{false};
  RecordingWindow window_;
  StatusNotifierTray tray_;
  TrayOnly frontEnd_;
};

const std::vector<std::string> kIdleMenu = {"Update:true", "Settings...:true", "About...:true",
                                            "Exit:true"};
const std::vector<std::string> kUpdatingMenu = {"Update:false", "Settings...:false",
                                                "About...:false", "Exit:true"};

TEST_F(StatusNotifierTrayTest, PanelShowsTheIconAndMenuAndClicksReachTheProgram) {
  ASSERT_TRUE(bus_.ready());
  FakeTrayPanel panel(bus_.address());
  ASSERT_TRUE(panel.ready());
  ASSERT_TRUE(tray_.Start(bus_.address()));
  const std::string item = tray_.BusName();
  SetIcon(NIM_ADD, 112, kIdleTip);
  ASSERT_TRUE(Wait(panel, [&] { return panel.registered() == std::vector<std::string>{item}; }));

  const std::pair<const char*, const char*> properties[] = {{"Category", "ApplicationStatus"},
                                                            {"Id", "zarnik-viewer"},
                                                            {"Title", "Zarnik Viewer"},
                                                            {"Status", "Active"}};
  for (const auto& [name, value] : properties) {
    EXPECT_EQ(panel.StringProperty(item, "/StatusNotifierItem", "org.kde.StatusNotifierItem", name),
              value);
  }
  EXPECT_TRUE(panel.BoolProperty(item, "ItemIsMenu"));
  EXPECT_EQ(panel.ToolTip(item), kIdleTip);

  // Every size a panel asks for, ARGB in network byte order: the 16-pixel one is the icon file's
  // own picture; the corners are transparent and the middle opaque at every size.
  const std::vector<FakeTrayPanel::Pixmap> pixmaps = panel.IconPixmaps(item);
  ASSERT_EQ(pixmaps.size(), 5u);
  const int sides[] = {16, 22, 24, 32, 48};
  for (std::size_t i = 0; i < pixmaps.size(); ++i) {
    const auto& pixmap = pixmaps[i];
    ASSERT_EQ(pixmap.width, sides[i]);
    ASSERT_EQ(pixmap.height, sides[i]);
    ASSERT_EQ(pixmap.argb.size(), static_cast<std::size_t>(sides[i] * sides[i] * 4));
    EXPECT_EQ(pixmap.argb[0], '\0') << sides[i];
    const std::size_t middle =
        (static_cast<std::size_t>(sides[i] / 2) * sides[i] + sides[i] / 2) * 4;
    EXPECT_EQ(static_cast<unsigned char>(pixmap.argb[middle]), 0xFF) << sides[i];
  }
  const std::string file =
      FileText(std::string(ZV_TEST_DATA_DIR) + "/../resources/icons/frame1.ico");
  ASSERT_GE(file.size(), 62u + 16 * 16 * 4);
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      const char* bgra = file.data() + 62 + ((15 - y) * 16 + x) * 4;  // rows bottom-up
      const char* argb = pixmaps[0].argb.data() + (y * 16 + x) * 4;
      ASSERT_EQ(std::string({argb[0], argb[1], argb[2], argb[3]}),
                std::string({bgra[3], bgra[2], bgra[1], bgra[0]}))
          << x << "," << y;
    }
  }

  // The menu the program built when the item registered.
  ASSERT_TRUE(Wait(panel, [&] { return Shown(panel.MenuLayout(item)) == kIdleMenu; }));

  // An update: the icon and tip change, and the menu read after AboutToShow is greyed.
  updating_ = true;
  SetIcon(NIM_MODIFY, 113, kUpdatingTip);
  ASSERT_TRUE(Wait(
      panel, [&] { return panel.signals("NewIcon") == 1 && panel.signals("NewToolTip") == 1; }));
  EXPECT_EQ(panel.ToolTip(item), kUpdatingTip);
  EXPECT_NE(panel.IconPixmaps(item)[0].argb, pixmaps[0].argb);
  SetIcon(NIM_MODIFY, 114, kUpdatingTip);
  ASSERT_TRUE(Wait(panel, [&] { return panel.signals("NewIcon") == 2; }));
  EXPECT_EQ(panel.signals("NewToolTip"), 1);
  const int layoutsBefore = panel.signals("LayoutUpdated");
  EXPECT_TRUE(AboutToShow(panel, item));
  ASSERT_TRUE(Wait(panel, [&] { return panel.signals("LayoutUpdated") > layoutsBefore; }));
  EXPECT_EQ(Shown(panel.MenuLayout(item)), kUpdatingMenu);
  EXPECT_TRUE(Click(panel, item, StatusNotifierTray::MenuItemId(0)));  // "Update", greyed

  updating_ = false;
  SetIcon(NIM_MODIFY, 112, kIdleTip);
  EXPECT_TRUE(AboutToShow(panel, item));
  ASSERT_TRUE(Wait(panel, [&] { return Shown(panel.MenuLayout(item)) == kIdleMenu; }));
  EXPECT_EQ(panel.ToolTip(item), kIdleTip);

  // The root is no item: it never reaches the program, least of all as "Exit" (command 0).
  EXPECT_TRUE(Click(panel, item, 0));
  EXPECT_FALSE(Click(panel, item, 99));
  const std::size_t callbacks = window_.Messages(kTrayCallback).size();
  EXPECT_TRUE(Click(panel, item, StatusNotifierTray::MenuItemId(1)));  // "Settings..."
  // After the choice the program builds a fresh menu, from which the next choice is made.
  ASSERT_TRUE(Wait(panel, [&] {
    return Commands().size() == 1 && window_.Messages(kTrayCallback).size() > callbacks;
  }));
  EXPECT_TRUE(Click(panel, item, StatusNotifierTray::MenuItemId(3)));  // "Exit"
  ASSERT_TRUE(Wait(panel, [&] { return Commands().size() == 2; }));
  EXPECT_EQ(Commands(), (std::vector<UINT>{kSettings, kExit}));

  // A left click on the icon reaches the program as on the notification area.
  EXPECT_TRUE(panel.Call(item, "/StatusNotifierItem", "org.kde.StatusNotifierItem", "Activate",
                         "ii", 0, 0));
  EXPECT_TRUE(Wait(panel, [&] {
    const auto clicks = window_.Messages(kTrayCallback);
    return !clicks.empty() && clicks.back().lParam == WM_LBUTTONUP;
  }));

  SetIcon(NIM_DELETE, 112, kIdleTip);
  EXPECT_TRUE(Wait(panel, [&] { return !panel.NameHasOwner(item); }));
}

TEST_F(StatusNotifierTrayTest, RegistersWhenTheWatcherAppearsAndAgainWhenItRestarts) {
  ASSERT_TRUE(bus_.ready());
  ASSERT_TRUE(tray_.Start(bus_.address()));
  SetIcon(NIM_ADD, 112, kIdleTip);
  const std::string item = tray_.BusName();
  // On the bus, with no watcher to register with, by the time it asks for its first menu.
  ASSERT_TRUE(
      desktop_test::DispatchFor(kLimit, [&] { return !window_.Messages(kTrayCallback).empty(); }));
  {
    // The panel starts after the program.
    FakeTrayPanel panel(bus_.address());
    ASSERT_TRUE(panel.ready());
    ASSERT_TRUE(Wait(panel, [&] { return panel.registered() == std::vector<std::string>{item}; }));
    EXPECT_TRUE(Wait(panel, [&] { return Shown(panel.MenuLayout(item)) == kIdleMenu; }));
  }
  FakeTrayPanel restarted(bus_.address());
  ASSERT_TRUE(restarted.ready());
  ASSERT_TRUE(
      Wait(restarted, [&] { return restarted.registered() == std::vector<std::string>{item}; }));
  EXPECT_EQ(restarted.ToolTip(item), kIdleTip);
}

TEST(StatusNotifierTrayStartTest, NoBusIsReportedAndNothingStarts) {
  ScratchDirectory folder;
  StatusNotifierTray tray("zarnik-viewer", "Zarnik Viewer");
  EXPECT_FALSE(tray.Start("unix:path=" + folder.file("no-bus")));
  tray.Stop();
}

}  // namespace
