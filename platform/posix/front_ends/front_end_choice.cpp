#include "platform/posix/front_ends/front_end_choice.h"

namespace platform {

FrontEndKind ChooseFrontEnd(const FrontEndFacts& facts) {
  const bool desktop = facts.desktopBuilt && facts.sessionBus;
  if (facts.forced == "desktop") {
    return desktop ? FrontEndKind::kDesktop : FrontEndKind::kNone;
  }
  if (facts.forced == "terminal") {
    return facts.terminal ? FrontEndKind::kTerminal : FrontEndKind::kNone;
  }
  if (facts.forced == "none") {
    return FrontEndKind::kNone;
  }
  if (desktop && (facts.trayWatcher || !facts.terminal)) {
    return FrontEndKind::kDesktop;
  }
  return facts.terminal ? FrontEndKind::kTerminal : FrontEndKind::kNone;
}

}  // namespace platform
