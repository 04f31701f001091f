// Feed files come from the network: whatever one friend's file holds, the merge goes on and the
// other friends' entries come through as usual.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "feed/feed_file.h"
#include "feed/merged_feed.h"
#include "tests/feed/feed_test_support.h"
#include "tests/support/random_bytes.h"

namespace {

const char kGoodDate[] = "Fri, 02 Jan 2009 10:00:00 GMT";

std::string Nested(std::size_t depth) {
  std::string xml;
  for (std::size_t i = 0; i < depth; ++i)
    xml += "<a>";
  for (std::size_t i = 0; i < depth; ++i)
    xml += "</a>";
  return xml;
}

std::string Repeated(const std::string& piece, std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i)
    text += piece;
  return text;
}

std::string Valid(const std::string& inChannel) {
  return "<rss version=\"2.0\"><channel><title>T</title><link>L</link><description>D"
         "</description>" +
         inChannel + "</channel></rss>";
}

struct BadFeed {
  const char* name;
  std::string bytes;  // what the friend's file holds
};

class BadFeedTest : public testing::TestWithParam<BadFeed> {};

TEST_P(BadFeedTest, ContributesNothingAndSpoilsNothing) {
  ScratchDirectory dir;
  dir.Write("bad", GetParam().bytes);
  dir.Write("good", FeedText({{"Kept", kGoodDate}}));
  ASSERT_TRUE(MergeFriendFeeds(dir.path(), {"bad", "good"}, "abc"));
  std::unique_ptr<Feed> merged = ReadFeedFile(MergedFilePath(dir.path()));
  ASSERT_TRUE(merged);
  ASSERT_EQ(merged->items().size(), 20u);
  EXPECT_EQ(merged->items().front().title, "[good] Kept");
  EXPECT_EQ(merged->PubDate(), kGoodDate);
  for (auto item = std::next(merged->items().begin()); item != merged->items().end(); ++item) {
    EXPECT_EQ(item->title, "");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, BadFeedTest,
    testing::Values(
        BadFeed{"Empty", ""}, BadFeed{"WhiteSpace", " \n\t \r\n"},
        BadFeed{"NotXml", "Service unavailable, try again later.\n"},
        BadFeed{"HtmlErrorPage", "<html><head><title>502</title></head><body/></html>"},
        BadFeed{"Binary", RandomBytes(64 * 1024, 7)},
        BadFeed{"BinaryAfterDeclaration", "<?xml version=\"1.0\"?>" + RandomBytes(4096, 7)},
        BadFeed{"CutInChannelTitle", "<rss version=\"2.0\"><channel><title>Half"},
        BadFeed{"CutInStartTag", "<rss version=\"2.0\"><chan"},
        BadFeed{"UnknownVersion",
                "<rss version=\"0.94\"><channel><title>T</title><link>L</link>"
                "<description>D</description><item><title>x</title></item></channel></rss>"},
        BadFeed{"ItemsWithoutChildren", Valid("<item/><item></item>")},
        BadFeed{"DeeplyNestedDocument", Nested(200000)},
        BadFeed{"DeeplyNestedItem",
                Valid("<item><title>Deep</title>" + Nested(100000) + "</item>")},
        BadFeed{"NestedBehindByteOrderMarks",
                "<?xml version='1.0' encoding='x-unknown'?>" +
                    Valid("<item><title>Deep</title>" + Repeated("<a \xEF\xBB\xBF>", 100000) +
                          "</item>")},
        BadFeed{"NestedJustOverTheLimit",
                Valid("<item><title>Deep</title>" + Nested(kMaxFeedNesting) + "</item>")}),
    [](const testing::TestParamInfo<BadFeed>& test) { return std::string(test.param.name); });

// A friend's feed of 20 entries whose newest title is `title` as bytes, declared in `encoding`.
struct HostileFeed {
  const char* name;
  std::string friendName;
  std::string encoding;  // empty: no declaration
  std::string title;
  std::string mergedTitle;  // as all.xml must hold it, in UTF-8
};

class HostileFeedTest : public testing::TestWithParam<HostileFeed> {};

// Whatever the bytes, all.xml holds valid UTF-8 XML that reads back whole.
TEST_P(HostileFeedTest, ArrivesAsUtf8AndSpoilsNoOtherEntry) {
  const HostileFeed& feed = GetParam();
  std::string xml =
      feed.encoding.empty() ? "" : "<?xml version=\"1.0\" encoding=\"" + feed.encoding + "\"?>\r\n";
  xml +=
      "<rss version=\"2.0\"><channel><title>T</title><link>L</link><description>D"
      "</description>\r\n<item><title>" +
      feed.title + "</title><pubDate>Sat, 03 Jan 2009 10:00:00 GMT</pubDate></item>\r\n";
  for (int i = 2; i <= 20; ++i) {
    xml += "<item><title>Entry " + std::to_string(i) +
           "</title><pubDate>Fri, 02 Jan 2009 10:00:00 GMT</pubDate></item>\r\n";
  }
  ScratchDirectory dir;
  dir.Write(feed.friendName, xml + "</channel></rss>");
  ASSERT_TRUE(MergeFriendFeeds(dir.path(), {feed.friendName},
                               "ab\x01"
                               "c"));
  std::unique_ptr<Feed> merged = ReadFeedFile(MergedFilePath(dir.path()));
  ASSERT_TRUE(merged);
  EXPECT_EQ(merged->Link(), std::string(kDefaultSiteAddress) + "/users/abc/friends");
  std::vector<std::string> titles = TitlesOf(*merged);
  ASSERT_EQ(titles.size(), 20u);
  EXPECT_EQ(titles[0], feed.mergedTitle);
  EXPECT_EQ(titles[19], feed.mergedTitle.substr(0, feed.mergedTitle.find("] ") + 2) + "Entry 20");
}

const char kPrivet[] = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82";  // in Cyrillic
const char kReplacement[] = "\xEF\xBF\xBD";                                 // U+FFFD

INSTANTIATE_TEST_SUITE_P(
    Files, HostileFeedTest,
    testing::Values(
        HostileFeed{"Latin1", "f", "ISO-8859-1", "caf\xE9 &#233;", "[f] caf\xC3\xA9 \xC3\xA9"},
        HostileFeed{"Windows1251", "f", "windows-1251", "\xCF\xF0\xE8\xE2\xE5\xF2",
                    std::string("[f] ") + kPrivet},
        HostileFeed{"Koi8R", "f", "KOI8-R", "\xF0\xD2\xC9\xD7\xC5\xD4",
                    std::string("[f] ") + kPrivet},
        HostileFeed{
            "InvalidBytes", "f", "UTF-8", "caf\xE9 \xC3 \xF0\x9F\x98",
            std::string("[f] caf") + kReplacement + " " + kReplacement + " " + kReplacement},
        HostileFeed{"InvalidBytesUndeclared", "f", "", "\xFF\xE2",
                    std::string("[f] ") + kReplacement + kReplacement},
        HostileFeed{"ControlCharacters", "f", "", "a\x01\x1b[2Jb\x7f\xEF\xBF\xBE", "[f] a[2Jb\x7f"},
        HostileFeed{"ForbiddenReferences", "f", "UTF-8", "a&#1;&#x1F;b&#xFFFF;&#xD800;",
                    std::string("[f] ab") + kReplacement + kReplacement + kReplacement},
        HostileFeed{"CarriageReturnsInCdata", "f", "", "<![CDATA[a\r\nb\rc]]>", "[f] a\nb\nc"},
        HostileFeed{"FriendName", "caf\xE9", "", "x", std::string("[caf") + kReplacement + "] x"}),
    [](const testing::TestParamInfo<HostileFeed>& test) { return std::string(test.param.name); });

class OddFeedTest : public testing::Test {
 protected:
  std::vector<std::string> MergedTitles(const std::vector<std::string>& friends) {
    EXPECT_TRUE(MergeFriendFeeds(dir.path(), friends, "abc"));
    std::unique_ptr<Feed> merged = ReadFeedFile(MergedFilePath(dir.path()));
    return merged ? TitlesOf(*merged) : std::vector<std::string>();
  }

  ScratchDirectory dir;
};

// Undated and oddly dated entries sort after dated ones, in a fixed order, and are kept.
TEST_F(OddFeedTest, OddDatesAreKeptAndOrderedTheSameEveryTime) {
  const std::string longWord(40, 'w');
  dir.Write("odd", FeedText({{"empty", ""},
                             {"iso", "2009-01-05T10:20:30Z"},
                             {"long weekday", longWord + ", 05 Jan 2009 10:00:00 GMT"},
                             {"long month", "Mon, 05 " + longWord + " 2009 10:00:00 GMT"}}));
  dir.Write("good", FeedText({{"Kept", kGoodDate}}));
  std::vector<std::string> first = MergedTitles({"odd", "good"});
  ASSERT_EQ(first.size(), 20u);
  EXPECT_EQ(first[0], "[good] Kept");
  EXPECT_EQ(first[1], "[odd] iso");  // read as day 10 of year 0
  EXPECT_EQ(first[2], "[odd] long month");
  EXPECT_EQ(first[3], "[odd] empty");
  EXPECT_EQ(first[4], "[odd] long weekday");
  EXPECT_EQ(MergedTitles({"odd", "good"}), first);
}

TEST_F(OddFeedTest, ChildlessItemsOfALenientDialectMergeAsUntitled) {
  dir.Write("lenient",
            "<rss version=\"0.92\"><channel><title>T</title><link>L</link><description>D"
            "</description><item/></channel></rss>");
  EXPECT_EQ(MergedTitles({"lenient"})[0], "[lenient] <no title>");
}

TEST_F(OddFeedTest, LargeFeedMergesLikeASmallOne) {
  std::vector<Entry> entries;
  const std::string body(2000, 'b');
  for (int i = 0; i < 5000; ++i) {
    entries.push_back({"Entry " + std::to_string(i) + " " + body, "Sat, 03 Jan 2009 10:00:00 GMT"});
  }
  dir.Write("large", FeedText(entries));
  ASSERT_GT(std::filesystem::file_size(dir.file("large")), 10u << 20);
  dir.Write("good", FeedText({{"Kept", kGoodDate}}));
  std::vector<std::string> titles = MergedTitles({"good", "large"});
  ASSERT_EQ(titles.size(), 20u);
  EXPECT_EQ(titles[0], "[large] Entry 0 " + body);
  EXPECT_EQ(titles[19], "[large] Entry 19 " + body);
}

TEST_F(OddFeedTest, FilesOverTheSizeLimitAndDirectoriesAreRefused) {
  std::string huge = Valid("<item><title>Huge</title></item><!--");
  huge.resize(kMaxFeedFileBytes + 1, ' ');
  dir.Write("huge", huge + "-->");
  std::filesystem::create_directory(dir.file("folder"));
  dir.Write("good", FeedText({{"Kept", kGoodDate}}));
  std::vector<std::string> titles = MergedTitles({"huge", "folder", "good"});
  ASSERT_EQ(titles.size(), 20u);
  EXPECT_EQ(titles[0], "[good] Kept");
  EXPECT_EQ(titles[1], "");
}

TEST_F(OddFeedTest, NestingWithinTheLimitIsRead) {
  dir.Write("nested",
            Valid("<item><title>Within</title>" + Nested(kMaxFeedNesting - 10) + "</item>"));
  EXPECT_EQ(MergedTitles({"nested"})[0], "[nested] Within");
}

}  // namespace
