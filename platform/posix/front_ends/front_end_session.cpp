#include "platform/posix/front_ends/front_end_session.h"

#include <unistd.h>

#include <cstdlib>
#include <utility>

#include "platform/posix/front_ends/desktop_front_end.h"
#include "platform/posix/front_ends/terminal_front_end.h"

namespace platform {

FrontEndSession::FrontEndSession(int inputFd, int outputFd) {
  FrontEndFacts facts;
  if (const char* forced = std::getenv("ZARNIK_VIEWER_FRONT_END")) {
    facts.forced = forced;
  }
  const DesktopBusProbe bus = ProbeDesktopBus();
  facts.desktopBuilt = bus.built;
  facts.sessionBus = bus.reachable;
  facts.trayWatcher = bus.trayWatcher;
  facts.terminal = isatty(inputFd) && isatty(outputFd);

  switch (ChooseFrontEnd(facts)) {
    case FrontEndKind::kDesktop:
      frontEnd_ = StartDesktopFrontEnd();
      kind_ = frontEnd_ ? FrontEndKind::kDesktop : FrontEndKind::kNone;
      break;
    case FrontEndKind::kTerminal: {
      auto terminal = std::make_unique<TerminalFrontEnd>(inputFd, outputFd);
      if (terminal->Start()) {
        frontEnd_ = std::move(terminal);
        kind_ = FrontEndKind::kTerminal;
      }
      break;
    }
    case FrontEndKind::kNone:
      break;
  }
  if (frontEnd_) {
    SetFrontEnd(frontEnd_.get());
  }
}

FrontEndSession::~FrontEndSession() {
  if (frontEnd_) {
    SetFrontEnd(nullptr);
    frontEnd_.reset();  // stops it
  }
}

}  // namespace platform
