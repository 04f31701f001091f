// Opening an address the way the desktop does: xdg-open picks the user's browser or viewer. The
// address goes to it as one argument of its own, never through a shell, and xdg-open runs in a
// session of its own so it outlives the program and ignores the program's terminal.

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>

#include "platform/posix/kernel/system_calls.h"
#include "platform/win32.h"

extern char** environ;

namespace platform {
namespace {

constexpr char kOpener[] = "xdg-open";
constexpr std::intptr_t kStarted = 42;  // any value above 32 tells success

HINSTANCE ShellResult(std::intptr_t code) {
  return reinterpret_cast<HINSTANCE>(code);
}

// The first executable xdg-open in an absolute folder of PATH; empty when there is none. Relative
// and empty entries would depend on the current directory, so they are skipped.
std::string FindOpener() {
  const char* variable = std::getenv("PATH");
  std::istringstream path(variable != nullptr ? variable : "/usr/local/bin:/usr/bin:/bin");
  for (std::string folder; std::getline(path, folder, ':');) {
    const std::string candidate = folder + "/" + kOpener;
    struct stat info {};
    if (!folder.empty() && folder[0] == '/' && stat(candidate.c_str(), &info) == 0 &&
        S_ISREG(info.st_mode) && access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
  }
  return std::string();
}

// Starts `program` with the one argument `argument` as a detached helper: a new session, default
// signal handling and no blocked signals (the caller's threads may block some), the standard
// streams on /dev/null and none of the program's other descriptors (its listening socket above
// all). 0 or the errno of the failure.
int SpawnDetached(const std::string& program, const std::string& argument, pid_t& child) {
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_t actions;
  posix_spawnattr_init(&attributes);
  posix_spawn_file_actions_init(&actions);
  sigset_t none;
  sigset_t all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  std::string name = program;
  std::string only = argument;
  char* arguments[] = {&name[0], &only[0], nullptr};
  const int failure =
      posix_spawn(&child, program.c_str(), &actions, &attributes, arguments, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  return failure;
}

// Collects the helper's exit in the background, so it never lingers as a zombie; xdg-open may
// wait for the program it starts, so nothing waits for it in the caller.
void ReapInBackground(pid_t child) {
  auto reap = [child] { RetryOnInterrupt([child] { return waitpid(child, nullptr, 0); }); };
  try {
    std::thread(reap).detach();
  } catch (const std::system_error&) {
    reap();  // no thread to spare: collect it now rather than leave it behind
  }
}

}  // namespace
}  // namespace platform

HINSTANCE ShellExecuteA(HWND /*window*/, LPCSTR operation, LPCSTR file, LPCSTR parameters,
                        LPCSTR /*directory*/, INT /*showCommand*/) {
  using platform::ShellResult;
  if (operation != nullptr && std::strcmp(operation, "open") != 0) {
    return ShellResult(SE_ERR_NOASSOC);
  }
  // xdg-open takes exactly one address; it would read a leading '-' as one of its options.
  if (parameters != nullptr && parameters[0] != '\0') {
    return ShellResult(SE_ERR_NOASSOC);
  }
  if (file == nullptr || file[0] == '\0' || file[0] == '-') {
    return ShellResult(SE_ERR_FNF);
  }
  std::string opener = platform::FindOpener();
  if (opener.empty()) {
    return ShellResult(SE_ERR_NOASSOC);
  }
  pid_t child = 0;
  int failure = platform::SpawnDetached(opener, file, child);
  if (failure != 0) {
    return ShellResult(failure == ENOMEM ? SE_ERR_OOM : SE_ERR_ACCESSDENIED);
  }
  platform::ReapInBackground(child);
  return ShellResult(platform::kStarted);
}
