#include <gtest/gtest.h>

#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>

#include "platform/win32.h"
#include "tests/platform/posix/desktop/recording_window.h"

namespace {

using desktop_test::DispatchFor;
using desktop_test::DispatchWaiting;
using desktop_test::Received;
using desktop_test::RecordingWindow;
using namespace std::chrono_literals;

constexpr UINT kFirst = WM_USER + 10;
constexpr UINT kSecond = WM_USER + 11;

// Waits for a future for at most `limit`; a thread stuck for that long means a deadlock, and the
// test program ends rather than hang.
template <typename T>
T GetWithin(std::future<T>& future, std::chrono::milliseconds limit) {
  if (future.wait_for(limit) != std::future_status::ready) {
    std::fprintf(stderr, "a thread did not finish within %lld ms\n",
                 static_cast<long long>(limit.count()));
    std::_Exit(1);
  }
  return future.get();
}

std::vector<UINT> MessageNumbers(const std::vector<Received>& received) {
  std::vector<UINT> numbers;
  for (const Received& one : received) {
    numbers.push_back(one.message);
  }
  return numbers;
}

TEST(MessagesTest, PostedMessagesComeInOrder) {
  RecordingWindow window;
  ASSERT_TRUE(IsWindow(window.handle()));
  EXPECT_TRUE(PostMessageA(window.handle(), kFirst, 1, 2));
  EXPECT_TRUE(PostMessageA(window.handle(), kSecond, 3, 4));
  EXPECT_EQ(MessageNumbers(window.Messages()), (std::vector<UINT>{WM_CREATE}));

  DispatchWaiting();
  EXPECT_EQ(MessageNumbers(window.Messages()), (std::vector<UINT>{WM_CREATE, kFirst, kSecond}));
  EXPECT_EQ(window.Messages(kSecond).at(0).wParam, 3u);
  EXPECT_EQ(window.Messages(kSecond).at(0).lParam, 4);

  HWND handle = window.handle();
  ASSERT_TRUE(DestroyWindow(handle));
  EXPECT_EQ(window.Messages().back().message, WM_DESTROY);
  EXPECT_FALSE(IsWindow(handle));
  EXPECT_FALSE(PostMessageA(handle, kFirst, 0, 0));
  EXPECT_FALSE(DestroyWindow(handle));
}

TEST(MessagesTest, PostQuitMessageEndsTheLoopAfterWhatWasPostedBefore) {
  RecordingWindow window;
  PostMessageA(window.handle(), kFirst, 0, 0);
  PostQuitMessage(7);
  PostMessageA(window.handle(), kSecond, 0, 0);

  std::vector<UINT> seen;
  MSG message;
  BOOL result;
  while ((result = GetMessageA(&message, nullptr, 0, 0)) > 0) {
    seen.push_back(message.message);
  }
  EXPECT_EQ(result, 0);
  EXPECT_EQ(message.message, WM_QUIT);
  EXPECT_EQ(message.wParam, 7u);
  // WM_QUIT comes once every posted message has been read, and only once.
  EXPECT_EQ(seen, (std::vector<UINT>{kFirst, kSecond}));
  EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
}

TEST(MessagesTest, GetMessageRefusesAWindowThatDoesNotExist) {
  MSG message;
  EXPECT_EQ(GetMessageA(&message, reinterpret_cast<HWND>(0x7), 0, 0), -1);
}

TEST(MessagesTest, CreationFailsWhenTheProcedureRefusesWmCreate) {
  struct Refusing {
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
      return message == WM_CREATE ? -1 : DefWindowProcA(window, message, wParam, lParam);
    }
  };
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &Refusing::Procedure;
  windowClass.lpszClassName = "ZvRefusingWindow";
  static const ATOM registered = RegisterClassExA(&windowClass);  // once per process
  ASSERT_NE(registered, 0);
  EXPECT_EQ(RegisterClassExA(&windowClass), 0);  // the name is taken
  EXPECT_EQ(
      CreateWindowExA(0, "ZvRefusingWindow", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr),
      nullptr);
  EXPECT_EQ(
      CreateWindowExA(0, "ZvNoSuchClass", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr),
      nullptr);
}

