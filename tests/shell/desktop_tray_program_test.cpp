// The tray program on a Linux desktop: started with a session bus that has a panel, it shows its
// icon there, and the panel's menu runs it. The panel is a fake one on a private bus.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "settings/app_settings.h"
#include "tests/support/fake_journal_process.h"
#include "tests/support/fake_tray_panel.h"
#include "tests/support/private_session_bus.h"
#include "tests/support/private_x_server.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/scripted_peer.h"

namespace {

using namespace std::chrono_literals;
using test_support::FakeTrayPanel;

constexpr auto kLimit = 60s;  // the sanitizer builds are slow; a healthy run needs a fraction

// The body of GET /all.xml from the program's server, or "" when it does not answer 200.
std::string FetchMergedFeed(int port) {
  const SOCKET client = socket(AF_INET, SOCK_STREAM, 0);
  const timeval limit{5, 0};  // a server that never answers fails the wait, not the run
  setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  const sockaddr_in address = test_support::LoopbackAddress(port);
  std::string answer;
  if (connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
    const std::string request = "GET /all.xml HTTP/1.0\r\nHost: localhost\r\n\r\n";
    if (send(client, request.data(), request.size(), 0) == static_cast<ssize_t>(request.size())) {
      char buffer[4096];
      for (ssize_t got; (got = recv(client, buffer, sizeof buffer, 0)) > 0;) {
        answer.append(buffer, static_cast<std::size_t>(got));
      }
    }
  }
  close(client);
  return answer.rfind("HTTP/1.0 200", 0) == 0 ? answer.substr(answer.find("\r\n\r\n") + 4) : "";
}

class DesktopTrayProgramTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!bus.ready() || !service.ready()) {
      GTEST_SKIP() << "no dbus-daemon or no fake journal service here";
    }
    program = folder.file("zarnik-viewer");
    std::filesystem::copy_file(ZV_PROGRAM_PATH, program);
    port = test_support::UnusedLoopbackPort();
    const std::string journal = std::to_string(service.port());
    folder.Write(
        "service.conf",
        "site = http://www.zarnik.test:" + journal + "\njournal_domain = zarnik.test:" + journal +
            "\nusers_host = users.zarnik.test:" + journal +
            "\nresolve = *.zarnik.test 127.0.0.1\nserver_port = " + std::to_string(port) + "\n");
    folder.Write("settings.dat", EncodeSettingsFile(Settings{"abc", "secret", 600}));
    std::filesystem::create_directory(temp.path() + "/t");
  }

  void TearDown() override {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }

  // Starts the copy headless, its session bus the private one.
  void StartProgram() {
    pid = fork();
    if (pid == 0) {
      const std::string busVariable = "DBUS_SESSION_BUS_ADDRESS=" + bus.address();
      const std::string tempVariable = "TEMP=" + temp.path() + "/t";
      const std::string homeVariable = "HOME=" + temp.path();
      std::vector<char*> environment;
      for (char** variable = environ; *variable != nullptr; ++variable) {
        const std::string entry = *variable;
        if (entry.rfind("DBUS_SESSION_BUS_ADDRESS=", 0) != 0 && entry.rfind("TEMP=", 0) != 0 &&
            entry.rfind("HOME=", 0) != 0 && entry.rfind("XDG_", 0) != 0) {
          environment.push_back(*variable);
        }
      }
      // No accessibility bus here: GTK would only warn about it.
      const std::string accessibility = "NO_AT_BRIDGE=1";
      for (const std::string* own : {&busVariable, &tempVariable, &homeVariable, &accessibility}) {
        environment.push_back(const_cast<char*>(own->c_str()));
      }
      environment.push_back(nullptr);
      freopen("/dev/null", "r", stdin);
      freopen("/dev/null", "w", stdout);
      if (chdir(folder.path().c_str()) == 0) {
        execle(program.c_str(), program.c_str(), nullptr, environment.data());
      }
      _exit(127);
    }
    ASSERT_GT(pid, 0);
  }

  bool Running() { return waitpid(pid, nullptr, WNOHANG) == 0; }

  bool Click(const std::string& item, int id) {
    return panel.Call(item, "/MenuBar", "com.canonical.dbusmenu", "Event", "isvu", id, "clicked",
                      "i", 0, 0u);
  }
  // The menu protocol's id of the entry labelled `label`; -1 when there is none.
  int MenuId(const std::string& item, const std::string& label) {
    for (const FakeTrayPanel::MenuEntry& entry : panel.MenuLayout(item)) {
      const auto found = entry.properties.find("label");
      if (found != entry.properties.end() && found->second == label) {
        return entry.id;
      }
    }
    return -1;
  }

  test_support::PrivateSessionBus bus;
  FakeTrayPanel panel{bus.address()};
  test_support::FakeJournalProcess service;
  test_support::SocketsInUse sockets;
  ScratchDirectory folder;
  ScratchDirectory temp;
  std::string program;
  int port = 0;
  pid_t pid = -1;
};

