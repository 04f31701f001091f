// The settings dialog as a GTK window on a private X server (Xvfb), worked with real key presses
// (xdotool): what is typed reaches the program, Enter and Esc press OK and Cancel, the program's
// own changes show without coming back, and the clipboard is the desktop's (read with xclip).
#include "platform/posix/front_ends/gtk_dialogs.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "tests/platform/posix/desktop/recording_window.h"
#include "tests/support/private_x_server.h"
#include "tests/support/scoped_environment.h"

namespace {

using desktop_test::DispatchFor;
using test_support::RunBounded;
using namespace std::chrono_literals;

constexpr int kUserName = 1003, kPassword = 1004, kAutostart = 1012, kCopy = 1013, kOk = 1001,
              kCancel = 1002;
const char kFeedAddress[] = "http://localhost:8080/all.xml";

// The dialog's window on the screen, or nothing; `wait`: until it is there.
std::string FindWindow(bool wait) {
  return RunBounded(std::string("xdotool search ") + (wait ? "--sync " : "") +
                    "--onlyvisible --name '^Settings$'");
}

// Runs the calling thread's messages until `done` holds, for at most five seconds. Input from the
// front end may arrive as a task on the thread rather than a message, so `done` is asked often.
bool WaitFor(const std::function<bool()>& done) {
  for (int round = 0; round < 100; ++round) {
    if (DispatchFor(50ms, done) || done()) {
      return true;
    }
  }
  return false;
}

// The front end of these tests: only the dialogs and the clipboard, in GTK.
class GtkOnlyFrontEnd : public platform::FrontEnd {
 public:
  explicit GtkOnlyFrontEnd(platform::GtkDialogs& gtk) : gtk_(gtk) {}
  void OnNotifyIcon(platform::NotifyIconChange, const platform::NotifyIconView&) override {}
  void ShowMenu(const platform::MenuView&) override {}
  void OnDialog(platform::DialogChange change, const platform::DialogView& dialog) override {
    changes += change == platform::DialogChange::kChanged ? 1 : 0;
    gtk_.OnDialog(change, dialog);
  }
  void OnClipboardText(const std::string& text) override { gtk_.OnClipboardText(text); }
  bool TerminalAttached() override { return false; }
  void WriteToTerminal(const std::string&) override {}
  bool ShowOutputLine(const std::string&) override { return false; }

  std::atomic<int> changes{0};

 private:
  platform::GtkDialogs& gtk_;
};

// What the dialog's procedure got: its commands, and the fields as OK found them.
struct Seen {
  std::vector<int> commands;
  std::string userName, password;
  bool autostart = false;
} seen;

std::string ItemText(HWND dialog, int id) {
  char text[256];
  GetDlgItemTextA(dialog, id, text, sizeof text);
  return text;
}

// The copy button puts the feed address on the clipboard, as the program does.
INT_PTR CALLBACK SettingsProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message != WM_COMMAND) {
    return FALSE;
  }
  seen.commands.push_back(LOWORD(wParam));
  if (LOWORD(wParam) == kOk) {
    seen.userName = ItemText(dialog, kUserName);
    seen.password = ItemText(dialog, kPassword);
    seen.autostart = IsDlgButtonChecked(dialog, kAutostart) == BST_CHECKED;
  } else if (LOWORD(wParam) == kCopy && OpenClipboard(nullptr)) {
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, sizeof kFeedAddress);
    std::memcpy(GlobalLock(memory), kFeedAddress, sizeof kFeedAddress);
    GlobalUnlock(memory);
    EmptyClipboard();
    SetClipboardData(CF_TEXT, memory);
    CloseClipboard();
  }
  return FALSE;
}

// Before the tests that start an X server: GTK is refused without a display, and whether or not
// it starts, the process's locale stays as the program set it (here "C", whatever LC_ALL says).
TEST(GtkDialogsWithoutDisplayTest, StartIsRefusedAndTheLocaleStays) {
  ScopedVariable noX("DISPLAY", std::nullopt);
  ScopedVariable noWayland("WAYLAND_DISPLAY", std::nullopt);
  ScopedVariable locale("LC_ALL", "C.UTF-8");
  const std::string before = std::setlocale(LC_ALL, nullptr);
  platform::GtkDialogs gtk;
  EXPECT_FALSE(gtk.Start());
  gtk.OnClipboardText("ignored");  // not started: nothing happens
  gtk.Stop();
  EXPECT_EQ(std::setlocale(LC_ALL, nullptr), before);
}

