#pragma once

#include <memory>

#include "platform/posix/front_ends/front_end.h"

namespace platform {

/// What the desktop session's bus offers the program.
struct DesktopBusProbe {
  bool built = false;        ///< the desktop front end is part of this build
  bool reachable = false;    ///< the session bus can be reached
  bool trayWatcher = false;  ///< a panel's StatusNotifierWatcher is on it
};

/// Asks the session bus, once, at start-up.
DesktopBusProbe ProbeDesktopBus();

/// The desktop front end, started (its icon appears once the program adds it, as soon as a
/// panel is there); null when it is not built or cannot start.
std::unique_ptr<FrontEnd> StartDesktopFrontEnd();

}  // namespace platform
