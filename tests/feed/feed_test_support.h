#pragma once

#include <tinyxml.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "feed/feed_readers.h"
#include "tests/support/scratch_directory.h"

/// The path of a fixture file in tests/feed/data.
inline std::string FixturePath(const std::string& name) {
  return std::string(ZV_TEST_DATA_DIR) + "/feed/data/" + name;
}

/// The titles of `feed`'s entries, in order.
inline std::vector<std::string> TitlesOf(const Feed& feed) {
  std::vector<std::string> titles;
  for (const FeedItem& item : feed.items()) {
    titles.push_back(item.title);
  }
  return titles;
}

/// Recognises and reads a parsed document; nullptr when it is not recognised.
inline std::unique_ptr<Feed> ReadDocument(TiXmlDocument& document) {
  std::unique_ptr<Feed> feed = CreateFeed(&document);
  if (feed) {
    feed->Read(&document);
  }
  return feed;
}

/// Recognises and reads a feed held in memory.
inline std::unique_ptr<Feed> ReadFeedText(const std::string& xml) {
  TiXmlDocument document;
  document.Parse(xml.c_str());
  return ReadDocument(document);
}

/// Recognises and reads a feed file loaded with TinyXML's LoadFile, as far as it parses.
inline std::unique_ptr<Feed> ReadFeedFile(const std::string& path) {
  TiXmlDocument document;
  document.LoadFile(path);
  return ReadDocument(document);
}

/// A minimal RSS document: `version` on the root, a complete channel, and `items` inside it.
inline std::string RssText(const std::string& version, const std::string& items,
                           const std::string& channelDescription = "Entries") {
  return "<?xml version=\"1.0\"?><rss version=\"" + version +
         "\"><channel><title>T</title><link>http://t.example/</link><description>" +
         channelDescription + "</description>" + items + "</channel></rss>";
}

/// One entry of a generated feed.
struct Entry {
  std::string title;
  std::string pubDate;
  std::string link = "http://journal.example/entry.html";
};

/// An RSS document of `version` whose channel is complete and holds `entries` in order.
inline std::string FeedText(const std::vector<Entry>& entries, const std::string& version = "2.0") {
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"" + version +
                    "\"><channel><title>J</title><link>http://journal.example/</link>"
                    "<description>A journal</description>\n";
  for (const Entry& entry : entries) {
    xml += "<item><title>" + entry.title + "</title><link>" + entry.link +
           "</link><description>Text of " + entry.title + "</description><pubDate>" +
           entry.pubDate + "</pubDate></item>\n";
  }
  return xml + "</channel></rss>\n";
}
