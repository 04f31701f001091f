#include "feed/feed.h"

#include <tinyxml.h>

#include "feed/feed_date.h"
#include "feed/xml_writing.h"

Feed::~Feed() = default;

void Feed::SortItems() {
  // std::list::sort is a stable merge sort: equal dates keep the order the items came in.
  itemList.sort(IsNewer);
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
