// Mutexes with the Windows semantics this program relies on: a name makes every CreateMutexA of
// it in the process share one lock, and the owning thread may take it again (and must release it
// as often).
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "platform/posix/kernel/kernel_objects.h"

namespace platform {
namespace {

class MutexState {
 public:
  DWORD Acquire(DWORD milliseconds) {
    std::unique_lock<std::mutex> lock(guard_);
    const std::thread::id self = std::this_thread::get_id();
    if (depth_ > 0 && owner_ == self) {
      ++depth_;
      return WAIT_OBJECT_0;
    }
    auto isFree = [this] { return depth_ == 0; };
    if (milliseconds == INFINITE) {
      released_.wait(lock, isFree);
    } else if (!released_.wait_for(lock, std::chrono::milliseconds(milliseconds), isFree)) {
      return WAIT_TIMEOUT;
    }
    owner_ = self;
    depth_ = 1;
    return WAIT_OBJECT_0;
  }

  bool Release() {
    std::lock_guard<std::mutex> lock(guard_);
    if (depth_ == 0 || owner_ != std::this_thread::get_id()) {
      return false;
    }
    if (--depth_ == 0) {
      released_.notify_one();
    }
    return true;
  }

 private:
  std::mutex guard_;
  std::condition_variable released_;
  std::thread::id owner_;
  unsigned depth_ = 0;
};

class MutexObject : public KernelObject {
 public:
  explicit MutexObject(std::shared_ptr<MutexState> shared) : state(std::move(shared)) {}
  const std::shared_ptr<MutexState> state;
};

// Named mutexes live as long as one of their handles is open.
class MutexNames {
 public:
  // The state registered under `name`, made when there is none; `existed` tells which.
  std::shared_ptr<MutexState> Open(const std::string& name, bool& existed) {
    std::lock_guard<std::mutex> lock(guard_);
    std::shared_ptr<MutexState> state = states_[name].lock();
    existed = state != nullptr;
    if (!existed) {
      state = std::make_shared<MutexState>();
      states_[name] = state;
    }
    return state;
  }

 private:
  std::mutex guard_;
  std::map<std::string, std::weak_ptr<MutexState>> states_;
};

MutexNames& Names() {
  static MutexNames* names = new MutexNames;  // never destroyed: handles may outlive main
  return *names;
}

}  // namespace
}  // namespace platform

HANDLE CreateMutexA(LPVOID, BOOL initialOwner, LPCSTR name) {
  using namespace platform;
  bool existed = false;
  std::shared_ptr<MutexState> state = name != nullptr && *name != '\0'
                                          ? Names().Open(name, existed)
                                          : std::make_shared<MutexState>();
  // As on Windows, asking to own a mutex that already existed is ignored.
  if (initialOwner && !existed) {
    state->Acquire(INFINITE);
  }
  HANDLE handle = RegisterHandle(std::make_shared<MutexObject>(state));
  SetLastErrorCode(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

BOOL ReleaseMutex(HANDLE mutex) {
  std::shared_ptr<platform::MutexObject> object =
      platform::LookUpHandle<platform::MutexObject>(mutex);
  if (!object) {
    return FALSE;
  }
  if (!object->state->Release()) {
    platform::SetLastErrorCode(ERROR_NOT_OWNER);
    return FALSE;
  }
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
  std::shared_ptr<platform::MutexObject> mutex =
      platform::LookUpHandle<platform::MutexObject>(object);
  if (!mutex) {
    return WAIT_FAILED;
  }
  return mutex->state->Acquire(milliseconds);
}
