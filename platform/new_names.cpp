// New names beside a file: the same on every system, drawn from the system's random source.
#include <cstdint>
#include <cstdio>

#include "platform/file_system.h"
#include "platform/random_bytes.h"

namespace platform {

std::string CreateUnderNewName(const std::string& path,
                               const std::function<bool(const std::string& name)>& create) {
  for (int tries = 0; tries < kNewNameTries; ++tries) {
    // 64 random bits: another user cannot plant the name ahead of time, except by chance.
    std::uint64_t bits = 0;
    if (!FillRandomBytes(&bits, sizeof bits)) {
      return std::string();
    }
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%016llx", static_cast<unsigned long long>(bits));
    const std::string name = path + suffix;
    if (create(name)) {
      return name;
    }
  }
  return std::string();
}

}  // namespace platform
