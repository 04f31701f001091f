// Files over POSIX descriptors, with the Windows behaviour this program relies on.

#include <fcntl.h>
#include <linux/openat2.h>
#include <pthread.h>
#include <signal.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>

#include "platform/file_system.h"
#include "platform/posix/kernel/kernel_objects.h"
#include "platform/posix/kernel/system_calls.h"
#include "platform/win32.h"
#include "platform/winsock.h"

namespace platform {
namespace {

// An open file; closing its handle closes the descriptor.
class FileObject : public KernelObject {
 public:
  explicit FileObject(int descriptor) : descriptor_(descriptor) {}
  ~FileObject() override { ::close(descriptor_); }
  FileObject(const FileObject&) = delete;
  FileObject& operator=(const FileObject&) = delete;

  int descriptor() const { return descriptor_; }

 private:
  int descriptor_;
};

void FailWithErrno() {
  // CreateFile reports a name already taken as ERROR_FILE_EXISTS, unlike the named objects.
  SetLastErrorCode(errno == EEXIST ? ERROR_FILE_EXISTS : ErrorFromErrno(errno));
}

std::optional<int> AccessFlags(DWORD access) {
  const bool reads = (access & GENERIC_READ) != 0;
  const bool writes = (access & GENERIC_WRITE) != 0;
  if (!reads && !writes) {
    return std::nullopt;
  }
  return reads && writes ? O_RDWR : writes ? O_WRONLY : O_RDONLY;
}

std::optional<int> DispositionFlags(DWORD disposition) {
  switch (disposition) {
    case CREATE_NEW:
      return O_CREAT | O_EXCL;
    case CREATE_ALWAYS:
      return O_CREAT | O_TRUNC;
    case OPEN_EXISTING:
      return 0;
    case OPEN_ALWAYS:
      return O_CREAT;
    case TRUNCATE_EXISTING:
      return O_TRUNC;
    default:
      return std::nullopt;
  }
}

// Closes a descriptor that turned out unusable, keeping the errno that says why.
int Discard(int descriptor, int error) {
  ::close(descriptor);
  errno = error;
  return -1;
}

// Opens without blocking, so that a FIFO or device at the path cannot hang the caller, then
// makes the descriptor blocking again as Windows file handles are.
int OpenDescriptor(const char* path, int flags) {
  const int descriptor = RetryOnInterrupt(
      [&] { return ::open(path, flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666); });
  if (descriptor < 0) {
    return -1;
  }
  struct stat status;
  if (::fstat(descriptor, &status) != 0) {
    return Discard(descriptor, errno);
  }
  // Windows refuses to open a directory as a file; POSIX lets read-only opens through.
  if (S_ISDIR(status.st_mode)) {
    return Discard(descriptor, EISDIR);
  }
  const int statusFlags = ::fcntl(descriptor, F_GETFL);
  if (statusFlags < 0 || ::fcntl(descriptor, F_SETFL, statusFlags & ~O_NONBLOCK) != 0) {
    return Discard(descriptor, errno);
  }
  return descriptor;
}

// The real path of the file open on `descriptor` into `real` (PATH_MAX bytes). The kernel names
// the very file that was opened; only without /proc is the path resolved again, which a link
// swapped in meanwhile could fool.
bool RealPathOfOpenFile(int descriptor, const char* openedPath, char* real) {
  char link[32];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", descriptor);
  const ssize_t length = ::readlink(link, real, PATH_MAX - 1);
  if (length > 0 && length < PATH_MAX - 1) {
    real[length] = '\0';
    return true;
  }
  return length < 0 && ::realpath(openedPath, real) != nullptr;
}

// The distance of a SetFilePointer call: 32 signed bits alone, or 64 with the high part.
std::int64_t Distance(LONG low, const LONG* high) {
  if (high == nullptr) {
    return low;
  }
  const std::uint64_t bits =
      static_cast<std::uint64_t>(static_cast<DWORD>(*high)) << 32 | static_cast<DWORD>(low);
  return static_cast<std::int64_t>(bits);
}

// The position a SetFilePointer call asks for, or nullopt with the last error set.
std::optional<std::int64_t> TargetPosition(int descriptor, std::int64_t distance, DWORD origin) {
  std::int64_t base = 0;
  if (origin == FILE_CURRENT) {
    base = ::lseek(descriptor, 0, SEEK_CUR);
  } else if (origin == FILE_END) {
    struct stat status;
    base = ::fstat(descriptor, &status) == 0 ? status.st_size : -1;
  } else if (origin != FILE_BEGIN) {
    SetLastErrorCode(ERROR_INVALID_PARAMETER);
    return std::nullopt;
  }
  if (base < 0) {
    FailWithErrno();
    return std::nullopt;
  }
  if (distance > 0 && base > std::numeric_limits<std::int64_t>::max() - distance) {
    SetLastErrorCode(ERROR_INVALID_PARAMETER);
    return std::nullopt;
  }
  if (base + distance < 0) {
    SetLastErrorCode(ERROR_NEGATIVE_SEEK);
    return std::nullopt;
  }
  return base + distance;
}

// One read or write of up to `length` bytes, retried when a signal interrupts it; the count moved
// goes to `done`, which Windows clears before anything else.
template <typename Transfer>
BOOL TransferOnce(HANDLE file, LPCVOID buffer, DWORD length, LPDWORD done, LPVOID overlapped,
                  Transfer transfer) {
  if (done != nullptr) {
    *done = 0;
  }
  const std::shared_ptr<FileObject> object = LookUpHandle<FileObject>(file);
  if (!object) {
    return FALSE;
  }
  if ((buffer == nullptr && length > 0) || overlapped != nullptr) {
    SetLastErrorCode(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const ssize_t count = RetryOnInterrupt([&] { return transfer(object->descriptor(), length); });
  if (count < 0) {
    FailWithErrno();
    return FALSE;
  }
  if (done != nullptr) {
    *done = static_cast<DWORD>(count);
  }
  return TRUE;
}

}  // namespace
}  // namespace platform

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD /*shareMode*/, LPVOID /*securityAttributes*/,
                   DWORD disposition, DWORD /*flags*/, HANDLE /*templateFile*/) {
  using namespace platform;
  const std::optional<int> accessFlags = AccessFlags(access);
  const std::optional<int> dispositionFlags = DispositionFlags(disposition);
  // Truncating needs write access on Windows; POSIX leaves O_TRUNC on a read-only open undefined.
  const bool truncatesReadOnly = disposition == TRUNCATE_EXISTING && accessFlags == O_RDONLY;
  if (path == nullptr || !accessFlags || !dispositionFlags || truncatesReadOnly) {
    SetLastErrorCode(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  const int descriptor = OpenDescriptor(path, *accessFlags | *dispositionFlags);
  if (descriptor < 0) {
    FailWithErrno();
    return INVALID_HANDLE_VALUE;
  }
  SetLastErrorCode(ERROR_SUCCESS);
  return RegisterHandle(std::make_shared<FileObject>(descriptor));
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD length, LPDWORD read, LPVOID overlapped) {
  return platform::TransferOnce(
      file, buffer, length, read, overlapped,
      [buffer](int descriptor, DWORD count) { return ::read(descriptor, buffer, count); });
}

BOOL WriteFile(HANDLE file, LPCVOID data, DWORD length, LPDWORD written, LPVOID overlapped) {
  return platform::TransferOnce(
      file, data, length, written, overlapped,
      [data](int descriptor, DWORD count) { return ::write(descriptor, data, count); });
}

DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD origin) {
  using namespace platform;
  const std::shared_ptr<FileObject> object = LookUpHandle<FileObject>(file);
  if (!object) {
    return INVALID_SET_FILE_POINTER;
  }
  const std::optional<std::int64_t> target =
      TargetPosition(object->descriptor(), Distance(distance, distanceHigh), origin);
  if (!target) {
    return INVALID_SET_FILE_POINTER;
  }
  // Without a high part the caller can only take a 32-bit position; Windows refuses to move.
  if (distanceHigh == nullptr && *target > std::numeric_limits<DWORD>::max()) {
    SetLastErrorCode(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  const off_t position = ::lseek(object->descriptor(), static_cast<off_t>(*target), SEEK_SET);
  if (position < 0) {
    FailWithErrno();
    return INVALID_SET_FILE_POINTER;
  }
  if (distanceHigh != nullptr) {
    *distanceHigh = static_cast<LONG>(static_cast<std::uint64_t>(position) >> 32);
  }
  // A position whose low part is 0xFFFFFFFF is told from a failure by the cleared last error.
  SetLastErrorCode(ERROR_SUCCESS);
  return static_cast<DWORD>(position);
}

DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh) {
  using namespace platform;
  const std::shared_ptr<FileObject> object = LookUpHandle<FileObject>(file);
  if (!object) {
    return INVALID_FILE_SIZE;
  }
  struct stat status;
  if (::fstat(object->descriptor(), &status) != 0) {
    FailWithErrno();
    return INVALID_FILE_SIZE;
  }
  const auto size = static_cast<std::uint64_t>(status.st_size);
  if (sizeHigh != nullptr) {
    *sizeHigh = static_cast<DWORD>(size >> 32);
  }
  SetLastErrorCode(ERROR_SUCCESS);
  return static_cast<DWORD>(size);
}

namespace platform {

namespace {

constexpr int kOpenForServing = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
// The most one sendfile call is asked to move; the system moves less at a time anyway.
constexpr long long kSendFileChunk = 1LL << 30;

// Opens `path` when it is `realDirectory` followed by a name without "..", and no link is met on
// the way: the file opened then lies inside without asking the system where it is. -1 when that
// cannot be told this way (a link on the way, a missing file, no openat2 here).
int OpenWithoutLinks(const char* path, const std::string& realDirectory) {
  if (std::strncmp(path, realDirectory.c_str(), realDirectory.size()) != 0 ||
      std::strstr(path + realDirectory.size(), "..") != nullptr) {
    return -1;
  }
  open_how how{};
  how.flags = kOpenForServing;
  how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  return static_cast<int>(
      RetryOnInterrupt([&] { return ::syscall(SYS_openat2, AT_FDCWD, path, &how, sizeof how); }));
}

// sendfile has no MSG_NOSIGNAL: a client that has gone would end the process with SIGPIPE. The
// signal stays blocked in the threads that send files, where it is of no use, once they have sent
// one; the failed send reports the broken connection instead.
void BlockBrokenPipeSignal() {
  thread_local const bool blocked = [] {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    return pthread_sigmask(SIG_BLOCK, &pipe, nullptr) == 0;
  }();
  (void)blocked;
}

}  // namespace

long long SendFileBytes(SOCKET socket, HANDLE file, long long length) {
  BlockBrokenPipeSignal();
  const std::shared_ptr<FileObject> object = LookUpHandle<FileObject>(file);
  long long sent = 0;
  while (object && sent < length) {
    const std::size_t chunk = static_cast<std::size_t>(std::min(length - sent, kSendFileChunk));
    const ssize_t count =
        RetryOnInterrupt([&] { return ::sendfile(socket, object->descriptor(), nullptr, chunk); });
    if (count <= 0) {
      break;
    }
    sent += count;
  }
  return sent;
}

HANDLE OpenFileInside(const char* path, const std::string& realDirectory) {
  if (path == nullptr || realDirectory.empty()) {
    SetLastErrorCode(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  bool inside = true;
  int descriptor = OpenWithoutLinks(path, realDirectory);
  if (descriptor < 0) {
    // Not blocking: a FIFO planted at the path must not hold the caller until a writer comes.
    descriptor = RetryOnInterrupt([&] { return ::open(path, kOpenForServing); });
    if (descriptor < 0) {
      FailWithErrno();
      return INVALID_HANDLE_VALUE;
    }
    char real[PATH_MAX];
    inside = RealPathOfOpenFile(descriptor, path, real) &&
             std::strncmp(real, realDirectory.c_str(), realDirectory.size()) == 0 &&
             real[realDirectory.size()] != '\0';
  }
  struct stat status;
  inside = inside && ::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode);
  if (!inside) {
    ::close(descriptor);
    SetLastErrorCode(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  // O_NONBLOCK stays: it changes nothing for reads of a regular file.
  SetLastErrorCode(ERROR_SUCCESS);
  return RegisterHandle(std::make_shared<FileObject>(descriptor));
}

bool GetLastWriteTime(HANDLE file, std::time_t& seconds) {
  const std::shared_ptr<FileObject> object = LookUpHandle<FileObject>(file);
  struct stat status;
  if (!object || ::fstat(object->descriptor(), &status) != 0) {
    return false;
  }
  seconds = status.st_mtime;
  return true;
}

}  // namespace platform
