#include "net/io/data_source.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Bytes read per step of find; a long text gets a window twice its length so that every step
// still moves on by at least the text's length.
constexpr int kFindWindow = 4095;

void UpperCase(char* begin, char* end) {
  std::transform(begin, end, begin, [](char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  });
}

// Where `pattern` first occurs in the `length` bytes of `window`, or npos. Searches by length:
// NUL bytes in the data are ordinary bytes.
std::size_t SearchWindow(char* window, int length, const std::string& pattern, bool caseSensitive) {
  if (!caseSensitive) {
    UpperCase(window, window + length);
  }
  return std::string_view(window, static_cast<std::size_t>(length)).find(pattern);
}

// What find looks for: `text`, upper-cased unless the search is case-sensitive; nullopt when
// `text` cannot be found under the given limit or is not 1 to kMaxFindText bytes long.
std::optional<std::string> Pattern(const char* text, bool caseSensitive, int limit) {
  if (text == nullptr) {
    return std::nullopt;
  }
  const std::size_t length = std::strlen(text);
  if (length == 0 || length > static_cast<std::size_t>(DataSource::kMaxFindText) ||
      (limit > 0 && static_cast<std::size_t>(limit) < length)) {
    return std::nullopt;
  }
  std::string pattern(text, length);
  if (!caseSensitive) {
    UpperCase(pattern.data(), pattern.data() + pattern.size());
  }
  return pattern;
}

}  // namespace

int DataSource::find(const char* text, int start, bool caseSensitive, int limit) {
  const std::optional<std::string> found = Pattern(text, caseSensitive, limit);
  if (!found) {
    return -1;
  }
  const std::string& pattern = *found;
  const int patternLength = static_cast<int>(pattern.size());
  std::vector<char> window(static_cast<std::size_t>(std::max(kFindWindow, 2 * patternLength)));
  const int windowSize = static_cast<int>(window.size());

  std::int64_t position = seek(start, 0);
  if (position < 0) {
    return -1;
  }
  int length = read(window.data(), windowSize);
  // A window no longer than the text can only be the text itself; a later one that is has been
  // searched already as the overlap of the one before, so the end has been reached.
  while (length >= patternLength) {
    const std::size_t offset = SearchWindow(window.data(), length, pattern, caseSensitive);
    if (offset != std::string::npos) {
      const std::int64_t match = position + static_cast<std::int64_t>(offset);
      return (limit > 0 && match - start > limit) || match > INT_MAX ? -1 : static_cast<int>(match);
    }
    if (length == patternLength) {
      break;
    }
    // Consecutive windows overlap by the text's length, so a match across their border is whole
    // in the next one.
    position += length - patternLength;
    if ((limit > 0 && position - start > limit) || position > INT_MAX ||
        seek(static_cast<int>(position), 0) < 0) {
      return -1;
    }
    length = read(window.data(), windowSize);
  }
  return -1;
}
