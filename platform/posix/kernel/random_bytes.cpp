// Random bytes from the kernel: getrandom, or /dev/urandom where the kernel lacks the call.
#include "platform/random_bytes.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/kernel/system_calls.h"

namespace platform {

namespace {

// Reads `length` bytes of /dev/urandom into `bytes`.
bool ReadUrandom(unsigned char* bytes, std::size_t length) {
  const int descriptor =
      RetryOnInterrupt([] { return ::open("/dev/urandom", O_RDONLY | O_CLOEXEC); });
  if (descriptor < 0) {
    return false;
  }
  std::size_t done = 0;
  while (done < length) {
    const ssize_t count =
        RetryOnInterrupt([&] { return ::read(descriptor, bytes + done, length - done); });
    if (count <= 0) {
      break;
    }
    done += static_cast<std::size_t>(count);
  }
  ::close(descriptor);
  return done == length;
}

}  // namespace

bool FillRandomBytes(void* buffer, std::size_t length) {
  unsigned char* bytes = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < length) {
    // Large requests may be answered in part.
    const ssize_t count =
        RetryOnInterrupt([&] { return ::getrandom(bytes + done, length - done, 0); });
    if (count < 0) {
      return errno == ENOSYS && ReadUrandom(bytes + done, length - done);
    }
    done += static_cast<std::size_t>(count);
  }
  return true;
}

}  // namespace platform
