#pragma once

// What the tray program needs from its surroundings beyond windows: a temporary directory, a
// place for its settings, somewhere to say why it could not start, its About page, and the links
// between the desktop session and the program (a front end, signals as commands).

#include <memory>
#include <string>

#include "platform/win32.h"

namespace platform {

/// Makes sure TEMP names the program's temporary directory. When TEMP is not set, or empty, a
/// private per-user directory is made (mode 0700: $XDG_RUNTIME_DIR/zarnik-viewer, else
/// $XDG_CACHE_HOME or ~/.cache, then zarnik-viewer) and TEMP is set to it for the process. False
/// when TEMP was not set and no such directory could be had.
bool EnsureTempDirectory();

/// Changes the current directory to the one that holds "settings.dat" and "service.conf": the
/// program's own directory, or, when that cannot be written (an installed program), the user's
/// configuration directory ($XDG_CONFIG_HOME or ~/.config, then zarnik-viewer), created when
/// missing. False when neither can be entered.
bool EnterSettingsDirectory(const char* programDirectory);

/// Says where a person will see it that the server could not listen on `port`, and what to do.
void ReportListenFailure(unsigned short port);

/// Shows a short progress text of the update (the status number of a feed fetched without a
/// Digest answer) where it does not disturb the tray: on the terminal front end as a line of its
/// own above the status line; elsewhere on standard output, as it is.
void PrintProgress(const std::string& text);

/// The page about the program that "About...": "about.html" beside the program, else in the
/// installed documentation (../share/doc/zarnik-viewer from the program's directory).
std::string AboutPagePath(const char* programDirectory);

/// The desktop session's links to the program's window while it runs; ending it undoes them.
class DesktopSession {
 public:
  virtual ~DesktopSession() = default;
};

/// Links the desktop session to `window`: shows the program where the user is (a terminal when
/// there is one), and delivers the session's requests as the menu commands `updateCommand` and
/// `exitCommand` (for example a service manager asking the program to stop). Call it before the
/// tray icon is added, and keep the result until the message loop has ended.
std::unique_ptr<DesktopSession> StartDesktopSession(HWND window, UINT updateCommand,
                                                    UINT exitCommand);

/// Ends the process with `status` once the program's entry has returned, without waiting for
/// update and download threads that still run and without destroying the objects they use.
[[noreturn]] void EndProcess(int status);

}  // namespace platform
