#include "platform/program_environment.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/posix/desktop/signal_commands.h"
#include "platform/posix/front_ends/front_end_session.h"
#include "platform/posix/kernel/directories.h"

namespace platform {
namespace {

constexpr char kProgramFolder[] = "zarnik-viewer";

// A directory of our own at `path`: made with mode 0700 when missing; an existing one must be a
// real directory (not a link) owned by this user, and is made private.
bool MakePrivateDirectory(const std::string& path) {
  if (path.empty()) {
    return false;
  }
  if (mkdir(path.c_str(), 0700) == 0) {
    return true;
  }
  struct stat status {};
  if (errno != EEXIST || lstat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) ||
      status.st_uid != geteuid()) {
    return false;
  }
  return (status.st_mode & 077) == 0 || chmod(path.c_str(), 0700) == 0;
}

// `base`/zarnik-viewer, with `base` made when missing.
bool MakeProgramDirectory(const std::string& base, std::string& path) {
  if (base.empty() || !MakeDirectories(base, 0700)) {
    return false;
  }
  path = base + "/" + kProgramFolder;
  return MakePrivateDirectory(path);
}

bool FileExists(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

class PosixDesktopSession : public DesktopSession {
 public:
  PosixDesktopSession(HWND window, UINT updateCommand, UINT exitCommand)
      : signals_(DeliverSignalsAsCommands(window, updateCommand, exitCommand)) {}

 private:
  // In this order: signals stop first, so nothing is posted while the front end goes.
  FrontEndSession frontEnd_{STDIN_FILENO, STDOUT_FILENO};
  std::unique_ptr<SignalCommands> signals_;
};

}  // namespace

bool EnsureTempDirectory() {
  const char* temp = std::getenv("TEMP");
  if (temp != nullptr && *temp != '\0') {
    return true;
  }
  // The runtime directory exists already when it is set; the cache directory may not.
  std::string path;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime == '/') {
    path = std::string(runtime) + "/" + kProgramFolder;
  }
  if (!MakePrivateDirectory(path) &&
      !MakeProgramDirectory(XdgBaseDirectory("XDG_CACHE_HOME", "/.cache"), path)) {
    return false;
  }
  return setenv("TEMP", path.c_str(), 1) == 0;
}

bool EnterSettingsDirectory(const char* programDirectory) {
  if (access(programDirectory, W_OK) == 0 && chdir(programDirectory) == 0) {
    return true;
  }
  std::string path;
  return MakeProgramDirectory(XdgBaseDirectory("XDG_CONFIG_HOME", "/.config"), path) &&
         chdir(path.c_str()) == 0;
}

void ReportListenFailure(unsigned short port) {
  std::fprintf(stderr,
               "zarnik-viewer: cannot listen on port %hu. Another copy may be running; ports "
               "below 1024 need privileges: set server_port in service.conf, or grant the "
               "program CAP_NET_BIND_SERVICE.\n",
               port);
}

void PrintProgress(const std::string& text) {
  {
    FrontEndInUse frontEnd;
    if (frontEnd && frontEnd->ShowOutputLine(text)) {
      return;
    }
  }
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
}

std::string AboutPagePath(const char* programDirectory) {
  const std::string beside = std::string(programDirectory) + "/about.html";
  const std::string installed =
      std::string(programDirectory) + "/../share/doc/zarnik-viewer/about.html";
  return FileExists(beside) || !FileExists(installed) ? beside : installed;
}

std::unique_ptr<DesktopSession> StartDesktopSession(HWND window, UINT updateCommand,
                                                    UINT exitCommand) {
  return std::make_unique<PosixDesktopSession>(window, updateCommand, exitCommand);
}

void EndProcess(int status) {
  std::fflush(nullptr);
  std::_Exit(status);
}

}  // namespace platform
