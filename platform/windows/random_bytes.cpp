// Random bytes from the system's preferred generator (bcrypt).
#include "platform/random_bytes.h"

// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

#include <algorithm>

namespace platform {

bool FillRandomBytes(void* buffer, std::size_t length) {
  unsigned char* bytes = static_cast<unsigned char*>(buffer);
  // One call takes at most a ULONG's worth of bytes.
  while (length > 0) {
    const ULONG count = static_cast<ULONG>(std::min<std::size_t>(length, 1UL << 30));
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, bytes, count, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
      return false;
    }
    bytes += count;
    length -= count;
  }
  return true;
}

}  // namespace platform
