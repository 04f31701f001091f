#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "feed/feed_readers.h"
#include "tests/feed/feed_test_support.h"

namespace {

std::vector<FeedItem> ItemsOf(const Feed& feed) {
  return std::vector<FeedItem>(feed.items().begin(), feed.items().end());
}

enum class Dialect { None, Rss091, Rss092, Rss20, Rdf };

Dialect DialectOf(const std::string& xml) {
  std::unique_ptr<Feed> feed = ReadFeedText(xml);
  if (!feed)
    return Dialect::None;
  if (dynamic_cast<Rss091Feed*>(feed.get()))
    return Dialect::Rss091;
  if (dynamic_cast<Rss092Feed*>(feed.get()))
    return Dialect::Rss092;
  if (dynamic_cast<Rss20Feed*>(feed.get()))
    return Dialect::Rss20;
  return dynamic_cast<RdfFeed*>(feed.get()) ? Dialect::Rdf : Dialect::None;
}

TEST(CreateFeedTest, RecognisesDialectsByWholeVersionAndNamespace) {
  EXPECT_EQ(DialectOf("<rss version=\"0.91\"/>"), Dialect::Rss091);
  EXPECT_EQ(DialectOf("<rss version=\"0.92\"/>"), Dialect::Rss092);
  EXPECT_EQ(DialectOf("<?xml version=\"1.0\"?><!-- c --><rss version=\"2.0\"/>"), Dialect::Rss20);
  EXPECT_EQ(DialectOf("<rdf:RDF xmlns=\"http://purl.org/rss/1.0/\"/>"), Dialect::Rdf);
  for (const char* version : {"2.00", "0.93", "0.94", " 2.0", "2.0 ", "1.0", ""}) {
    EXPECT_EQ(DialectOf(std::string("<rss version=\"") + version + "\"/>"), Dialect::None)
        << version;
  }
  EXPECT_EQ(DialectOf("<rss><channel/></rss>"), Dialect::None);
  // RSS 0.90 uses another default namespace; the namespace is compared whole.
  EXPECT_EQ(DialectOf("<rdf:RDF xmlns=\"http://my.netscape.com/rdf/simple/0.9/\"/>"),
            Dialect::None);
  EXPECT_EQ(DialectOf("<rdf:RDF xmlns=\"http://purl.org/rss/1.0\"/>"), Dialect::None);
  EXPECT_EQ(DialectOf("<rdf:RDF/>"), Dialect::None);
  // An "rss" root of unknown version is not tried as RSS 1.0.
  EXPECT_EQ(DialectOf("<rss version=\"9\"/><rdf:RDF xmlns=\"http://purl.org/rss/1.0/\"/>"),
            Dialect::None);
  EXPECT_EQ(DialectOf("<feed xmlns=\"http://www.w3.org/2005/Atom\"/>"), Dialect::None);
  EXPECT_EQ(DialectOf("<RSS version=\"2.0\"/>"), Dialect::None);
  EXPECT_EQ(DialectOf(""), Dialect::None);
}

TEST(RssReadingTest, ReadsChannelFieldsAndItems) {
  std::unique_ptr<Feed> feed = ReadFeedFile(FixturePath("rss20_basic.xml"));
  ASSERT_TRUE(feed);
  EXPECT_EQ(feed->Title(), "Alice's journal");
  EXPECT_EQ(feed->Link(), "http://alice.zarnik.example/");
  EXPECT_EQ(feed->Description(), "Alice writes about things");  // white space condensed
  EXPECT_EQ(feed->Language(), "en-gb");
  EXPECT_EQ(feed->PubDate(), "Tue, 06 Jan 2009 12:00:00 GMT");
  EXPECT_EQ(feed->ImageUrl(), "http://alice.zarnik.example/userpic.png");
  EXPECT_EQ(feed->ImageWidth(), "100");
  EXPECT_EQ(feed->ImageHeight(), "50");

  std::vector<FeedItem> items = ItemsOf(*feed);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].title, "Holiday photos");
  EXPECT_EQ(items[0].link, "http://alice.zarnik.example/1.html");
  // CDATA comes through unchanged, line end and entity-like text included.
  EXPECT_EQ(items[0].description, "<p>Sun &amp; sea</p>\nsecond line");
  EXPECT_EQ(items[0].pubDate, "Tue, 06 Jan 2009 12:00:00 GMT");
  EXPECT_EQ(items[0].security, "private");
  EXPECT_EQ(items[1].title, "");
  EXPECT_EQ(items[1].description, "Tom & Jerry <live>");
  EXPECT_EQ(items[1].security, "");
  // Every element after the first "item" is read as an item, whatever its name.
  EXPECT_EQ(items[2].title, "");
  EXPECT_EQ(items[2].link, "");
  EXPECT_FALSE(feed->IsValid()) << "the category entry has neither title nor link";
}

