#pragma once

#include <memory>

#include "platform/posix/front_ends/front_end.h"
#include "platform/posix/front_ends/front_end_choice.h"

namespace platform {

/// The front end the program runs with, chosen at start-up by ChooseFrontEnd (forced by the
/// environment variable ZARNIK_VIEWER_FRONT_END: "desktop", "terminal" or "none") and installed
/// while the session lasts: the desktop's tray and windows, a terminal on `inputFd` and
/// `outputFd`, or none (no drawing; signals only).
class FrontEndSession {
 public:
  FrontEndSession(int inputFd, int outputFd);
  /// Uninstalls and stops the front end (a terminal gets its modes back, the tray icon leaves
  /// the panel).
  ~FrontEndSession();
  FrontEndSession(const FrontEndSession&) = delete;
  FrontEndSession& operator=(const FrontEndSession&) = delete;

  FrontEndKind kind() const { return kind_; }
  bool HasTerminal() const { return kind_ == FrontEndKind::kTerminal; }

 private:
  FrontEndKind kind_ = FrontEndKind::kNone;
  std::unique_ptr<FrontEnd> frontEnd_;
};

}  // namespace platform