TEST(MessagesTest, TimersFireEachPeriodUntilKilled) {
  RecordingWindow window;
  ASSERT_EQ(SetTimer(window.handle(), 5, 100, nullptr), 5u);
  ASSERT_EQ(SetTimer(window.handle(), 6, 250, nullptr), 6u);
  DispatchFor(1000ms);
  auto countOf = [&](UINT_PTR id) {
    int count = 0;
    for (const Received& timer : window.Messages(WM_TIMER)) {
      count += timer.wParam == id ? 1 : 0;
    }
    return count;
  };
  const int fastTicks = countOf(5);
  const int slowTicks = countOf(6);
  EXPECT_GE(fastTicks, 5);
  EXPECT_LE(fastTicks, 15);
  EXPECT_GE(slowTicks, 2);
  EXPECT_LE(slowTicks, 6);

  EXPECT_TRUE(KillTimer(window.handle(), 5));
  EXPECT_FALSE(KillTimer(window.handle(), 5));
  DispatchFor(300ms);
  EXPECT_EQ(countOf(5), fastTicks);
  EXPECT_GT(countOf(6), slowTicks);
}

TEST(MessagesTest, MissedTimerPeriodsGiveOneMessageAndPostedMessagesGoFirst) {
  RecordingWindow window;
  SetTimer(window.handle(), 1, 20, nullptr);
  std::this_thread::sleep_for(200ms);  // nobody reads the queue for ten periods
  PostMessageA(window.handle(), kFirst, 0, 0);

  MSG message;
  ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(message.message, kFirst);
  ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(message.message, WM_TIMER);
  EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
  KillTimer(window.handle(), 1);
}

TEST(MessagesTest, DestroyingAWindowKillsItsTimers) {
  auto window = std::make_unique<RecordingWindow>();
  SetTimer(window->handle(), 1, 10, nullptr);
  window.reset();
  std::this_thread::sleep_for(30ms);
  MSG message;
  EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
}

// A window on a thread of its own, reading its queue until WM_QUIT.
class WindowThread {
 public:
  WindowThread() {
    std::promise<HWND> created;
    std::future<HWND> handle = created.get_future();
    done_ = std::async(std::launch::async, [this, &created] {
      RecordingWindow window;
      window.React([](HWND self, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if (message == WM_DESTROY) {
          PostQuitMessage(3);
        }
        return DefWindowProcA(self, message, wParam, lParam);
      });
      created.set_value(window.handle());
      MSG message;
      while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        DispatchMessageA(&message);
      }
      messages_ = window.Messages();
      return static_cast<int>(message.wParam);
    });
    handle_ = GetWithin(handle, 5000ms);
  }

  HWND handle() const { return handle_; }
  /// Closes the window (which ends the thread's loop) and returns the loop's exit code.
  int Close() {
    PostMessageA(handle_, WM_CLOSE, 0, 0);
    return GetWithin(done_, 5000ms);
  }
  const std::vector<Received>& messages() const { return messages_; }

 private:
  HWND handle_ = nullptr;
  std::future<int> done_;
  std::vector<Received> messages_;
};

TEST(MessagesTest, MessagesForAWindowOfAnotherThreadRunOnThatThread) {
  WindowThread other;
  EXPECT_TRUE(PostMessageA(other.handle(), kFirst, 9, 0));
  // Only the thread that made a window may destroy it.
  EXPECT_FALSE(DestroyWindow(other.handle()));
  EXPECT_EQ(other.Close(), 3);

  EXPECT_EQ(MessageNumbers(other.messages()),
            (std::vector<UINT>{WM_CREATE, kFirst, WM_CLOSE, WM_DESTROY}));
  for (const Received& received : other.messages()) {
    EXPECT_NE(received.thread, std::this_thread::get_id());
  }
}

TEST(MessagesTest, AWindowWhoseThreadEndedRefusesPostedMessages) {
  HWND orphan = std::async(std::launch::async, [] {
                  // Created and left behind when the thread ends.
                  static RecordingWindow* leftBehind = new RecordingWindow();
                  return leftBehind->handle();
                }).get();
  EXPECT_FALSE(PostMessageA(orphan, kFirst, 0, 0));
}

TEST(MessagesTest, AnIdleMessageLoopUsesNoProcessorTime) {
  auto threadTime = [] {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
  };
  const auto before = threadTime();
  DispatchFor(1000ms);
  const auto used = threadTime() - before;
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(used).count(), 100);
}

}  // namespace
