#include "tests/support/private_session_bus.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

extern char** environ;

namespace test_support {
namespace {

// Reads the daemon's first line, its address, from `fd`, waiting at most ten seconds.
std::string ReadAddress(int fd) {
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    pollfd readable{fd, POLLIN, 0};
    if (::poll(&readable, 1, 100) <= 0) {
      continue;
    }
    char chunk[256];
    const ssize_t count = ::read(fd, chunk, sizeof chunk);
    if (count <= 0) {
      break;
    }
    line.append(chunk, static_cast<std::size_t>(count));
  }
  const std::size_t end = line.find('\n');
  return end == std::string::npos ? std::string() : line.substr(0, end);
}

}  // namespace

PrivateSessionBus::PrivateSessionBus() {
  folder_.Write(
      "bus.conf",
      "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
      " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
      "<busconfig>\n"
      "  <type>session</type>\n"
      "  <listen>unix:path=" +
          folder_.file("bus") +
          "</listen>\n"
          "  <auth>EXTERNAL</auth>\n"
          "  <policy context=\"default\">\n"
          "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
          "    <allow eavesdrop=\"true\"/>\n"
          "    <allow own=\"*\"/>\n"
          "  </policy>\n"
          "</busconfig>\n");
  int pipeEnds[2];
  if (::pipe(pipeEnds) != 0) {
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
  // Its complaints (such as a file limit it may not raise) go to a log beside its socket.
  const std::string log = folder_.file("daemon.log");
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log.c_str(), O_WRONLY | O_CREAT, 0600);
  const std::string config = "--config-file=" + folder_.file("bus.conf");
  const char* argv[] = {"dbus-daemon", config.c_str(), "--print-address", "--nofork", nullptr};
  pid_t child;
  if (posix_spawnp(&child, "dbus-daemon", &actions, nullptr, const_cast<char**>(argv), environ) ==
      0) {
    pid_ = child;
  }
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeEnds[1]);
  if (pid_ > 0) {
    address_ = ReadAddress(pipeEnds[0]);
  }
  ::close(pipeEnds[0]);
}

PrivateSessionBus::~PrivateSessionBus() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    int status;
    ::waitpid(pid_, &status, 0);
  }
}

}  // namespace test_support