class GtkDialogsTest : public ::testing::Test {
 protected:
  // One X server and one GTK per test program: GTK keeps its display open until the process ends.
  static void SetUpTestSuite() {
    xServer = new test_support::PrivateXServer;
    ASSERT_TRUE(xServer->ready()) << "Xvfb did not start";
    gtk = new platform::GtkDialogs;
    ASSERT_TRUE(gtk->Start());
  }
  static void TearDownTestSuite() {
    delete gtk;
    delete xServer;
  }

  void SetUp() override {
    seen = Seen{};
    platform::SetFrontEnd(&frontEnd_);
    dialog_ =
        CreateDialogParamA(nullptr, MAKEINTRESOURCEA(5), owner_.handle(), &SettingsProcedure, 0);
    ASSERT_NE(dialog_, nullptr);
  }
  void TearDown() override {
    DestroyWindow(dialog_);
    platform::SetFrontEnd(nullptr);
    // Gone from the screen before the next test looks for its own window.
    for (int round = 0; round < 50 && !FindWindow(false).empty(); ++round) {
      std::this_thread::sleep_for(100ms);
    }
  }

  // Shows the dialog and gives its window the keyboard.
  void ShowAndFocus() {
    ShowWindow(dialog_, SW_SHOW);
    window_ = FindWindow(true);
    ASSERT_FALSE(window_.empty()) << "no Settings window";
    window_ = window_.substr(0, window_.find('\n'));
    RunBounded("xdotool windowfocus --sync " + window_);
  }
  static void Keys(const std::string& arguments) { RunBounded("xdotool " + arguments); }

  static test_support::PrivateXServer* xServer;
  static platform::GtkDialogs* gtk;
  GtkOnlyFrontEnd frontEnd_{*gtk};
  desktop_test::RecordingWindow owner_;
  HWND dialog_ = nullptr;
  std::string window_;
};
test_support::PrivateXServer* GtkDialogsTest::xServer = nullptr;
platform::GtkDialogs* GtkDialogsTest::gtk = nullptr;

TEST_F(GtkDialogsTest, TypingTabSpaceAndEnterReachTheProgram) {
  ShowAndFocus();
  Keys("type --delay 20 alice");
  Keys("key Tab");
  Keys("type --delay 20 s3cret");
  Keys("key Tab space");
  ASSERT_TRUE(WaitFor([&] { return IsDlgButtonChecked(dialog_, kAutostart); }));
  DispatchFor(300ms);  // the check mark drawn
  RunBounded("import -window " + window_ + " " ZV_BUILD_DIR "/gtk_settings_dialog.png");
  Keys("key Return");  // from the check box: the default button, OK
  ASSERT_TRUE(WaitFor([] { return !seen.userName.empty(); }));
  EXPECT_EQ(seen.userName, "alice");
  EXPECT_EQ(seen.password, "s3cret");
  EXPECT_TRUE(seen.autostart);
  EXPECT_EQ(seen.commands, (std::vector<int>{kAutostart, kOk}));
}

// Then the copy button, reached with Tab and pressed with Enter, and Esc.
TEST_F(GtkDialogsTest, ProgramTextShowsWithoutComingBackThenCopyAndEsc) {
  ShowAndFocus();
  SetDlgItemTextA(dialog_, kUserName, "carol");
  SetDlgItemTextA(dialog_, kPassword, "old");
  // Typed at the end of each: the window holds the program's texts, the password's too.
  Keys("key Tab End");
  Keys("type !");
  Keys("key shift+Tab End");
  Keys("type 2");
  ASSERT_TRUE(WaitFor([&] {
    return ItemText(dialog_, kUserName) == "carol2" && ItemText(dialog_, kPassword) == "old!";
  }));
  DispatchFor(300ms);
  EXPECT_EQ(frontEnd_.changes, 4) << "two changes by the program, two keys; nothing echoed";

  Keys("key Tab Tab Tab Return");  // from the user name to the copy button
  ASSERT_TRUE(WaitFor([] { return !seen.commands.empty(); }));
  std::string pasted;
  for (int attempt = 0; attempt < 50 && pasted != kFeedAddress; ++attempt) {
    pasted = RunBounded("xclip -o -selection clipboard");
    std::this_thread::sleep_for(100ms);
  }
  EXPECT_EQ(pasted, kFeedAddress);
  Keys("key Escape");
  ASSERT_TRUE(WaitFor([] { return seen.commands.size() == 2; }));
  EXPECT_EQ(seen.commands, (std::vector<int>{kCopy, kCancel}));
}

}  // namespace
