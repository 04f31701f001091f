#pragma once

#include "platform/win32.h"

namespace platform {

/// Holds a mutex handle's lock from construction to destruction, waiting without a time limit.
class MutexLock {
 public:
  explicit MutexLock(HANDLE mutex) : mutex_(mutex) { WaitForSingleObject(mutex_, INFINITE); }
  ~MutexLock() { ReleaseMutex(mutex_); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  HANDLE mutex_;
};

}  // namespace platform
