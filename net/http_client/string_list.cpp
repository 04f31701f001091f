#include "net/http_client/string_list.h"

int StringList::append(const char* text) {
  if (text == nullptr) {
    return 0;
  }
  lines.push_back(std::make_unique<const std::string>(text));
  return 1;
}

int StringList::clear() {
  lines.clear();
  return 1;
}

int StringList::count() const {
  return static_cast<int>(lines.size());
}

const char* StringList::at(int index) const {
  return contains(index) ? lines[static_cast<std::size_t>(index)]->c_str() : nullptr;
}

int StringList::removeAt(int index) {
  if (!contains(index)) {
    return 0;
  }
  lines.erase(lines.begin() + index);
  return 1;
}

bool StringList::contains(int index) const {
  return index >= 0 && static_cast<std::size_t>(index) < lines.size();
}
