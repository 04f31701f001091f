#pragma once

#include <string>
#include <vector>

namespace test_support {

/// A server the test starts as a child process and learns about from the first line it prints
/// (its address, its port). Asked to end (SIGTERM) and waited for on destruction.
class ChildProcess {
 public:
  /// Starts `argv` (the program looked up on PATH) with its standard output into a pipe and its
  /// standard error into the new file `errorLog` (the test's own when empty).
  explicit ChildProcess(const std::vector<std::string>& argv, const std::string& errorLog = "");
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0; }
  /// The first line it printed, without its line end; empty when none came within ten seconds.
  std::string FirstLine();

 private:
  int pid_ = -1;
  int output_ = -1;
};

}  // namespace test_support
