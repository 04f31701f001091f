// The tray window driven as a user drives it: mouse events on the icon, the popup menu and its
// four commands, and the update timer.
#include "shell/tray_window.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/mutex_lock.h"
#include "platform/posix/front_ends/programmatic_front_end.h"
#include "settings/app_settings.h"
#include "shell/settings_dialog.h"
#include "shell/update_timer.h"
#include "tests/support/scoped_environment.h"
#include "tests/support/scratch_directory.h"
#include "update/update_cycle.h"

namespace {

using namespace std::chrono_literals;
using platform::MenuView;
using platform::NotifyIconChange;

// The update cycles the window started: counted first thing on their threads, and followed to
// the threads' end, so that no test leaves a cycle running into the next one.
struct Cycles {
  std::mutex lock;
  std::condition_variable changed;
  int started = 0;
  int running = 0;

  void Change(int start, int run) {
    std::lock_guard<std::mutex> hold(lock);
    started += start;
    running += run;
    changed.notify_all();
  }
  bool WaitFor(const std::function<bool()>& done) {
    std::unique_lock<std::mutex> hold(lock);
    return changed.wait_for(hold, 10s, done);
  }
} cycles;

struct CycleThreadEnd {
  ~CycleThreadEnd() { cycles.Change(0, -1); }
};

void CountCycle() {
  thread_local CycleThreadEnd end;  // destroyed as the cycle's thread ends
  cycles.Change(1, 1);
}

bool CyclesStarted(int count) {
  return cycles.WaitFor([count] { return cycles.started >= count; });
}

// Dispatches what waits in the test thread's queue; the exit status of a WM_QUIT met there.
std::optional<WPARAM> DispatchWaitingMessages() {
  std::optional<WPARAM> quit;
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      quit = message.wParam;
    } else {
      DispatchMessageA(&message);
    }
  }
  return quit;
}

// Dispatches the test thread's messages until the update timer's tick has been dispatched, or
// `limit` has passed. A thread timer marks the end, so the loop waits in GetMessageA.
bool DispatchUntilUpdateTick(std::chrono::milliseconds limit) {
  const UINT_PTR deadline = SetTimer(nullptr, 0, static_cast<UINT>(limit.count()), nullptr);
  bool ticked = false;
  MSG message;
  while (!ticked && GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (message.hwnd == nullptr && message.message == WM_TIMER && message.wParam == deadline) {
      break;
    }
    ticked = message.hwnd == TrayWindow && message.message == WM_TIMER && message.wParam == 1;
    DispatchMessageA(&message);
  }
  KillTimer(nullptr, deadline);
  return ticked;
}

// The started cycle reads the settings on its own thread, so they change under the lock.
void SetUpdateInterval(int seconds) {
  platform::MutexLock lock(UpdateMutex);
  AppSettings.updateInterval = seconds;
}

using Texts = std::vector<std::string>;

// The menu's items from top to bottom as "text/identifier", marked when greyed and disabled.
Texts Items(const MenuView& menu) {
  Texts items;
  for (const platform::MenuItemView& item : menu.items) {
    const bool off = item.grayed && item.disabled;
    items.push_back(item.text + "/" + std::to_string(item.id) + (off ? " greyed" : ""));
  }
  return items;
}

class TrayWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(AllXmlPath.empty());  // with TEMP unset too, every cycle ends at once
    UpdateMutex = CreateMutexA(nullptr, FALSE, "UpdateMutex");
    ProgramInstance = GetModuleHandleA(nullptr);
    UpdateStartedHook = CountCycle;
    cycles.Change(-cycles.started, 0);
    platform::SetFrontEnd(&frontEnd_);
    static const bool registered = RegisterTrayWindowClass(ProgramInstance);
    ASSERT_TRUE(registered);
    ASSERT_NE(CreateTrayWindow(ProgramInstance), nullptr);
    AddTrayIcon();
  }

  void TearDown() override {
    EXPECT_TRUE(cycles.WaitFor([] { return cycles.running == 0; })) << "a cycle did not end";
    RemoveTrayIcon();
    DestroyWindow(TrayWindow);  // and the dialogs it owns
    DispatchWaitingMessages();
    platform::SetFrontEnd(nullptr);
    TrayWindow = nullptr;
    settingsDialogWindow = nullptr;
    updateTimerId = 0;
    ProgramInstance = nullptr;
    UpdateStartedHook = nullptr;
    updateInProgress = false;
    AppSettings = Settings();
    AboutPage.clear();
    CloseHandle(UpdateMutex);
    UpdateMutex = nullptr;
  }

  MenuView RightClickMenu(POINT cursor = {0, 0}) {
    const std::size_t before = frontEnd_.MenusShown().size();
    EXPECT_TRUE(frontEnd_.ClickIcon(TrayWindow, kTrayIconId, WM_RBUTTONUP, cursor));
    DispatchWaitingMessages();
    const std::vector<MenuView> menus = frontEnd_.MenusShown();
    EXPECT_EQ(menus.size(), before + 1) << "a right click showed no menu";
    return menus.empty() ? MenuView() : menus.back();
  }

  // Chooses from the open menu and dispatches the command; the exit status if the loop was told
  // to end.
  std::optional<WPARAM> Choose(UINT command) {
    EXPECT_TRUE(frontEnd_.ChooseMenuItemById(command)) << "command " << command;
    return DispatchWaitingMessages();
  }

  ScratchDirectory scratch_;
  // Nothing the program starts can be found on PATH; the registry lives in the scratch folder.
  ScopedVariable path_{"PATH", scratch_.path()};
  ScopedVariable temp_{"TEMP", std::nullopt};
  ScopedVariable configHome_{"XDG_CONFIG_HOME", scratch_.file("config")};
  platform::ProgrammaticFrontEnd frontEnd_;
};

