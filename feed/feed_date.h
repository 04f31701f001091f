#pragma once

#include <cstdint>
#include <string>

struct FeedItem;

/// The parts of a pubDate text such as "Mon, 05 Jan 2009 10:00:00 +0300", as read for comparing.
/// A part that the text does not supply is 0; the zone is not read.
struct FeedDate {
  int32_t day = 0;
  int32_t month = 0;  ///< 1 to 12 for "Jan" to "Dec", 0 for any other month word
  int32_t year = 0;
  int32_t hour = 0;
  int32_t minute = 0;
  int32_t second = 0;
};

/// Reads `text` the way scanf reads it with "%s %d %s %d %d:%d:%d", each word limited to 11
/// characters: scanning stops at the first part that does not fit, and the rest stay 0. A word
/// longer than 11 characters is cut there, and the scan goes on inside it. Numbers beyond the
/// 32-bit range are clamped to it. Never fails.
FeedDate ParseFeedDate(const std::string& text);

/// True when the pubDate of `a` is strictly later than that of `b`, comparing year, month, day,
/// hour, minute and second in that order. Time zones are ignored.
bool IsNewer(const FeedItem& a, const FeedItem& b);
