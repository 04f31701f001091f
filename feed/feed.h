#pragma once

#include <cstddef>
#include <list>
#include <string>
#include <utility>

#include "feed/feed_item.h"

class TiXmlNode;

/// One RSS channel: its channel fields and its items, as bytes exactly as read. The subclasses
/// differ only in how they read a parsed document and in what makes the result acceptable.
class Feed {
 public:
  using ItemList = std::list<FeedItem>;

  virtual ~Feed();

  /// True when the fields read are complete enough for the feed's entries to be used.
  virtual bool IsValid() const = 0;

  /// Fills the channel fields that `document` has a text for and appends its entries to items().
  /// Called once, on a fresh feed.
  virtual void Read(TiXmlNode* document) = 0;

  /// Each replaces the channel field it names.
  void SetTitle(std::string value) { title = std::move(value); }
  void SetLink(std::string value) { link = std::move(value); }
  void SetDescription(std::string value) { description = std::move(value); }
  void SetLanguage(std::string value) { language = std::move(value); }
  void SetPubDate(std::string value) { pubDate = std::move(value); }

  const std::string& Title() const { return title; }
  const std::string& Link() const { return link; }
  const std::string& Description() const { return description; }
  const std::string& Language() const { return language; }
  const std::string& PubDate() const { return pubDate; }
  const std::string& ImageUrl() const { return imageUrl; }
  const std::string& ImageWidth() const { return imageWidth; }
  const std::string& ImageHeight() const { return imageHeight; }

  /// The entries in order, for walking and for appending at the end.
  ItemList& items() { return itemList; }
  const ItemList& items() const { return itemList; }

  /// Removes all entries; the channel fields stay.
  void ClearItems() { itemList.clear(); }

  /// Orders the entries newest first by their pubDate; entries whose dates compare equal keep
  /// their order.
  void SortItems();

  /// Drops entries from the end, or appends empty ones, until there are exactly `count`.
  void ResizeItems(std::size_t count) { itemList.resize(count); }

  /// Appends to `document` the XML declaration and the feed as an RSS 2.0 "rss" element,
  /// whatever dialect it was read from.
  void WriteTo(TiXmlNode* document) const;

 protected:
  /// The channel rule shared by all dialects: title, link and description are all non-empty.
  bool HasChannelFields() const { return !title.empty() && !link.empty() && !description.empty(); }

  /// Reads the RSS 0.91, 0.92 and 2.0 layout: channel fields and items under "rss"/"channel".
  void ReadRssDocument(TiXmlNode* document);

  /// Reads the RSS 1.0 layout: channel under "rdf:RDF", items beside it.
  void ReadRdfDocument(TiXmlNode* document);

  std::string title;
  std::string link;
  std::string description;
  std::string language;
  std::string pubDate;
  std::string imageUrl;
  std::string imageWidth;
  std::string imageHeight;

 private:
  ItemList itemList;
};
