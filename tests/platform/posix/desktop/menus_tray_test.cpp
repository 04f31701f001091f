#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <future>
#include <mutex>
#include <string>

#include "platform/posix/front_ends/programmatic_front_end.h"
#include "platform/win32.h"
#include "tests/platform/posix/desktop/recording_window.h"

namespace {

using desktop_test::DispatchWaiting;
using desktop_test::kTrayCallback;
using desktop_test::Received;
using desktop_test::RecordingWindow;
using desktop_test::TrayIconData;
using platform::MenuItemView;
using platform::MenuView;
using platform::NotifyIconChange;
using platform::ProgrammaticFrontEnd;
using namespace std::chrono_literals;

class MenusTrayTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::SetFrontEnd(&frontEnd_); }
  void TearDown() override { platform::SetFrontEnd(nullptr); }

  // The tray menu as the program builds it: "Exit" first, then the others each at the top,
  // greyed while an update runs.
  HMENU BuildTrayMenu(bool updating) {
    HMENU menu = CreatePopupMenu();
    EXPECT_TRUE(InsertMenuA(menu, 0, MF_BYPOSITION | MF_STRING, 0, "Exit"));
    const UINT state = updating ? MF_BYPOSITION | MF_GRAYED | MF_DISABLED : MF_BYPOSITION;
    EXPECT_TRUE(InsertMenuA(menu, 0, state, 3, "About..."));
    EXPECT_TRUE(InsertMenuA(menu, 0, state, 1, "Settings..."));
    EXPECT_TRUE(InsertMenuA(menu, 0, state, 2, "Update"));
    return menu;
  }

  void ShowAndDestroy(HMENU menu, HWND owner) {
    ASSERT_TRUE(TrackPopupMenu(menu, TPM_BOTTOMALIGN, 10, 20, 0, owner, nullptr));
    ASSERT_TRUE(DestroyMenu(menu));
  }

  std::vector<WPARAM> CommandsReceived(const RecordingWindow& window) {
    DispatchWaiting();
    std::vector<WPARAM> commands;
    for (const Received& command : window.Messages(WM_COMMAND)) {
      EXPECT_EQ(command.lParam, 0);
      commands.push_back(command.wParam);
    }
    return commands;
  }

  ProgrammaticFrontEnd frontEnd_;
  HINSTANCE instance_ = reinterpret_cast<HINSTANCE>(0x400000);
};

TEST_F(MenusTrayTest, TheFrontEndGetsACopyOfTheItemsInOrderWithTheirStates) {
  RecordingWindow window;
  HMENU menu = BuildTrayMenu(true);
  ASSERT_TRUE(InsertMenuA(menu, 3, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr));
  ASSERT_TRUE(InsertMenuA(menu, 0xFFFFFFFF, MF_BYPOSITION, 9, "Last"));
  ASSERT_TRUE(InsertMenuA(menu, 9, MF_BYCOMMAND, 8, "Before last"));
  ShowAndDestroy(menu, window.handle());

  ASSERT_EQ(frontEnd_.MenusShown().size(), 1u);
  const MenuView shown = frontEnd_.MenusShown()[0];
  EXPECT_EQ(shown.owner, window.handle());
  EXPECT_EQ(shown.x, 10);
  EXPECT_EQ(shown.y, 20);
  EXPECT_EQ(shown.flags, TPM_BOTTOMALIGN);
  std::vector<std::string> texts;
  for (const MenuItemView& item : shown.items) {
    texts.push_back(item.separator ? "-" : item.text + "/" + std::to_string(item.id));
  }
  EXPECT_EQ(texts, (std::vector<std::string>{"Update/2", "Settings.../1", "About.../3", "-",
                                             "Exit/0", "Before last/8", "Last/9"}));
  EXPECT_TRUE(shown.items[0].grayed && shown.items[0].disabled);
  EXPECT_TRUE(shown.items[2].grayed);
  EXPECT_FALSE(shown.items[4].grayed || shown.items[4].disabled);
}

