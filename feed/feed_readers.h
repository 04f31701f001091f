#pragma once

#include <memory>

#include "feed/feed.h"

class TiXmlNode;

/// RSS 0.91: every item needs a title and a link.
class Rss091Feed : public Feed {
 public:
  bool IsValid() const override;
  void Read(TiXmlNode* document) override;
};

/// RSS 0.92: only the channel is checked.
class Rss092Feed : public Feed {
 public:
  bool IsValid() const override;
  void Read(TiXmlNode* document) override;
};

/// RSS 2.0, also the dialect of the merged feed: no item may lack both title and link.
class Rss20Feed : public Feed {
 public:
  bool IsValid() const override;
  void Read(TiXmlNode* document) override;
};

/// RSS 1.0 (RDF): accepted like RSS 2.0.
class RdfFeed : public Feed {
 public:
  bool IsValid() const override;
  void Read(TiXmlNode* document) override;
};

/// Recognises the dialect of a parsed document and returns a new, empty feed of the matching
/// class, or nullptr when the document is not a feed this program reads.
std::unique_ptr<Feed> CreateFeed(TiXmlNode* document);
