#include "shell/module_directory.h"

#include <string_view>

#include "platform/win32.h"

void CutToDirectory(char* path) {
  const std::size_t separator = std::string_view(path).find_last_of("\\/");
  if (separator != std::string_view::npos) {
    path[separator] = '\0';
  }
}

int GetModuleDirectory(char* buffer, int size) {
  if (buffer == nullptr || size <= 0) {
    return 0;
  }
  // At most size - 1 characters and the terminator; a path cut to fit fills the whole buffer.
  const DWORD length = GetModuleFileNameA(nullptr, buffer, static_cast<DWORD>(size));
  if (length == 0 || length >= static_cast<DWORD>(size)) {
    buffer[0] = '\0';
    return 0;
  }
  CutToDirectory(buffer);
  return 1;
}
