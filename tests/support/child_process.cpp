#include "tests/support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

extern char** environ;

namespace test_support {

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& errorLog) {
  int pipeEnds[2];
  if (::pipe(pipeEnds) != 0) {
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
  if (!errorLog.empty()) {
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorLog.c_str(), O_WRONLY | O_CREAT,
                                     0600);
  }
  std::vector<char*> arguments;
  for (const std::string& argument : argv) {
    arguments.push_back(const_cast<char*>(argument.c_str()));
  }
  arguments.push_back(nullptr);
  pid_t child;
  if (posix_spawnp(&child, arguments[0], &actions, nullptr, arguments.data(), environ) == 0) {
    pid_ = child;
  }
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeEnds[1]);
  output_ = pipeEnds[0];
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    int status;
    ::waitpid(pid_, &status, 0);
  }
  if (output_ >= 0) {
    ::close(output_);
  }
}

std::string ChildProcess::FirstLine() {
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (started() && line.find('\n') == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    pollfd readable{output_, POLLIN, 0};
    if (::poll(&readable, 1, 100) <= 0) {
      continue;
    }
    char chunk[256];
    const ssize_t count = ::read(output_, chunk, sizeof chunk);
    if (count <= 0) {
      break;
    }
    line.append(chunk, static_cast<std::size_t>(count));
  }
  const std::size_t end = line.find('\n');
  return end == std::string::npos ? std::string() : line.substr(0, end);
}

}  // namespace test_support
