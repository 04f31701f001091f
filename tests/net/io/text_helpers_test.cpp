#include "net/io/text_helpers.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Field `index` of `text`, or "<missing>" when splitField answers 1.
std::string Field(const char* text, const char* delimiters, int index, char quote = '\0',
                  int capacity = 64) {
  std::vector<char> out(static_cast<std::size_t>(capacity), '#');
  if (splitField(text, delimiters, index, out.data(), capacity, quote) != 0) {
    EXPECT_EQ(out[0], '\0') << "a field that is not handed out leaves out empty";
    return "<missing>";
  }
  return out.data();
}

TEST(SplitField, SeparatesAtRunsOfDelimiters) {
  EXPECT_EQ(Field("GET /index.html HTTP/1.0", " ", 0), "GET");
  EXPECT_EQ(Field("GET /index.html HTTP/1.0", " ", 1), "/index.html");
  EXPECT_EQ(Field("GET /index.html HTTP/1.0", " ", 2), "HTTP/1.0");
  EXPECT_EQ(Field("a,,b", ",", 1), "b");
  EXPECT_EQ(Field(",,a, ;b;", ", ;", 0), "a");  // leading delimiters make no empty field
  EXPECT_EQ(Field(",,a, ;b;", ", ;", 1), "b");
  EXPECT_EQ(Field("whole", "", 0), "whole");
}

TEST(SplitField, MissingFieldsAreNotFound) {
  EXPECT_EQ(Field("a,b,", ",", 2), "<missing>");  // a trailing delimiter adds no field
  EXPECT_EQ(Field("a b", " ", 5), "<missing>");
  EXPECT_EQ(Field("a b", " ", -1), "<missing>");
  EXPECT_EQ(Field("", " ", 0), "<missing>");
  EXPECT_EQ(Field("   ", " ", 0), "<missing>");
  EXPECT_EQ(Field(nullptr, " ", 0), "<missing>");
  EXPECT_EQ(Field("a b", nullptr, 0), "<missing>");
}

TEST(SplitField, NeverWritesPastCapacity) {
  // A canary after the buffer shows any write past it.
  char buffer[8];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(splitField("x abcd", " ", 1, buffer, 4), 1) << "4 characters need 5 bytes";
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(buffer[4], '#');
  EXPECT_EQ(splitField("x abc", " ", 1, buffer, 4), 0);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(buffer[4], '#');

  EXPECT_EQ(splitField("x", " ", 0, buffer, 0), 1);
  EXPECT_EQ(buffer[0], 'a') << "capacity 0 leaves the buffer alone";
  EXPECT_EQ(splitField("x", " ", 0, nullptr, 10), 1);
}

TEST(SplitField, QuotesKeepDelimitersInsideAField) {
  const char* line = R"(realm="my journal" nonce="x y z" qop)";
  EXPECT_EQ(Field(line, " ", 0, '"'), R"(realm="my journal")");
  EXPECT_EQ(Field(line, " ", 1, '"'), R"(nonce="x y z")");
  EXPECT_EQ(Field(line, " ", 2, '"'), "qop");
  EXPECT_EQ(Field(line, " ", 1), R"(journal")") << "without a quote character blanks split";
  // An unclosed quote runs to the end of the text.
  EXPECT_EQ(Field(R"(a "b c)", " ", 1, '"'), R"("b c)");
  EXPECT_EQ(Field(R"(a "b c)", " ", 2, '"'), "<missing>");
  // A quote character that is also a delimiter still opens a quoted run.
  EXPECT_EQ(Field(R"(a"b c" d)", "\" ", 0, '"'), R"(a"b c")");
}

TEST(SplitFieldInt, ReadsLikeAtoiWithinTheIntRange) {
  struct Case {
    const char* text;
    int expected;
  } cases[] = {
      {"HTTP/1.0 404 Not", 404},
      {"x  -17", -17},
      {"x +8", 8},
      {"x 12ab", 12},
      {"x abc", 0},
      {"x 2147483647", INT_MAX},
      {"x 2147483648", INT_MAX},
      {"x -2147483648", INT_MIN},
      {"x -99999999999999", INT_MIN},
  };
  for (const Case& c : cases) {
    int value = 123;
    EXPECT_EQ(splitFieldInt(c.text, " ", 1, value), 0) << c.text;
    EXPECT_EQ(value, c.expected) << c.text;
  }
  int value = 0;
  EXPECT_EQ(splitFieldInt("\t\v42", " ", 0, value), 0);
  EXPECT_EQ(value, 42) << "white space that is no delimiter is skipped as atoi does";
}

TEST(SplitFieldInt, LeavesValueAloneWithoutAField) {
  int value = 77;
  EXPECT_EQ(splitFieldInt("1 2", " ", 2, value), 1);
  EXPECT_EQ(splitFieldInt(nullptr, " ", 0, value), 1);
  EXPECT_EQ(splitFieldInt(std::string(60, '9').c_str(), " ", 0, value), 1);
  EXPECT_EQ(value, 77);
  EXPECT_EQ(splitFieldInt(std::string(59, '0').c_str(), " ", 0, value), 0);
  EXPECT_EQ(value, 0);
}

TEST(CountFields, CountsWhatSplitFieldFinds) {
  EXPECT_EQ(countFields("GET / HTTP/1.0", " "), 3);
  EXPECT_EQ(countFields("  a,, b ,", " ,"), 2);
  EXPECT_EQ(countFields("a", ""), 1);
  EXPECT_EQ(countFields(",,,", ","), 0);
  EXPECT_EQ(countFields("", ","), 0);
  EXPECT_EQ(countFields(nullptr, ","), 0);
  EXPECT_EQ(countFields("a", nullptr), 0);
}

TEST(LineEnds, StripRemovesOnlyTrailingLineEnds) {
  struct Case {
    const char* before;
    const char* after;
  } cases[] = {
      {"a\r\n", "a"},   {"a\n", "a"},   {"a\r", "a"},           {"\n", ""},
      {"\r\n", ""},     {"", ""},       {"ab", "ab"},           {"a\rb", "a\rb"},
      {"a\nb", "a\nb"}, {"a\n\r", "a"}, {"a\r\n\r\n", "a\r\n"},
  };
  for (const Case& c : cases) {
    std::string text = c.before;
    stripLineEnd(text.data());
    EXPECT_STREQ(text.c_str(), c.after) << "from \"" << c.before << '"';
  }
  stripLineEnd(nullptr);
}

TEST(LineEnds, EndsWithLineEnd) {
  EXPECT_TRUE(endsWithLineEnd("a\r\n"));
  EXPECT_TRUE(endsWithLineEnd("a\r"));
  EXPECT_TRUE(endsWithLineEnd("\n"));
  EXPECT_FALSE(endsWithLineEnd("a\r\nb"));
  EXPECT_FALSE(endsWithLineEnd(""));
  EXPECT_FALSE(endsWithLineEnd(nullptr));
}

TEST(EqualsIgnoringCase, ComparesLettersWithoutCaseAndNothingElse) {
  EXPECT_TRUE(equalsIgnoringCase("Location", "LOCATION"));
  EXPECT_TRUE(equalsIgnoringCase("", ""));
  EXPECT_FALSE(equalsIgnoringCase("Location", "Locations"));
  EXPECT_FALSE(equalsIgnoringCase("htm", "html"));
  EXPECT_FALSE(equalsIgnoringCase("a-b", "a_b"));
}

}  // namespace
