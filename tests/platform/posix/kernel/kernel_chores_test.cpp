#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "platform/calendar_time.h"
#include "platform/posix/kernel/system_calls.h"
#include "platform/posix/kernel/wakeable_wait.h"

namespace {

using namespace std::chrono_literals;
using platform::WakeableWait;
using Clock = std::chrono::steady_clock;

extern "C" void IgnoreSignal(int) {}

// Runs `body` while another thread keeps signalling this one (for three seconds at most); the
// handler has no SA_RESTART, so a blocked call returns early, short or with EINTR.
template <typename Body>
void WhileInterrupted(Body body) {
  struct sigaction quiet {};
  struct sigaction previous {};
  quiet.sa_handler = IgnoreSignal;
  sigaction(SIGUSR2, &quiet, &previous);
  std::atomic<bool> done{false};
  std::thread sender([&done, target = pthread_self()] {
    for (auto end = Clock::now() + 3s; !done && Clock::now() < end;) {
      pthread_kill(target, SIGUSR2);
      std::this_thread::sleep_for(200us);
    }
  });
  body();
  done = true;
  sender.join();
  sigaction(SIGUSR2, &previous, nullptr);
}

TEST(KernelChoresTest, WriteAllDeliversEveryByteThroughShortWritesAndInterruptions) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  std::string bytes(3 << 20, '\0');  // far more than a pipe holds
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<char>(i * 7 + i / 251);
  }
  std::string received;
  std::thread reader([&] {
    char chunk[4096];
    for (ssize_t got; (got = read(ends[0], chunk, sizeof chunk)) > 0;) {
      received.append(chunk, static_cast<std::size_t>(got));
    }
  });
  WhileInterrupted([&] { EXPECT_TRUE(platform::WriteAll(ends[1], bytes)); });
  close(ends[1]);
  reader.join();
  close(ends[0]);
  EXPECT_TRUE(received == bytes) << received.size() << " of " << bytes.size() << " bytes";
}

TEST(KernelChoresTest, WakeableWaitEndsForDataForWakingOrAtItsTimeLimitDespiteSignals) {
  struct Case {
    const char* name;
    bool data;
    int wakeAfterMs;  // -1: no Wake; 0: Wake before the wait; else from another thread
    int timeoutMs;
    WakeableWait::Result expected;
  };
  const Case cases[] = {{"data", true, -1, -1, WakeableWait::Result::kReadable},
                        {"woken while waiting", false, 20, -1, WakeableWait::Result::kWoken},
                        {"woken before, with data", true, 0, -1, WakeableWait::Result::kWoken},
                        {"time limit", false, -1, 100, WakeableWait::Result::kTimedOut}};
  for (const Case& test : cases) {
    const std::unique_ptr<WakeableWait> wait = WakeableWait::Create();
    int ends[2];
    ASSERT_TRUE(wait != nullptr && pipe(ends) == 0);
    if (test.data) {
      ASSERT_EQ(write(ends[1], "x", 1), 1);
    }
    if (test.wakeAfterMs == 0) {
      wait->Wake();
    }
    std::thread waker([&] {
      if (test.wakeAfterMs > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(test.wakeAfterMs));
        wait->Wake();
      }
    });
    const Clock::time_point start = Clock::now();
    WhileInterrupted([&] {
      EXPECT_EQ(wait->WaitReadable(ends[0], test.timeoutMs), test.expected) << test.name;
    });
    const Clock::duration took = Clock::now() - start;
    waker.join();
    EXPECT_GE(took, std::chrono::milliseconds(std::max(test.timeoutMs, 0))) << test.name;
    EXPECT_LT(took, 2s) << test.name;  // a wait restarted in full after each signal never ends
    close(ends[0]);
    close(ends[1]);
  }
}

TEST(CalendarTimeTest, UtcFieldsAgreeWithTheCLibrary) {
  // Every day and hour around the epoch, leap days and century years, and far from 1970 both ways.
  std::vector<std::time_t> moments;
  for (std::time_t day = -800; day < 800; ++day) {
    moments.push_back(day * 86400 + (day * 3601) % 86400);
  }
  for (std::time_t moment : {951868799LL, 4107542400LL, 4102444799LL, -2208988800LL, -1LL,
                             253402300799LL, -62135596800LL, 1796000000LL}) {
    moments.push_back(moment);
  }
  for (std::time_t moment : moments) {
    std::tm ours{};
    std::tm theirs{};
    ASSERT_TRUE(platform::UtcCalendarTime(moment, ours)) << moment;
    ASSERT_NE(gmtime_r(&moment, &theirs), nullptr) << moment;
    EXPECT_EQ(std::vector<int>({ours.tm_year, ours.tm_mon, ours.tm_mday, ours.tm_hour, ours.tm_min,
                                ours.tm_sec, ours.tm_wday, ours.tm_yday}),
              std::vector<int>({theirs.tm_year, theirs.tm_mon, theirs.tm_mday, theirs.tm_hour,
                                theirs.tm_min, theirs.tm_sec, theirs.tm_wday, theirs.tm_yday}))
        << moment;
  }
}

}  // namespace
