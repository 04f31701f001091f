// Files through the kernel's own calls.
#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/file_system.h"

namespace platform {
namespace {

// Shared with other readers, and with the replacing of the file where the system allows that
// while it is open: the reader keeps the old file whole.
constexpr DWORD kReadSharing = FILE_SHARE_READ | FILE_SHARE_DELETE;

// How long a replace waits for readers of the old file to let go: the server holds a file only
// while it sends it, and a replace that gives up loses the new file.
constexpr DWORD kReplaceTries = 250;
constexpr DWORD kReplacePauseMs = 20;

// Seconds between 1601-01-01 (FILETIME's start) and 1970-01-01.
constexpr std::int64_t kFileTimeToUnixSeconds = 11644473600LL;
constexpr std::int64_t kFileTimeTicksPerSecond = 10000000LL;

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// The final path of an open file or directory, every link resolved, as a plain drive or UNC
// path. False when the system cannot tell it.
bool FinalPath(HANDLE object, std::string& path) {
  std::vector<char> buffer(MAX_PATH + 1);
  for (;;) {
    const DWORD length =
        GetFinalPathNameByHandleA(object, buffer.data(), static_cast<DWORD>(buffer.size()),
                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) {
      return false;
    }
    if (length < buffer.size()) {
      path.assign(buffer.data(), length);
      break;
    }
    buffer.resize(length + 1);  // too small: `length` counts what is needed
  }
  if (StartsWith(path, "\\\\?\\UNC\\")) {
    path = "\\\\" + path.substr(8);
  } else if (StartsWith(path, "\\\\?\\")) {
    path.erase(0, 4);
  }
  return !path.empty();
}

bool IsDirectory(HANDLE object) {
  BY_HANDLE_FILE_INFORMATION information{};
  return GetFileInformationByHandle(object, &information) &&
         (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A plain file on a disk: not a directory, a device ("nul", "con", "com1" open anywhere) or a
// pipe.
bool IsRegularFile(HANDLE object) {
  return GetFileType(object) == FILE_TYPE_DISK && !IsDirectory(object);
}

// A new file at `path`, as a binary stream or as a text stream.
std::FILE* CreateNewStream(const std::string& path, bool text) {
  // CREATE_NEW refuses an existing name, links included, so nothing planted there gets written
  // through.
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return nullptr;
  }
  // A binary stream writes the bytes as they are; a text stream turns each LF into CR LF (and so
  // a CR already written before an LF into CR CR LF).
  const int descriptor = _open_osfhandle(reinterpret_cast<std::intptr_t>(file),
                                         _O_WRONLY | (text ? _O_TEXT : _O_BINARY));
  if (descriptor < 0) {
    CloseHandle(file);
    return nullptr;
  }
  std::FILE* stream = _fdopen(descriptor, text ? "wt" : "wb");
  if (stream == nullptr) {
    _close(descriptor);  // closes the handle as well
  }
  return stream;
}

}  // namespace

std::FILE* CreateNewFile(const std::string& path) {
  return CreateNewStream(path, false);
}

std::FILE* CreateNewTextFile(const std::string& path) {
  return CreateNewStream(path, true);
}

std::FILE* CreateNewPrivateFile(const std::string& path) {
  // The directory's inherited permissions are the ones the user's other files there have.
  return CreateNewFile(path);
}

bool ReplaceFile(const std::string& from, const std::string& to) {
  // A file that is open (a feed reader downloading "all.xml", say) cannot be replaced on
  // Windows, nor can one be replaced at the instant another program opens it.
  for (DWORD tries = 1;; ++tries) {
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      return true;
    }
    const DWORD error = GetLastError();
    if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) ||
        tries == kReplaceTries) {
      return false;
    }
    Sleep(kReplacePauseMs);
  }
}

bool RemoveFile(const std::string& path) {
  return DeleteFileA(path.c_str()) != FALSE;
}

bool RealDirectoryPath(const char* path, std::string& real) {
  if (path == nullptr || *path == '\0') {
    return false;
  }
  // Backup semantics let a directory be opened; no access is asked beyond its attributes.
  HANDLE directory = CreateFileA(path, FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (directory == INVALID_HANDLE_VALUE) {
    return false;
  }
  std::string resolved;
  const bool found = IsDirectory(directory) && FinalPath(directory, resolved);
  CloseHandle(directory);
  if (!found) {
    return false;
  }
  real = resolved;
  if (real.back() != kDirectorySeparator) {
    real += kDirectorySeparator;
  }
  return true;
}

HANDLE OpenFileInside(const char* path, const std::string& realDirectory) {
  if (path == nullptr || realDirectory.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  HANDLE file = CreateFileA(path, GENERIC_READ, kReadSharing, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return INVALID_HANDLE_VALUE;
  }
  // The check is made on the file actually opened: a link or junction on the way that leads
  // outside shows in its final path. Names on Windows match whatever their case.
  std::string real;
  const bool inside = IsRegularFile(file) && FinalPath(file, real) &&
                      real.size() > realDirectory.size() &&
                      _strnicmp(real.c_str(), realDirectory.c_str(), realDirectory.size()) == 0;
  if (!inside) {
    CloseHandle(file);
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  SetLastError(ERROR_SUCCESS);
  return file;
}

bool GetLastWriteTime(HANDLE file, std::time_t& seconds) {
  FILETIME written{};
  if (!GetFileTime(file, nullptr, nullptr, &written)) {
    return false;
  }
  const std::int64_t ticks =
      (static_cast<std::int64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime;
  seconds = static_cast<std::time_t>(ticks / kFileTimeTicksPerSecond - kFileTimeToUnixSeconds);
  return true;
}

}  // namespace platform
