#include "net/io/file_handle.h"

#include <climits>
#include <cstring>
#include <string>

namespace {

bool IsBlank(char c) {
  return c == ' ';
}

}  // namespace

FileHandle::~FileHandle() {
  close();
}

int FileHandle::open(const char* path, DWORD access, DWORD disposition, int append) {
  close();
  if (path == nullptr) {
    return -1;
  }
  std::string trimmed;
  const std::size_t length = std::strlen(path);
  if (length > 0 && (IsBlank(path[0]) || IsBlank(path[length - 1]))) {
    const char* first = path;
    const char* end = path + length;
    while (first < end && IsBlank(*first)) {
      ++first;
    }
    while (end > first && IsBlank(end[-1])) {
      --end;
    }
    if (end - first > kMaxTrimmedPath) {
      return -1;
    }
    trimmed.assign(first, end);
    path = trimmed.c_str();
  }
  handle = CreateFileA(path, access, FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return -1;
  }
  appending = append;
  return 0;
}

void FileHandle::close() {
  if (isOpen()) {
    CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
  }
}

int FileHandle::read(char* buffer, int length) {
  DWORD count = 0;
  if (!isOpen() || buffer == nullptr || length < 0 ||
      !ReadFile(handle, buffer, static_cast<DWORD>(length), &count, nullptr)) {
    return -1;
  }
  return static_cast<int>(count);
}

int FileHandle::write(const char* data, int length) {
  DWORD count = 0;
  if (!isOpen() || data == nullptr || length < 0) {
    return -1;
  }
  if (appending != 0 && moveTo(0, FILE_END) < 0) {
    return -1;
  }
  if (!WriteFile(handle, data, static_cast<DWORD>(length), &count, nullptr)) {
    return -1;
  }
  return static_cast<int>(count);
}

int FileHandle::seek(int offset, int origin) {
  if (!isOpen() || origin < 0 || origin > 2) {
    return -1;
  }
  const std::int64_t position = moveTo(offset, static_cast<DWORD>(origin));
  return position >= 0 && position <= INT_MAX ? static_cast<int>(position) : -1;
}

int FileHandle::size() {
  DWORD high = 0;
  if (!isOpen()) {
    return -1;
  }
  // A failure answers INVALID_FILE_SIZE, which is beyond what an int can hold anyway.
  const DWORD low = GetFileSize(handle, &high);
  return high == 0 && low <= INT_MAX ? static_cast<int>(low) : -1;
}

std::int64_t FileHandle::moveTo(int offset, DWORD origin) {
  // With the high part given, the file may be larger than 4 GiB without the call failing.
  LONG high = offset < 0 ? -1 : 0;
  const DWORD low = SetFilePointer(handle, offset, &high, origin);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS) {
    return -1;
  }
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(static_cast<DWORD>(high)) << 32 |
                                   low);
}
