#pragma once

#include <memory>

#include "feed/feed.h"

class TiXmlNode;

/// How a dialect lays out its documents: RSS 0.9x and 2.0, or RSS 1.0 (RDF).
enum class FeedLayout { Rss, Rdf };
/// What every item of a valid feed must have besides the channel rule.
enum class ItemRule { Nothing, TitleAndLink, TitleOrLink };

/// A feed dialect: reads the documents of `layout`, and is valid when the channel rule holds and
/// every item passes `rule`. Defined for the four dialects below only.
template <FeedLayout layout, ItemRule rule>
class DialectFeed : public Feed {
 public:
  bool IsValid() const override;
  void Read(TiXmlNode* document) override;
};

/// RSS 0.91: every item needs a title and a link.
class Rss091Feed : public DialectFeed<FeedLayout::Rss, ItemRule::TitleAndLink> {};
/// RSS 0.92: only the channel is checked.
class Rss092Feed : public DialectFeed<FeedLayout::Rss, ItemRule::Nothing> {};
/// RSS 2.0, also the dialect of the merged feed: no item may lack both title and link.
class Rss20Feed : public DialectFeed<FeedLayout::Rss, ItemRule::TitleOrLink> {};
/// RSS 1.0 (RDF): accepted like RSS 2.0.
class RdfFeed : public DialectFeed<FeedLayout::Rdf, ItemRule::TitleOrLink> {};

/// Recognises the dialect of a parsed document and returns a new, empty feed of the matching
/// class, or nullptr when the document is not a feed this program reads.
std::unique_ptr<Feed> CreateFeed(TiXmlNode* document);
