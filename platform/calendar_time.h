#pragma once

#include <ctime>

namespace platform {

/// Splits `moment` into its calendar fields in UTC. Safe to call from many threads at once.
/// False when the moment cannot be represented.
bool UtcCalendarTime(std::time_t moment, std::tm& fields);

/// Splits `moment` into its calendar fields in the local time zone. Safe to call from many threads
/// at once. False when the moment cannot be represented.
bool LocalCalendarTime(std::time_t moment, std::tm& fields);

}  // namespace platform
