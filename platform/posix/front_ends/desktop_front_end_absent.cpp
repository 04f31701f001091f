// A build without the desktop front end (-DZV_DESKTOP_FRONT_END=OFF): the program runs in a
// terminal or answers signals only.
#include "platform/posix/front_ends/desktop_front_end.h"

namespace platform {

DesktopBusProbe ProbeDesktopBus() {
  return DesktopBusProbe();
}

std::unique_ptr<FrontEnd> StartDesktopFrontEnd() {
  return nullptr;
}

}  // namespace platform
