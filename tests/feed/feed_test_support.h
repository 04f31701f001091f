#pragma once

#include <tinyxml.h>

#include <memory>
#include <string>

#include "feed/feed_readers.h"

/// The path of a fixture file in tests/feed/data.
inline std::string FixturePath(const std::string& name) {
  return std::string(ZV_TEST_DATA_DIR) + "/feed/data/" + name;
}

/// Recognises and reads a feed held in memory; nullptr when it is not recognised.
inline std::unique_ptr<Feed> ReadFeedText(const std::string& xml) {
  TiXmlDocument document;
  document.Parse(xml.c_str());
  std::unique_ptr<Feed> feed = CreateFeed(&document);
  if (feed) {
    feed->Read(&document);
  }
  return feed;
}

/// Recognises and reads a fixture file through TinyXML's LoadFile.
inline std::unique_ptr<Feed> ReadFixture(const std::string& name) {
  TiXmlDocument document;
  document.LoadFile(FixturePath(name));
  std::unique_ptr<Feed> feed = CreateFeed(&document);
  if (feed) {
    feed->Read(&document);
  }
  return feed;
}

/// A minimal RSS document: `version` on the root, a complete channel, and `items` inside it.
inline std::string RssText(const std::string& version, const std::string& items,
                           const std::string& channelDescription = "Entries") {
  return "<?xml version=\"1.0\"?><rss version=\"" + version +
         "\"><channel><title>T</title><link>http://t.example/</link><description>" +
         channelDescription + "</description>" + items + "</channel></rss>";
}
