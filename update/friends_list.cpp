#include "update/friends_list.h"

#include <cstdio>
#include <memory>
#include <utility>

#include "net/http_client/http_fetch_client.h"
#include "update/feed_download.h"

FriendNames FriendList;

namespace {

bool IsSafeFriendName(const std::string& name) {
  constexpr char kAllowed[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-";
  return !name.empty() && name.find_first_not_of(kAllowed) == std::string::npos;
}

}  // namespace

void FriendNames::clear() {
  names_.clear();
  ResetPendingDownloads();
}

void FriendNames::append(std::string name) {
  names_.push_back(std::move(name));
}

std::string FriendsListPath(const std::string& tempDir) {
  return !tempDir.empty() ? tempDir + "/friends.list" : std::string();
}

void DownloadFriendsList(const UpdateContext& context) {
  HttpFetchClient client;
  const std::string url =
      context.service.site + "/misc/fdata.bml?user=" + context.settings.userName;
  const std::string path = FriendsListPath(context.tempDir);
  if (!path.empty()) {
    client.getToFile(url.c_str(), path.c_str());
  }
}

std::vector<std::string> ReadFriendNames(const std::string& path) {
  std::vector<std::string> names;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "r"), std::fclose);
  if (!file) {
    return names;
  }
  // Lines are read 255 characters at a time; a longer line is read as several.
  char line[256];
  while (std::fgets(line, sizeof line, file.get()) != nullptr) {
    char mark;
    char name[256];
    if (std::sscanf(line, "%c %255s", &mark, name) == 2 && mark == '>' && IsSafeFriendName(name)) {
      names.emplace_back(name);
    }
  }
  return names;
}
