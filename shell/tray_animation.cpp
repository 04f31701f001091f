#include "shell/tray_animation.h"

#include "platform/mutex_lock.h"
#include "resources/resource.h"
#include "settings/app_settings.h"
#include "shell/tray_window.h"
#include "update/update_cycle.h"

const char kUpdatingTip[] = "Zarnik Viewer updating...";

namespace {

constexpr int kFrames[] = {IDI_FRAME1, IDI_FRAME2, IDI_FRAME3, IDI_FRAME4};
constexpr DWORD kFrameMilliseconds = 200;

bool UpdateStillRunning() {
  platform::MutexLock lock(UpdateMutex);
  return updateInProgress;
}

}  // namespace

DWORD WINAPI AnimateTrayIcon(LPVOID) {
  do {
    for (int frame : kFrames) {
      ModifyTrayIcon(frame, kUpdatingTip);
      Sleep(kFrameMilliseconds);
    }
  } while (UpdateStillRunning());
  ModifyTrayIcon(IDI_TRAY_IDLE, kIdleTip);
  return 0;
}

void StartTrayAnimation() {
  HANDLE thread = CreateThread(nullptr, 0, AnimateTrayIcon, nullptr, 0, nullptr);
  if (thread != nullptr) {
    CloseHandle(thread);  // runs on its own; nothing waits for it
  }
}
