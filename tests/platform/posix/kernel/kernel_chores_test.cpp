#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include "platform/posix/kernel/directories.h"
#include "platform/posix/kernel/system_calls.h"
#include "platform/posix/kernel/wakeable_wait.h"
#include "tests/support/scratch_directory.h"

namespace {

using namespace std::chrono_literals;
using platform::WakeableWait;
using Clock = std::chrono::steady_clock;

extern "C" void IgnoreSignal(int) {}

// While it lives, and for three seconds at most, signals keep interrupting the thread that made
// it; the handler has no SA_RESTART, so a blocked call returns early, short or with EINTR.
class Interruptions {
 public:
  Interruptions() : target_(pthread_self()) {
    struct sigaction quiet {};
    quiet.sa_handler = IgnoreSignal;
    sigaction(SIGUSR2, &quiet, &previous_);
    sender_ = std::thread([this] {
      for (const Clock::time_point end = Clock::now() + 3s; !done_ && Clock::now() < end;) {
        pthread_kill(target_, SIGUSR2);
        std::this_thread::sleep_for(200us);
      }
    });
  }
  ~Interruptions() {
    done_ = true;
    sender_.join();
    sigaction(SIGUSR2, &previous_, nullptr);
  }

 private:
  const pthread_t target_;
  struct sigaction previous_ {};
  std::atomic<bool> done_{false};
  std::thread sender_;
};

TEST(KernelChoresTest, WriteAllDeliversEveryByteThroughShortWritesAndInterruptions) {
  for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{3} << 20}) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
      bytes[i] = static_cast<char>(i * 7 + i / 251);
    }
    std::string received;
    std::thread reader([&] {
      char chunk[4096];
      for (ssize_t got; (got = read(ends[0], chunk, sizeof chunk)) > 0;) {
        received.append(chunk, static_cast<std::size_t>(got));
      }
    });
    {
      Interruptions interruptions;
      EXPECT_TRUE(platform::WriteAll(ends[1], bytes)) << size;
    }
    close(ends[1]);
    reader.join();
    close(ends[0]);
    EXPECT_TRUE(received == bytes) << size << " bytes sent, " << received.size() << " received";
  }
}

TEST(KernelChoresTest, MakeDirectoriesMakesWhatIsMissingAndKeepsWhatIsThere) {
  struct Case {
    const char* name;
    const char* existing;  // a directory made beforehand with mode 0755, or a file "file"
    const char* path;
    bool made;
  };
  const Case cases[] = {{"all missing", "", "a/b/c", true},
                        {"parent there", "a", "a/b", true},
                        {"all there", "a/b", "a/b", true},
                        {"a file in the way", "file", "file/b", false}};
  for (const Case& test : cases) {
    ScratchDirectory scratch;
    if (std::string(test.existing) == "file") {
      scratch.Write("file", "");
    } else if (*test.existing != '\0') {
      std::filesystem::create_directories(scratch.file(test.existing));
      chmod(scratch.file(test.existing).c_str(), 0755);
    }
    EXPECT_EQ(platform::MakeDirectories(scratch.file(test.path), 0700), test.made) << test.name;
    struct stat status {};
    EXPECT_EQ(stat(scratch.file(test.path).c_str(), &status) == 0 && S_ISDIR(status.st_mode),
              test.made)
        << test.name;
    const bool madeHere = std::string(test.existing) != test.path;
    if (test.made) {
      EXPECT_EQ(status.st_mode & 0777, madeHere ? 0700u : 0755u) << test.name;
    }
  }
}

TEST(KernelChoresTest, WakeableWaitEndsForDataForWakingOrAtItsTimeLimit) {
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
    ASSERT_NE(wait, nullptr);
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
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
    {
      // Signals neither end a wait early nor stretch it.
      Interruptions interruptions;
      EXPECT_EQ(wait->WaitReadable(ends[0], test.timeoutMs), test.expected) << test.name;
    }
    const Clock::duration took = Clock::now() - start;
    waker.join();
    EXPECT_GE(took, std::chrono::milliseconds(std::max(test.timeoutMs, 0))) << test.name;
    EXPECT_LT(took, 2s) << test.name;
    if (test.wakeAfterMs >= 0) {
      EXPECT_EQ(wait->WaitReadable(ends[0], -1), WakeableWait::Result::kWoken) << test.name;
    }
    close(ends[0]);
    close(ends[1]);
  }
}

}  // namespace
