#include "feed/xml_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kBad = "\xEF\xBF\xBD";  // U+FFFD

TEST(XmlTextTest, ReplacesEachIllFormedSequenceOnceAndDropsForbiddenCharacters) {
  const struct {
    std::string text;
    std::string made;
  } cases[] = {
      // Valid text, up to the last code point, stays as it is.
      {"plain \t\r\n\x7F\xC2\x80 \xEF\xBB\xBF \xEF\xBF\xBD \xF4\x8F\xBF\xBF \xED\x9F\xBF", ""},
      {"a\x80z", "a" + kBad + "z"},
      {"\xE2\x82z", kBad + "z"},                        // a truncated sequence is one replacement
      {"\xF0\x9F\x98", kBad},                           // also at the end
      {"\xC0\xAF", kBad + kBad},                        // overlong forms
      {"\xED\xA0\x80", kBad + kBad + kBad},             // surrogates
      {"\xF4\x90\x80\x80", kBad + kBad + kBad + kBad},  // beyond U+10FFFF
      {std::string("a\0b\x01\x1F", 5) + "c\xEF\xBF\xBE\xEF\xBF\xBF", "abc"},
  };
  for (const auto& test : cases) {
    std::string text = test.text;
    EXPECT_EQ(MakeXmlText(text), !test.made.empty()) << test.text;
    EXPECT_EQ(text, test.made.empty() ? test.text : test.made) << test.text;
  }
}

}  // namespace