TEST_F(MenusTrayTest, AChoiceArrivesAsWmCommandAfterTheMenuCloses) {
  RecordingWindow window;
  ShowAndDestroy(BuildTrayMenu(false), window.handle());
  // Nothing arrives while the menu is open.
  EXPECT_TRUE(CommandsReceived(window).empty());
  ASSERT_TRUE(frontEnd_.ChooseMenuItemById(1));
  EXPECT_FALSE(frontEnd_.ChooseMenuItemById(2));  // the menu has closed
  EXPECT_EQ(CommandsReceived(window), (std::vector<WPARAM>{1}));

  ShowAndDestroy(BuildTrayMenu(false), window.handle());
  ASSERT_TRUE(frontEnd_.ChooseMenuItemAt(3));
  EXPECT_EQ(CommandsReceived(window), (std::vector<WPARAM>{1, 0}));
}

TEST_F(MenusTrayTest, GreyedItemsCannotBeChosenAndClosingDoesNothing) {
  RecordingWindow window;
  HMENU menu = BuildTrayMenu(true);
  InsertMenuA(menu, 1, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
  ShowAndDestroy(menu, window.handle());
  EXPECT_FALSE(frontEnd_.ChooseMenuItemById(2));
  EXPECT_FALSE(frontEnd_.ChooseMenuItemAt(1));  // the separator
  EXPECT_FALSE(frontEnd_.ChooseMenuItemAt(9));
  ASSERT_TRUE(frontEnd_.CloseMenu());
  EXPECT_FALSE(frontEnd_.CloseMenu());
  EXPECT_FALSE(frontEnd_.ChooseMenuItemById(0));
  EXPECT_TRUE(CommandsReceived(window).empty());
}

TEST_F(MenusTrayTest, AChoiceFromAMenuThatWasReplacedIsRefused) {
  RecordingWindow window;
  ShowAndDestroy(BuildTrayMenu(false), window.handle());
  const unsigned first = frontEnd_.MenusShown().back().serial;
  ShowAndDestroy(BuildTrayMenu(true), window.handle());
  EXPECT_FALSE(platform::ChooseMenuItem(first, 0));
  EXPECT_TRUE(frontEnd_.ChooseMenuItemById(0));
  EXPECT_EQ(CommandsReceived(window), (std::vector<WPARAM>{0}));
}

TEST_F(MenusTrayTest, WithoutAFrontEndTheMenuClosesAtOnce) {
  platform::SetFrontEnd(nullptr);
  RecordingWindow window;
  ShowAndDestroy(BuildTrayMenu(false), window.handle());
  EXPECT_TRUE(frontEnd_.MenusShown().empty());
  EXPECT_TRUE(CommandsReceived(window).empty());
}

TEST_F(MenusTrayTest, BadMenuCallsFail) {
  RecordingWindow window;
  HMENU menu = CreatePopupMenu();
  EXPECT_FALSE(InsertMenuA(menu, 77, MF_BYCOMMAND, 1, "no item 77 to insert before"));
  EXPECT_FALSE(InsertMenuA(menu, 0, MF_BYPOSITION | 0x0010 /* MF_POPUP */, 1, "submenu"));
  EXPECT_FALSE(TrackPopupMenu(menu, 0, 0, 0, 0, nullptr, nullptr));
  ASSERT_TRUE(DestroyMenu(menu));
  EXPECT_FALSE(DestroyMenu(menu));
  EXPECT_FALSE(InsertMenuA(menu, 0, MF_BYPOSITION, 1, "x"));
  EXPECT_FALSE(TrackPopupMenu(menu, 0, 0, 0, 0, window.handle(), nullptr));
}

TEST_F(MenusTrayTest, IconChangesAreRecordedWithPictureAndTip) {
  RecordingWindow window;
  NOTIFYICONDATAA data = TrayIconData(instance_, window.handle(), 112, "Zarnik Viewer");
  ASSERT_TRUE(Shell_NotifyIconA(NIM_ADD, &data));
  EXPECT_FALSE(Shell_NotifyIconA(NIM_ADD, &data));

  NOTIFYICONDATAA frame =
      TrayIconData(instance_, window.handle(), 114, "Zarnik Viewer updating...");
  ASSERT_TRUE(Shell_NotifyIconA(NIM_MODIFY, &frame));
  // A tip that fills its field without a terminator is cut to 63 characters.
  std::memset(frame.szTip, 'x', sizeof frame.szTip);
  frame.uFlags = NIF_TIP;
  ASSERT_TRUE(Shell_NotifyIconA(NIM_MODIFY, &frame));
  ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &data));
  EXPECT_FALSE(Shell_NotifyIconA(NIM_DELETE, &data));
  EXPECT_FALSE(Shell_NotifyIconA(NIM_MODIFY, &data));

  const auto events = frontEnd_.IconEvents();
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[0].change, NotifyIconChange::kAdded);
  EXPECT_EQ(events[0].icon.iconNumber, 112);
  EXPECT_EQ(events[0].icon.tip, "Zarnik Viewer");
  EXPECT_EQ(events[0].icon.owner, window.handle());
  EXPECT_EQ(events[1].change, NotifyIconChange::kModified);
  EXPECT_EQ(events[1].icon.iconNumber, 114);
  EXPECT_EQ(events[1].icon.tip, "Zarnik Viewer updating...");
  EXPECT_EQ(events[2].icon.iconNumber, 114);  // only the tip was given
  EXPECT_EQ(events[2].icon.tip, std::string(63, 'x'));
  EXPECT_EQ(events[3].change, NotifyIconChange::kDeleted);
}

