#include "tests/support/private_session_bus.h"

#include <string>
#include <vector>

namespace test_support {

PrivateSessionBus::PrivateSessionBus() {
  folder_.Write(
      "bus.conf",
      "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
      " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
      "<busconfig>\n"
      "  <type>session</type>\n"
      "  <listen>unix:path=" +
          folder_.file("bus") +
          "</listen>\n"
          "  <auth>EXTERNAL</auth>\n"
          "  <policy context=\"default\">\n"
          "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
          "    <allow eavesdrop=\"true\"/>\n"
          "    <allow own=\"*\"/>\n"
          "  </policy>\n"
          "</busconfig>\n");
  // Its complaints (such as a file limit it may not raise) go to a log beside its socket; its
  // first line is its address.
  child_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{"dbus-daemon", "--config-file=" + folder_.file("bus.conf"),
                               "--print-address", "--nofork"},
      folder_.file("daemon.log"));
  address_ = child_->FirstLine();
}

PrivateSessionBus::~PrivateSessionBus() = default;

}  // namespace test_support
