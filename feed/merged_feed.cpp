#include "feed/merged_feed.h"

#include <tinyxml.h>

#include <utility>

#include "feed/feed_file.h"
#include "feed/xml_text.h"
#include "platform/file_system.h"

Rss20Feed MergedFeed;

const char kDefaultSiteAddress[] = "http://www.zarnik.example";

namespace {

bool IsPlainFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of("/\\") == std::string::npos;
}

}  // namespace

std::optional<std::string> FriendFeedPath(const std::string& tempDir, const std::string& userName) {
  if (!IsPlainFileName(userName) || tempDir.size() + 1 + userName.size() >= kPathCapacity) {
    return std::nullopt;
  }
  return tempDir + "/" + userName;
}

std::string MergedFilePath(const std::string& tempDir) {
  return tempDir + platform::kDirectorySeparator + kMergedFileName;
}

void MergeFriendFeed(Feed& merged, const std::string& tempDir, std::string userName) {
  std::optional<std::string> path = FriendFeedPath(tempDir, userName);
  if (!path) {
    return;
  }
  TiXmlDocument document;
  LoadFeedFile(document, *path);  // A partial tree still yields the entries read before an error.
  std::unique_ptr<Feed> feed = CreateFeed(&document);
  if (!feed) {
    return;
  }
  feed->Read(&document);
  if (!feed->IsValid()) {
    return;
  }
  const std::string prefix = "[" + userName + "] ";
  for (FeedItem& item : feed->items()) {
    item.title = prefix + (item.title.empty() ? "<no title>" : item.title);
    // The friend's name, and characters the feed wrote as references, are not checked on reading.
    for (std::string* text : {&item.title, &item.link, &item.description, &item.pubDate}) {
      MakeXmlText(*text);
    }
  }
  // The friend's feed is dropped right after, so its entries move instead of being copied.
  merged.items().splice(merged.items().end(), feed->items());
}

void RefillMergedFeed(Feed& merged, const std::string& tempDir,
                      const std::vector<std::string>& friendNames, const std::string& userName,
                      const std::string& siteAddress) {
  merged.SetTitle("Zarnik Friends");
  // The user name is typed by the user, and checked no more than the friends' names.
  std::string link = siteAddress + "/users/" + userName + "/friends";
  MakeXmlText(link);
  merged.SetLink(link);
  merged.SetDescription("Your Zarnik friends");
  merged.SetLanguage("en");
  merged.ClearItems();
  for (const std::string& name : friendNames) {
    MergeFriendFeed(merged, tempDir, name);
    // Only the newest can be kept in the end, so memory holds one friend's entries at a time. The
    // sort is stable and the kept entries stay ahead of later friends' ones, so the result is the
    // same as sorting all friends' entries at once.
    merged.SortItems();
    if (merged.items().size() > kMergedItemCount) {
      merged.ResizeItems(kMergedItemCount);
    }
  }
  merged.ResizeItems(kMergedItemCount);
  merged.SetPubDate(merged.items().front().pubDate);
}

bool MergeFriendFeeds(const std::string& tempDir, const std::vector<std::string>& friendNames,
                      const std::string& userName, const std::string& siteAddress) {
  RefillMergedFeed(MergedFeed, tempDir, friendNames, userName, siteAddress);
  TiXmlDocument document;
  MergedFeed.WriteTo(&document);
  return SaveFeedFile(document, MergedFilePath(tempDir));
}
