// A friend's feed file as the download leaves it, taken the whole way of an update cycle: loaded,
// recognised, read and merged with a second friend's small good feed into "all.xml", which is
// then read back as any feed reader would read it. Whatever the bytes, "all.xml" is written, is
// RSS 2.0 with exactly 20 items, newest first, holds every entry of the good feed unchanged and as
// many of the fuzzed friend's entries as fit, and has no text that is not XML 1.0 characters in
// UTF-8.
#include <tinyxml.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "feed/feed_date.h"
#include "feed/feed_item.h"
#include "feed/feed_readers.h"
#include "feed/merged_feed.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/scratch_folder.h"

namespace {

// The friend whose feed is the fuzzer's input, and the one whose feed is always the same.
const char kFuzzedFriend[] = "fuzzed";
const char kGoodFriend[] = "good";

// The good friend's entries carry the latest date a pubDate can say (every part clamped to the
// 32-bit range, December), so no fuzzed entry sorts before them; listed first, they keep their
// place among equal dates.
const char kLatestDate[] = "Sun, 2147483647 Dec 2147483647 2147483647:2147483647:2147483647 +0000";

struct GoodEntry {
  const char* title;  // as written in "all.xml", prefix included
  const char* link;
  const char* description;
};
const GoodEntry kGoodEntries[] = {
    {"[good] Tea & biscuits", "http://good.example/1.html", "<p>Milk first</p>"},
    {"[good] \xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", "http://good.example/2.html",
     "Caf\xC3\xA9 \xE2\x82\xAC 5"},
};
constexpr std::size_t kGoodCount = sizeof kGoodEntries / sizeof kGoodEntries[0];

const char kGoodFeed[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<rss version=\"2.0\"><channel><title>Good</title><link>http://good.example/</link>"
    "<description>Always there</description>\n"
    "<item><title>Tea &amp; biscuits</title><link>http://good.example/1.html</link>"
    "<description>&lt;p&gt;Milk first&lt;/p&gt;</description>"
    "<pubDate>Sun, 2147483647 Dec 2147483647 2147483647:2147483647:2147483647 +0000</pubDate>"
    "</item>\n"
    "<item><title>\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82</title>"
    "<link>http://good.example/2.html</link><description>Caf&#xE9; &#8364; 5</description>"
    "<pubDate>Sun, 2147483647 Dec 2147483647 2147483647:2147483647:2147483647 +0000</pubDate>"
    "</item>\n</channel></rss>\n";

void WriteFile(const std::string& path, const void* data, std::size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  FUZZ_CHECK(file != nullptr);
  FUZZ_CHECK(std::fwrite(data, 1, size, file) == size);
  FUZZ_CHECK(std::fclose(file) == 0);
}

// The run's temporary folder, with the good friend's feed in it.
const std::string& TempDir() {
  static const std::string& path = []() -> const std::string& {
    const std::string& folder = ScratchFolder("zv-fuzz-feed");
    WriteFile(folder + "/" + kGoodFriend, kGoodFeed, sizeof kGoodFeed - 1);
    return folder;
  }();
  return path;
}

// True when `text` is well-formed UTF-8 holding only characters XML 1.0 allows (#x9, #xA, #xD,
// #x20-#xD7FF, #xE000-#xFFFD, #x10000-#x10FFFF).
bool IsXmlCharacters(const std::string& text) {
  for (std::size_t at = 0; at < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    std::size_t length = lead < 0x80 ? 1 : lead < 0xC0 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    if (length == 0 || lead > 0xF7 || at + length > text.size()) {
      return false;
    }
    std::uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
      const unsigned char next = static_cast<unsigned char>(text[at + i]);
      if ((next & 0xC0) != 0x80) {
        return false;
      }
      code = code << 6 | (next & 0x3F);
    }
    const std::uint32_t shortest = length == 1   ? 0
                                   : length == 2 ? 0x80
                                   : length == 3 ? 0x800
                                                 : 0x10000;
    const bool allowed = code == 0x9 || code == 0xA || code == 0xD ||
                         (code >= 0x20 && code <= 0xD7FF) || (code >= 0xE000 && code <= 0xFFFD) ||
                         (code >= 0x10000 && code <= 0x10FFFF);
    if (code < shortest || !allowed) {
      return false;
    }
    at += length;
  }
  return true;
}

// Every name, text and attribute of the document, walked without recursion.
void CheckAllText(const TiXmlDocument& document) {
  const TiXmlNode* node = document.FirstChild();
  while (node != nullptr) {
    FUZZ_CHECK(IsXmlCharacters(node->ValueStr()));
    if (const TiXmlElement* element = node->ToElement()) {
      for (const TiXmlAttribute* attribute = element->FirstAttribute(); attribute != nullptr;
           attribute = attribute->Next()) {
        FUZZ_CHECK(IsXmlCharacters(attribute->NameTStr()));
        FUZZ_CHECK(IsXmlCharacters(attribute->ValueStr()));
      }
    }
    if (node->FirstChild() != nullptr) {
      node = node->FirstChild();
      continue;
    }
    while (node != nullptr && node->NextSibling() == nullptr) {
      node = node->Parent();
    }
    node = node != nullptr ? node->NextSibling() : nullptr;
  }
}

std::string TextOf(const TiXmlElement* item, const char* name) {
  const TiXmlElement* child = item->FirstChildElement(name);
  const char* text = child != nullptr ? child->GetText() : nullptr;
  return text != nullptr ? text : "";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& tempDir = TempDir();
  WriteFile(tempDir + "/" + kFuzzedFriend, data, size);
  const std::string allXml = MergedFilePath(tempDir);
  std::remove(allXml.c_str());

  // What the fuzzed friend contributes on its own, read the same way the merge reads it.
  Rss20Feed alone;
  MergeFriendFeed(alone, tempDir, kFuzzedFriend);
  const std::size_t contributed = alone.items().size();

  FUZZ_CHECK(MergeFriendFeeds(tempDir, {kGoodFriend, kFuzzedFriend}, "reader"));

  // Read back as any reader would: TinyXML's own file loading, the encoding left to the file.
  TiXmlDocument written;
  FUZZ_CHECK(written.LoadFile(allXml.c_str()));
  CheckAllText(written);
  const TiXmlElement* rss = written.RootElement();
  FUZZ_CHECK(rss != nullptr && rss->ValueStr() == "rss" && rss->Attribute("version") != nullptr &&
             std::string(rss->Attribute("version")) == "2.0");
  const TiXmlElement* channel = rss->FirstChildElement("channel");
  FUZZ_CHECK(channel != nullptr);

  // Entries newest first, the empty ones that pad the channel to 20 only after them.
  std::size_t items = 0, good = 0, fuzzed = 0;
  FeedItem previous;
  for (const TiXmlElement* item = channel->FirstChildElement("item"); item != nullptr;
       item = item->NextSiblingElement("item"), ++items) {
    FeedItem entry(TextOf(item, "title"), TextOf(item, "link"), TextOf(item, "description"),
                   TextOf(item, "pubDate"), "");
    if (entry.title.empty()) {
      FUZZ_CHECK(entry.link.empty() && entry.description.empty() && entry.pubDate.empty());
      continue;
    }
    FUZZ_CHECK(good + fuzzed == items);
    FUZZ_CHECK(items == 0 || !IsNewer(entry, previous));
    if (good < kGoodCount) {
      // The good friend's entries come first, as they were.
      const GoodEntry& expected = kGoodEntries[good++];
      FUZZ_CHECK(entry.title == expected.title && entry.link == expected.link &&
                 TextOf(item, "guid") == expected.link &&
                 entry.description == expected.description && entry.pubDate == kLatestDate);
    } else {
      FUZZ_CHECK(entry.title.rfind(std::string("[") + kFuzzedFriend + "]", 0) == 0);
      ++fuzzed;
    }
    previous = entry;
  }
  FUZZ_CHECK(items == kMergedItemCount);
  FUZZ_CHECK(good == kGoodCount);
  FUZZ_CHECK(fuzzed == std::min(kMergedItemCount - kGoodCount, contributed));

  // The program's own reader takes the file for what it wrote.
  std::unique_ptr<Feed> feed = CreateFeed(&written);
  FUZZ_CHECK(feed != nullptr && dynamic_cast<Rss20Feed*>(feed.get()) != nullptr);
  feed->Read(&written);
  FUZZ_CHECK(feed->items().size() == kMergedItemCount);
  return 0;
}
