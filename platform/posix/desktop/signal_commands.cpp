// Signals as menu commands. A handler may call only async-signal-safe functions, and the message
// queue takes locks, so the handler writes the signal's number to a pipe and a watcher thread
// posts the command.
#include "platform/posix/desktop/signal_commands.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <iterator>

#include "platform/posix/kernel/wakeable_wait.h"

namespace platform {
namespace {

constexpr int kHandledSignals[] = {SIGUSR1, SIGTERM, SIGINT, SIGHUP};

// What the handler needs, as the handler must find it: one process-wide pipe.
std::atomic<bool> handlersClaimed{false};
std::atomic<int> signalPipeWriteEnd{-1};
struct sigaction previousActions[std::size(kHandledSignals)];

extern "C" void WriteSignalToPipe(int signalNumber) {
  const int savedErrno = errno;
  const int fd = signalPipeWriteEnd.load();
  if (fd >= 0) {
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // Non-blocking: with the pipe full, commands enough are already waiting.
    ssize_t ignored = write(fd, &byte, 1);
    (void)ignored;
  }
  errno = savedErrno;
}

}  // namespace

SignalCommands::SignalCommands(HWND window, UINT updateCommand, UINT exitCommand)
    : window_(window), updateCommand_(updateCommand), exitCommand_(exitCommand) {
  bool expected = false;
  if (!handlersClaimed.compare_exchange_strong(expected, true)) {
    return;
  }
  claimed_ = true;
  if (pipe2(signalPipe_, O_CLOEXEC | O_NONBLOCK) != 0 || !(stop_ = WakeableWait::Create())) {
    return;
  }
  signalPipeWriteEnd.store(signalPipe_[1]);
  struct sigaction action {};
  action.sa_handler = WriteSignalToPipe;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;  // other threads' slow calls carry on undisturbed
  for (std::size_t i = 0; i < std::size(kHandledSignals); ++i) {
    sigaction(kHandledSignals[i], &action, &previousActions[i]);
  }
  watcher_ = std::thread(&SignalCommands::Watch, this);
}

SignalCommands::~SignalCommands() {
  if (!claimed_) {
    return;
  }
  if (signalPipeWriteEnd.load() >= 0) {
    for (std::size_t i = 0; i < std::size(kHandledSignals); ++i) {
      sigaction(kHandledSignals[i], &previousActions[i], nullptr);
    }
    signalPipeWriteEnd.store(-1);
  }
  if (watcher_.joinable()) {
    stop_->Wake();
    watcher_.join();
  }
  for (const int end : signalPipe_) {
    if (end >= 0) {
      close(end);
    }
  }
  stop_.reset();
  handlersClaimed.store(false);
}

void SignalCommands::Watch() {
  while (stop_->WaitReadable(signalPipe_[0], -1) == WakeableWait::Result::kReadable) {
    unsigned char signals[64];
    const ssize_t got = read(signalPipe_[0], signals, sizeof signals);
    for (ssize_t i = 0; i < got; ++i) {
      const UINT command = signals[i] == SIGUSR1 ? updateCommand_ : exitCommand_;
      PostMessageA(window_, WM_COMMAND, MAKEWPARAM(LOWORD(command), 0), 0);
    }
  }
}

std::unique_ptr<SignalCommands> DeliverSignalsAsCommands(HWND window, UINT updateCommand,
                                                         UINT exitCommand) {
  auto commands = std::make_unique<SignalCommands>(window, updateCommand, exitCommand);
  return commands->Running() ? std::move(commands) : nullptr;
}

}  // namespace platform
