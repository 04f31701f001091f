#pragma once

#include <string>

namespace test_support {

/// A virtual X server (Xvfb) of the test's own, on a display it picks itself; DISPLAY names it
/// while it lives. Stopped on destruction (it is the shell's child, not ours: the system
/// collects it).
class PrivateXServer {
 public:
  PrivateXServer();
  ~PrivateXServer();
  PrivateXServer(const PrivateXServer&) = delete;
  PrivateXServer& operator=(const PrivateXServer&) = delete;

  bool ready() const { return !display_.empty(); }
  /// ":N".
  const std::string& display() const { return display_; }

 private:
  int pid_ = 0;
  std::string display_;
};

/// What a shell command printed on standard output; the command gets ten seconds at most.
std::string RunBounded(const std::string& command);

}  // namespace test_support
