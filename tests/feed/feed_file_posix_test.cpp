// Writing "all.xml" when the disk fills up part way, imitated with a file size limit.
#include <gtest/gtest.h>
#include <tinyxml.h>

#include <filesystem>
#include <string>

#include "feed/feed_file.h"
#include "feed/merged_feed.h"
#include "tests/feed/feed_test_support.h"
#include "tests/support/file_size_limit.h"

namespace {

// SaveFile checks for errors before the buffered tail reaches the disk; the tail must count too.
TEST(FeedFilePosixTest, WriteThatRunsOutOfSpaceKeepsTheOldFile) {
  ScratchDirectory dir;
  dir.Write("alice", FeedText({{"An entry", "Mon, 05 Jan 2009"}}));
  ASSERT_TRUE(MergeFriendFeeds(dir.path(), {"alice"}, "abc"));
  const auto fullSize = std::filesystem::file_size(dir.file("all.xml"));
  dir.Write("all.xml", "old content");
  {
    // Only the last byte fails to fit: everything SaveFile itself sees succeeds.
    FileSizeLimit limit(fullSize - 1);
    EXPECT_FALSE(MergeFriendFeeds(dir.path(), {"alice"}, "abc"));
  }
  EXPECT_EQ(std::filesystem::file_size(dir.file("all.xml")), 11u);
  EXPECT_FALSE(std::filesystem::exists(dir.file("all.xml.part")));
}

}  // namespace
