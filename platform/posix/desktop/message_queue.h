#pragma once

// The message queue of one thread: posted messages, input from the front end, WM_QUIT and the
// thread's timers. GetMessageA waits on it without using the processor, until the next message
// or the next timer's deadline.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/win32.h"

namespace platform {

class MessageQueue {
 public:
  using Task = std::function<void()>;

  /// The calling thread's queue, made on first use; it closes when the thread ends.
  static std::shared_ptr<MessageQueue> OfThisThread();

  /// FALSE once the thread has ended.
  bool Post(const MSG& message);
  void PostQuit(int exitCode);
  /// Runs `task` on the queue's thread when it reads its queue, in order with the messages
  /// posted (input from the front end), and then posts `then` if given. FALSE once the thread
  /// has ended.
  bool RunOnThread(Task task, const MSG* then = nullptr);

  /// Takes the next message; waits for one when `wait` is set. Returns false when nothing came
  /// (only without waiting).
  bool Take(MSG* message, HWND window, UINT first, UINT last, bool wait, bool remove);

  UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT milliseconds, TIMERPROC procedure);
  bool KillTimer(HWND window, UINT_PTR id);
  /// Kills the window's timers and drops its posted messages.
  void ForgetWindow(HWND window);

  /// The thread has ended: refuses everything from now on.
  void Close();

 private:
  using Clock = std::chrono::steady_clock;
  /// A posted message, or a task in its place.
  struct Posted {
    MSG message;
    Task task;
  };
  struct Timer {
    HWND window;
    UINT_PTR id;
    std::chrono::milliseconds period;
    TIMERPROC procedure;
    Clock::time_point due;
  };

  static bool Matches(const MSG& message, HWND window, UINT first, UINT last);
  bool TakeTimer(MSG* message, HWND window, bool remove, Clock::time_point now);
  Clock::time_point NextDeadline(HWND window) const;

  std::mutex lock_;
  std::condition_variable arrived_;
  std::deque<Posted> posted_;
  std::vector<Timer> timers_;
  UINT_PTR nextThreadTimerId_ = 0x7FFF;
  bool quitPosted_ = false;
  int exitCode_ = 0;
  bool closed_ = false;
};

}  // namespace platform
