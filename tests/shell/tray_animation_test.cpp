// The tray icon's animation during an update: which pictures and tips the notification area gets,
// in which order, and that the animation leaves the update lock free while it shows them.
#include "shell/tray_animation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <vector>

#include "platform/mutex_lock.h"
#include "platform/posix/front_ends/programmatic_front_end.h"
#include "settings/app_settings.h"
#include "shell/tray_window.h"
#include "tests/platform/posix/desktop/recording_window.h"
#include "update/update_cycle.h"

namespace {

using namespace std::chrono_literals;
using platform::NotifyIconChange;
using platform::NotifyIconView;

const std::string kUpdating = "Zarnik Viewer updating...";
const std::string kIdle = "Zarnik Viewer";

std::string Frame(int picture, const std::string& tip) {
  return std::to_string(picture) + " " + tip;
}

std::vector<std::string> OnePassThenIdle() {
  return {Frame(112, kUpdating), Frame(113, kUpdating), Frame(114, kUpdating),
          Frame(115, kUpdating), Frame(112, kIdle)};
}

// Records each change of the icon as "picture tip", and lets the test wait for changes.
class IconWatcher : public platform::ProgrammaticFrontEnd {
 public:
  void OnNotifyIcon(NotifyIconChange change, const NotifyIconView& icon) override {
    std::lock_guard<std::mutex> hold(lock_);
    if (change == NotifyIconChange::kModified) {
      frames_.push_back(Frame(icon.iconNumber, icon.tip));
      changed_.notify_all();
    }
  }

  std::vector<std::string> Frames() const {
    std::lock_guard<std::mutex> hold(lock_);
    return frames_;
  }

  // Waits at most 10 s until the frames shown satisfy `done`.
  bool WaitFor(const std::function<bool(const std::vector<std::string>&)>& done) const {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, 10s, [&] { return done(frames_); });
  }
  bool WaitForFrames(std::size_t count) const {
    return WaitFor(
        [count](const std::vector<std::string>& frames) { return frames.size() >= count; });
  }

 private:
  mutable std::mutex lock_;
  mutable std::condition_variable changed_;
  std::vector<std::string> frames_;
};

// An animation that has not ended 10 s after the update did is stuck: end the test program
// rather than hang in the future's destructor.
DWORD GetWithin(std::future<DWORD>& animation) {
  if (animation.wait_for(10s) != std::future_status::ready) {
    std::fprintf(stderr, "the animation did not end\n");
    std::_Exit(1);
  }
  return animation.get();
}

void SetUpdateRunning(bool running) {
  platform::MutexLock lock(UpdateMutex);
  updateInProgress = running;
}

class TrayAnimationTest : public testing::Test {
 protected:
  void SetUp() override {
    UpdateMutex = CreateMutexA(nullptr, FALSE, "UpdateMutex");
    ProgramInstance = GetModuleHandleA(nullptr);
    TrayWindow = window_.handle();
    platform::SetFrontEnd(&icon_);
    AddTrayIcon();
  }

  void TearDown() override {
    SetUpdateRunning(false);
    for (std::future<DWORD>& animation : animations_) {
      if (animation.valid()) {
        GetWithin(animation);
      }
    }
    RemoveTrayIcon();
    platform::SetFrontEnd(nullptr);
    TrayWindow = nullptr;
    ProgramInstance = nullptr;
    CloseHandle(UpdateMutex);
    UpdateMutex = nullptr;
  }

  std::future<DWORD>& Animate() {
    animations_.push_back(std::async(std::launch::async, AnimateTrayIcon, nullptr));
    return animations_.back();
  }

  desktop_test::RecordingWindow window_;
  IconWatcher icon_;
  std::deque<std::future<DWORD>> animations_;  // stays put as it grows
};

TEST_F(TrayAnimationTest, AShortUpdateStillShowsOneWholePass) {
  EXPECT_EQ(GetWithin(Animate()), 0u);
  EXPECT_EQ(icon_.Frames(), OnePassThenIdle());
}

TEST_F(TrayAnimationTest, ALongUpdateShowsWholePassesUntilItEnds) {
  SetUpdateRunning(true);
  std::future<DWORD>& animation = Animate();
  ASSERT_TRUE(icon_.WaitForFrames(9));  // into the third pass
  SetUpdateRunning(false);
  EXPECT_EQ(GetWithin(animation), 0u);

  const std::vector<std::string> frames = icon_.Frames();
  ASSERT_GE(frames.size(), 13u);
  EXPECT_EQ(frames.size() % 4, 1u) << "a pass was cut short";
  for (std::size_t i = 0; i + 1 < frames.size(); ++i) {
    EXPECT_EQ(frames[i], Frame(112 + static_cast<int>(i % 4), kUpdating)) << i;
  }
  EXPECT_EQ(frames.back(), Frame(112, kIdle));
}

// A timer tick during a long update starts a second animation next to the first.
TEST_F(TrayAnimationTest, TwoAnimationsAtOnceBothEndOnTheIdlePicture) {
  SetUpdateRunning(true);
  StartTrayAnimation();
  StartTrayAnimation();
  ASSERT_TRUE(icon_.WaitForFrames(10));
  SetUpdateRunning(false);
  ASSERT_TRUE(icon_.WaitFor([](const std::vector<std::string>& frames) {
    return std::count(frames.begin(), frames.end(), Frame(112, kIdle)) == 2;
  })) << "an animation did not end";

  const std::vector<std::string> frames = icon_.Frames();
  EXPECT_EQ(frames.back(), Frame(112, kIdle));
  EXPECT_EQ(frames.size() % 4, 2u) << "a pass was cut short";
}

// The lock is taken only to read whether the update still runs: an update that holds it for a
// moment never holds up the pictures, and the animation never holds up the update.
TEST_F(TrayAnimationTest, FramesGoOnWhileTheUpdateHoldsTheLock) {
  SetUpdateRunning(true);
  ASSERT_EQ(WaitForSingleObject(UpdateMutex, INFINITE), WAIT_OBJECT_0);
  std::future<DWORD>& animation = Animate();
  const bool wholePass = icon_.WaitForFrames(4);
  updateInProgress = false;  // as the update does it, under the lock
  ReleaseMutex(UpdateMutex);
  EXPECT_TRUE(wholePass) << "the animation waited for the lock between pictures";
  EXPECT_EQ(GetWithin(animation), 0u);
  EXPECT_EQ(icon_.Frames(), OnePassThenIdle());
}

}  // namespace
