#include "fuzz/scratch_folder.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "fuzz/fuzz_check.h"

namespace {

// A plain array rather than a string: the removal at exit runs after the statics are gone.
char folder[128];

void RemoveFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

}  // namespace

const std::string& ScratchFolder(const char* name) {
  static const std::string& path = *new std::string([name] {
    struct stat shm;
    const bool inMemory = stat("/dev/shm", &shm) == 0 && S_ISDIR(shm.st_mode);
    std::snprintf(folder, sizeof folder, "%s/%s-XXXXXX", inMemory ? "/dev/shm" : "/tmp", name);
    FUZZ_CHECK(mkdtemp(folder) != nullptr);
    std::atexit(RemoveFolder);
    return std::string(folder);
  }());
  return path;
}