TEST(RssReadingTest, FieldsWithoutTextStayEmpty) {
  std::unique_ptr<Feed> feed = ReadFeedText(
      "<rss version=\"2.0\"><channel><title><![CDATA[Cdata title]]></title>"
      "<link><!-- comment first -->http://x/</link><description/>"
      "<language><b>element first</b></language>"
      "<item><title>  spaced   out  </title><zarnik:security>friends</zarnik:security>"
      "<security>not this one</security></item></channel></rss>");
  ASSERT_TRUE(feed);
  EXPECT_EQ(feed->Title(), "Cdata title");
  EXPECT_EQ(feed->Link(), "");
  EXPECT_EQ(feed->Description(), "");
  EXPECT_EQ(feed->Language(), "");
  EXPECT_EQ(feed->PubDate(), "");
  ASSERT_EQ(feed->items().size(), 1u);
  EXPECT_EQ(feed->items().front().title, "spaced out");
  EXPECT_EQ(feed->items().front().security, "friends");
}

TEST(RssReadingTest, NoItemsWithoutAnItemElement) {
  std::unique_ptr<Feed> feed = ReadFeedText(RssText("2.0", "<entry><title>x</title></entry>"));
  ASSERT_TRUE(feed);
  EXPECT_TRUE(feed->items().empty());
  EXPECT_TRUE(feed->IsValid());
}

TEST(RdfReadingTest, ReadsAboutAttributesAndItemsBesideTheChannel) {
  std::unique_ptr<Feed> feed = ReadFeedFile(FixturePath("rdf_basic.xml"));
  ASSERT_TRUE(feed);
  EXPECT_EQ(feed->Title(), "Dave's journal");
  EXPECT_EQ(feed->Link(), "http://dave.zarnik.example/");
  EXPECT_EQ(feed->Description(), "Dave's entries");
  EXPECT_EQ(feed->Language(), "");
  std::vector<FeedItem> items = ItemsOf(*feed);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].link, "http://dave.zarnik.example/1.html");
  EXPECT_EQ(items[0].pubDate, "Wed, 07 Jan 2009 08:00:00 GMT");
  EXPECT_EQ(items[0].security, "default");
  EXPECT_EQ(items[1].link, "");
  EXPECT_EQ(items[2].title, "Search");  // the text input block reads as an item too
  EXPECT_TRUE(feed->IsValid());
}

TEST(RdfReadingTest, WithoutChannelItemsAreReadButTheFeedIsNotValid) {
  std::unique_ptr<Feed> feed = ReadFeedText(
      "<rdf:RDF xmlns=\"http://purl.org/rss/1.0/\"><item rdf:about=\"http://x/1\"/></rdf:RDF>");
  ASSERT_TRUE(feed);
  EXPECT_EQ(feed->items().size(), 1u);
  EXPECT_FALSE(feed->IsValid());
}

TEST(FeedValidityTest, FixturesOfEachDialectAreValid) {
  for (const char* name : {"rss091_basic.xml", "rss092_basic.xml", "rdf_basic.xml"}) {
    std::unique_ptr<Feed> feed = ReadFeedFile(FixturePath(name));
    ASSERT_TRUE(feed) << name;
    EXPECT_TRUE(feed->IsValid()) << name;
  }
}

TEST(FeedValidityTest, ItemRulesDifferByDialect) {
  const std::string neither = "<item><title>a</title><link>l</link></item><item/>";
  const std::string noLink =
      "<item><title>a</title><link>l</link></item><item><title>b</title></item>";
  EXPECT_FALSE(ReadFeedText(RssText("2.0", neither))->IsValid());
  EXPECT_TRUE(ReadFeedText(RssText("0.92", neither))->IsValid());
  EXPECT_FALSE(ReadFeedText(RssText("0.91", neither))->IsValid());
  EXPECT_TRUE(ReadFeedText(RssText("2.0", noLink))->IsValid());
  EXPECT_FALSE(ReadFeedText(RssText("0.91", noLink))->IsValid());
  EXPECT_TRUE(
      ReadFeedText(RssText("0.91", "<item><title>a</title><link>l</link></item>"))->IsValid());
}

TEST(FeedValidityTest, ChannelRuleHoldsForEveryDialect) {
  for (const char* version : {"0.91", "0.92", "2.0"}) {
    EXPECT_FALSE(ReadFeedText(RssText(version, "", ""))->IsValid()) << version;
    EXPECT_TRUE(ReadFeedText(RssText(version, ""))->IsValid()) << version;
  }
  EXPECT_FALSE(ReadFeedText("<rdf:RDF xmlns=\"http://purl.org/rss/1.0/\"><channel rdf:about=\"l\">"
                            "<title>t</title></channel></rdf:RDF>")
                   ->IsValid());
}

// A download cut off inside the fifth item's description still gives the items before the cut.
TEST(FeedValidityTest, CutOffFileKeepsWhatWasComplete) {
  std::unique_ptr<Feed> feed = ReadFeedFile(FixturePath("cut_in_fifth_item.xml"));
  ASSERT_TRUE(feed);
  std::vector<FeedItem> items = ItemsOf(*feed);
  ASSERT_EQ(items.size(), 5u);
  EXPECT_EQ(items[3].description, "Body of entry 4");
  EXPECT_EQ(items[3].pubDate, "Thu, 04 Jan 2009 10:00:00 GMT");
  EXPECT_EQ(items[4].title, "Entry 5");
  EXPECT_EQ(items[4].link, "http://erin.zarnik.example/5.html");
  EXPECT_EQ(items[4].pubDate, "");
  EXPECT_TRUE(feed->IsValid());
}

}  // namespace
