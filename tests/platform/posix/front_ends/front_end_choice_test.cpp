#include "platform/posix/front_ends/front_end_choice.h"

#include <gtest/gtest.h>

namespace {

using platform::ChooseFrontEnd;
using platform::FrontEndFacts;
using platform::FrontEndKind;

TEST(FrontEndChoiceTest, TheTrayWhereThereIsOneElseTheTerminalElseSignals) {
  constexpr FrontEndKind kNone = FrontEndKind::kNone;
  constexpr FrontEndKind kTerminal = FrontEndKind::kTerminal;
  constexpr FrontEndKind kDesktop = FrontEndKind::kDesktop;
  const struct {
    FrontEndFacts facts;  // forced, desktop built, session bus, tray watcher, terminal
    FrontEndKind expected;
  } cases[] = {
      {{"", true, true, true, true}, kDesktop},
      {{"", true, true, true, false}, kDesktop},
      {{"", true, true, false, true}, kTerminal},  // no panel yet, but a person at a terminal
      {{"", true, true, false, false}, kDesktop},  // started with the session, before the panel
      {{"", true, false, false, true}, kTerminal},
      {{"", true, false, false, false}, kNone},
      {{"", false, true, true, true}, kTerminal},  // built without the desktop front end
      {{"", false, true, true, false}, kNone},
      {{"terminal", true, true, true, true}, kTerminal},
      {{"terminal", true, true, true, false}, kNone},
      {{"desktop", true, true, false, true}, kDesktop},
      {{"desktop", true, false, false, true}, kNone},
      {{"none", true, true, true, true}, kNone},
      {{"other", true, true, false, true}, kTerminal},
  };
  for (const auto& c : cases) {
    const FrontEndFacts& f = c.facts;
    EXPECT_EQ(ChooseFrontEnd(f), c.expected)
        << "forced '" << f.forced << "' built " << f.desktopBuilt << " bus " << f.sessionBus
        << " watcher " << f.trayWatcher << " terminal " << f.terminal;
  }
}

}  // namespace
