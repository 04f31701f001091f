#include "feed/feed.h"

#include <tinyxml.h>

#include <utility>

#include "feed/feed_date.h"
#include "feed/xml_writing.h"

Feed::~Feed() = default;

void Feed::SetTitle(std::string value) {
  title = std::move(value);
}
void Feed::SetLink(std::string value) {
  link = std::move(value);
}
void Feed::SetDescription(std::string value) {
  description = std::move(value);
}
void Feed::SetLanguage(std::string value) {
  language = std::move(value);
}
void Feed::SetPubDate(std::string value) {
  pubDate = std::move(value);
}

void Feed::ClearItems() {
  itemList.clear();
}

void Feed::SortItems() {
  // std::list::sort is a stable merge sort: equal dates keep the order the items came in.
  itemList.sort(IsNewer);
}

void Feed::ResizeItems(std::size_t count) {
  itemList.resize(count);
}

bool Feed::HasChannelFields() const {
  return !title.empty() && !link.empty() && !description.empty();
}

void Feed::WriteTo(TiXmlNode* document) const {
  document->LinkEndChild(new TiXmlDeclaration("1.0", "UTF-8", ""));
  TiXmlElement* rss = new TiXmlElement("rss");
  rss->SetAttribute("version", "2.0");
  document->LinkEndChild(rss);
  TiXmlNode* channel = AppendElement(rss, "channel");
  AppendTextElement(channel, "title", title);
  AppendTextElement(channel, "link", link);
  AppendTextElement(channel, "description", description);
  AppendTextElement(channel, "language", language);
  AppendTextElement(channel, "pubDate", pubDate);
  // The model keeps no build date of its own.
  AppendTextElement(channel, "lastBuildDate", pubDate);
  for (const FeedItem& item : itemList) {
    item.WriteTo(channel);
  }
}
