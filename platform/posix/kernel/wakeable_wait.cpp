#include "platform/posix/kernel/wakeable_wait.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "platform/posix/kernel/system_calls.h"

namespace platform {

std::unique_ptr<WakeableWait> WakeableWait::Create() {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
    return nullptr;
  }
  return std::unique_ptr<WakeableWait>(new WakeableWait(ends[0], ends[1]));
}

WakeableWait::~WakeableWait() {
  close(readEnd_);
  close(writeEnd_);
}

WakeableWait::Result WakeableWait::WaitReadable(int descriptor, int timeoutMs) {
  pollfd watched[2] = {{readEnd_, POLLIN, 0}, {descriptor, POLLIN, 0}};
  const int ready = PollWithin(watched, 2, timeoutMs);
  if (ready < 0) {
    return Result::kFailed;
  }
  if (watched[0].revents != 0) {
    return Result::kWoken;
  }
  return ready == 0 ? Result::kTimedOut : Result::kReadable;
}

void WakeableWait::Wake() {
  // The byte stays in the pipe, so that every later wait ends at once as well; with the pipe
  // full, enough bytes stay.
  const char wake = 0;
  RetryOnInterrupt([&] { return write(writeEnd_, &wake, 1); });
}

}  // namespace platform
