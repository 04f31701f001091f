#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "platform/posix/front_ends/front_end.h"
#include "platform/posix/front_ends/front_end_session.h"
#include "platform/posix/front_ends/terminal_front_end.h"
#include "platform/posix/kernel/wakeable_wait.h"
#include "platform/program_environment.h"
#include "platform/win32.h"
#include "tests/platform/posix/desktop/recording_window.h"

namespace {

using desktop_test::DispatchFor;
using desktop_test::kTrayCallback;
using desktop_test::RecordingWindow;
using platform::TerminalFrontEnd;
using namespace std::chrono_literals;

// Drains the controlling side of a pseudo-terminal into a string on a thread of its own, so the
// front end never blocks on a full terminal, and lets the test wait for text with a limit.
class PtyReader {
 public:
  explicit PtyReader(int master) : master_(master) {
    thread_ = std::thread([this] { Drain(); });
  }
  ~PtyReader() {
    stop_->Wake();
    thread_.join();
  }

  std::string Output() {
    std::lock_guard<std::mutex> hold(lock_);
    return output_;
  }
  /// Where the output stands now; WaitFor looks only at what comes after a mark.
  std::size_t Mark() { return Output().size(); }
  bool WaitFor(const std::string& text, std::size_t from = 0,
               std::chrono::milliseconds limit = 3000ms) {
    std::unique_lock<std::mutex> hold(lock_);
    return arrived_.wait_for(hold, limit, [&] {
      return output_.size() >= from && output_.find(text, from) != std::string::npos;
    });
  }

 private:
  void Drain() {
    while (stop_->WaitReadable(master_, -1) == platform::WakeableWait::Result::kReadable) {
      char buffer[1024];
      const ssize_t got = read(master_, buffer, sizeof buffer);
      if (got <= 0) {
        return;
      }
      std::lock_guard<std::mutex> hold(lock_);
      output_.append(buffer, static_cast<std::size_t>(got));
      arrived_.notify_all();
    }
  }

