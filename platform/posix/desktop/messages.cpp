// The message queue of each thread and the message functions on top of it.
#include <algorithm>
#include <utility>

#include "platform/posix/desktop/message_queue.h"
#include "platform/posix/desktop/window_table.h"

namespace platform {
namespace {

// Closes the thread's queue when the thread ends, so that what is posted to its windows
// afterwards is refused.
struct ThreadQueue {
  std::shared_ptr<MessageQueue> queue;
  ~ThreadQueue() {
    if (queue) {
      queue->Close();
    }
  }
};

thread_local ThreadQueue threadQueue;

}  // namespace

std::shared_ptr<MessageQueue> MessageQueue::OfThisThread() {
  if (!threadQueue.queue) {
    threadQueue.queue = std::make_shared<MessageQueue>();
  }
  return threadQueue.queue;
}

bool MessageQueue::Post(const MSG& message) {
  std::lock_guard<std::mutex> hold(lock_);
  if (closed_) {
    return false;
  }
  posted_.push_back(Posted{message, nullptr});
  arrived_.notify_all();
  return true;
}

void MessageQueue::PostQuit(int exitCode) {
  std::lock_guard<std::mutex> hold(lock_);
  quitPosted_ = true;
  exitCode_ = exitCode;
  arrived_.notify_all();
}

bool MessageQueue::RunOnThread(Task task, const MSG* then) {
  std::lock_guard<std::mutex> hold(lock_);
  if (closed_) {
    return false;
  }
  posted_.push_back(Posted{MSG{}, std::move(task)});
  if (then != nullptr) {
    posted_.push_back(Posted{*then, nullptr});
  }
  arrived_.notify_all();
  return true;
}

bool MessageQueue::Matches(const MSG& message, HWND window, UINT first, UINT last) {
  if (window != nullptr && message.hwnd != window) {
    return false;
  }
  return (first == 0 && last == 0) || (message.message >= first && message.message <= last);
}

bool MessageQueue::Take(MSG* message, HWND window, UINT first, UINT last, bool wait, bool remove) {
  std::unique_lock<std::mutex> lock(lock_);
  for (;;) {
    auto found = std::find_if(posted_.begin(), posted_.end(), [&](const Posted& candidate) {
      return candidate.task || Matches(candidate.message, window, first, last);
    });
    if (found != posted_.end()) {
      if (found->task) {
        Task task = std::move(found->task);
        posted_.erase(found);
        lock.unlock();
        task();
        lock.lock();
        continue;
      }
      *message = found->message;
      if (remove) {
        posted_.erase(found);
      }
      return true;
    }
    if (quitPosted_) {
      *message = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(exitCode_), 0, 0, {0, 0}};
      quitPosted_ = !remove;
      return true;
    }
    const Clock::time_point now = Clock::now();
    if (TakeTimer(message, window, remove, now)) {
      return true;
    }
    if (!wait) {
      return false;
    }
    const Clock::time_point deadline = NextDeadline(window);
    if (deadline == Clock::time_point::max()) {
      arrived_.wait(lock);
    } else {
      arrived_.wait_until(lock, deadline);
    }
  }
}

bool MessageQueue::TakeTimer(MSG* message, HWND window, bool remove, Clock::time_point now) {
  Timer* due = nullptr;
  for (Timer& timer : timers_) {
    if (timer.due <= now && (window == nullptr || timer.window == window) &&
        (due == nullptr || timer.due < due->due)) {
      due = &timer;
    }
  }
  if (due == nullptr) {
    return false;
  }
  *message =
      MSG{due->window, WM_TIMER, due->id, reinterpret_cast<LPARAM>(due->procedure), 0, {0, 0}};
  if (remove) {
    // One WM_TIMER per period at most: periods missed while nobody read the queue are dropped.
    due->due += due->period;
    if (due->due <= now) {
      due->due = now + due->period;
    }
  }
  return true;
}

MessageQueue::Clock::time_point MessageQueue::NextDeadline(HWND window) const {
  Clock::time_point deadline = Clock::time_point::max();
  for (const Timer& timer : timers_) {
    if (window == nullptr || timer.window == window) {
      deadline = std::min(deadline, timer.due);
    }
  }
  return deadline;
}

UINT_PTR MessageQueue::SetTimer(HWND window, UINT_PTR id, UINT milliseconds, TIMERPROC procedure) {
  std::lock_guard<std::mutex> hold(lock_);
  if (closed_) {
    return 0;
  }
  // As on Windows, periods below 10 ms are raised to 10 ms.
  const std::chrono::milliseconds period(std::max<UINT>(milliseconds, 10));
  if (window == nullptr) {
    id = ++nextThreadTimerId_;
  }
  auto same = std::find_if(timers_.begin(), timers_.end(), [&](const Timer& timer) {
    return timer.window == window && timer.id == id;
  });
  Timer timer{window, id, period, procedure, Clock::now() + period};
  if (same != timers_.end()) {
    *same = timer;
  } else {
    timers_.push_back(timer);
  }
  arrived_.notify_all();  // the waiting thread recomputes its deadline
  return id;
}

