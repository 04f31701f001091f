#pragma once

#include <memory>
#include <string>

#include "tests/support/child_process.h"
#include "tests/support/scratch_directory.h"

namespace test_support {

/// The fake journal service (tools/fake_journal) running as a child process on 127.0.0.1, with a
/// copy of the sample data in a scratch folder. Stopped and waited for on destruction.
class FakeJournalProcess {
 public:
  /// Starts the service; ready() tells whether it came up within ten seconds.
  FakeJournalProcess();
  ~FakeJournalProcess();

  bool ready() const { return port_ > 0; }
  int port() const { return port_; }
  /// Sends a control request such as "fault?journal=fern&kind=404"; true when it answered "ok".
  bool control(const std::string& request) const;
  /// Every request the service logged so far, one JSON object per line.
  std::string log() const;

 private:
  ScratchDirectory folder_;  // not copyable, and so neither is the process
  std::unique_ptr<ChildProcess> child_;
  int port_ = 0;
};

}  // namespace test_support
