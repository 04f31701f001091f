#include "feed/merged_feed.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_system.h"
#include "tests/feed/feed_test_support.h"

namespace {

std::string Date(int day, int hour) {
  char text[64];
  std::snprintf(text, sizeof text, "Thu, %02d Jan 2009 %02d:00:00 GMT", day, hour);
  return text;
}

class MergedFeedTest : public testing::Test {
 protected:
  // Runs the whole merge and reads "all.xml" back.
  std::unique_ptr<Feed> Merge(const std::vector<std::string>& friends,
                              const std::string& user = "abc") {
    EXPECT_TRUE(MergeFriendFeeds(dir.path(), friends, user));
    std::unique_ptr<Feed> written = ReadFeedFile(MergedFilePath(dir.path()));
    EXPECT_TRUE(written);
    return written;
  }

  // "all.xml" with the system's text line ends read as LF.
  std::string AllXmlText() const {
    std::string text = FileText(MergedFilePath(dir.path()));
    const std::string end = platform::kTextLineEnd;
    for (std::size_t at = text.find(end); at != std::string::npos; at = text.find(end, at + 1)) {
      text.replace(at, end.size(), "\n");
    }
    return text;
  }

  ScratchDirectory dir;
};

TEST_F(MergedFeedTest, KeepsTheTwentyNewestOfAllFriendsWithPrefixedTitles) {
  std::vector<Entry> alice, bob;
  for (int day = 1; day <= 15; ++day) {
    alice.push_back({"Holiday photos " + std::to_string(day), Date(day, 10)});
    bob.push_back({day == 14 ? "" : "Note " + std::to_string(day), Date(day, 11)});
  }
  dir.Write("alice", FeedText(alice));
  dir.Write("bob", FeedText(bob));

  std::unique_ptr<Feed> merged = Merge({"alice", "bob"});
  ASSERT_TRUE(merged);
  std::vector<std::string> titles = TitlesOf(*merged);
  ASSERT_EQ(titles.size(), 20u);
  EXPECT_EQ(titles[0], "[bob] Note 15");
  EXPECT_EQ(titles[1], "[alice] Holiday photos 15");
  EXPECT_EQ(titles[2], "[bob] <no title>");
  EXPECT_EQ(titles[19], "[alice] Holiday photos 6");
  EXPECT_EQ(merged->items().front().description, "Text of Note 15");
  EXPECT_EQ(merged->PubDate(), Date(15, 11));
  EXPECT_EQ(merged->Title(), "Zarnik Friends");
  EXPECT_EQ(merged->Link(), "http://www.zarnik.example/users/abc/friends");
  EXPECT_EQ(merged->Description(), "Your Zarnik friends");
  EXPECT_EQ(merged->Language(), "en");
  const std::string text = AllXmlText();
  EXPECT_NE(text.find("<title>[bob] &lt;no title&gt;</title>"), std::string::npos);
  EXPECT_NE(text.find("<lastBuildDate>" + Date(15, 11) + "</lastBuildDate>"), std::string::npos);
}

TEST_F(MergedFeedTest, SiteAddressAndUserNameFormTheChannelLink) {
  RefillMergedFeed(MergedFeed, dir.path(), {}, "some_user", "http://journal.test:8080");
  EXPECT_EQ(MergedFeed.Link(), "http://journal.test:8080/users/some_user/friends");
}

TEST_F(MergedFeedTest, FriendsThatFailContributeNothing) {
  dir.Write("good", FeedText({{"Kept", Date(2, 9)}}));
  dir.Write("unknown", FeedText({{"Dropped", Date(3, 9)}}, "0.93"));
  dir.Write("invalid", FeedText({{"", Date(3, 9), ""}}));  // neither title nor link
  std::unique_ptr<Feed> merged = Merge({"unknown", "absent", "good", "invalid"});
  ASSERT_TRUE(merged);
  EXPECT_EQ(merged->items().front().title, "[good] Kept");
  EXPECT_EQ(merged->items().size(), 20u);
  EXPECT_EQ(std::next(merged->items().begin())->title, "");
}

TEST_F(MergedFeedTest, EqualDatesKeepTheOrderOfTheFriendsList) {
  for (const char* name : {"alice", "bob", "carol"}) {
    dir.Write(name, FeedText({{"Same time", Date(1, 0)}}));
  }
  std::vector<std::string> titles = TitlesOf(*Merge({"bob", "alice", "carol"}));
  EXPECT_EQ(
      std::vector<std::string>(titles.begin(), titles.begin() + 3),
      (std::vector<std::string>{"[bob] Same time", "[alice] Same time", "[carol] Same time"}));
}

// Equal dates that straddle the cut to 20: the earlier friend, then the earlier entry, is kept.
TEST_F(MergedFeedTest, EqualDatesAtTheCutKeepFriendAndFeedOrder) {
  std::vector<Entry> alice, bob, carol;
  for (int i = 1; i <= 15; ++i) {
    alice.push_back({"a" + std::to_string(i), Date(1, 0)});
    alice.push_back({"old", Date(0, 0)});
    bob.push_back({"b" + std::to_string(i), Date(1, 0)});
    carol.push_back({"c" + std::to_string(i), Date(1, 0)});
  }
  bob.push_back({"new", Date(2, 0)});
  dir.Write("alice", FeedText(alice));
  dir.Write("bob", FeedText(bob));
  dir.Write("carol", FeedText(carol));
  std::vector<std::string> expected = {"[bob] new"};
  for (int i = 1; i <= 15; ++i) {
    expected.push_back("[alice] a" + std::to_string(i));
  }
  for (int i = 1; i <= 4; ++i) {
    expected.push_back("[bob] b" + std::to_string(i));
  }
  EXPECT_EQ(TitlesOf(*Merge({"alice", "bob", "carol"})), expected);
}

TEST_F(MergedFeedTest, DuplicatesAreMergedOncePerFriendAndListing) {
  dir.Write("alice", FeedText({{"Shared post", Date(5, 5)}}));
  dir.Write("bob", FeedText({{"Shared post", Date(5, 5)}}));
  std::vector<std::string> titles = TitlesOf(*Merge({"alice", "bob", "alice"}));
  EXPECT_EQ(std::vector<std::string>(titles.begin(), titles.begin() + 4),
            (std::vector<std::string>{"[alice] Shared post", "[bob] Shared post",
                                      "[alice] Shared post", ""}));
}

TEST_F(MergedFeedTest, FewEntriesArePaddedWithEmptyItems) {
  std::vector<Entry> entries;
  for (int day = 1; day <= 5; ++day) {
    entries.push_back({"E" + std::to_string(day), Date(day, 1)});
  }
  dir.Write("under_score", FeedText(entries));
  std::unique_ptr<Feed> merged = Merge({"under_score"});
  std::vector<std::string> titles = TitlesOf(*merged);
  EXPECT_EQ(titles[0], "[under_score] E5");
  EXPECT_EQ(titles[4], "[under_score] E1");
  EXPECT_EQ(std::count(titles.begin(), titles.end(), ""), 15);
  const std::string text = AllXmlText();
  EXPECT_NE(text.find("<item>\n            <title></title>\n            <link></link>\n"
                      "            <guid></guid>\n            <description></description>\n"
                      "            <pubDate></pubDate>\n        </item>"),
            std::string::npos);
}

TEST_F(MergedFeedTest, NoFriendsGiveTwentyEmptyItemsAndNoDate) {
  std::unique_ptr<Feed> merged = Merge({});
  ASSERT_TRUE(merged);
  EXPECT_EQ(merged->items().size(), 20u);
  EXPECT_EQ(merged->PubDate(), "");
  EXPECT_NE(AllXmlText().find("<pubDate></pubDate>\n        <lastBuildDate></lastBuildDate>"),
            std::string::npos);
}

TEST_F(MergedFeedTest, EachMergeStartsFromTheFilesPresentNow) {
  dir.Write("alice", FeedText({{"First", Date(1, 1)}}));
  Merge({"alice"});
  std::filesystem::remove(dir.file("alice"));
  dir.Write("bob", FeedText({{"Second", Date(1, 1)}}));
  std::vector<std::string> titles = TitlesOf(*Merge({"alice", "bob"}));
  EXPECT_EQ(titles[0], "[bob] Second");
  EXPECT_EQ(titles[1], "");
}

TEST(FriendFeedPathTest, NamesMustBePlainFileNamesThatFitThePathBuffer) {
  EXPECT_EQ(FriendFeedPath("/tmp/x", "under_score"), "/tmp/x/under_score");
  EXPECT_EQ(FriendFeedPath("/tmp/x", "-dash"), "/tmp/x/-dash");
  for (const char* name : {"", ".", "..", "../etc", "a/b", "a\\b"}) {
    EXPECT_FALSE(FriendFeedPath("/tmp/x", name)) << name;
  }
  const std::string dir(100, 'd');
  EXPECT_TRUE(FriendFeedPath(dir, std::string(154, 'n')));   // 255 bytes and the terminator
  EXPECT_FALSE(FriendFeedPath(dir, std::string(155, 'n')));  // one more would overrun
}

TEST_F(MergedFeedTest, FriendWhosePathWouldNotFitIsSkipped) {
  const std::string longName(260 - dir.path().size(), 'n');
  dir.Write("ok", FeedText({{"Fits", Date(1, 1)}}));
  std::vector<std::string> titles = TitlesOf(*Merge({longName, "ok"}));
  EXPECT_EQ(titles[0], "[ok] Fits");
  EXPECT_EQ(titles[1], "");
}

// "all.xml" is replaced in one step, so a reader never gets a half-written document. (On Windows
// the file cannot be opened during the instant of the replace; a reader then tries again.)
TEST_F(MergedFeedTest, ReadersNeverSeeAHalfWrittenFile) {
  std::vector<Entry> entries;
  for (int day = 1; day <= 25; ++day) {
    entries.push_back({"Entry " + std::to_string(day) + std::string(2000, 'x'), Date(day, 1)});
  }
  dir.Write("alice", FeedText(entries));
  ASSERT_TRUE(MergeFriendFeeds(dir.path(), {"alice"}, "abc"));

  std::atomic<bool> merging{true};
  std::atomic<int> reads{0};
  std::atomic<int> broken{0};
  std::thread reader([&] {
    while (merging) {
      std::FILE* file = std::fopen(MergedFilePath(dir.path()).c_str(), "rb");
      if (file == nullptr) {
        continue;
      }
      TiXmlDocument document;
      if (!document.LoadFile(file)) {
        ++broken;
      }
      std::fclose(file);
      ++reads;
      // A reader that never lets go would hold up every replace on Windows, where an open file
      // cannot be replaced: real readers come and go.
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  for (int round = 0; round < 100; ++round) {
    MergeFriendFeeds(dir.path(), {"alice"}, "abc");
  }
  merging = false;
  reader.join();
  EXPECT_GT(reads.load(), 0);
  EXPECT_EQ(broken.load(), 0);
}

TEST_F(MergedFeedTest, FailedWriteKeepsTheOldFileAndLeavesNoPartialFile) {
  dir.Write("alice", FeedText({{"New", Date(2, 2)}}));
  dir.Write("all.xml", "old content");
  // Something in the way of the temporary file: the old file must stay as it is.
  std::filesystem::create_directories(dir.file("all.xml.part") + "/occupied");
  EXPECT_FALSE(MergeFriendFeeds(dir.path(), {"alice"}, "abc"));
  EXPECT_EQ(AllXmlText(), "old content");
  std::filesystem::remove_all(dir.file("all.xml.part"));

  // A target that cannot be replaced: the temporary file is removed again.
  std::filesystem::remove(dir.file("all.xml"));
  std::filesystem::create_directories(dir.file("all.xml") + "/occupied");
  EXPECT_FALSE(MergeFriendFeeds(dir.path(), {"alice"}, "abc"));
  EXPECT_FALSE(std::filesystem::exists(dir.file("all.xml.part")));
}

}  // namespace