bool MessageQueue::KillTimer(HWND window, UINT_PTR id) {
  std::lock_guard<std::mutex> hold(lock_);
  auto removed = std::remove_if(timers_.begin(), timers_.end(), [&](const Timer& timer) {
    return timer.window == window && timer.id == id;
  });
  const bool found = removed != timers_.end();
  timers_.erase(removed, timers_.end());
  return found;
}

void MessageQueue::ForgetWindow(HWND window) {
  std::lock_guard<std::mutex> hold(lock_);
  timers_.erase(std::remove_if(timers_.begin(), timers_.end(),
                               [&](const Timer& timer) { return timer.window == window; }),
                timers_.end());
  posted_.erase(std::remove_if(posted_.begin(), posted_.end(),
                               [&](const Posted& posted) {
                                 return !posted.task && posted.message.hwnd == window;
                               }),
                posted_.end());
}

void MessageQueue::Close() {
  std::lock_guard<std::mutex> hold(lock_);
  closed_ = true;
  posted_.clear();
  timers_.clear();
}

}  // namespace platform

using platform::MessageQueue;
using platform::TheOne;
using platform::WindowTable;

namespace {

// The queue a window's messages go to; the calling thread's for no window. Null for a window
// that does not exist.
std::shared_ptr<MessageQueue> QueueOf(HWND window) {
  if (window == nullptr) {
    return MessageQueue::OfThisThread();
  }
  std::shared_ptr<platform::WindowRecord> record = TheOne<WindowTable>().Find(window);
  return record ? record->queue : nullptr;
}

// Fills the time and cursor fields of a message about to be handed out.
void StampMessage(MSG* message) {
  using std::chrono::duration_cast;
  using std::chrono::milliseconds;
  message->time = static_cast<DWORD>(
      duration_cast<milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count());
  GetCursorPos(&message->pt);
}

BOOL TakeMessage(LPMSG message, HWND window, UINT first, UINT last, bool wait, bool remove) {
  if (message == nullptr || (window != nullptr && !TheOne<WindowTable>().Find(window))) {
    return -1;
  }
  if (!MessageQueue::OfThisThread()->Take(message, window, first, last, wait, remove)) {
    return FALSE;
  }
  StampMessage(message);
  return message->message == WM_QUIT && wait ? FALSE : TRUE;
}

}  // namespace

BOOL GetMessageA(LPMSG message, HWND window, UINT firstMessage, UINT lastMessage) {
  return TakeMessage(message, window, firstMessage, lastMessage, true, true);
}

BOOL PeekMessageA(LPMSG message, HWND window, UINT firstMessage, UINT lastMessage, UINT remove) {
  BOOL result =
      TakeMessage(message, window, firstMessage, lastMessage, false, (remove & PM_REMOVE) != 0);
  return result == -1 ? FALSE : result;
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<MessageQueue> queue = QueueOf(window);
  return queue && queue->Post(MSG{window, message, wParam, lParam, 0, {0, 0}}) ? TRUE : FALSE;
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<MessageQueue> queue = QueueOf(window);
  if (!queue) {
    return 0;
  }
  if (queue != MessageQueue::OfThisThread()) {
    platform::SetLastErrorCode(ERROR_ACCESS_DENIED);
    return 0;
  }
  return platform::CallWindowProcedure(window, message, wParam, lParam);
}

BOOL TranslateMessage(const MSG* /*message*/) {
  return FALSE;  // there is no keyboard to turn into characters
}

LRESULT DispatchMessageA(const MSG* message) {
  if (message == nullptr) {
    return 0;
  }
  if (message->message == WM_TIMER && message->lParam != 0) {
    auto procedure = reinterpret_cast<TIMERPROC>(message->lParam);
    procedure(message->hwnd, WM_TIMER, message->wParam, message->time);
    return 0;
  }
  if (message->hwnd == nullptr) {
    return 0;
  }
  return platform::CallWindowProcedure(message->hwnd, message->message, message->wParam,
                                       message->lParam);
}

void PostQuitMessage(int exitCode) {
  MessageQueue::OfThisThread()->PostQuit(exitCode);
}

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT milliseconds, TIMERPROC procedure) {
  std::shared_ptr<MessageQueue> queue = QueueOf(window);
  return queue ? queue->SetTimer(window, id, milliseconds, procedure) : 0;
}

BOOL KillTimer(HWND window, UINT_PTR id) {
  std::shared_ptr<MessageQueue> queue = QueueOf(window);
  return queue && queue->KillTimer(window, id) ? TRUE : FALSE;
}
