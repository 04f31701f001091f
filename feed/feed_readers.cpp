#include "feed/feed_readers.h"

#include <tinyxml.h>

#include <algorithm>
#include <memory>
#include <string>

namespace {

// The default namespace that RSS 1.0 declares for its documents.
const char kRss10Namespace[] = "http://purl.org/rss/1.0/";

bool Passes(const FeedItem& item, ItemRule rule) {
  switch (rule) {
    case ItemRule::TitleAndLink:
      return !item.title.empty() && !item.link.empty();
    case ItemRule::TitleOrLink:
      return !item.title.empty() || !item.link.empty();
    default:
      return true;
  }
}

}  // namespace

template <FeedLayout layout, ItemRule rule>
bool DialectFeed<layout, rule>::IsValid() const {
  return HasChannelFields() && std::all_of(items().begin(), items().end(),
                                           [](const FeedItem& item) { return Passes(item, rule); });
}

template <FeedLayout layout, ItemRule rule>
void DialectFeed<layout, rule>::Read(TiXmlNode* document) {
  if (layout == FeedLayout::Rss) {
    ReadRssDocument(document);
  } else {
    ReadRdfDocument(document);
  }
}

template class DialectFeed<FeedLayout::Rss, ItemRule::TitleAndLink>;
template class DialectFeed<FeedLayout::Rss, ItemRule::Nothing>;
template class DialectFeed<FeedLayout::Rss, ItemRule::TitleOrLink>;
template class DialectFeed<FeedLayout::Rdf, ItemRule::TitleOrLink>;

std::unique_ptr<Feed> CreateFeed(TiXmlNode* document) {
  TiXmlHandle top(document);
  if (const TiXmlElement* rss = top.FirstChild("rss").ToElement()) {
    // An "rss" root with a version we do not know is not tried as RSS 1.0.
    const std::string* version = rss->Attribute(std::string("version"));
    if (version == nullptr) {
      return nullptr;
    }
    if (*version == "0.91") {
      return std::make_unique<Rss091Feed>();
    }
    if (*version == "0.92") {
      return std::make_unique<Rss092Feed>();
    }
    if (*version == "2.0") {
      return std::make_unique<Rss20Feed>();
    }
    return nullptr;
  }
  const TiXmlElement* rdf = top.FirstChild("rdf:RDF").ToElement();
  const std::string* space = rdf != nullptr ? rdf->Attribute(std::string("xmlns")) : nullptr;
  if (space != nullptr && *space == kRss10Namespace) {
    return std::make_unique<RdfFeed>();
  }
  return nullptr;
}
