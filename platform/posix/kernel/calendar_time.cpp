// Calendar time. UTC is split by arithmetic: gmtime_r takes the C library's time zone lock on
// every call, which the server's threads would queue for twice a request. Local time needs the
// zone's rules, so it goes through localtime_r.
#include "platform/calendar_time.h"

#include <climits>
#include <cstdint>

namespace platform {
namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
constexpr int kDaysBeforeMonth[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};

bool IsLeapYear(std::int64_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

}  // namespace

bool UtcCalendarTime(std::time_t moment, std::tm& fields) {
  std::int64_t days = static_cast<std::int64_t>(moment) / kSecondsPerDay;
  std::int64_t seconds = static_cast<std::int64_t>(moment) % kSecondsPerDay;
  if (seconds < 0) {
    seconds += kSecondsPerDay;
    --days;
  }
  // The civil date of a day count since 1970-01-01, in eras of 400 years from 0000-03-01, so
  // that the leap day comes last in each year of the count.
  const std::int64_t shifted = days + 719468;
  const std::int64_t era = (shifted >= 0 ? shifted : shifted - 146096) / 146097;
  const std::int64_t dayOfEra = shifted - era * 146097;
  const std::int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
  const std::int64_t month = monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9;
  const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  if (year - 1900 > INT_MAX || year - 1900 < INT_MIN) {
    return false;
  }
  fields = std::tm{};
  fields.tm_sec = static_cast<int>(seconds % 60);
  fields.tm_min = static_cast<int>(seconds / 60 % 60);
  fields.tm_hour = static_cast<int>(seconds / 3600);
  fields.tm_mday = static_cast<int>(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
  fields.tm_mon = static_cast<int>(month - 1);
  fields.tm_year = static_cast<int>(year - 1900);
  fields.tm_wday = static_cast<int>(((days + 4) % 7 + 7) % 7);  // 1970-01-01 was a Thursday
  fields.tm_yday = kDaysBeforeMonth[fields.tm_mon] + fields.tm_mday - 1 +
                   (fields.tm_mon > 1 && IsLeapYear(year) ? 1 : 0);
  return true;
}

bool LocalCalendarTime(std::time_t moment, std::tm& fields) {
  return ::localtime_r(&moment, &fields) != nullptr;
}

}  // namespace platform
