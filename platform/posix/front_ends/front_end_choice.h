#pragma once

#include <string>

namespace platform {

enum class FrontEndKind { kNone, kTerminal, kDesktop };

/// What the choice of the program's front end depends on.
struct FrontEndFacts {
  std::string forced;         ///< "desktop", "terminal" or "none" to force one; empty: choose
  bool desktopBuilt = false;  ///< the desktop front end is part of this build
  bool sessionBus = false;    ///< the desktop session's bus can be reached
  bool trayWatcher = false;   ///< a tray (a StatusNotifierWatcher) is on that bus
  bool terminal = false;      ///< standard input and output are both terminals
};

/// The front end to run: the desktop one when the session bus has a tray; else the terminal one
/// on a terminal; else the desktop one on a session bus without a tray yet (it shows up once a
/// panel starts); else none, the program then answering signals only. A forced one runs when it
/// can (the desktop one needs its build and a session bus, the terminal one a terminal), and
/// none otherwise; anything else forced is ignored.
FrontEndKind ChooseFrontEnd(const FrontEndFacts& facts);

}  // namespace platform
