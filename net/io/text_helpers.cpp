#include "net/io/text_helpers.h"

#include <array>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

/// Walks the fields of a text one by one, with the delimiters kept in a table so that each
/// character costs the same however many delimiters there are.
class FieldScanner {
 public:
  FieldScanner(const char* text, const char* delimiters, char quoteCharacter)
      : position(text), quote(quoteCharacter) {
    for (const char* d = delimiters; *d != '\0'; ++d) {
      isDelimiter[static_cast<unsigned char>(*d)] = true;
    }
    // A quote character must open a quoted run, not end a field.
    if (quote != '\0') {
      isDelimiter[static_cast<unsigned char>(quote)] = false;
    }
  }

  /// Moves to the next field and sets `start` and `length`; false when no field is left.
  bool next(const char*& start, std::size_t& length) {
    while (*position != '\0' && delimiterAt(position)) {
      ++position;
    }
    if (*position == '\0') {
      return false;
    }
    start = position;
    bool quoted = false;
    while (*position != '\0' && (quoted || !delimiterAt(position))) {
      if (quote != '\0' && *position == quote) {
        quoted = !quoted;
      }
      ++position;
    }
    length = static_cast<std::size_t>(position - start);
    return true;
  }

 private:
  bool delimiterAt(const char* p) const { return isDelimiter[static_cast<unsigned char>(*p)]; }

  std::array<bool, UCHAR_MAX + 1> isDelimiter{};
  const char* position;
  char quote;
};

bool isLineEnd(char c) {
  return c == '\r' || c == '\n';
}

}  // namespace

int splitField(const char* text, const char* delimiters, int index, char* out, int capacity,
               char quote) {
  if (out != nullptr && capacity > 0) {
    out[0] = '\0';
  }
  if (text == nullptr || delimiters == nullptr || index < 0) {
    return 1;
  }
  FieldScanner scanner(text, delimiters, quote);
  const char* start = nullptr;
  std::size_t length = 0;
  for (int number = 0; scanner.next(start, length); ++number) {
    if (number < index) {
      continue;
    }
    if (out == nullptr || capacity <= 0 || length > static_cast<std::size_t>(capacity - 1)) {
      return 1;
    }
    std::memcpy(out, start, length);
    out[length] = '\0';
    return 0;
  }
  return 1;
}

int splitFieldInt(const char* text, const char* delimiters, int index, int& value) {
  char field[60];
  if (splitField(text, delimiters, index, field, sizeof field) != 0) {
    return 1;
  }
  // strtoll saturates instead of overflowing, and 59 digits are far beyond its range anyway.
  const long long number = std::strtoll(field, nullptr, 10);
  if (number > INT_MAX) {
    value = INT_MAX;
  } else if (number < INT_MIN) {
    value = INT_MIN;
  } else {
    value = static_cast<int>(number);
  }
  return 0;
}

int countFields(const char* text, const char* delimiters) {
  if (text == nullptr || delimiters == nullptr) {
    return 0;
  }
  FieldScanner scanner(text, delimiters, '\0');
  const char* start = nullptr;
  std::size_t length = 0;
  int count = 0;
  while (scanner.next(start, length)) {
    ++count;
  }
  return count;
}

void stripLineEnd(char* text) {
  if (text == nullptr) {
    return;
  }
  std::size_t length = std::strlen(text);
  // Only a line end at the very end goes; a CR inside the text is data and stays.
  for (int removed = 0; removed < 2 && length > 0 && isLineEnd(text[length - 1]); ++removed) {
    text[--length] = '\0';
  }
}

bool endsWithLineEnd(const char* text) {
  if (text == nullptr || text[0] == '\0') {
    return false;
  }
  return isLineEnd(text[std::strlen(text) - 1]);
}

bool equalsIgnoringCase(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    if (std::tolower(static_cast<unsigned char>(*a)) !=
        std::tolower(static_cast<unsigned char>(*b))) {
      return false;
    }
  }
  return *a == *b;
}
