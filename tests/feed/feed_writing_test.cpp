#include <gtest/gtest.h>
#include <tinyxml.h>

#include <string>

#include "feed/feed_file.h"
#include "feed/feed_readers.h"
#include "platform/file_system.h"
#include "tests/feed/feed_test_support.h"

namespace {

// A channel that exercises every escaping rule of the printed file.
Rss20Feed EscapingSample() {
  Rss20Feed feed;
  feed.SetTitle("Zarnik Friends");
  feed.SetLink("http://www.zarnik.example/users/abc/friends");
  feed.SetDescription("Your Zarnik friends");
  feed.SetLanguage("en");
  feed.items().emplace_back("[alice] Tom & Jerry <live>", "http://alice.example/1.html?a=1&b=2",
                            "<p>From a CDATA section\nwith a line end</p>",
                            "Tue, 06 Jan 2009 12:00:00 GMT", "private");
  feed.items().emplace_back("[bob] He said \"hi\" & 'bye'", "http://bob.example/2.html",
                            std::string("tab\tbell\x07 and a NUL-free \x1f"), "", "");
  // An unpatched TinyXML would copy "&#x41;" unescaped and so turn the text into an "A".
  feed.items().emplace_back("[carol] &#x41; stays text", "", "\xd0\x9f\xd1\x80\xd0\xb8 UTF-8 bytes",
                            "Mon, 05 Jan 2009 09:30:00 GMT", "");
  feed.ResizeItems(20);
  feed.SetPubDate(feed.items().front().pubDate);
  return feed;
}

// The escaping sample, written to a file of the test's own.
class FeedWritingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TiXmlDocument document;
    feed.WriteTo(&document);
    ASSERT_TRUE(SaveFeedFile(document, path));
  }

  Rss20Feed feed = EscapingSample();
  ScratchDirectory files;
  const std::string path = files.file("written.xml");
};

TEST_F(FeedWritingTest, PrintsTheGoldenLayout) {
  // The file is text, with the system's line ends.
  std::string golden;
  for (const char c : FileText(FixturePath("written_golden.xml"))) {
    golden += c == '\n' ? std::string(platform::kTextLineEnd) : std::string(1, c);
  }
  EXPECT_EQ(FileText(path), golden);
}

// What is written reads back as the same fields, guid equal to link, and no security.
TEST_F(FeedWritingTest, WrittenFeedReadsBackAsWritten) {
  TiXmlDocument loaded;
  ASSERT_TRUE(LoadFeedFile(loaded, path));
  std::unique_ptr<Feed> back = CreateFeed(&loaded);
  ASSERT_TRUE(back);
  back->Read(&loaded);
  EXPECT_EQ(back->Title(), feed.Title());
  EXPECT_EQ(back->Language(), "en");
  EXPECT_EQ(back->PubDate(), "Tue, 06 Jan 2009 12:00:00 GMT");
  ASSERT_EQ(back->items().size(), 20u);
  auto original = feed.items().begin();
  for (const FeedItem& item : back->items()) {
    EXPECT_EQ(item.title, original->title);
    EXPECT_EQ(item.link, original->link);
    EXPECT_EQ(item.description, original->description);
    EXPECT_EQ(item.security, "");
    ++original;
  }
  for (TiXmlElement* item = TiXmlHandle(&loaded)
                                .FirstChild("rss")
                                .FirstChild("channel")
                                .FirstChild("item")
                                .ToElement();
       item; item = item->NextSiblingElement()) {
    TiXmlHandle handle(item);
    const TiXmlText* link = handle.FirstChild("link").Child(0).ToText();
    const TiXmlText* guid = handle.FirstChild("guid").Child(0).ToText();
    EXPECT_EQ(link ? link->ValueStr() : "", guid ? guid->ValueStr() : "");
  }
}

}  // namespace
