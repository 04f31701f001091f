// Legacy encodings to UTF-8 through the system's code pages.
#include "platform/text_encoding.h"

#include <windows.h>

#include <cctype>
#include <cstring>

namespace platform {

namespace {

struct NamedCodePage {
  const char* name;
  UINT codePage;
};

// The names feeds declare, as registered for the character sets, with their usual aliases.
constexpr NamedCodePage kCodePages[] = {
    {"ISO-8859-1", 28591},  {"ISO-8859-2", 28592},  {"ISO-8859-3", 28593},  {"ISO-8859-4", 28594},
    {"ISO-8859-5", 28595},  {"ISO-8859-6", 28596},  {"ISO-8859-7", 28597},  {"ISO-8859-8", 28598},
    {"ISO-8859-9", 28599},  {"ISO-8859-10", 28600}, {"ISO-8859-11", 28601}, {"ISO-8859-13", 28603},
    {"ISO-8859-14", 28604}, {"ISO-8859-15", 28605}, {"latin1", 28591},      {"windows-1250", 1250},
    {"windows-1251", 1251}, {"windows-1252", 1252}, {"windows-1253", 1253}, {"windows-1254", 1254},
    {"windows-1255", 1255}, {"windows-1256", 1256}, {"windows-1257", 1257}, {"windows-1258", 1258},
    {"cp1250", 1250},       {"cp1251", 1251},       {"cp1252", 1252},       {"cp1253", 1253},
    {"cp1254", 1254},       {"cp1255", 1255},       {"cp1256", 1256},       {"cp1257", 1257},
    {"cp1258", 1258},       {"KOI8-R", 20866},      {"KOI8-U", 21866},      {"US-ASCII", 20127},
    {"Shift_JIS", 932},     {"GB2312", 936},        {"GBK", 936},           {"Big5", 950},
    {"EUC-KR", 949},
};

bool SameName(const std::string& a, const char* b) {
  if (a.size() != std::strlen(b)) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// The code page of `encoding`, or 0 when the table does not name it.
UINT CodePageOf(const std::string& encoding) {
  for (const NamedCodePage& entry : kCodePages) {
    if (SameName(encoding, entry.name)) {
      return entry.codePage;
    }
  }
  // "ISO8859-1" and "ISO_8859-1" are spelled without the first hyphen.
  if (encoding.size() > 7 && SameName(encoding.substr(0, 7), "ISO8859")) {
    return CodePageOf("ISO-8859" + encoding.substr(7));
  }
  if (encoding.size() > 8 && SameName(encoding.substr(0, 8), "ISO_8859")) {
    return CodePageOf("ISO-8859" + encoding.substr(8));
  }
  return 0;
}

}  // namespace

bool ConvertToUtf8(const std::string& encoding, const std::string& bytes, std::string& utf8) {
  const UINT codePage = CodePageOf(encoding);
  if (codePage == 0 || !IsValidCodePage(codePage) || bytes.size() > 0x7FFFFFFF) {
    return false;
  }
  if (bytes.empty()) {
    utf8.clear();
    return true;
  }
  // Bytes without a character become the system's replacement for them, U+FFFD for UTF-8.
  const int size = static_cast<int>(bytes.size());
  const int wideLength = MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
  if (wideLength <= 0) {
    return false;
  }
  std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
  if (MultiByteToWideChar(codePage, 0, bytes.data(), size, wide.data(), wideLength) != wideLength) {
    return false;
  }
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
  if (length <= 0) {
    return false;
  }
  std::string converted(static_cast<std::size_t>(length), '\0');
  if (WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, converted.data(), length, nullptr,
                          nullptr) != length) {
    return false;
  }
  utf8.swap(converted);
  return true;
}

}  // namespace platform
