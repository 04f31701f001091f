#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "feed/feed_readers.h"
#include "tests/feed/feed_test_support.h"

namespace {

void Append(Feed& feed, const std::string& title, const std::string& pubDate) {
  feed.items().emplace_back(title, "link", "", pubDate, "");
}

TEST(FeedModelTest, SortPutsNewestFirstAndKeepsTheOrderOfEqualDates) {
  Rss20Feed feed;
  Append(feed, "old", "Sat, 31 Dec 2005 10:00:00 GMT");
  Append(feed, "tie-1", "Thu, 01 Jan 2009 00:00:00 GMT");
  Append(feed, "undated", "");
  Append(feed, "newest", "Tue, 06 Jan 2009 00:00:00 GMT");
  Append(feed, "tie-2", "Thu, 01 Jan 2009 00:00:00 +0500");
  Append(feed, "september", "Tue, 30 Sept 2009 12:00:00 GMT");
  Append(feed, "tie-3", "Thu, 01 Jan 2009 00:00:00 GMT");
  feed.SortItems();
  EXPECT_EQ(TitlesOf(feed), (std::vector<std::string>{"newest", "tie-1", "tie-2", "tie-3",
                                                      "september", "old", "undated"}));
}

// A merge sort that is not stable shows itself on many equal keys interleaved with others.
TEST(FeedModelTest, SortIsStableOnManyEqualDates) {
  Rss20Feed feed;
  for (int i = 0; i < 500; ++i) {
    Append(feed, std::to_string(i),
           i % 3 == 0 ? "Mon, 05 Jan 2009 10:00:00" : "Mon, 05 Jan 2009 09:00:00");
  }
  feed.SortItems();
  std::vector<std::string> titles = TitlesOf(feed);
  ASSERT_EQ(titles.size(), 500u);
  int previous = -1;
  for (std::size_t i = 0; i < titles.size(); ++i) {
    int number = std::stoi(titles[i]);
    bool newer = number % 3 == 0;
    EXPECT_EQ(newer, i < 167u) << i;
    if (i != 167u) {
      EXPECT_GT(number, previous) << "equal dates left their order at " << i;
    }
    previous = number;
  }
}

TEST(FeedModelTest, ResizeCutsOrPadsWithEmptyItems) {
  Rss20Feed feed;
  for (int i = 0; i < 25; ++i) {
    Append(feed, std::to_string(i), "");
  }
  feed.ResizeItems(20);
  ASSERT_EQ(feed.items().size(), 20u);
  EXPECT_EQ(feed.items().back().title, "19");

  Rss20Feed small;
  Append(small, "a", "Mon, 05 Jan 2009 10:00:00");
  Append(small, "b", "");
  Append(small, "c", "");
  small.ResizeItems(20);
  ASSERT_EQ(small.items().size(), 20u);
  EXPECT_EQ(small.items().front().title, "a");
  int empty = 0;
  for (const FeedItem& item : small.items()) {
    empty += item.title.empty() && item.link.empty() && item.description.empty() &&
             item.pubDate.empty() && item.security.empty();
  }
  EXPECT_EQ(empty, 17);

  Rss20Feed none;
  none.ResizeItems(20);
  EXPECT_EQ(none.items().size(), 20u);
}

TEST(FeedModelTest, ClearItemsKeepsTheChannel) {
  Rss20Feed feed;
  feed.SetTitle("t");
  feed.SetLink("l");
  feed.SetDescription("d");
  feed.SetLanguage("en");
  feed.SetPubDate("p");
  Append(feed, "x", "");
  feed.ClearItems();
  EXPECT_TRUE(feed.items().empty());
  EXPECT_EQ(feed.Title() + feed.Link() + feed.Description() + feed.Language() + feed.PubDate(),
            "tldenp");
}

}  // namespace
