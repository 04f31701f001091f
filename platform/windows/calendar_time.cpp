// Calendar time with the C runtime's checked calls: gmtime and localtime share one static
// buffer.
#include "platform/calendar_time.h"

namespace platform {

bool UtcCalendarTime(std::time_t moment, std::tm& fields) {
  return gmtime_s(&fields, &moment) == 0;
}

bool LocalCalendarTime(std::time_t moment, std::tm& fields) {
  return localtime_s(&fields, &moment) == 0;
}

}  // namespace platform
