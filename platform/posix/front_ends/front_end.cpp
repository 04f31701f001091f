// The installed front end.
#include <atomic>
#include <mutex>

#include "platform/posix/front_ends/front_end.h"

namespace platform {
namespace {

std::atomic<FrontEnd*> installedFrontEnd{nullptr};

// Held shared by every call into the front end, exclusively while it is replaced.
std::shared_mutex& FrontEndCalls() {
  static std::shared_mutex calls;
  return calls;
}

}  // namespace

void TrackNotifyIcon(NotifyIconChange change, const NotifyIconView& icon, bool& shown,
                     NotifyIconView& current) {
  if (change != NotifyIconChange::kDeleted) {
    shown = true;
    current = icon;
  } else if (shown && current.owner == icon.owner && current.id == icon.id) {
    shown = false;
  }
}

void SetFrontEnd(FrontEnd* frontEnd) {
  std::unique_lock<std::shared_mutex> hold(FrontEndCalls());
  installedFrontEnd.store(frontEnd);
}

FrontEnd* InstalledFrontEnd() {
  return installedFrontEnd.load();
}

FrontEndInUse::FrontEndInUse() : hold_(FrontEndCalls()), frontEnd_(installedFrontEnd.load()) {}

}  // namespace platform
