#include "net/io/deadline.h"

Deadline Deadline::in(long milliseconds) {
  Deadline deadline;
  deadline.set_ = true;
  deadline.at_ = Clock::now() + std::chrono::milliseconds(milliseconds);
  return deadline;
}

bool Deadline::passed() const {
  return set_ && Clock::now() >= at_;
}

bool Deadline::bound(long& seconds, long& microseconds) const {
  if (!set_) {
    return true;
  }
  const auto left = std::chrono::duration_cast<std::chrono::microseconds>(at_ - Clock::now());
  if (left.count() <= 0) {
    return false;
  }
  const long long asked = static_cast<long long>(seconds) * 1000000 + microseconds;
  if (left.count() < asked) {
    seconds = static_cast<long>(left.count() / 1000000);
    microseconds = static_cast<long>(left.count() % 1000000);
  }
  return true;
}
