// Threads in the Windows shape: started detached with one pointer argument, their handles good
// only for closing. Sleeping.

#include <atomic>
#include <chrono>
#include <memory>
#include <system_error>
#include <thread>

#include "platform/posix/kernel/kernel_objects.h"
#include "platform/win32.h"

namespace platform {
namespace {

// What a thread handle stands for. The thread does not depend on it: closing the handle leaves
// the thread running, as on Windows.
class ThreadObject : public KernelObject {};

DWORD NextThreadId() {
  static std::atomic<DWORD> lastId{0};
  return ++lastId;
}

}  // namespace
}  // namespace platform

HANDLE CreateThread(LPSECURITY_ATTRIBUTES /*attributes*/, SIZE_T /*stackSize*/,
                    LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD creationFlags,
                    LPDWORD threadId) {
  if (start == nullptr || (creationFlags & CREATE_SUSPENDED) != 0) {
    platform::SetLastErrorCode(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  try {
    std::thread(start, parameter).detach();
  } catch (const std::system_error&) {
    platform::SetLastErrorCode(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (threadId != nullptr) {
    *threadId = platform::NextThreadId();
  }
  return platform::RegisterHandle(std::make_shared<platform::ThreadObject>());
}

void Sleep(DWORD milliseconds) {
  if (milliseconds == 0) {
    std::this_thread::yield();
    return;
  }
  if (milliseconds == INFINITE) {
    for (;;) {
      std::this_thread::sleep_for(std::chrono::hours(24));
    }
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
