#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "feed/feed_readers.h"

/// The one merged channel of the process, refilled and written by every update cycle.
extern Rss20Feed MergedFeed;

/// The journal service's web address, in front of "/users/NAME/friends" in the channel link.
extern const char kDefaultSiteAddress[];

/// The merged channel always holds exactly this many entries when written.
constexpr std::size_t kMergedItemCount = 20;

/// Paths of friend feed files are formed in a buffer of this many bytes, terminator included.
constexpr std::size_t kPathCapacity = 256;

/// The path of a friend's feed file: `tempDir`, "/" and the user name. No path when the name is
/// not a plain file name (empty, ".", "..", or holding a slash or backslash) or when the path
/// would not fit kPathCapacity.
std::optional<std::string> FriendFeedPath(const std::string& tempDir, const std::string& userName);

/// The name of the merged feed's file, "all.xml": the one file the local server serves.
constexpr const char* kMergedFileName = "all.xml";

/// The path of kMergedFileName in `tempDir`, joined with the platform's separator.
std::string MergedFilePath(const std::string& tempDir);

/// Reads the feed file of `userName` in `tempDir` and appends its entries to `merged`, each title
/// prefixed "[userName] " ("<no title>" standing for an empty one). A friend whose file is
/// missing, unrecognised or not valid contributes nothing.
void MergeFriendFeed(Feed& merged, const std::string& tempDir, std::string userName);

/// Refills `merged` from the friends' feed files, friends in the given order: the channel of
/// `userName`'s friends page at `siteAddress`, the 20 newest entries of all friends (padded with
/// empty ones), and the date of the newest as the channel date. Entries of equal date keep the
/// order of the friends list, then of each feed. Holds no more than one friend's entries besides
/// the 20 newest so far at any time.
void RefillMergedFeed(Feed& merged, const std::string& tempDir,
                      const std::vector<std::string>& friendNames, const std::string& userName,
                      const std::string& siteAddress);

/// The whole merge: refills MergedFeed from the feed files in `tempDir` and writes it as
/// "all.xml" there. Returns whether "all.xml" was written.
bool MergeFriendFeeds(const std::string& tempDir, const std::vector<std::string>& friendNames,
                      const std::string& userName,
                      const std::string& siteAddress = kDefaultSiteAddress);
