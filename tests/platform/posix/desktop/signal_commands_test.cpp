#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>

#include "platform/posix/desktop/signal_commands.h"
#include "platform/win32.h"
#include "tests/platform/posix/desktop/recording_window.h"

namespace {

using desktop_test::DispatchFor;
using desktop_test::RecordingWindow;
using namespace std::chrono_literals;

constexpr UINT kUpdate = 2;
constexpr UINT kExit = 0;

std::atomic<int> testHandlerCalls{0};
extern "C" void CountingHandler(int) {
  testHandlerCalls.fetch_add(1);
}

// Every test puts a handler of its own on the four signals first, so that a signal that got
// through to the old handler counts instead of ending the test program, and checks afterwards
// that it is back.
class SignalCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    struct sigaction counting {};
    counting.sa_handler = CountingHandler;
    sigemptyset(&counting.sa_mask);
    for (std::size_t i = 0; i < 4; ++i) {
      ASSERT_EQ(sigaction(kSignals[i], &counting, &original_[i]), 0);
    }
    testHandlerCalls = 0;
  }
  void TearDown() override {
    for (std::size_t i = 0; i < 4; ++i) {
      sigaction(kSignals[i], &original_[i], nullptr);
    }
  }

  // Dispatches until `count` commands have reached the window, for at most two seconds.
  std::vector<WPARAM> CommandsAfterDispatch(const RecordingWindow& window, std::size_t count) {
    DispatchFor(2000ms, [&] { return window.Messages(WM_COMMAND).size() >= count; });
    std::vector<WPARAM> commands;
    for (const auto& received : window.Messages(WM_COMMAND)) {
      EXPECT_EQ(received.lParam, 0);
      commands.push_back(received.wParam);
    }
    return commands;
  }

  static constexpr int kSignals[4] = {SIGUSR1, SIGTERM, SIGINT, SIGHUP};
  struct sigaction original_[4];
};

TEST_F(SignalCommandsTest, EachSignalArrivesAsItsCommandThroughTheQueue) {
  RecordingWindow window;
  auto commands = platform::DeliverSignalsAsCommands(window.handle(), kUpdate, kExit);
  ASSERT_NE(commands, nullptr);

  // One at a time, so that the kernel cannot merge two of a kind.
  ASSERT_EQ(raise(SIGUSR1), 0);
  EXPECT_EQ(CommandsAfterDispatch(window, 1), (std::vector<WPARAM>{kUpdate}));
  ASSERT_EQ(kill(getpid(), SIGTERM), 0);
  ASSERT_EQ(CommandsAfterDispatch(window, 2).size(), 2u);
  ASSERT_EQ(kill(getpid(), SIGINT), 0);
  ASSERT_EQ(CommandsAfterDispatch(window, 3).size(), 3u);
  ASSERT_EQ(raise(SIGHUP), 0);
  EXPECT_EQ(CommandsAfterDispatch(window, 4), (std::vector<WPARAM>{kUpdate, kExit, kExit, kExit}));
  // The commands came on the window's own thread, through its queue.
  for (const auto& received : window.Messages(WM_COMMAND)) {
    EXPECT_EQ(received.thread, std::this_thread::get_id());
  }
  EXPECT_EQ(testHandlerCalls.load(), 0);
}

TEST_F(SignalCommandsTest, TheOldHandlersComeBackAndOnlyOneSetIsInstalledAtATime) {
  RecordingWindow window;
  {
    auto commands = platform::DeliverSignalsAsCommands(window.handle(), kUpdate, kExit);
    ASSERT_NE(commands, nullptr);
    EXPECT_EQ(platform::DeliverSignalsAsCommands(window.handle(), kUpdate, kExit), nullptr);
  }
  for (int signalNumber : kSignals) {
    struct sigaction now {};
    ASSERT_EQ(sigaction(signalNumber, nullptr, &now), 0);
    EXPECT_EQ(now.sa_handler, &CountingHandler) << signalNumber;
  }
  ASSERT_EQ(raise(SIGUSR1), 0);
  EXPECT_EQ(testHandlerCalls.load(), 1);
  desktop_test::DispatchWaiting();
  EXPECT_TRUE(window.Messages(WM_COMMAND).empty());

  // Free again for the next owner.
  auto again = platform::DeliverSignalsAsCommands(window.handle(), 7, 8);
  ASSERT_NE(again, nullptr);
  ASSERT_EQ(raise(SIGUSR1), 0);
  EXPECT_EQ(CommandsAfterDispatch(window, 1), (std::vector<WPARAM>{7}));
}

TEST_F(SignalCommandsTest, ASignalForAWindowThatIsGoneIsDropped) {
  HWND gone;
  {
    RecordingWindow window;
    gone = window.handle();
  }
  auto commands = platform::DeliverSignalsAsCommands(gone, kUpdate, kExit);
  ASSERT_NE(commands, nullptr);
  ASSERT_EQ(raise(SIGTERM), 0);
  commands.reset();  // the watcher stops and joins, whatever it was doing
  EXPECT_EQ(testHandlerCalls.load(), 0);
}

}  // namespace
