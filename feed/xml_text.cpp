#include "feed/xml_text.h"

#include <cctype>
#include <cstddef>
#include <cstring>

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD
constexpr std::size_t kLongestDeclaration = 1024;

bool StartsWithIgnoringCase(const std::string& text, std::size_t at, const char* prefix) {
  const std::size_t length = std::strlen(prefix);
  if (at > text.size() || text.size() - at < length) {
    return false;
  }
  for (std::size_t i = 0; i < length; ++i) {
    if (std::tolower(static_cast<unsigned char>(text[at + i])) !=
        std::tolower(static_cast<unsigned char>(prefix[i]))) {
      return false;
    }
  }
  return true;
}

bool IsXmlSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// The length of the well-formed UTF-8 sequence at `at`, or, when it is ill-formed, the negated
// length of its maximal ill-formed prefix (at least 1).
int SequenceLength(const unsigned char* p, std::size_t available) {
  const unsigned char lead = p[0];
  if (lead < 0x80) {
    return 1;
  }
  int length;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    low = lead == 0xE0 ? 0xA0 : 0x80;
    high = lead == 0xED ? 0x9F : 0xBF;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    low = lead == 0xF0 ? 0x90 : 0x80;
    high = lead == 0xF4 ? 0x8F : 0xBF;
  } else {
    return -1;
  }
  for (int i = 1; i < length; ++i) {
    if (static_cast<std::size_t>(i) >= available || p[i] < low || p[i] > high) {
      return -i;
    }
    low = 0x80;
    high = 0xBF;
  }
  return length;
}

// True for the characters XML 1.0 forbids that are well-formed UTF-8.
bool IsForbidden(const unsigned char* p, int length) {
  if (length == 1) {
    return p[0] < 0x20 && p[0] != '\t' && p[0] != '\n' && p[0] != '\r';
  }
  return length == 3 && p[0] == 0xEF && p[1] == 0xBF && (p[2] == 0xBE || p[2] == 0xBF);
}

}  // namespace

std::string DeclaredEncoding(const std::string& fileBytes) {
  std::size_t at = 0;
  while (at < fileBytes.size() && IsXmlSpace(fileBytes[at])) {
    ++at;
  }
  if (!StartsWithIgnoringCase(fileBytes, at, "<?xml")) {
    return std::string();
  }
  // Declarations are short: one that is not closed soon is not read.
  const std::size_t end = fileBytes.find("?>", at);
  if (end == std::string::npos || end - at > kLongestDeclaration) {
    return std::string();
  }
  const std::string declaration = fileBytes.substr(at, end - at);
  for (std::size_t name = declaration.find("encoding"); name != std::string::npos;
       name = declaration.find("encoding", name + 1)) {
    std::size_t p = name + 8;
    while (p < declaration.size() && IsXmlSpace(declaration[p])) {
      ++p;
    }
    if (p >= declaration.size() || declaration[p] != '=') {
      continue;
    }
    do {
      ++p;
    } while (p < declaration.size() && IsXmlSpace(declaration[p]));
    if (p >= declaration.size() || (declaration[p] != '"' && declaration[p] != '\'')) {
      continue;
    }
    const std::size_t close = declaration.find(declaration[p], p + 1);
    if (close != std::string::npos) {
      return declaration.substr(p + 1, close - p - 1);
    }
  }
  return std::string();
}

bool IsLegacyEncoding(const std::string& encoding) {
  return !encoding.empty() && !StartsWithIgnoringCase(encoding, 0, "UTF") &&
         !StartsWithIgnoringCase(encoding, 0, "UCS");
}

bool MakeXmlText(std::string& text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  std::string made;
  bool changed = false;
  std::size_t kept = 0;  // bytes before this are in `made`, or need no change
  std::size_t at = 0;
  while (at < size) {
    // Most text is ASCII that needs nothing: step over it quickly.
    if (bytes[at] >= 0x20 && bytes[at] < 0x80) {
      ++at;
      continue;
    }
    const int length = SequenceLength(bytes + at, size - at);
    if (length > 0 && !IsForbidden(bytes + at, length)) {
      at += static_cast<std::size_t>(length);
      continue;
    }
    if (!changed) {
      made.reserve(size + 16);
      changed = true;
    }
    made.append(text, kept, at - kept);
    if (length < 0) {
      made += kReplacement;
    }
    at += static_cast<std::size_t>(length < 0 ? -length : length);
    kept = at;
  }
  if (changed) {
    made.append(text, kept, size - kept);
    text.swap(made);
  }
  return changed;
}
