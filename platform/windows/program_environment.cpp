// The tray program's surroundings on Windows: the system sets TEMP, the settings live beside the
// program, and the desktop session is the system's own.
#include "platform/program_environment.h"

#include <direct.h>

#include <cstdlib>

namespace platform {

bool EnsureTempDirectory() {
  const char* temp = std::getenv("TEMP");
  return temp != nullptr && *temp != '\0';
}

bool EnterSettingsDirectory(const char* programDirectory) {
  return programDirectory != nullptr && _chdir(programDirectory) == 0;
}

void ReportListenFailure(unsigned short) {
  // A tray program has nobody to tell: a second copy simply ends, leaving the first one's icon.
}

void PrintProgress(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
}

std::string AboutPagePath(const char* programDirectory) {
  return std::string(programDirectory) + "\\about.html";
}

std::unique_ptr<DesktopSession> StartDesktopSession(HWND, UINT, UINT) {
  // The notification area and the system's shutdown messages reach the window by themselves.
  return std::make_unique<DesktopSession>();
}

void EndProcess(int status) {
  ExitProcess(static_cast<UINT>(status));
}

}  // namespace platform
