#include "platform/text_encoding.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Sample {
  const char* encoding;
  std::string bytes;
  std::string utf8;
};

TEST(TextEncodingTest, ConvertsTheLegacyEncodingsFeedsDeclare) {
  const Sample samples[] = {
      {"ISO-8859-1", "caf\xE9", "caf\xC3\xA9"},
      {"ISO-8859-15", "\xA4", "\xE2\x82\xAC"},
      {"ISO-8859-10", "\xBD", "\xE2\x80\x95"},  // horizontal bar; not every Windows has the page
      {"ISO8859-14", "\xA1", "\xE1\xB8\x82"},   // B with dot above  // euro sign
      {"Windows-1252", "\x80 \x93q\x94", "\xE2\x82\xAC \xE2\x80\x9Cq\xE2\x80\x9D"},
      {"windows-1251", "\xCF\xF0\xE8\xE2\xE5\xF2",
       "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
      {"koi8-r", "\xF0\xD2\xC9\xD7\xC5\xD4", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
      {"KOI8-U", "\xA4", "\xD1\x94"},  // Ukrainian ie
  };
  for (const Sample& sample : samples) {
    std::string utf8 = "old";
    EXPECT_TRUE(platform::ConvertToUtf8(sample.encoding, sample.bytes, utf8)) << sample.encoding;
    EXPECT_EQ(utf8, sample.utf8) << sample.encoding;
  }
  // Every name the contract promises is known, and keeps ASCII as it is.
  std::vector<std::string> names = {"KOI8-R", "KOI8-U"};
  for (int part = 1; part <= 15; ++part) {
    if (part != 12) {
      names.push_back("ISO-8859-" + std::to_string(part));
    }
  }
  for (int page = 1250; page <= 1258; ++page) {
    names.push_back("windows-" + std::to_string(page));
  }
  for (const std::string& name : names) {
    std::string utf8;
    EXPECT_TRUE(platform::ConvertToUtf8(name, "<a>\r\n", utf8)) << name;
    EXPECT_EQ(utf8, "<a>\r\n") << name;
  }
}

TEST(TextEncodingTest, UnknownEncodingsAreRefusedAndLeaveTheOutputAlone) {
  for (const char* name : {"", "x-no-such-encoding", "ISO-8859-1//IGNORE", "ISO-8859-99"}) {
    std::string utf8 = "old";
    EXPECT_FALSE(platform::ConvertToUtf8(name, "caf\xE9", utf8)) << name;
    EXPECT_EQ(utf8, "old");
  }
}

}  // namespace
