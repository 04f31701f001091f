#pragma once

// The system-call chores every POSIX file of the layer shares: a call interrupted by a signal is
// made again, a write goes on until every byte is out, a poll keeps to its time limit.

#include <poll.h>

#include <cerrno>
#include <string>

namespace platform {

/// Makes `call` (a system call returning a negative value on failure, with errno set) until it
/// fails with something other than EINTR or succeeds; returns its last result, errno as it left it.
template <typename Call>
auto RetryOnInterrupt(Call call) -> decltype(call()) {
  for (;;) {
    const auto result = call();
    if (!(result < 0 && errno == EINTR)) {
      return result;
    }
  }
}

/// Writes all of `bytes` to `descriptor`, over partial writes and interruptions. False when a
/// write fails (errno says why) or writes nothing.
bool WriteAll(int descriptor, const std::string& bytes);

/// poll() over `watched`, waiting at most `timeoutMs` in all (-1: without limit): an
/// interruption waits again for the time left only. The number of ready descriptors, 0 when the
/// time ran out, -1 with errno on failure.
int PollWithin(pollfd* watched, nfds_t count, int timeoutMs);

}  // namespace platform
