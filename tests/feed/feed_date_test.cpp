#include "feed/feed_date.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <iterator>
#include <random>
#include <string>
#include <tuple>

#include "feed/feed_item.h"

namespace {

FeedItem Dated(const std::string& pubDate) {
  return FeedItem("", "", "", pubDate, "");
}

bool HasLongDigitRun(const std::string& text) {
  int run = 0;
  for (char c : text) {
    run = (c >= '0' && c <= '9') ? run + 1 : 0;
    if (run > 9) {
      return true;
    }
  }
  return false;
}

std::tuple<int, int, int, int, int, int> Parts(const std::string& text) {
  FeedDate d = ParseFeedDate(text);
  return {d.day, d.month, d.year, d.hour, d.minute, d.second};
}

TEST(FeedDateTest, ReadsTheUsualForm) {
  EXPECT_EQ(Parts("Mon, 05 Jan 2009 10:20:30 +0300"), std::make_tuple(5, 1, 2009, 10, 20, 30));
  EXPECT_EQ(Parts("Mon, 5 Jan 2009 10:20:30 GMT"), Parts("Mon, 05 Jan 2009 10:20:30 GMT"));
  EXPECT_EQ(Parts("Sun, 31 Dec 2006 23:59:59 GMT"), std::make_tuple(31, 12, 2006, 23, 59, 59));
  // scanf skips any white space before a number or word, line ends included.
  EXPECT_EQ(Parts("  Mon,\t05\n Jan   2009  10:20:30"), std::make_tuple(5, 1, 2009, 10, 20, 30));
}

TEST(FeedDateTest, MonthWordsMatchWholeAndCaseSensitively) {
  const char* names[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(ParseFeedDate(std::string("Mon, 01 ") + names[i] + " 2009 00:00:00").month, i + 1);
  }
  for (const char* word : {"jan", "JAN", "January", "Sept", "sep", "Ja"}) {
    EXPECT_EQ(ParseFeedDate(std::string("Mon, 01 ") + word + " 2009 00:00:00").month, 0) << word;
  }
}

// Parts the text does not supply stay 0, so the same texts always compare the same way.
TEST(FeedDateTest, MissingPartsAreZero) {
  EXPECT_EQ(Parts(""), std::make_tuple(0, 0, 0, 0, 0, 0));
  // ISO 8601: the first word takes 11 characters, the hour then reads as the day.
  EXPECT_EQ(Parts("2009-01-05T10:20:30Z"), std::make_tuple(10, 0, 0, 0, 0, 0));
  EXPECT_EQ(Parts("05 Jan 2009 10:20:30"), std::make_tuple(0, 0, 0, 0, 0, 0));  // no weekday
  EXPECT_EQ(Parts("Mon, 05 Jan 2009"), std::make_tuple(5, 1, 2009, 0, 0, 0));
  EXPECT_EQ(Parts("Mon, 05 Jan 2009 10"), std::make_tuple(5, 1, 2009, 10, 0, 0));
  // A colon must follow the hour at once, as a literal in the format.
  EXPECT_EQ(Parts("Mon, 05 Jan 2009 10 :20:30"), std::make_tuple(5, 1, 2009, 10, 0, 0));
  EXPECT_EQ(Parts("Mon, -5 Jan +2009 10:-20:30"), std::make_tuple(-5, 1, 2009, 10, -20, 30));
  EXPECT_EQ(Parts("Mon, - Jan 2009"), std::make_tuple(0, 0, 0, 0, 0, 0));
}

// Words are held in 11 characters: a longer word is cut there and the scan goes on inside it,
// where a number is expected and not found.
TEST(FeedDateTest, LongWordsAreCutAtElevenCharacters) {
  const std::string longWord(40, 'W');
  EXPECT_EQ(Parts(longWord + " 05 Jan 2009 10:20:30"), std::make_tuple(0, 0, 0, 0, 0, 0));
  EXPECT_EQ(Parts("Mon, 05 " + longWord + " 2009 10:20:30"), std::make_tuple(5, 0, 0, 0, 0, 0));
  // Eleven characters and then digits: the digits are read as the day.
  EXPECT_EQ(Parts("Wednesday,,17 Jan 2009 10:20:30"), std::make_tuple(17, 1, 2009, 10, 20, 30));
  EXPECT_EQ(Parts("Mon, 05 Decemberxxx2009 10:20:30"), std::make_tuple(5, 0, 2009, 10, 20, 30));
}

TEST(FeedDateTest, HugeNumbersAreClampedTo32Bits) {
  EXPECT_EQ(ParseFeedDate("Mon, 99999999999999999999 Jan 2009").day, 2147483647);
  EXPECT_EQ(ParseFeedDate("Mon, -99999999999999999999 Jan 2009").day, -2147483647 - 1);
  EXPECT_EQ(ParseFeedDate("Mon, 1 Jan 2147483648").year, 2147483647);
}

// The C library's sscanf is the oracle for texts whose numbers stay within 32 bits.
TEST(FeedDateTest, AgreesWithSscanfOnRandomTexts) {
  std::mt19937 random(20091005);
  const std::string pieces[] = {"Mon,", "Jan",  "Sep",      "Dec",  "Wednesdayyyyy",
                                "05",   "2009", "10:20:30", ":",    "1",
                                "-7",   "+",    "-",        " ",    "\t",
                                "\n",   "GMT",  "x",        "12:3", "T",
                                "99",   "Sept"};
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    for (int n = random() % 9; n > 0; --n) {
      text += pieces[random() % std::size(pieces)];
      if (random() % 2) {
        text += ' ';
      }
    }
    if (HasLongDigitRun(text)) {
      continue;  // beyond 32 bits sscanf's result is undefined
    }
    int day = 0, year = 0, hour = 0, minute = 0, second = 0;
    char weekday[12] = "", month[12] = "";
    std::sscanf(text.c_str(), "%11s %d %11s %d %d:%d:%d", weekday, &day, month, &year, &hour,
                &minute, &second);
    FeedDate date = ParseFeedDate(text);
    EXPECT_EQ(std::make_tuple(date.day, date.year, date.hour, date.minute, date.second),
              std::make_tuple(day, year, hour, minute, second))
        << '"' << text << '"';
    int expectedMonth = std::string(month) == "Jan"   ? 1
                        : std::string(month) == "Sep" ? 9
                        : std::string(month) == "Dec" ? 12
                                                      : 0;
    EXPECT_EQ(date.month, expectedMonth) << '"' << text << '"';
  }
}

