#include "feed/xml_writing.h"

#include <tinyxml.h>

TiXmlNode* AppendElement(TiXmlNode* parent, const char* name) {
  return parent->LinkEndChild(new TiXmlElement(name));
}

void AppendTextElement(TiXmlNode* parent, const char* name, const std::string& text) {
  TiXmlNode* element = AppendElement(parent, name);
  element->LinkEndChild(new TiXmlText(text));
}
