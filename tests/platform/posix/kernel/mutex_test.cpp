#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "platform/win32.h"

namespace {

// Runs `wait` on another thread and returns its result; the thread is joined before returning.
DWORD WaitFromOtherThread(HANDLE mutex, DWORD milliseconds) {
  return std::async(std::launch::async,
                    [=] {
                      DWORD result = WaitForSingleObject(mutex, milliseconds);
                      if (result == WAIT_OBJECT_0) {
                        ReleaseMutex(mutex);
                      }
                      return result;
                    })
      .get();
}

TEST(MutexTest, SameNameGivesTheSameLock) {
  HANDLE first = CreateMutexA(nullptr, FALSE, "ZvTestSameName");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  HANDLE second = CreateMutexA(nullptr, FALSE, "ZvTestSameName");
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  HANDLE other = CreateMutexA(nullptr, FALSE, "ZvTestOtherName");

  ASSERT_EQ(WaitForSingleObject(first, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(WaitFromOtherThread(second, 50), WAIT_TIMEOUT);
  EXPECT_EQ(WaitFromOtherThread(other, 50), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(first));
  EXPECT_EQ(WaitFromOtherThread(second, 5000), WAIT_OBJECT_0);

  EXPECT_TRUE(CloseHandle(first));
  EXPECT_TRUE(CloseHandle(second));
  EXPECT_TRUE(CloseHandle(other));
  // With every handle closed the name is free again.
  HANDLE fresh = CreateMutexA(nullptr, FALSE, "ZvTestSameName");
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  CloseHandle(fresh);
}

TEST(MutexTest, OwnerMayTakeItAgainAndReleasesAsOften) {
  HANDLE mutex = CreateMutexA(nullptr, TRUE, nullptr);  // owned from the start
  EXPECT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_EQ(WaitFromOtherThread(mutex, 50), WAIT_TIMEOUT);
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_FALSE(ReleaseMutex(mutex));
  EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
  EXPECT_EQ(WaitFromOtherThread(mutex, 5000), WAIT_OBJECT_0);
  CloseHandle(mutex);
}

TEST(MutexTest, OnlyTheOwnerReleases) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
  ASSERT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);
  BOOL released = std::async(std::launch::async, [=] { return ReleaseMutex(mutex); }).get();
  EXPECT_FALSE(released);
  EXPECT_TRUE(ReleaseMutex(mutex));
  CloseHandle(mutex);
}

TEST(MutexTest, WaitWithoutLimitEndsWhenReleased) {
  HANDLE mutex = CreateMutexA(nullptr, TRUE, nullptr);
  std::future<DWORD> waiter = std::async(std::launch::async, [=] {
    DWORD result = WaitForSingleObject(mutex, INFINITE);
    ReleaseMutex(mutex);
    return result;
  });
  EXPECT_EQ(waiter.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
  ReleaseMutex(mutex);
  ASSERT_EQ(waiter.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(waiter.get(), WAIT_OBJECT_0);
  CloseHandle(mutex);
}

TEST(HandleTest, ClosedAndBogusHandlesFail) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
  EXPECT_TRUE(CloseHandle(mutex));
  EXPECT_FALSE(CloseHandle(mutex));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_FAILED);
  EXPECT_FALSE(ReleaseMutex(mutex));
  EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
  EXPECT_EQ(WaitForSingleObject(nullptr, INFINITE), WAIT_FAILED);
}

}  // namespace