TEST_F(TrayWindowTest, OnlyARightButtonReleaseShowsTheMenu) {
  for (UINT mouse : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_RBUTTONDOWN,
                     WM_RBUTTONDBLCLK, WM_MOUSEMOVE}) {
    ASSERT_TRUE(frontEnd_.ClickIcon(TrayWindow, kTrayIconId, mouse));
  }
  DispatchWaitingMessages();
  EXPECT_TRUE(frontEnd_.MenusShown().empty());

  const MenuView menu = RightClickMenu(POINT{40, 50});
  EXPECT_EQ(menu.owner, TrayWindow);
  EXPECT_EQ(menu.x, 40);
  EXPECT_EQ(menu.y, 50);
  EXPECT_EQ(menu.flags, static_cast<UINT>(TPM_BOTTOMALIGN));
  EXPECT_EQ(Items(menu), (Texts{"Update/2", "Settings.../1", "About.../3", "Exit/0"}));
  EXPECT_EQ(cycles.started, 0);
}

TEST_F(TrayWindowTest, WhileAnUpdateRunsOnlyExitCanBeChosenAndEndsTheProgram) {
  RightClickMenu();
  ASSERT_TRUE(frontEnd_.CloseMenu());
  updateInProgress = true;  // each right click builds the menu anew, with the state of that moment
  EXPECT_EQ(Items(RightClickMenu()),
            (Texts{"Update/2 greyed", "Settings.../1 greyed", "About.../3 greyed", "Exit/0"}));
  EXPECT_FALSE(frontEnd_.ChooseMenuItemById(kUpdateCommand));

  EXPECT_EQ(Choose(kExitCommand), std::optional<WPARAM>(0));
  const auto events = frontEnd_.IconEvents();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back().change, NotifyIconChange::kDeleted);
  EXPECT_EQ(events.back().icon.owner, TrayWindow);
}

TEST_F(TrayWindowTest, UpdateAndEveryTimerTickStartACycle) {
  RightClickMenu();
  EXPECT_EQ(Choose(kUpdateCommand), std::nullopt);
  EXPECT_TRUE(CyclesStarted(1));

  // Whatever the timer's identifier.
  PostMessageA(TrayWindow, WM_TIMER, 1, 0);
  PostMessageA(TrayWindow, WM_TIMER, 77, 0);
  DispatchWaitingMessages();
  EXPECT_TRUE(CyclesStarted(3));

  // A command the menu does not have does nothing.
  PostMessageA(TrayWindow, WM_COMMAND, 9, 0);
  EXPECT_EQ(DispatchWaitingMessages(), std::nullopt);
  EXPECT_TRUE(cycles.WaitFor([] { return cycles.running == 0; }));
  EXPECT_EQ(cycles.started, 3);
  EXPECT_TRUE(frontEnd_.DialogEvents().empty());
}

TEST_F(TrayWindowTest, SettingsOpensADialogOwnedByTheTrayWindow) {
  RightClickMenu();
  Choose(kSettingsCommand);
  const auto events = frontEnd_.DialogEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].change, platform::DialogChange::kShown);
  EXPECT_EQ(events[0].dialog.caption, "Settings");
  EXPECT_EQ(events[0].dialog.dialog, settingsDialogWindow);
  DestroyWindow(TrayWindow);
  EXPECT_FALSE(IsWindow(events[0].dialog.dialog));
}

TEST_F(TrayWindowTest, AboutOpensTheAboutPage) {
  // A stand-in for xdg-open that writes down what it was asked to open.
  const std::string record = scratch_.file("opened");
  std::ofstream(scratch_.file("xdg-open"))
      << "#!/bin/sh\nprintf '%s' \"$1\" > '" << record << ".tmp' && /bin/mv '" << record
      << ".tmp' '" << record << "'\n";
  std::filesystem::permissions(scratch_.file("xdg-open"), std::filesystem::perms::owner_all);
  AboutPage = scratch_.file("doc folder/about.html");

  RightClickMenu();
  Choose(kAboutCommand);
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!std::filesystem::exists(record) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_EQ(FileText(record), AboutPage);
}

// A tick comes as timer 1, also while the menu is open. Re-arming replaces the timer: one left
// behind would go on starting cycles at the old period.
TEST_F(TrayWindowTest, TheTimerTicksAsTimerOneAndReArmingReplacesIt) {
  SetUpdateInterval(600);
  ResetUpdateTimer();
  SetUpdateInterval(1);
  ResetUpdateTimer();
  EXPECT_EQ(updateTimerId, 1u);
  RightClickMenu();
  ASSERT_TRUE(DispatchUntilUpdateTick(10s));
  EXPECT_TRUE(CyclesStarted(1));

  SetUpdateInterval(-5);  // armed with the default, kept as stored
  ResetUpdateTimer();
  EXPECT_EQ(CopySettings().updateInterval, -5);
  EXPECT_FALSE(DispatchUntilUpdateTick(1500ms));
  EXPECT_EQ(Choose(kExitCommand), std::optional<WPARAM>(0));  // the menu stayed open
}

TEST(UpdateTimerPeriodTest, SecondsBecomeMillisecondsAndUnusableIntervalsTheDefault) {
  EXPECT_EQ(UpdateTimerPeriod(1), 1000u);
  EXPECT_EQ(UpdateTimerPeriod(600), 600000u);
  EXPECT_EQ(UpdateTimerPeriod(4294967), 4294967000u);  // the largest that fits 32 bits
  for (int unusable : {0, -1, INT_MIN, 4294968, INT_MAX}) {
    EXPECT_EQ(UpdateTimerPeriod(unusable), 600000u) << unusable;
  }
}

}  // namespace
