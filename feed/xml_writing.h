#pragma once

#include <string>

class TiXmlNode;

/// Links a new, empty element named `name` as the last child of `parent` and returns it.
TiXmlNode* AppendElement(TiXmlNode* parent, const char* name);

/// Links a new element named `name` holding exactly one plain text node with `text`, even when
/// `text` is empty, as the last child of `parent`.
void AppendTextElement(TiXmlNode* parent, const char* name, const std::string& text);
