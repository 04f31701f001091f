#include "platform/posix/kernel/system_calls.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>

namespace platform {

bool WriteAll(int descriptor, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = RetryOnInterrupt(
        [&] { return ::write(descriptor, bytes.data() + done, bytes.size() - done); });
    if (written <= 0) {
      return false;
    }
    done += static_cast<std::size_t>(written);
  }
  return true;
}

int PollWithin(pollfd* watched, nfds_t count, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  return RetryOnInterrupt([&] {
    if (timeoutMs < 0) {
      return ::poll(watched, count, -1);
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return ::poll(watched, count, static_cast<int>(std::max<long long>(left.count(), 0)));
  });
}

}  // namespace platform
