#include "update/detached_thread.h"

#include <system_error>
#include <thread>
#include <utility>

bool StartDetachedThread(std::function<void()> work) {
  try {
    std::thread(std::move(work)).detach();
    return true;
  } catch (const std::system_error&) {
    // Out of threads (or memory for one): the caller fails that piece of work instead of the
    // process ending.
    return false;
  }
}
