#include "tests/support/fake_journal_process.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "net/http_client/http_fetch_client.h"

extern char** environ;

namespace test_support {
namespace {

const char kPython[] = "/usr/bin/python3";

// Reads the child's first line ("PORT <n>") from `fd`, waiting at most ten seconds.
int ReadPort(int fd) {
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    pollfd readable{fd, POLLIN, 0};
    if (::poll(&readable, 1, 100) <= 0) {
      continue;
    }
    char chunk[64];
    const ssize_t count = ::read(fd, chunk, sizeof chunk);
    if (count <= 0) {
      break;
    }
    line.append(chunk, static_cast<std::size_t>(count));
  }
  return line.rfind("PORT ", 0) == 0 ? std::atoi(line.c_str() + 5) : 0;
}

}  // namespace

FakeJournalProcess::FakeJournalProcess() {
  namespace fs = std::filesystem;
  const fs::path source = fs::path(ZV_SOURCE_DIR) / "tools" / "fake_journal";
  fs::copy_file(source / "sample" / "service.json", folder_.file("service.json"));
  if (::access(kPython, X_OK) != 0) {
    return;
  }
  int pipeEnds[2];
  if (::pipe(pipeEnds) != 0) {
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
  const std::string script = (source / "fake_journal.py").string();
  const std::string folder = folder_.path();
  const std::string logFile = folder_.file("requests.log");
  const char* argv[] = {kPython, script.c_str(), folder.c_str(), "--log", logFile.c_str(), nullptr};
  pid_t child;
  if (posix_spawn(&child, kPython, &actions, nullptr, const_cast<char**>(argv), environ) == 0) {
    pid_ = child;
  }
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeEnds[1]);
  if (pid_ > 0) {
    port_ = ReadPort(pipeEnds[0]);
  }
  ::close(pipeEnds[0]);
}

FakeJournalProcess::~FakeJournalProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    int status;
    ::waitpid(pid_, &status, 0);
  }
}

bool FakeJournalProcess::control(const std::string& request) const {
  HttpFetchClient client;
  const std::string url = "http://127.0.0.1:" + std::to_string(port_) + "/_control/" + request;
  client.getToFile(url.c_str(), nullptr);
  return client.statusCode() == 200;
}

std::string FakeJournalProcess::log() const {
  return folder_.Read("requests.log");
}

}  // namespace test_support
