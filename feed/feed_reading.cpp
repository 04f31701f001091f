// Reading parsed documents into a Feed. Every path takes the first child of the given name at each
// step, so a missing element anywhere on the way simply yields no text.
#include <tinyxml.h>

#include "feed/feed.h"

namespace {

// An element's text is its first child when that child is a text node (plain or CDATA); an
// element that is missing, empty or starts with another kind of node has none.
const std::string* TextOf(TiXmlHandle element) {
  const TiXmlText* text = element.Child(0).ToText();
  return text != nullptr ? &text->ValueStr() : nullptr;
}

void AssignText(std::string& field, TiXmlHandle element) {
  if (const std::string* text = TextOf(element)) {
    field = *text;
  }
}

std::string TextOrEmpty(TiXmlHandle element) {
  const std::string* text = TextOf(element);
  return text != nullptr ? *text : std::string();
}

std::string AttributeOrEmpty(const TiXmlElement* element, const char* name) {
  const std::string* value = element->Attribute(std::string(name));
  return value != nullptr ? *value : std::string();
}

}  // namespace

void Feed::ReadRssDocument(TiXmlNode* document) {
  TiXmlHandle channel = TiXmlHandle(document).FirstChild("rss").FirstChild("channel");
  AssignText(title, channel.FirstChild("title"));
  AssignText(link, channel.FirstChild("link"));
  AssignText(description, channel.FirstChild("description"));
  AssignText(language, channel.FirstChild("language"));
  AssignText(pubDate, channel.FirstChild("pubDate"));
  TiXmlHandle image = channel.FirstChild("image");
  AssignText(imageUrl, image.FirstChild("url"));
  AssignText(imageWidth, image.FirstChild("width"));
  AssignText(imageHeight, image.FirstChild("height"));

  // Every element after the first "item" is read as an item, whatever its name.
  for (TiXmlElement* entry = channel.FirstChild("item").ToElement(); entry != nullptr;
       entry = entry->NextSiblingElement()) {
    TiXmlHandle item(entry);
    items().emplace_back(
        TextOrEmpty(item.FirstChild("title")), TextOrEmpty(item.FirstChild("link")),
        TextOrEmpty(item.FirstChild("description")), TextOrEmpty(item.FirstChild("pubDate")),
        TextOrEmpty(item.FirstChild("zarnik:security")));
  }
}

void Feed::ReadRdfDocument(TiXmlNode* document) {
  TiXmlHandle root = TiXmlHandle(document).FirstChild("rdf:RDF");
  TiXmlHandle channel = root.FirstChild("channel");
  if (const TiXmlElement* channelElement = channel.ToElement()) {
    if (const std::string* about = channelElement->Attribute(std::string("rdf:about"))) {
      link = *about;
    }
  }
  AssignText(title, channel.FirstChild("title"));
  AssignText(description, channel.FirstChild("description"));

  // RSS 1.0 keeps its items beside the channel, as children of "rdf:RDF".
  for (TiXmlElement* entry = root.FirstChild("item").ToElement(); entry != nullptr;
       entry = entry->NextSiblingElement()) {
    TiXmlHandle item(entry);
    items().emplace_back(TextOrEmpty(item.FirstChild("title")),
                         AttributeOrEmpty(entry, "rdf:about"),
                         TextOrEmpty(item.FirstChild("description")),
                         TextOrEmpty(item.FirstChild("pubDate")), "default");
  }
}
