// The tray program: start-up, the message loop and shutdown.
#include "feed/merged_feed.h"
#include "net/http_server/local_web_server.h"
#include "platform/program_environment.h"
#include "platform/program_names.h"
#include "platform/win32.h"
#include "platform/winsock.h"
#include "settings/app_settings.h"
#include "shell/module_directory.h"
#include "shell/settings_dialog.h"
#include "shell/tray_animation.h"
#include "shell/tray_window.h"
#include "shell/update_timer.h"
#include "update/service_config.h"
#include "update/update_context.h"
#include "update/update_cycle.h"

namespace {

constexpr int kDirectoryCapacity = 256;
constexpr int kListenBacklog = 5;

// Runs until WM_QUIT (0) or a failure (-1). Keyboard input is not routed to the settings dialog.
void RunMessageLoop() {
  MSG message{};
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

unsigned short ServerPort() {
  return static_cast<unsigned short>(ActiveServiceConfig.serverPort);
}

// Listens where only this machine can connect, the loopback addresses, IPv4 and (where there is
// IPv6) ::1, where Windows looks for "localhost" first; then accepts. False when the port cannot
// be had.
bool StartServing(LocalWebServer& server) {
  if (server.startListening(ServerPort(), kListenBacklog, AF_INET, htonl(INADDR_LOOPBACK)) !=
      NetResult::Success) {
    return false;
  }
  server.listenOnIPv6Loopback(kListenBacklog);
  server.startAcceptThread();
  return true;
}

// The part of start-up that the server outlives: the window, the tray icon, the settings, the
// timer, the server's start, and the message loop. Returns the exit status.
int RunTrayProgram(HINSTANCE instance, LocalWebServer& server) {
  if (!RegisterTrayWindowClass(instance) || CreateTrayWindow(instance) == nullptr) {
    return 0;
  }
  const std::unique_ptr<platform::DesktopSession> session =
      platform::StartDesktopSession(TrayWindow, kUpdateCommand, kExitCommand);
  AddTrayIcon();
  LoadSettings();
  UpdateStartedHook = StartTrayAnimation;
  ResetUpdateTimer();

  // The temporary directory holds the friends list, the friends' own feeds and, on Windows,
  // other programs' files: only the merged feed is served, and only to requests addressed to
  // this machine. The root is set before the port opens: until then it is the current directory,
  // which holds "settings.dat" with the password. Without a root nothing is served and the port
  // stays closed, so feed readers are refused at once instead of waiting for an answer.
  server.setServedNames({kMergedFileName});
  if (server.setRootPath(TemporaryDirectory().c_str()) == NetResult::Success &&
      !StartServing(server)) {
    RemoveTrayIcon();
    platform::ReportListenFailure(ServerPort());
    return 0;
  }
  RunMessageLoop();
  return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  platform::SetProgramNames({kRunValueName, kAutostartFileName});
  // The temporary directory is settled first: every path of the program is formed from it.
  platform::EnsureTempDirectory();
  SetAllXmlPath();

  UpdateMutex = CreateMutexA(nullptr, FALSE, "UpdateMutex");
  ProgramInstance = instance;
  char directory[kDirectoryCapacity];
  if (!GetModuleDirectory(directory, sizeof directory)) {
    return 1;
  }
  AboutPage = platform::AboutPagePath(directory);
  platform::EnterSettingsDirectory(directory);
  ApplyServiceConfig(LoadServiceConfig());

  int status;
  {
    LocalWebServer server;
    status = RunTrayProgram(instance, server);
  }  // the server stops and waits for the connections it serves
  // Update and download threads may still run: the process ends without destroying the objects
  // they use, as it would if Exit ended it there and then.
  platform::EndProcess(status);
}
