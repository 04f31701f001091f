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

// The ISO-8859 parts that Windows does not always have as code pages, as bytes 0xA0 to 0xFF in
// UTF-16 (U+FFFD where the part has no character); below 0xA0 every part is ISO-8859-1.
struct UpperHalf {
  UINT codePage;
  wchar_t characters[96];
};

constexpr UpperHalf kUpperHalves[] = {
    {28600,  // ISO-8859-10
     {0x00A0, 0x0104, 0x0112, 0x0122, 0x012A, 0x0128, 0x0136, 0x00A7, 0x013B, 0x0110, 0x0160,
      0x0166, 0x017D, 0x00AD, 0x016A, 0x014A, 0x00B0, 0x0105, 0x0113, 0x0123, 0x012B, 0x0129,
      0x0137, 0x00B7, 0x013C, 0x0111, 0x0161, 0x0167, 0x017E, 0x2015, 0x016B, 0x014B, 0x0100,
      0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x012E, 0x010C, 0x00C9, 0x0118, 0x00CB,
      0x0116, 0x00CD, 0x00CE, 0x00CF, 0x00D0, 0x0145, 0x014C, 0x00D3, 0x00D4, 0x00D5, 0x00D6,
      0x0168, 0x00D8, 0x0172, 0x00DA, 0x00DB, 0x00DC, 0x00DD, 0x00DE, 0x00DF, 0x0101, 0x00E1,
      0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x012F, 0x010D, 0x00E9, 0x0119, 0x00EB, 0x0117,
      0x00ED, 0x00EE, 0x00EF, 0x00F0, 0x0146, 0x014D, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x0169,
      0x00F8, 0x0173, 0x00FA, 0x00FB, 0x00FC, 0x00FD, 0x00FE, 0x0138}},
    {28601,  // ISO-8859-11
     {0x00A0, 0x0E01, 0x0E02, 0x0E03, 0x0E04, 0x0E05, 0x0E06, 0x0E07, 0x0E08, 0x0E09, 0x0E0A,
      0x0E0B, 0x0E0C, 0x0E0D, 0x0E0E, 0x0E0F, 0x0E10, 0x0E11, 0x0E12, 0x0E13, 0x0E14, 0x0E15,
      0x0E16, 0x0E17, 0x0E18, 0x0E19, 0x0E1A, 0x0E1B, 0x0E1C, 0x0E1D, 0x0E1E, 0x0E1F, 0x0E20,
      0x0E21, 0x0E22, 0x0E23, 0x0E24, 0x0E25, 0x0E26, 0x0E27, 0x0E28, 0x0E29, 0x0E2A, 0x0E2B,
      0x0E2C, 0x0E2D, 0x0E2E, 0x0E2F, 0x0E30, 0x0E31, 0x0E32, 0x0E33, 0x0E34, 0x0E35, 0x0E36,
      0x0E37, 0x0E38, 0x0E39, 0x0E3A, 0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD, 0x0E3F, 0x0E40, 0x0E41,
      0x0E42, 0x0E43, 0x0E44, 0x0E45, 0x0E46, 0x0E47, 0x0E48, 0x0E49, 0x0E4A, 0x0E4B, 0x0E4C,
      0x0E4D, 0x0E4E, 0x0E4F, 0x0E50, 0x0E51, 0x0E52, 0x0E53, 0x0E54, 0x0E55, 0x0E56, 0x0E57,
      0x0E58, 0x0E59, 0x0E5A, 0x0E5B, 0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}},
    {28604,  // ISO-8859-14
     {0x00A0, 0x1E02, 0x1E03, 0x00A3, 0x010A, 0x010B, 0x1E0A, 0x00A7, 0x1E80, 0x00A9, 0x1E82,
      0x1E0B, 0x1EF2, 0x00AD, 0x00AE, 0x0178, 0x1E1E, 0x1E1F, 0x0120, 0x0121, 0x1E40, 0x1E41,
      0x00B6, 0x1E56, 0x1E81, 0x1E57, 0x1E83, 0x1E60, 0x1EF3, 0x1E84, 0x1E85, 0x1E61, 0x00C0,
      0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7, 0x00C8, 0x00C9, 0x00CA, 0x00CB,
      0x00CC, 0x00CD, 0x00CE, 0x00CF, 0x0174, 0x00D1, 0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6,
      0x1E6A, 0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x00DD, 0x0176, 0x00DF, 0x00E0, 0x00E1,
      0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7, 0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC,
      0x00ED, 0x00EE, 0x00EF, 0x0175, 0x00F1, 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x1E6B,
      0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x00FD, 0x0177, 0x00FF}},
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

// `bytes` in `codePage` as UTF-16: through the system's code page where it has one, else
// through the upper halves above. False when neither knows the code page.
bool ToWide(UINT codePage, const std::string& bytes, std::wstring& wide) {
  if (!IsValidCodePage(codePage)) {
    for (const UpperHalf& half : kUpperHalves) {
      if (half.codePage == codePage) {
        wide.reserve(bytes.size());
        for (const char c : bytes) {
          const auto byte = static_cast<unsigned char>(c);
          wide += byte < 0xA0 ? static_cast<wchar_t>(byte) : half.characters[byte - 0xA0];
        }
        return true;
      }
    }
    return false;
  }
  // Bytes without a character become the system's replacement for them.
  const int size = static_cast<int>(bytes.size());
  const int length = MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
  if (length <= 0) {
    return false;
  }
  wide.assign(static_cast<std::size_t>(length), L'\0');
  return MultiByteToWideChar(codePage, 0, bytes.data(), size, wide.data(), length) == length;
}

}  // namespace

bool ConvertToUtf8(const std::string& encoding, const std::string& bytes, std::string& utf8) {
  const UINT codePage = CodePageOf(encoding);
  std::wstring wide;
  if (codePage == 0 || bytes.size() > 0x7FFFFFFF || !ToWide(codePage, bytes, wide)) {
    return false;
  }
  if (wide.empty()) {
    utf8.clear();
    return true;
  }
  const int wideLength = static_cast<int>(wide.size());
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
