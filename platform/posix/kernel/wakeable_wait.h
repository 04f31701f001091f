#pragma once

// A wait on one descriptor that another thread can end at once: the thread that reads a
// terminal or a signal pipe sleeps in it, and the thread that stops that reader wakes it.

#include <memory>

namespace platform {

class WakeableWait {
 public:
  /// A new wait, or null when its pipe cannot be made.
  static std::unique_ptr<WakeableWait> Create();
  ~WakeableWait();
  WakeableWait(const WakeableWait&) = delete;
  WakeableWait& operator=(const WakeableWait&) = delete;

  enum class Result { kReadable, kTimedOut, kWoken, kFailed };

  /// Waits until `descriptor` can be read (an error or hang-up on it counts), Wake is called, or
  /// `timeoutMs` have passed (-1: no limit); a signal does not shorten or lengthen the wait.
  /// kWoken wins over kReadable when both hold.
  Result WaitReadable(int descriptor, int timeoutMs);

  /// Ends every wait, the present one and all later ones, with kWoken. Any thread may call it, as
  /// often as it likes.
  void Wake();

 private:
  WakeableWait(int readEnd, int writeEnd) : readEnd_(readEnd), writeEnd_(writeEnd) {}

  const int readEnd_;
  const int writeEnd_;
};

}  // namespace platform
