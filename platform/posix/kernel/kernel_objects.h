#pragma once

// The handle table behind HANDLE on POSIX systems: every kernel object (mutex, file) is registered
// under its handle until CloseHandle removes it.

#include <memory>

#include "platform/win32.h"

namespace platform {

/// Base of everything a HANDLE can stand for. The object lives until its handle is closed and no
/// call that looked it up is still using it.
class KernelObject {
 public:
  virtual ~KernelObject() = default;
};

/// Registers `object` and returns its new handle.
HANDLE RegisterHandle(std::shared_ptr<KernelObject> object);

/// The object of `handle` if it is open and of kind T; otherwise nullptr, with the thread's last
/// error set to ERROR_INVALID_HANDLE.
template <typename T>
std::shared_ptr<T> LookUpHandle(HANDLE handle);

/// Sets what GetLastError answers on this thread.
void SetLastErrorCode(DWORD error);

/// Maps an errno value onto the Windows error that stands for it, as far as this program cares.
DWORD ErrorFromErrno(int error);

std::shared_ptr<KernelObject> LookUpKernelObject(HANDLE handle);

template <typename T>
std::shared_ptr<T> LookUpHandle(HANDLE handle) {
  std::shared_ptr<T> object = std::dynamic_pointer_cast<T>(LookUpKernelObject(handle));
  if (!object) {
    SetLastErrorCode(ERROR_INVALID_HANDLE);
  }
  return object;
}

}  // namespace platform
