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

using Texts = std::vector<std::string>;

// The channel's title, link, description and language, in that order.
Texts ChannelOf(const Feed& feed) {
  return {feed.Title(), feed.Link(), feed.Description(), feed.Language()};
}

// An item's title, link, description, date and security, in that order.
Texts FieldsOf(const FeedItem& item) {
  return {item.title, item.link, item.description, item.pubDate, item.security};
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
  // The description's white space is condensed.
  EXPECT_EQ(ChannelOf(*feed), (Texts{"Alice's journal", "http://alice.zarnik.example/",
                                     "Alice writes about things", "en-gb"}));
  EXPECT_EQ(feed->PubDate(), "Tue, 06 Jan 2009 12:00:00 GMT");
  EXPECT_EQ(feed->ImageUrl(), "http://alice.zarnik.example/userpic.png");
  EXPECT_EQ(feed->ImageWidth(), "100");
  EXPECT_EQ(feed->ImageHeight(), "50");

  std::vector<FeedItem> items = ItemsOf(*feed);
  ASSERT_EQ(items.size(), 3u);
  // CDATA comes through unchanged, line end and entity-like text included.
  EXPECT_EQ(FieldsOf(items[0]), (Texts{"Holiday photos", "http://alice.zarnik.example/1.html",
                                       "<p>Sun &amp; sea</p>\nsecond line",
                                       "Tue, 06 Jan 2009 12:00:00 GMT", "private"}));
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
  EXPECT_EQ(ChannelOf(*feed), (Texts{"Cdata title", "", "", ""}));
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
  EXPECT_EQ(ChannelOf(*feed),
            (Texts{"Dave's journal", "http://dave.zarnik.example/", "Dave's entries", ""}));
  std::vector<FeedItem> items = ItemsOf(*feed);
  ASSERT_EQ(items.size(), 3u);
  // The link comes from rdf:about; an RSS 1.0 item's security is always "default".
  EXPECT_EQ(FieldsOf(items[0]), (Texts{"RDF one", "http://dave.zarnik.example/1.html", "First",
                                       "Wed, 07 Jan 2009 08:00:00 GMT", "default"}));
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
  EXPECT_EQ(FieldsOf(items[3]), (Texts{"Entry 4", "http://erin.zarnik.example/4.html",
                                       "Body of entry 4", "Thu, 04 Jan 2009 10:00:00 GMT", ""}));
  EXPECT_EQ(items[4].title, "Entry 5");
  EXPECT_EQ(items[4].link, "http://erin.zarnik.example/5.html");
  EXPECT_EQ(items[4].pubDate, "");
  EXPECT_TRUE(feed->IsValid());
}

}  // namespace