TEST_F(MenusTrayTest, MouseEventsReachTheOwnerAsTheCallbackMessage) {
  RecordingWindow window;
  NOTIFYICONDATAA data = TrayIconData(instance_, window.handle(), 112, "Zarnik Viewer");
  data.uID = 4;
  ASSERT_TRUE(Shell_NotifyIconA(NIM_ADD, &data));
  EXPECT_TRUE(frontEnd_.ClickIcon(window.handle(), 4, WM_LBUTTONDBLCLK));
  EXPECT_TRUE(frontEnd_.ClickIcon(window.handle(), 4, WM_RBUTTONUP, POINT{300, 200}));
  EXPECT_FALSE(frontEnd_.ClickIcon(window.handle(), 5, WM_RBUTTONUP));
  DispatchWaiting();

  const auto callbacks = window.Messages(kTrayCallback);
  ASSERT_EQ(callbacks.size(), 2u);
  EXPECT_EQ(callbacks[0].wParam, 4u);
  EXPECT_EQ(callbacks[0].lParam, static_cast<LPARAM>(WM_LBUTTONDBLCLK));
  EXPECT_EQ(callbacks[1].lParam, static_cast<LPARAM>(WM_RBUTTONUP));
  POINT cursor{};
  ASSERT_TRUE(GetCursorPos(&cursor));
  EXPECT_EQ(cursor.x, 300);
  EXPECT_EQ(cursor.y, 200);
  Shell_NotifyIconA(NIM_DELETE, &data);
  EXPECT_FALSE(frontEnd_.ClickIcon(window.handle(), 4, WM_RBUTTONUP));
}

TEST_F(MenusTrayTest, IconsLoadByResourceNumber) {
  for (int number = 111; number <= 115; ++number) {
    EXPECT_EQ(platform::IconResourceNumber(LoadIconA(instance_, MAKEINTRESOURCEA(number))), number);
  }
  EXPECT_EQ(LoadIconA(instance_, MAKEINTRESOURCEA(110)), nullptr);
  EXPECT_EQ(LoadIconA(instance_, MAKEINTRESOURCEA(116)), nullptr);
  EXPECT_EQ(LoadIconA(instance_, "named"), nullptr);
  EXPECT_NE(LoadIconA(nullptr, IDI_APPLICATION), nullptr);
  EXPECT_NE(LoadCursorA(nullptr, IDC_ARROW), nullptr);
  EXPECT_NE(GetStockObject(WHITE_BRUSH), nullptr);
}

