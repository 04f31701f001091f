#include "update/update_cycle.h"

#include <tinyxml.h>

#include <chrono>
#include <thread>

#include "feed/feed_file.h"
#include "feed/merged_feed.h"
#include "platform/file_system.h"
#include "platform/mutex_lock.h"
#include "settings/app_settings.h"
#include "update/feed_download.h"
#include "update/friends_list.h"
#include "update/update_context.h"

std::atomic<bool> updateInProgress{false};
std::string AllXmlPath;
void (*UpdateStartedHook)() = nullptr;

namespace {

constexpr auto kDownloadPoll = std::chrono::milliseconds(300);

// Claims the cycle for this thread: false when another one runs.
bool ClaimUpdate() {
  platform::MutexLock lock(UpdateMutex);
  return !updateInProgress.exchange(true);
}

void ReleaseUpdate() {
  platform::MutexLock lock(UpdateMutex);
  updateInProgress = false;
}

void WaitForDownloads() {
  while (!FeedDownloadsDone()) {
    std::this_thread::sleep_for(kDownloadPoll);
  }
}

// Steps 11 to 14 and the document of step 16, built before the cycle lets the next one start:
// the next cycle refills MergedFeed, and must not do so while this one still prints it.
void BuildMergedDocument(const UpdateContext& context, TiXmlDocument& document) {
  RefillMergedFeed(MergedFeed, context.tempDir, ReadFriendNames(FriendsListPath(context.tempDir)),
                   context.settings.userName, context.service.site);
  MergedFeed.WriteTo(&document);
}

}  // namespace

void SetAllXmlPath() {
  const std::string tempDir = TemporaryDirectory();
  AllXmlPath = !tempDir.empty() ? MergedFilePath(tempDir) : std::string();
}

void StartUpdateCycle(ThreadStarter startThread) {
  startThread([startThread] { RunUpdateCycle(startThread); });
}

int RunUpdateCycle(ThreadStarter startThread) {
  if (UpdateStartedHook != nullptr) {
    UpdateStartedHook();
  }
  if (!ClaimUpdate()) {
    return 0;
  }
  // TEMP, the settings and the service configuration, read here and handed to every step; only
  // the settings are read again, at the two moments below where the user's latest ones count.
  UpdateContext context = TakeUpdateContext();
  context.startThread = startThread;
  if (context.tempDir.empty() || AllXmlPath.empty()) {
    // Without a temporary directory there is nowhere to put anything.
    ReleaseUpdate();
    return 0;
  }
  DownloadFriendsList(context);
  FriendList.clear();
  // The downloads use the user name and password as they stand now: the settings dialog may have
  // changed them while the friends list came in.
  context.settings = CopySettings();
  for (std::string& name : ReadFriendNames(FriendsListPath(context.tempDir))) {
    FriendList.append(std::move(name));
  }
  StartFeedDownloads(FriendList.names(), context);
  WaitForDownloads();

  // The channel link names the user as the settings hold it at this moment. The settings dialog
  // replaces the name under the lock, so it is copied under the lock too.
  context.settings.userName = CopySettings().userName;
  TiXmlDocument document;
  BuildMergedDocument(context, document);
  ReleaseUpdate();
  SaveFeedFile(document, AllXmlPath);
  return 0;
}
