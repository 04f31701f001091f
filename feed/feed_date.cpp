#include "feed/feed_date.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <tuple>

#include "feed/feed_item.h"

namespace {

// The word buffers of the date format hold 11 characters and the terminator.
constexpr std::size_t kWordCapacity = 11;

const char* const kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Formatted input over a NUL-terminated text with the rules of scanf's %s, %d, white space and
// literal characters. Each read returns false on a mismatch; the caller then stops.
class DateScanner {
 public:
  explicit DateScanner(const char* text) : next_(text) {}

  bool ReadWord(char (&word)[kWordCapacity + 1]) {
    SkipSpace();
    std::size_t length = 0;
    while (length < kWordCapacity && *next_ != '\0' && !IsSpace(*next_)) {
      word[length++] = *next_++;
    }
    word[length] = '\0';
    return length > 0;
  }

  bool ReadNumber(int32_t& value) {
    SkipSpace();
    bool negative = *next_ == '-';
    if (*next_ == '-' || *next_ == '+') {
      ++next_;
    }
    if (!IsDigit(*next_)) {
      return false;
    }
    // Accumulate towards the limit of the sign so that the most negative value fits too.
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    int64_t magnitude = 0;
    while (IsDigit(*next_)) {
      magnitude = std::min(magnitude * 10 + (*next_++ - '0'), kLimit);
    }
    if (!negative) {
      magnitude = std::min<int64_t>(magnitude, std::numeric_limits<int32_t>::max());
    }
    value = static_cast<int32_t>(negative ? -magnitude : magnitude);
    return true;
  }

  bool Match(char literal) {
    if (*next_ != literal) {
      return false;
    }
    ++next_;
    return true;
  }

 private:
  void SkipSpace() {
    while (IsSpace(*next_)) {
      ++next_;
    }
  }

  const char* next_;
};

int32_t MonthNumber(const char* word) {
  for (int32_t i = 0; i < 12; ++i) {
    if (std::strcmp(word, kMonthNames[i]) == 0) {
      return i + 1;
    }
  }
  return 0;
}

}  // namespace

FeedDate ParseFeedDate(const std::string& text) {
  FeedDate date;
  DateScanner scan(text.c_str());
  char weekday[kWordCapacity + 1];
  char month[kWordCapacity + 1];
  // Each part is read only when all before it matched, as scanf does.
  if (!scan.ReadWord(weekday) || !scan.ReadNumber(date.day) || !scan.ReadWord(month)) {
    return date;
  }
  date.month = MonthNumber(month);
  if (scan.ReadNumber(date.year) && scan.ReadNumber(date.hour) && scan.Match(':') &&
      scan.ReadNumber(date.minute) && scan.Match(':')) {
    scan.ReadNumber(date.second);
  }
  return date;
}

bool IsNewer(const FeedItem& a, const FeedItem& b) {
  FeedDate x = ParseFeedDate(a.pubDate);
  FeedDate y = ParseFeedDate(b.pubDate);
  return std::tie(x.year, x.month, x.day, x.hour, x.minute, x.second) >
         std::tie(y.year, y.month, y.day, y.hour, y.minute, y.second);
}
