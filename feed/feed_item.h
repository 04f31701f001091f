#pragma once

#include <string>

class TiXmlNode;

/// One entry of a channel. All fields are bytes exactly as the XML library handed them out.
struct FeedItem {
  FeedItem() = default;
  FeedItem(std::string title, std::string link, std::string description, std::string pubDate,
           std::string security);

  /// Appends an "item" element with "title", "link", "guid" (the link again), "description" and
  /// "pubDate" as the last child of `parent`. `security` is never written.
  void WriteTo(TiXmlNode* parent) const;

  std::string title;
  std::string link;
  std::string description;
  std::string pubDate;
  std::string security;
};
