#pragma once

#include <chrono>

/// A moment by which a network operation must have ended, or none. A wait shortened to it ends
/// by then, so that a peer that keeps every single wait short cannot keep an operation going for
/// ever.
class Deadline {
 public:
  /// No deadline: waits keep their own length and nothing has passed.
  Deadline() = default;
  /// The moment `milliseconds` from now.
  static Deadline in(long milliseconds);

  /// Whether there is a moment at all.
  bool isSet() const { return set_; }
  /// True once the moment has come; never for no deadline.
  bool passed() const;
  /// Shortens a wait of `seconds` and `microseconds` to the time left, when that is less. False,
  /// with the wait untouched, when the moment has come already.
  bool bound(long& seconds, long& microseconds) const;

 private:
  using Clock = std::chrono::steady_clock;
  bool set_ = false;
  Clock::time_point at_{};
};