TEST_F(DesktopTrayProgramTest, ThePanelsMenuUpdatesTheFeedAndEndsTheProgram) {
  StartProgram();
  ASSERT_TRUE(panel.WaitFor([&] { return !panel.registered().empty(); }, kLimit))
      << "the program's icon did not register with the panel";
  const std::string item = panel.registered().front();
  EXPECT_EQ(panel.ToolTip(item), "Zarnik Viewer");
  int update = -1;
  ASSERT_TRUE(panel.WaitFor([&] { return (update = MenuId(item, "Update")) > 0; }, kLimit));

  // The root of the menu is not "Exit", whatever its id.
  EXPECT_TRUE(Click(item, 0));
  ASSERT_TRUE(Click(item, update));
  std::string feed;
  ASSERT_TRUE(panel.WaitFor([&] { return !(feed = FetchMergedFeed(port)).empty(); }, kLimit))
      << "all.xml was not served after \"Update\"";
  EXPECT_NE(feed.find("[night_owl]"), std::string::npos);
  EXPECT_NE(service.log().find("/misc/fdata.bml?user=abc"), std::string::npos);
  EXPECT_TRUE(Running());

  int exit = -1;
  ASSERT_TRUE(panel.WaitFor([&] { return (exit = MenuId(item, "Exit")) > 0; }, kLimit));
  ASSERT_TRUE(Click(item, exit));
  int status = -1;
  ASSERT_TRUE(panel.WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, kLimit));
  pid = -1;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// "Settings..." in the panel opens the dialog as a window: what is typed there and confirmed with
// Enter is saved, Esc keeps the file as it was, and the copy button puts the feed's address on
// the desktop's clipboard.
TEST_F(DesktopTrayProgramTest, TheSettingsWindowSavesWhatWasTyped) {
  test_support::PrivateXServer display;
  ASSERT_TRUE(display.ready()) << "Xvfb did not start";
  using test_support::RunBounded;
  StartProgram();
  ASSERT_TRUE(panel.WaitFor([&] { return !panel.registered().empty(); }, kLimit));
  const std::string item = panel.registered().front();
  const auto openSettings = [&] {
    int settings = -1;
    EXPECT_TRUE(
        panel.WaitFor([&] { return (settings = MenuId(item, "Settings...")) > 0; }, kLimit));
    EXPECT_TRUE(Click(item, settings));
    std::string window;
    EXPECT_TRUE(panel.WaitFor(
        [&] {
          return !(window = RunBounded("xdotool search --onlyvisible --name '^Settings$'")).empty();
        },
        kLimit))
        << "no Settings window";
    window = window.substr(0, window.find('\n'));
    RunBounded("xdotool windowfocus --sync " + window);
    return window;
  };
  const auto closed = [&] {
    return RunBounded("xdotool search --onlyvisible --name '^Settings$'").empty();
  };
  const auto saved = [&] {
    std::ifstream file(folder.file("settings.dat"), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
    const std::optional<Settings> settings = DecodeSettingsFile(bytes);
    return settings ? settings->userName + ":" + settings->password : std::string("none");
  };

  openSettings();
  RunBounded("xdotool key ctrl+a type --delay 20 zed_user");
  RunBounded("xdotool key Return");
  EXPECT_TRUE(panel.WaitFor([&] { return saved() == "zed_user:secret"; }, kLimit)) << saved();

  openSettings();
  RunBounded("xdotool key ctrl+a type --delay 20 nobody");
  RunBounded("xdotool key Escape");
  EXPECT_TRUE(panel.WaitFor(closed, kLimit));
  EXPECT_EQ(saved(), "zed_user:secret");

  openSettings();
  RunBounded("xdotool key Tab Tab Tab space");
  const std::string address = "http://localhost:" + std::to_string(port) + "/all.xml";
  EXPECT_TRUE(panel.WaitFor([&] { return RunBounded("xclip -o -selection clipboard") == address; },
                            kLimit));
  RunBounded("xdotool key Escape");
  EXPECT_TRUE(panel.WaitFor(closed, kLimit));
  EXPECT_TRUE(Running());
}

}  // namespace
