#include "net/http_client/text_helpers.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "net/http_client/base64_encoder.h"
#include "net/http_client/string_list.h"

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

TEST(StringListTest, KeepsCopiesInOrder) {
  StringList list;
  std::string text = "first";
  EXPECT_EQ(list.append(text.c_str()), 1);
  text[0] = 'X';
  EXPECT_EQ(list.append("second"), 1);
  EXPECT_EQ(list.append(nullptr), 0);
  ASSERT_EQ(list.count(), 2);
  EXPECT_STREQ(list.at(0), "first") << "the list keeps its own copy";
  EXPECT_STREQ(list.at(1), "second");
  EXPECT_EQ(list.at(2), nullptr);
  EXPECT_EQ(list.at(-1), nullptr);

  EXPECT_EQ(list.removeAt(2), 0);
  EXPECT_EQ(list.removeAt(-1), 0);
  EXPECT_EQ(list.removeAt(0), 1);
  ASSERT_EQ(list.count(), 1);
  EXPECT_STREQ(list.at(0), "second");
  EXPECT_EQ(list.clear(), 1);
  EXPECT_EQ(list.count(), 0);
  EXPECT_EQ(list.at(0), nullptr);
}

TEST(StringListTest, TextsStayPutWhileOthersComeAndGo) {
  StringList list;
  list.append("a");
  list.append("short");
  list.append("c");
  const char* kept = list.at(1);
  for (int i = 0; i < 1000; ++i) {
    list.append(std::to_string(i).c_str());
  }
  list.removeAt(0);
  list.removeAt(1);
  // Under ASan a moved or freed text fails here even when its bytes happen to survive.
  EXPECT_STREQ(kept, "short");
  EXPECT_EQ(list.at(0), kept);

  StringList moved = std::move(list);
  EXPECT_STREQ(kept, "short");
  EXPECT_EQ(moved.at(0), kept);
  EXPECT_EQ(moved.count(), 1000 + 1);
}

// The encoding of `bytes`, or "<too small>" when encode answers 0.
std::string Encoded(const std::string& bytes, int capacity = -1) {
  const int length = static_cast<int>(bytes.size());
  if (capacity < 0) {
    capacity = Base64Encoder::encodedCapacity(length);
  }
  std::vector<char> out(static_cast<std::size_t>(capacity) + 1, '#');
  const int done = Base64Encoder().encode(reinterpret_cast<const unsigned char*>(bytes.data()),
                                          length, out.data(), capacity);
  EXPECT_EQ(out.back(), '#') << "encode wrote past its capacity";
  if (done != 1) {
    EXPECT_EQ(done, 0);
    return "<too small>";
  }
  return out.data();
}

TEST(Base64EncoderTest, Rfc4648Vectors) {
  EXPECT_EQ(Encoded(""), "");
  EXPECT_EQ(Encoded("f"), "Zg==");
  EXPECT_EQ(Encoded("fo"), "Zm8=");
  EXPECT_EQ(Encoded("foo"), "Zm9v");
  EXPECT_EQ(Encoded("foob"), "Zm9vYg==");
  EXPECT_EQ(Encoded("fooba"), "Zm9vYmE=");
  EXPECT_EQ(Encoded("foobar"), "Zm9vYmFy");
  EXPECT_EQ(Encoded("abc"), "YWJj");
  EXPECT_EQ(Encoded("a"), "YQ==");
  EXPECT_EQ(Encoded("ab"), "YWI=");
  EXPECT_EQ(Encoded("Aladdin:open sesame"), "QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
}

TEST(Base64EncoderTest, BinaryBytesUseTheWholeAlphabet) {
  EXPECT_EQ(Encoded(std::string("\x00\x00\x00", 3)), "AAAA");
  EXPECT_EQ(Encoded("\xff\xff\xff"), "////");
  EXPECT_EQ(Encoded("\xfb\xef\xbe"), "++++");
  EXPECT_EQ(Encoded(std::string("\x00\x10\x83\x10\x51\x87\x20\x92\x8b\x30\xd3\x8f\x41\x14\x93"
                                "\x51\x55\x97\x61\x96\x9b\x71\xd7\x9f\x82\x18\xa3\x92\x59\xa7"
                                "\xa2\x9a\xab\xb2\xdb\xaf\xc3\x1c\xb3\xd3\x5d\xb7\xe3\x9e\xbb"
                                "\xf3\xdf\xbf",
                                48)),
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/");
}

TEST(Base64EncoderTest, RefusesAnOutBufferOneByteShort) {
  EXPECT_EQ(Base64Encoder::encodedCapacity(0), 1);
  EXPECT_EQ(Base64Encoder::encodedCapacity(1), 5);
  EXPECT_EQ(Base64Encoder::encodedCapacity(3), 5);
  EXPECT_EQ(Base64Encoder::encodedCapacity(4), 9);
  EXPECT_EQ(Base64Encoder::encodedCapacity(-1), 0);
  EXPECT_EQ(Base64Encoder::encodedCapacity(INT_MAX), 0) << "the encoding would not fit an int";

  EXPECT_EQ(Encoded("foobar", 9), "Zm9vYmFy");
  EXPECT_EQ(Encoded("foobar", 8), "<too small>");
  EXPECT_EQ(Encoded("foob", 9), "Zm9vYg==");
  EXPECT_EQ(Encoded("foob", 8), "<too small>");

  // What did fit is still a valid string.
  char out[8];
  EXPECT_EQ(Base64Encoder().encode(reinterpret_cast<const unsigned char*>("foobar"), 6, out, 8), 0);
  EXPECT_STREQ(out, "Zm9v");
  EXPECT_EQ(Base64Encoder().encode(reinterpret_cast<const unsigned char*>("f"), 1, out, 1), 0);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(Base64Encoder().encode(nullptr, 3, out, 8), 0);
  EXPECT_EQ(Base64Encoder().encode(reinterpret_cast<const unsigned char*>("f"), -1, out, 8), 0);
  EXPECT_EQ(Base64Encoder().encode(nullptr, 0, out, 1), 1);
  EXPECT_STREQ(out, "");
}

}  // namespace
