#include "shell/update_timer.h"

#include <cstdint>
#include <limits>

#include "platform/mutex_lock.h"
#include "settings/app_settings.h"
#include "shell/tray_window.h"

UINT_PTR updateTimerId = 0;

namespace {

constexpr UINT_PTR kUpdateTimerId = 1;
constexpr int kDefaultIntervalSeconds = 600;

}  // namespace

UINT UpdateTimerPeriod(int intervalSeconds) {
  constexpr std::int64_t kMaxSeconds = std::numeric_limits<std::uint32_t>::max() / 1000;
  if (intervalSeconds <= 0 || intervalSeconds > kMaxSeconds) {
    intervalSeconds = kDefaultIntervalSeconds;
  }
  return static_cast<UINT>(intervalSeconds) * 1000u;
}

void ResetUpdateTimer() {
  platform::MutexLock lock(UpdateMutex);
  if (updateTimerId != 0) {
    KillTimer(TrayWindow, updateTimerId);
  }
  updateTimerId =
      SetTimer(TrayWindow, kUpdateTimerId, UpdateTimerPeriod(AppSettings.updateInterval), nullptr);
}
