#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "net/http_client/http_fetch_client.h"
#include "tests/support/random_bytes.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/scripted_peer.h"

// The client against an independent server: Python's http.server on loopback.
namespace {

namespace fs = std::filesystem;

const std::string kPython = "/usr/bin/python3";

// Binds (port 0: any free port) or connects a socket on 127.0.0.1; the port bound, or 1 when the
// connect succeeded; 0 on failure.
int ProbeLoopback(int port, bool connecting) {
  const SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<unsigned short>(port));
  socklen_t length = sizeof address;
  int result = 0;
  if (connecting) {
    result = connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 ? 1 : 0;
  } else if (bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
             getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    result = ntohs(address.sin_port);
  }
  closesocket(probe);
  return result;
}

// `python3 -m http.server` on a scratch directory while the object lives; both go at the end.
class PythonServer {
 public:
  PythonServer() {
    fs::create_directories(path("served"));
    port_ = ProbeLoopback(0, false);
    const std::string start = kPython + " -m http.server " + std::to_string(port_) +
                              " --bind 127.0.0.1 --directory '" + path("served") +
                              "' >/dev/null 2>&1 & echo $! >'" + path("pid") + "'";
    if (std::system(start.c_str()) != 0) {
      return;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!(ready_ = ProbeLoopback(port_, true) == 1) &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  ~PythonServer() {
    long pid = 0;
    if (std::ifstream(path("pid")) >> pid && pid > 0 &&
        std::system(("kill " + std::to_string(pid)).c_str()) != 0) {
      ADD_FAILURE() << "http.server " << pid << " could not be stopped";
    }
  }

  bool ready() const { return ready_; }
  std::string url(const std::string& name) const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/" + name;
  }
  std::string path(const std::string& name) const { return root_.file(name); }

 private:
  test_support::SocketsInUse sockets_;
  ScratchDirectory root_;
  int port_ = 0;
  bool ready_ = false;
};

TEST(HttpRealServerTest, DownloadsFilesByteForByte) {
  // Also skipped where no POSIX shell can run it, as in a Windows build.
  if (!fs::exists(kPython) || std::system((kPython + " -c '' >/dev/null 2>&1").c_str()) != 0) {
    GTEST_SKIP() << kPython << " cannot be run here";
  }
  const PythonServer server;
  ASSERT_TRUE(server.ready()) << "http.server did not accept within 20 s";
  for (const int size : {0, 1, 256, 257, 5 << 20}) {
    const std::string name = std::to_string(size);
    const std::string data = RandomBytes(static_cast<std::size_t>(size), std::random_device{}());
    std::ofstream(server.path("served/" + name), std::ios::binary) << data;
    HttpFetchClient client;
    EXPECT_EQ(client.getToFile(server.url(name).c_str(), server.path(name).c_str()),
              NetResult::Success)
        << name;
    EXPECT_EQ(client.statusCode(), 200) << name;
    EXPECT_TRUE(FileText(server.path(name)) == data) << name << " bytes differ";
  }
}

}  // namespace
