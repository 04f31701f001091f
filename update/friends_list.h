#pragma once

#include <string>
#include <vector>

#include "update/update_context.h"

/// The friend names of the current update cycle, in the order of "friends.list".
class FriendNames {
 public:
  /// Empties the list; the pending download count of the last batch goes to 0 with it.
  void clear();
  void append(std::string name);
  const std::vector<std::string>& names() const { return names_; }
  std::size_t size() const { return names_.size(); }

 private:
  std::vector<std::string> names_;
};

/// The friends of the current cycle. Written by the update thread before the downloads start.
extern FriendNames FriendList;

/// The path of "friends.list": `tempDir` followed by "/friends.list"; empty when `tempDir` is.
std::string FriendsListPath(const std::string& tempDir);

/// Fetches the friends-data page of the context's user from its service into the friends list
/// of its temporary directory. The outcome is not reported: on failure the file keeps what the
/// last cycle got.
void DownloadFriendsList(const UpdateContext& context);

/// The friend names of the file at `path`, in file order, duplicates kept: each line (read 255
/// characters at a time) whose first character is ">" names the word after it. Names holding
/// anything but ASCII letters, digits, "_" and "-" are skipped: they come from the network and
/// become file and host names. A missing file gives no names.
std::vector<std::string> ReadFriendNames(const std::string& path);
