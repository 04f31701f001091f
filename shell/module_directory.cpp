#include "shell/module_directory.h"

#include <cstring>

#include "platform/win32.h"

void CutToDirectory(char* path) {
  char* separator = nullptr;
  for (char* at = path; *at != '\0'; ++at) {
    if (*at == '\\' || *at == '/') {
      separator = at;
    }
  }
  if (separator != nullptr) {
    *separator = '\0';
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
