#include "platform/posix/kernel/kernel_objects.h"

#include <cerrno>
#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <utility>

namespace platform {
namespace {

// One part of the open handles of the process. Handles are the objects' addresses, unique while
// they live.
class HandleTable {
 public:
  HANDLE Add(std::shared_ptr<KernelObject> object) {
    HANDLE handle = object.get();
    std::lock_guard<std::mutex> lock(mutex_);
    objects_.emplace(handle, std::move(object));
    return handle;
  }

  std::shared_ptr<KernelObject> Find(HANDLE handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = objects_.find(handle);
    return found != objects_.end() ? found->second : nullptr;
  }

  bool Remove(HANDLE handle) {
    std::shared_ptr<KernelObject> object;  // released after the lock, outside the table
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = objects_.find(handle);
    if (found == objects_.end()) {
      return false;
    }
    object = std::move(found->second);
    objects_.erase(found);
    return true;
  }

 private:
  std::mutex mutex_;
  std::unordered_map<HANDLE, std::shared_ptr<KernelObject>> objects_;
};

// The open handles, in parts of their own locks: threads that each look up their own files (the
// server's connections do several times a request) seldom wait for one another.
constexpr std::size_t kHandleTableParts = 16;

HandleTable& Handles(HANDLE handle) {
  // Never destroyed: handles may outlive main.
  static HandleTable* const tables = new HandleTable[kHandleTableParts];
  // Objects lie at least 16 bytes apart; the bits above those spread them over the parts.
  return tables[(reinterpret_cast<std::uintptr_t>(handle) >> 4) % kHandleTableParts];
}

thread_local DWORD lastError = ERROR_SUCCESS;

}  // namespace

HANDLE RegisterHandle(std::shared_ptr<KernelObject> object) {
  HANDLE handle = object.get();
  return Handles(handle).Add(std::move(object));
}

std::shared_ptr<KernelObject> LookUpKernelObject(HANDLE handle) {
  return Handles(handle).Find(handle);
}

void SetLastErrorCode(DWORD error) {
  lastError = error;
}

DWORD ErrorFromErrno(int error) {
  switch (error) {
    case 0:
      return ERROR_SUCCESS;
    case ENOENT:
    case ENOTDIR:
      return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
      return ERROR_ACCESS_DENIED;
    case EEXIST:
      return ERROR_ALREADY_EXISTS;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    default:
      return ERROR_INVALID_PARAMETER;
  }
}

}  // namespace platform

BOOL CloseHandle(HANDLE object) {
  if (!platform::Handles(object).Remove(object)) {
    platform::SetLastErrorCode(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

DWORD GetLastError() {
  return platform::lastError;
}
