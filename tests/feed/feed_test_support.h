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

/// The path of a fixture file in tests/feed/data.
inline std::string FixturePath(const std::string& name) {
  return std::string(ZV_TEST_DATA_DIR) + "/feed/data/" + name;
}

/// The whole content of a file, empty when it cannot be read.
inline std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
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

/// A fresh, empty directory that is removed with everything in it at the end of the test.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() /
            ("zv-test-" + std::to_string(random()) + "-" + std::to_string(random()));
    std::filesystem::create_directories(path_);
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  std::string path() const { return path_.string(); }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(path_ / name, std::ios::binary) << bytes;
  }

 private:
  std::filesystem::path path_;
};

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
