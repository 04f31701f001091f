#pragma once

#include <tinyxml.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "feed/feed_readers.h"

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

/// Reads a written merged file back; nullptr when it does not parse as a feed.
inline std::unique_ptr<Feed> ReadWrittenFeed(const std::string& path) {
  TiXmlDocument document;
  if (!document.LoadFile(path)) {
    return nullptr;
  }
  std::unique_ptr<Feed> feed = CreateFeed(&document);
  if (feed) {
    feed->Read(&document);
  }
  return feed;
}
