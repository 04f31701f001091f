#pragma once

#include <memory>
#include <string>

#include "tests/support/child_process.h"
#include "tests/support/scratch_directory.h"

namespace test_support {

/// A D-Bus session bus of the test's own: dbus-daemon with a configuration written here (a unix
/// socket in a scratch folder, every name and message allowed, no service directories, so that
/// nothing is ever started on demand). Stopped and waited for on destruction.
class PrivateSessionBus {
 public:
  /// Starts the daemon; ready() tells whether it gave its address within ten seconds.
  PrivateSessionBus();
  ~PrivateSessionBus();
  PrivateSessionBus(const PrivateSessionBus&) = delete;
  PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

  bool ready() const { return !address_.empty(); }
  /// The address clients connect to, as DBUS_SESSION_BUS_ADDRESS would give it.
  const std::string& address() const { return address_; }

 private:
  ScratchDirectory folder_;
  std::unique_ptr<ChildProcess> child_;
  std::string address_;
};

}  // namespace test_support
