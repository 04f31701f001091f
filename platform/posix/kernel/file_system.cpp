#include "platform/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>

#include "platform/posix/kernel/system_calls.h"

namespace platform {
namespace {

std::FILE* CreateNewWithMode(const std::string& path, mode_t mode) {
  // O_EXCL refuses an existing name, links included, so nothing planted there gets written through.
  int fd = RetryOnInterrupt(
      [&] { return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode); });
  if (fd < 0) {
    return nullptr;
  }
  std::FILE* file = ::fdopen(fd, "w");
  if (file == nullptr) {
    ::close(fd);
  }
  return file;
}

}  // namespace

std::FILE* CreateNewFile(const std::string& path) {
  return CreateNewWithMode(path, 0666);
}

std::FILE* CreateNewTextFile(const std::string& path) {
  return CreateNewWithMode(path, 0666);  // text is the bytes as written here
}

std::FILE* CreateNewPrivateFile(const std::string& path) {
  return CreateNewWithMode(path, 0600);
}

bool ReplaceFile(const std::string& from, const std::string& to) {
  // The data reach the disk before the name: a crash right after the rename must not leave `to`
  // naming a file whose blocks were never written. Opening never waits on a FIFO put there.
  const int fd = RetryOnInterrupt(
      [&] { return ::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK); });
  if (fd < 0) {
    return false;
  }
  const bool synced = RetryOnInterrupt([fd] { return ::fsync(fd); }) == 0;
  ::close(fd);
  return synced && std::rename(from.c_str(), to.c_str()) == 0;
}

bool RemoveFile(const std::string& path) {
  return ::unlink(path.c_str()) == 0;
}

bool RealDirectoryPath(const char* path, std::string& real) {
  if (path == nullptr) {
    return false;
  }
  char resolved[PATH_MAX];
  struct stat status {};
  if (::realpath(path, resolved) == nullptr || ::stat(resolved, &status) != 0 ||
      !S_ISDIR(status.st_mode)) {
    return false;
  }
  real = resolved;
  if (real.empty() || real.back() != kDirectorySeparator) {
    real += kDirectorySeparator;
  }
  return true;
}

}  // namespace platform
