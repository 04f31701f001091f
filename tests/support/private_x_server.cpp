#include "tests/support/private_x_server.h"

#include <signal.h>
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>

namespace test_support {

PrivateXServer::PrivateXServer() {
  // Xvfb takes a free display and writes its number once it is ready; the shell tells its id.
  FILE* started = popen(
      "Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>&1 >/dev/null 2>&1 & echo id $!",
      "r");
  if (started == nullptr) {
    return;
  }
  char lines[2][32] = {};
  const bool answered = fgets(lines[0], 32, started) && fgets(lines[1], 32, started);
  pclose(started);
  if (!answered) {
    return;
  }
  const int display = lines[0][0] == 'i' ? 1 : 0;  // in whichever order they came
  pid_ = std::atoi(lines[1 - display] + 3);
  display_ = ":" + std::to_string(std::atoi(lines[display]));
  setenv("DISPLAY", display_.c_str(), 1);
}

PrivateXServer::~PrivateXServer() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
  }
  unsetenv("DISPLAY");
}

std::string RunBounded(const std::string& command) {
  std::string output;
  if (FILE* pipe = popen(("timeout 10 " + command + " 2>/dev/null").c_str(), "r")) {
    char chunk[256];
    while (std::size_t got = std::fread(chunk, 1, sizeof chunk, pipe)) {
      output.append(chunk, got);
    }
    pclose(pipe);
  }
  return output;
}

}  // namespace test_support
