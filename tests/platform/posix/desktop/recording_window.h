#pragma once

// A window for the desktop tests that records every message its procedure gets, loops that read
// the calling thread's queue for a bounded time, and the tray icon the tests show.

#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/win32.h"

namespace desktop_test {

struct Received {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  std::thread::id thread;
};

/// A window of the calling thread that records what reaches its procedure. It may answer a
/// message with a reaction of the test's own (run on the window's thread).
class RecordingWindow {
 public:
  using Reaction = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

  explicit RecordingWindow(HWND owner = nullptr) {
    static const bool registered = [] {
      WNDCLASSEXA windowClass{};
      windowClass.cbSize = sizeof windowClass;
      windowClass.lpfnWndProc = &RecordingWindow::Procedure;
      windowClass.lpszClassName = "ZvRecordingWindow";
      return RegisterClassExA(&windowClass) != 0;
    }();
    (void)registered;
    handle_ =
        CreateWindowExA(0, "ZvRecordingWindow", "recording", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, owner, nullptr, nullptr, this);
  }
  ~RecordingWindow() {
    if (IsWindow(handle_)) {
      DestroyWindow(handle_);
    }
    std::lock_guard<std::mutex> hold(TableLock());
    Table().erase(handle_);
  }
  RecordingWindow(const RecordingWindow&) = delete;
  RecordingWindow& operator=(const RecordingWindow&) = delete;

  HWND handle() const { return handle_; }

  void React(Reaction reaction) {
    std::lock_guard<std::mutex> hold(lock_);
    reaction_ = std::move(reaction);
  }

  std::vector<Received> Messages() const {
    std::lock_guard<std::mutex> hold(lock_);
    return received_;
  }

  std::vector<Received> Messages(UINT message) const {
    std::vector<Received> matching;
    for (const Received& received : Messages()) {
      if (received.message == message) {
        matching.push_back(received);
      }
    }
    return matching;
  }

 private:
  static std::mutex& TableLock() {
    static std::mutex lock;
    return lock;
  }
  static std::map<HWND, RecordingWindow*>& Table() {
    static std::map<HWND, RecordingWindow*> table;
    return table;
  }

  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    RecordingWindow* self = nullptr;
    {
      std::lock_guard<std::mutex> hold(TableLock());
      if (message == WM_CREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        Table()[window] = static_cast<RecordingWindow*>(create->lpCreateParams);
      }
      auto found = Table().find(window);
      self = found == Table().end() ? nullptr : found->second;
    }
    if (self == nullptr) {
      return DefWindowProcA(window, message, wParam, lParam);
    }
    Reaction reaction;
    {
      std::lock_guard<std::mutex> hold(self->lock_);
      self->received_.push_back(Received{message, wParam, lParam, std::this_thread::get_id()});
      reaction = self->reaction_;
    }
    return reaction ? reaction(window, message, wParam, lParam)
                    : DefWindowProcA(window, message, wParam, lParam);
  }

  HWND handle_ = nullptr;
  mutable std::mutex lock_;
  std::vector<Received> received_;
  Reaction reaction_;
};

/// Dispatches what is waiting in the calling thread's queue, without waiting for more.
inline void DispatchWaiting() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE) && message.message != WM_QUIT) {
    DispatchMessageA(&message);
  }
}

/// Reads and dispatches the calling thread's messages for `duration`, or until `done` holds
/// after a message. Returns whether `done` came true. A thread timer marks the end, so the
/// loop waits in GetMessageA like the program's own.
inline bool DispatchFor(std::chrono::milliseconds duration,
                        const std::function<bool()>& done = nullptr) {
  const UINT_PTR deadline = SetTimer(nullptr, 0, static_cast<UINT>(duration.count()), nullptr);
  bool reached = false;
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (message.hwnd == nullptr && message.message == WM_TIMER && message.wParam == deadline) {
      break;
    }
    DispatchMessageA(&message);
    if (done && done()) {
      reached = true;
      break;
    }
  }
  KillTimer(nullptr, deadline);
  return reached;
}

/// The callback message of the tests' tray icons.
constexpr UINT kTrayCallback = WM_USER + 1;

/// A tray icon of `owner` with picture `picture` of `instance`, tip `tip` and the callback
/// kTrayCallback, as the program shows it.
inline NOTIFYICONDATAA TrayIconData(HINSTANCE instance, HWND owner, int picture, const char* tip) {
  NOTIFYICONDATAA data{};
  data.cbSize = 88;
  data.hWnd = owner;
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = kTrayCallback;
  data.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(static_cast<WORD>(picture)));
  std::strncpy(data.szTip, tip, sizeof data.szTip - 1);
  return data;
}

}  // namespace desktop_test