// The tray program's round trip with its input on another thread, as the terminal front end
// will do it: a right click opens the menu, "Exit" removes the icon and ends the loop.
TEST_F(MenusTrayTest, ARightClickMenuChoiceFromAnotherThreadEndsTheLoop) {
  std::promise<HWND> created;
  std::future<HWND> owner = created.get_future();
  std::future<int> loop = std::async(std::launch::async, [this, &created] {
    RecordingWindow tray;
    NOTIFYICONDATAA data = TrayIconData(instance_, tray.handle(), 112, "Zarnik Viewer");
    tray.React([&data](HWND self, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
      if (message == kTrayCallback && lParam == WM_RBUTTONUP) {
        HMENU menu = CreatePopupMenu();
        InsertMenuA(menu, 0, MF_BYPOSITION, 0, "Exit");
        SetForegroundWindow(self);
        POINT at;
        GetCursorPos(&at);
        TrackPopupMenu(menu, TPM_BOTTOMALIGN, at.x, at.y, 0, self, nullptr);
        DestroyMenu(menu);
      } else if (message == WM_APP) {
        PostQuitMessage(2);  // the test gave up
      } else if (message == WM_COMMAND && LOWORD(wParam) == 0) {
        Shell_NotifyIconA(NIM_DELETE, &data);
        PostQuitMessage(0);
      }
      return DefWindowProcA(self, message, wParam, lParam);
    });
    Shell_NotifyIconA(NIM_ADD, &data);
    created.set_value(tray.handle());
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
      DispatchMessageA(&message);
    }
    return 1;
  });
  ASSERT_EQ(owner.wait_for(5s), std::future_status::ready);
  HWND tray = owner.get();
  // Whatever fails below, the loop ends before the test waits for it.
  struct EndLoop {
    HWND tray;
    ~EndLoop() { PostMessageA(tray, WM_APP, 0, 0); }
  } endLoop{tray};
  EXPECT_TRUE(frontEnd_.ClickIcon(tray, 0, WM_RBUTTONDOWN));  // no menu for a press
  ASSERT_TRUE(frontEnd_.ClickIcon(tray, 0, WM_RBUTTONUP, POINT{5, 6}));
  ASSERT_TRUE(frontEnd_.WaitForMenus(1, 5s));
  EXPECT_EQ(frontEnd_.MenusShown()[0].x, 5);
  ASSERT_TRUE(frontEnd_.ChooseMenuItemById(0));
  ASSERT_EQ(loop.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(loop.get(), 1);
  EXPECT_EQ(frontEnd_.MenusShown().size(), 1u);
  EXPECT_EQ(frontEnd_.IconEvents().back().change, NotifyIconChange::kDeleted);
}

// A front end that holds every icon change until the test lets it go, and tells whether the call
// has returned.
class HoldingFrontEnd : public ProgrammaticFrontEnd {
 public:
  void OnNotifyIcon(NotifyIconChange, const platform::NotifyIconView&) override {
    std::unique_lock<std::mutex> hold(lock_);
    entered_ = true;
    changed_.notify_all();
    changed_.wait_for(hold, 10s, [this] { return released_; });
    returned_ = true;
  }
  bool WaitUntilEntered() {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, 10s, [this] { return entered_; });
  }
  void Release() {
    std::lock_guard<std::mutex> hold(lock_);
    released_ = true;
    changed_.notify_all();
  }
  bool Returned() {
    std::lock_guard<std::mutex> hold(lock_);
    return returned_;
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  bool entered_ = false;
  bool released_ = false;
  bool returned_ = false;
};

// Whoever replaces the front end may destroy the old one at once: the replacement must wait for
// a call into it that another thread is making.
TEST(FrontEndTest, ReplacingTheFrontEndWaitsForACallInProgress) {
  HoldingFrontEnd holding;
  platform::SetFrontEnd(&holding);
  RecordingWindow window;
  NOTIFYICONDATAA data{};
  data.cbSize = 88;
  data.hWnd = window.handle();
  std::future<BOOL> adding =
      std::async(std::launch::async, [&data] { return Shell_NotifyIconA(NIM_ADD, &data); });
  ASSERT_TRUE(holding.WaitUntilEntered());
  std::future<bool> replacing = std::async(std::launch::async, [&holding] {
    platform::SetFrontEnd(nullptr);
    return holding.Returned();
  });
  // Time for the replacement to get under way: it must still be waiting after it.
  EXPECT_EQ(replacing.wait_for(200ms), std::future_status::timeout);
  holding.Release();
  ASSERT_EQ(replacing.wait_for(10s), std::future_status::ready);
  EXPECT_TRUE(replacing.get()) << "SetFrontEnd returned while the old front end was in use";
  ASSERT_EQ(adding.wait_for(10s), std::future_status::ready);
  EXPECT_TRUE(adding.get());
  EXPECT_EQ(platform::InstalledFrontEnd(), nullptr);
  Shell_NotifyIconA(NIM_DELETE, &data);
}

}  // namespace
