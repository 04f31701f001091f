// Threads in the Windows shape, and sleeping.

#include <chrono>
#include <condition_variable>
#include <mutex>

#include <gtest/gtest.h>

#include "platform/win32.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

struct ThreadStart {
  std::mutex mutex;
  std::condition_variable changed;
  bool ran = false;
};

DWORD WINAPI MarkRun(LPVOID parameter) {
  auto* start = static_cast<ThreadStart*>(parameter);
  std::lock_guard<std::mutex> lock(start->mutex);
  start->ran = true;
  start->changed.notify_all();
  return 0;
}

TEST(ThreadTest, CreateThreadRunsDetachedWithItsArgument) {
  ThreadStart start;
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, MarkRun, &start, 0, &id);
  ASSERT_NE(thread, nullptr);
  EXPECT_NE(id, 0u);
  EXPECT_TRUE(CloseHandle(thread));  // the thread goes on without its handle
  std::unique_lock<std::mutex> lock(start.mutex);
  EXPECT_TRUE(start.changed.wait_for(lock, std::chrono::seconds(10), [&] { return start.ran; }));

  EXPECT_EQ(CreateThread(nullptr, 0, MarkRun, &start, CREATE_SUSPENDED, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(ThreadTest, SleepAgreesWithTheClock) {
  auto before = steady_clock::now();
  Sleep(100);
  auto elapsed = steady_clock::now() - before;
  EXPECT_GE(elapsed, milliseconds(100));
  EXPECT_LT(elapsed, milliseconds(5000));
}

}  // namespace