  int master_;
  const std::unique_ptr<platform::WakeableWait> stop_ = platform::WakeableWait::Create();
  std::thread thread_;
  std::mutex lock_;
  std::condition_variable arrived_;
  std::string output_;
};

class TerminalFrontEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(openpty(&master_, &slave_, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(tcgetattr(slave_, &before_), 0);
    reader_ = std::make_unique<PtyReader>(master_);
  }
  void TearDown() override {
    platform::SetFrontEnd(nullptr);
    terminal_.reset();
    reader_.reset();
    close(slave_);
    close(master_);
  }

  void StartTerminal() {
    terminal_ = std::make_unique<TerminalFrontEnd>(slave_, slave_);
    platform::SetFrontEnd(terminal_.get());
    ASSERT_TRUE(terminal_->Start());
  }

  void Type(const std::string& keys) {
    ASSERT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }

  void AddTrayIcon(HWND owner, int picture, const char* tip, DWORD message = NIM_ADD) {
    NOTIFYICONDATAA data = desktop_test::TrayIconData(instance_, owner, picture, tip);
    ASSERT_TRUE(Shell_NotifyIconA(message, &data));
  }

  int master_ = -1;
  int slave_ = -1;
  termios before_{};
  std::unique_ptr<PtyReader> reader_;
  std::unique_ptr<TerminalFrontEnd> terminal_;
  HINSTANCE instance_ = reinterpret_cast<HINSTANCE>(0x400000);
};

bool SameModes(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_lflag == b.c_lflag &&
         std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

TEST_F(TerminalFrontEndTest, RawWhileRunningAndTheModesComeBackAfterStop) {
  StartTerminal();
  termios running{};
  ASSERT_EQ(tcgetattr(slave_, &running), 0);
  EXPECT_EQ(running.c_lflag & (ICANON | ECHO), 0u);
  EXPECT_NE(running.c_lflag & ISIG, 0u) << "Ctrl-C must still reach the program as SIGINT";

  // One terminal, one front end at a time.
  TerminalFrontEnd second(slave_, slave_);
  EXPECT_FALSE(second.Start());

  terminal_->Stop();
  termios after{};
  ASSERT_EQ(tcgetattr(slave_, &after), 0);
  EXPECT_TRUE(SameModes(before_, after));
  // Stopping twice, and destroying a stopped front end, change nothing.
  terminal_->Stop();
  terminal_.reset();
  ASSERT_EQ(tcgetattr(slave_, &after), 0);
  EXPECT_TRUE(SameModes(before_, after));
}

TEST_F(TerminalFrontEndTest, AMenuChoiceFromTheStatusLine) {
  RecordingWindow window;
  bool updating = true;
  window.React([&](HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
    if (message == kTrayCallback && lParam == WM_RBUTTONUP) {
      HMENU menu = CreatePopupMenu();
      InsertMenuA(menu, 0, MF_BYPOSITION, 0, "Exit");
      const UINT state = updating ? MF_BYPOSITION | MF_GRAYED | MF_DISABLED : MF_BYPOSITION;
      InsertMenuA(menu, 0, state, 3, "About...");
      InsertMenuA(menu, 0, state, 1, "Settings...");
      InsertMenuA(menu, 0, state, 2, "Update");
      TrackPopupMenu(menu, TPM_BOTTOMALIGN, 0, 0, 0, hwnd, nullptr);
      DestroyMenu(menu);
      return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
  });
  StartTerminal();
  AddTrayIcon(window.handle(), 112, "Zarnik Viewer");
  ASSERT_TRUE(reader_->WaitFor("[|] Zarnik Viewer"));
  AddTrayIcon(window.handle(), 113, "Zarnik Viewer updating...", NIM_MODIFY);
  ASSERT_TRUE(reader_->WaitFor("[/] Zarnik Viewer updating..."));

  // "l" is a left click: the window hears of it, and no menu opens.
  Type("l");
  ASSERT_TRUE(DispatchFor(2000ms, [&] {
    for (const auto& received : window.Messages(kTrayCallback)) {
      if (received.lParam == WM_LBUTTONUP) {
        return true;
      }
    }
    return false;
  }));

  // While updating, the first three are greyed: choosing one is refused and the menu stays.
  std::size_t mark = reader_->Mark();
  Type("m");
  ASSERT_TRUE(DispatchFor(2000ms, [&] { return window.Messages(kTrayCallback).size() >= 4; }));
  ASSERT_TRUE(reader_->WaitFor("Esc: close", mark));
  const std::string menu = reader_->Output().substr(mark);
  const std::size_t update = menu.find("1  Update  (greyed)");
  const std::size_t settings = menu.find("2  Settings...  (greyed)");
  const std::size_t about = menu.find("3  About...  (greyed)");
  const std::size_t exit = menu.find("4  Exit");
  ASSERT_NE(update, std::string::npos);
  ASSERT_NE(exit, std::string::npos);
  EXPECT_TRUE(update < settings && settings < about && about < exit);
  EXPECT_EQ(menu.find("Exit  (greyed)"), std::string::npos);

  mark = reader_->Mark();
  Type("1");
  ASSERT_TRUE(reader_->WaitFor("\"Update\" is not available now.", mark));
  mark = reader_->Mark();
  Type("\x1b");
  ASSERT_TRUE(reader_->WaitFor("(Enter/m: menu, l: left click)", mark));
  DispatchFor(50ms);
  EXPECT_TRUE(window.Messages(WM_COMMAND).empty());

  // Enter opens it again, now with everything enabled; "1" chooses "Update".
  updating = false;
  Type("\r");
  ASSERT_TRUE(DispatchFor(2000ms, [&] { return window.Messages(kTrayCallback).size() >= 6; }));
  ASSERT_TRUE(reader_->WaitFor("1  Update\r", mark));
  // A key typed straight after Esc is not swallowed as part of an arrow key: Esc closes the
  // menu and "m" opens it again.
  Type("\x1bm");
  ASSERT_TRUE(DispatchFor(2000ms, [&] { return window.Messages(kTrayCallback).size() >= 8; }));
  Type("1");
  ASSERT_TRUE(DispatchFor(2000ms, [&] { return !window.Messages(WM_COMMAND).empty(); }));
  const auto commands = window.Messages(WM_COMMAND);
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(commands[0].wParam, MAKEWPARAM(2, 0));

  AddTrayIcon(window.handle(), 112, "Zarnik Viewer", NIM_DELETE);
  ASSERT_TRUE(reader_->WaitFor("(no tray icon)"));
}

// What the settings dialog's procedure saw when OK was pressed.
struct OkSeen {
  bool pressed = false;
  std::string userName;
  std::string password;
  bool autostart = false;
};
OkSeen okSeen;

INT_PTR CALLBACK SettingsProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_COMMAND && LOWORD(wParam) == 1001) {
    char text[256];
    GetDlgItemTextA(dialog, 1003, text, sizeof text);
    okSeen.userName = text;
    GetDlgItemTextA(dialog, 1004, text, sizeof text);
    okSeen.password = text;
    okSeen.autostart = IsDlgButtonChecked(dialog, 1012) == BST_CHECKED;
    okSeen.pressed = true;
    DestroyWindow(dialog);
  }
  return FALSE;
}

TEST_F(TerminalFrontEndTest, ADialogRoundWithoutEchoingThePassword) {
  okSeen = OkSeen{};
  RecordingWindow owner;
  StartTerminal();
  HWND dialog =
      CreateDialogParamA(instance_, MAKEINTRESOURCEA(5), owner.handle(), &SettingsProcedure, 0);
  ASSERT_NE(dialog, nullptr);
  SetDlgItemTextA(dialog, 1003, "bo");
  SetDlgItemTextA(dialog, 1004, "old");
  ShowWindow(dialog, SW_SHOW);
  ASSERT_TRUE(reader_->WaitFor("== Settings =="));
  ASSERT_TRUE(reader_->WaitFor("[***]"));
  EXPECT_NE(reader_->Output().find("> [bo]"), std::string::npos) << "the first edit has focus";

  // Append to the user name, erase one character; replace the stored password; tick the box;
  // move past the copy button to OK and press it.
  Type(
      "b\x7f"
      "b\t");
  Type(std::string(3, '\x7f') + "s3cretPW");
  Type("\x1b[B ");  // arrow down to the check box, Space ticks it
  Type("\t\t\r");
  ASSERT_TRUE(DispatchFor(3000ms, [] { return okSeen.pressed; }));
  EXPECT_EQ(okSeen.userName, "bob");
  EXPECT_EQ(okSeen.password, "s3cretPW");
  EXPECT_TRUE(okSeen.autostart);
  EXPECT_FALSE(IsWindow(dialog));

  EXPECT_TRUE(reader_->WaitFor("[********]"));
  EXPECT_TRUE(reader_->WaitFor("[x] Autostart with Windows"));
  const std::size_t closed = reader_->Output().rfind("== Settings ==");
  ASSERT_TRUE(reader_->WaitFor("(Enter/m: menu", closed));
  const std::string shown = reader_->Output();
  EXPECT_EQ(shown.find("s3cret"), std::string::npos);
  EXPECT_EQ(shown.find("old"), std::string::npos);
}

TEST_F(TerminalFrontEndTest, EscPressesCancel) {
  std::vector<WPARAM> commands;
  RecordingWindow owner;
  StartTerminal();
  static std::vector<WPARAM>* seen;
  seen = &commands;
  HWND dialog = CreateDialogParamA(
      instance_, MAKEINTRESOURCEA(5), owner.handle(),
      [](HWND, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
        if (message == WM_COMMAND) {
          seen->push_back(wParam);
        }
        return FALSE;
      },
      0);
  ShowWindow(dialog, SW_SHOW);
  ASSERT_TRUE(reader_->WaitFor("< Cancel >"));
  Type("\x1b");
  ASSERT_TRUE(DispatchFor(2000ms, [&] { return !commands.empty(); }));
  EXPECT_EQ(commands, (std::vector<WPARAM>{MAKEWPARAM(1002, BN_CLICKED)}));
  DestroyWindow(dialog);
}

TEST_F(TerminalFrontEndTest, ProgramTextsCannotSendTerminalCommands) {
  RecordingWindow window;
  StartTerminal();
  AddTrayIcon(window.handle(), 112, "tip\x1b]0;owned\x07 end");
  ASSERT_TRUE(reader_->WaitFor("tip?]0;owned? end"));
  AddTrayIcon(window.handle(), 112, "", NIM_DELETE);
}

// Progress printed during an update gets a line of its own above the status line, which is then
// drawn again whole, instead of landing inside it.
TEST_F(TerminalFrontEndTest, ProgressLinesGoAboveTheStatusLine) {
  RecordingWindow window;
  StartTerminal();
  AddTrayIcon(window.handle(), 112, "Zarnik Viewer updating...");
  ASSERT_TRUE(reader_->WaitFor("Zarnik Viewer updating..."));
  const std::size_t mark = reader_->Mark();
  platform::PrintProgress("404");
  ASSERT_TRUE(reader_->WaitFor("Zarnik Viewer updating...", mark));
  const std::string after = reader_->Output().substr(mark);
  const std::size_t line = after.find("\r\x1b[J404\r");
  EXPECT_NE(line, std::string::npos) << after;
  EXPECT_LT(line, after.find("Zarnik Viewer updating..."));
  AddTrayIcon(window.handle(), 112, "", NIM_DELETE);
}

TEST(FrontEndSessionTest, ATerminalOnlyWhenBothEndsAreTerminals) {
  int master;
  int slave;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  int notTerminal[2];
  ASSERT_EQ(pipe(notTerminal), 0);
  {
    platform::FrontEndSession session(notTerminal[0], slave);
    EXPECT_FALSE(session.HasTerminal());
    EXPECT_EQ(platform::InstalledFrontEnd(), nullptr);
  }
  termios before{};
  ASSERT_EQ(tcgetattr(slave, &before), 0);
  {
    platform::FrontEndSession session(slave, slave);
    EXPECT_TRUE(session.HasTerminal());
    ASSERT_NE(platform::InstalledFrontEnd(), nullptr);
    EXPECT_TRUE(platform::InstalledFrontEnd()->TerminalAttached());
  }
  EXPECT_EQ(platform::InstalledFrontEnd(), nullptr);
  termios after{};
  ASSERT_EQ(tcgetattr(slave, &after), 0);
  EXPECT_TRUE(SameModes(before, after));
  close(notTerminal[0]);
  close(notTerminal[1]);
  close(slave);
  close(master);
}

}  // namespace
