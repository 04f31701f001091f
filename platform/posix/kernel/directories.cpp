#include "platform/posix/kernel/directories.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace platform {
namespace {

constexpr std::size_t kMaxEntrySize = 1 << 20;

}  // namespace

std::string HomeDirectory() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home == '/') {
    return home;
  }
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  int failure;
  // An entry may need more room than the usual size: the buffer grows, within reason, until it
  // fits.
  while ((failure = getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found)) ==
             ERANGE &&
         buffer.size() < kMaxEntrySize) {
    buffer.resize(buffer.size() * 2);
  }
  return failure == 0 && found != nullptr && found->pw_dir != nullptr ? found->pw_dir : "";
}

std::string XdgBaseDirectory(const char* variable, const char* fallback) {
  const char* value = std::getenv(variable);
  if (value != nullptr && *value == '/') {
    return value;
  }
  const std::string home = HomeDirectory();
  return home.empty() ? std::string() : home + fallback;
}

bool MakeDirectories(const std::string& path, mode_t mode) {
  for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
    const std::string prefix = path.substr(0, end);
    if (mkdir(prefix.c_str(), mode) != 0 && errno != EEXIST) {
      return false;
    }
    if (end == std::string::npos) {
      return true;
    }
  }
}

}  // namespace platform
