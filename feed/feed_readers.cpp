#include "feed/feed_readers.h"

#include <tinyxml.h>

#include <algorithm>
#include <memory>
#include <string>

namespace {

// The default namespace that RSS 1.0 declares for its documents.
const char kRss10Namespace[] = "http://purl.org/rss/1.0/";

bool HasTitleAndLink(const FeedItem& item) {
  return !item.title.empty() && !item.link.empty();
}

bool HasTitleOrLink(const FeedItem& item) {
  return !item.title.empty() || !item.link.empty();
}

template <typename Rule>
bool AllItems(const Feed::ItemList& items, Rule rule) {
  return std::all_of(items.begin(), items.end(), rule);
}

}  // namespace

bool Rss091Feed::IsValid() const {
  return HasChannelFields() && AllItems(items(), HasTitleAndLink);
}
void Rss091Feed::Read(TiXmlNode* document) {
  ReadRssDocument(document);
}

bool Rss092Feed::IsValid() const {
  return HasChannelFields();
}
void Rss092Feed::Read(TiXmlNode* document) {
  ReadRssDocument(document);
}

bool Rss20Feed::IsValid() const {
  return HasChannelFields() && AllItems(items(), HasTitleOrLink);
}
void Rss20Feed::Read(TiXmlNode* document) {
  ReadRssDocument(document);
}

bool RdfFeed::IsValid() const {
  return HasChannelFields() && AllItems(items(), HasTitleOrLink);
}
void RdfFeed::Read(TiXmlNode* document) {
  ReadRdfDocument(document);
}

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
