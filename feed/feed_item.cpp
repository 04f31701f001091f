#include "feed/feed_item.h"

#include <utility>

#include "feed/xml_writing.h"

FeedItem::FeedItem(std::string itemTitle, std::string itemLink, std::string itemDescription,
                   std::string itemPubDate, std::string itemSecurity)
    : title(std::move(itemTitle)),
      link(std::move(itemLink)),
      description(std::move(itemDescription)),
      pubDate(std::move(itemPubDate)),
      security(std::move(itemSecurity)) {}

void FeedItem::WriteTo(TiXmlNode* parent) const {
  TiXmlNode* item = AppendElement(parent, "item");
  AppendTextElement(item, "title", title);
  AppendTextElement(item, "link", link);
  AppendTextElement(item, "guid", link);
  AppendTextElement(item, "description", description);
  AppendTextElement(item, "pubDate", pubDate);
}