TEST(IsNewerTest, ComparesYearMonthDayAndTimeIgnoringZones) {
  EXPECT_TRUE(
      IsNewer(Dated("Mon, 05 Jan 2009 10:00:00 +0300"), Dated("Mon, 05 Jan 2009 09:30:00 GMT")));
  EXPECT_TRUE(
      IsNewer(Dated("Tue, 06 Jan 2009 00:00:00 GMT"), Dated("Mon, 05 Jan 2009 23:59:59 GMT")));
  EXPECT_TRUE(
      IsNewer(Dated("Sun, 01 Jan 2006 09:00:00 GMT"), Dated("Sat, 31 Dec 2005 10:00:00 GMT")));
  EXPECT_TRUE(IsNewer(Dated("Mon, 05 Jan 2009 10:00:01"), Dated("Mon, 05 Jan 2009 10:00:00")));
  EXPECT_FALSE(
      IsNewer(Dated("Mon, 05 Jan 2009 09:30:00 GMT"), Dated("Mon, 05 Jan 2009 10:00:00 +0300")));
}

TEST(IsNewerTest, EqualDatesAreNewerNeitherWay) {
  FeedItem a = Dated("Thu, 01 Jan 2009 00:00:00 GMT");
  FeedItem b = Dated("Fri, 01 Jan 2009 00:00:00 +0500");  // weekday and zone take no part
  EXPECT_FALSE(IsNewer(a, b));
  EXPECT_FALSE(IsNewer(b, a));
  EXPECT_FALSE(IsNewer(Dated(""), Dated("")));
}

TEST(IsNewerTest, UnknownMonthIsOlderThanJanuaryOfTheSameYear) {
  EXPECT_TRUE(IsNewer(Dated("Thu, 01 Jan 2009 00:00:00"), Dated("Tue, 30 Sept 2009 12:00:00")));
  EXPECT_TRUE(IsNewer(Dated("Thu, 01 Jan 2009 00:00:00"), Dated("Tue, 30 sep 2009 12:00:00")));
  EXPECT_TRUE(IsNewer(Dated("Tue, 30 sep 2009 12:00:00"), Dated("Wed, 31 Dec 2008 23:00:00")));
}

}  // namespace
