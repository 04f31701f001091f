// The program's own module: a token for its instance handle and the path of its file.

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/posix/kernel/kernel_objects.h"
#include "platform/win32.h"

namespace platform {
namespace {

// What GetModuleHandleA(nullptr) gives: an address that stands for the program, nothing more.
const char programModule = 0;

HMODULE ProgramModule() {
  return const_cast<char*>(&programModule);
}

// The running program's full path as the kernel knows it; empty when it cannot be read.
std::vector<char> ProgramPath() {
  std::vector<char> path(256);
  for (;;) {
    ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
    if (length < 0) {
      SetLastErrorCode(ErrorFromErrno(errno));
      return {};
    }
    if (static_cast<std::size_t>(length) < path.size()) {
      path.resize(static_cast<std::size_t>(length));
      return path;
    }
    path.resize(path.size() * 2);  // readlink cut it: ask again with room to spare
  }
}

}  // namespace
}  // namespace platform

HMODULE GetModuleHandleA(LPCSTR moduleName) {
  if (moduleName != nullptr) {
    platform::SetLastErrorCode(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return platform::ProgramModule();
}

DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) {
  if (module != nullptr && module != platform::ProgramModule()) {
    platform::SetLastErrorCode(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  std::vector<char> path = platform::ProgramPath();
  if (path.empty()) {
    return 0;
  }
  if (size == 0 || fileName == nullptr) {
    platform::SetLastErrorCode(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  // As on Windows, a path too long is cut to the buffer, and the whole buffer's size returned.
  const bool fits = path.size() < size;
  const std::size_t copied = fits ? path.size() : size - 1;
  std::memcpy(fileName, path.data(), copied);
  fileName[copied] = '\0';
  platform::SetLastErrorCode(fits ? ERROR_SUCCESS : ERROR_INSUFFICIENT_BUFFER);
  return fits ? static_cast<DWORD>(copied) : size;
}
