#pragma once

// Signals as menu commands, so that a service manager or a terminal's Ctrl-C shuts the program
// down the normal way: SIGUSR1 is "Update", SIGTERM, SIGINT and SIGHUP are "Exit". The signal
// handler only writes one byte to a pipe; a watcher thread posts WM_COMMAND to the window, so
// the command arrives through the message queue like a menu choice.

#include <memory>
#include <thread>

#include "platform/win32.h"

namespace platform {

class WakeableWait;

class SignalCommands {
 public:
  /// Use DeliverSignalsAsCommands.
  SignalCommands(HWND window, UINT updateCommand, UINT exitCommand);
  /// Puts the previous handlers back, then stops and joins the watcher.
  ~SignalCommands();
  SignalCommands(const SignalCommands&) = delete;
  SignalCommands& operator=(const SignalCommands&) = delete;

  /// Whether the handlers are installed and the watcher runs.
  bool Running() const { return watcher_.joinable(); }

 private:
  void Watch();

  const HWND window_;
  const UINT updateCommand_;
  const UINT exitCommand_;
  bool claimed_ = false;          ///< this object holds the process's handlers
  int signalPipe_[2] = {-1, -1};  ///< written by the handler, read by the watcher
  std::unique_ptr<WakeableWait> stop_;
  std::thread watcher_;
};

/// Installs the handlers and starts the watcher: each SIGUSR1 then posts WM_COMMAND with
/// `updateCommand`, each SIGTERM, SIGINT or SIGHUP WM_COMMAND with `exitCommand` (the identifier
/// in the low word, lParam 0) to `window`. Null when the handlers are already installed (by
/// another living SignalCommands) or a pipe or thread cannot be made. Signals of one kind that
/// arrive while the first is still pending in the kernel count once, as the kernel merges them.
std::unique_ptr<SignalCommands> DeliverSignalsAsCommands(HWND window, UINT updateCommand,
                                                         UINT exitCommand);

}  // namespace platform
