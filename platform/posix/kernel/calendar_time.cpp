// Calendar time with the reentrant POSIX calls: gmtime and localtime share one static buffer.
#include "platform/calendar_time.h"

namespace platform {

bool UtcCalendarTime(std::time_t moment, std::tm& fields) {
  return ::gmtime_r(&moment, &fields) != nullptr;
}

bool LocalCalendarTime(std::time_t moment, std::tm& fields) {
  return ::localtime_r(&moment, &fields) != nullptr;
}

}  // namespace platform
