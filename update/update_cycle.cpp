#include "update/update_cycle.h"

#include <tinyxml.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "feed/feed_file.h"
#include "feed/merged_feed.h"
#include "platform/file_system.h"
#include "platform/mutex_lock.h"
#include "settings/app_settings.h"
#include "update/feed_download.h"
#include "update/friends_list.h"
#include "update/service_config.h"

std::atomic<bool> updateInProgress{false};
std::string AllXmlPath;
void (*UpdateStartedHook)() = nullptr;

namespace {

constexpr auto kDownloadPoll = std::chrono::milliseconds(300);

// Claims the cycle for this thread: false when another one runs.
bool ClaimUpdate() {
  platform::MutexLock lock(UpdateMutex);
  if (updateInProgress) {
    return false;
  }
  updateInProgress = true;
  return true;
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
void BuildMergedDocument(const std::string& tempDir, TiXmlDocument& document) {
  std::string userName = AppSettings.userName;  // read at this moment, without the lock
  RefillMergedFeed(MergedFeed, tempDir, ReadFriendNames(FriendsListPath()), userName,
                   ActiveServiceConfig.site);
  MergedFeed.WriteTo(&document);
}

}  // namespace

void SetAllXmlPath() {
  const char* temp = std::getenv("TEMP");
  AllXmlPath = temp != nullptr && *temp != '\0' ? MergedFilePath(temp) : std::string();
}

void StartUpdateCycle() {
  std::thread(RunUpdateCycle).detach();
}

int RunUpdateCycle() {
  if (UpdateStartedHook != nullptr) {
    UpdateStartedHook();
  }
  if (!ClaimUpdate()) {
    return 0;
  }
  const char* temp = std::getenv("TEMP");
  if (temp == nullptr || *temp == '\0' || AllXmlPath.empty()) {
    // Without a temporary directory there is nowhere to put anything.
    ReleaseUpdate();
    return 0;
  }
  const std::string tempDir = temp;
  DownloadFriendsList();
  FriendList.clear();
  {
    platform::MutexLock lock(UpdateMutex);
    FetchCredentials = Credentials{AppSettings.userName, AppSettings.password};
  }
  for (std::string& name : ReadFriendNames(FriendsListPath())) {
    FriendList.append(std::move(name));
  }
  StartFeedDownloads(FriendList.names());
  WaitForDownloads();

  TiXmlDocument document;
  BuildMergedDocument(tempDir, document);
  ReleaseUpdate();
  SaveFeedFile(document, AllXmlPath);
  return 0;
}
