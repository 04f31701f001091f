#pragma once

// Helpers shared by the server tests: a raw client on loopback that sends exact bytes and
// collects every byte of the answer, a directory of served files, and bounded waits.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "net/http_server/local_web_server.h"
#include "platform/winsock.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/scripted_peer.h"

namespace server_test {

using Clock = std::chrono::steady_clock;

/// Polls `condition` every few milliseconds for at most `limitMs`; true when it held.
inline bool WaitUntil(const std::function<bool()>& condition, int limitMs = 5000) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
  while (!condition()) {
    if (Clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

/// Bytes of nearly every value, NUL included, in an order that shows a lost or moved block.
inline std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<char>(i * 7 % 251);
  }
  return bytes;
}

/// One TCP connection to 127.0.0.1 (or from `source`, when given; or to [::1], when `target` is
/// "::1"). Every wait is bounded.
class RawClient {
 public:
  explicit RawClient(unsigned short port, const char* source = nullptr,
                     const char* target = "127.0.0.1") {
    const bool ipv6 = std::string(target) == "::1";
    handle_ = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    if (handle_ == INVALID_SOCKET) {
      return;
    }
    if (source != nullptr) {
      sockaddr_in local{};
      local.sin_family = AF_INET;
      local.sin_addr.s_addr = inet_addr(source);
      if (bind(handle_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        close();
        return;
      }
    }
    platform::SetSocketTimeout(handle_, SO_RCVTIMEO, 5000);
    platform::SetSocketTimeout(handle_, SO_SNDTIMEO, 5000);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = inet_addr(target);
    sockaddr_in6 address6{};
    address6.sin6_family = AF_INET6;
    address6.sin6_port = htons(port);
    address6.sin6_addr = in6addr_loopback;
    const bool failed =
        ipv6 ? connect(handle_, reinterpret_cast<const sockaddr*>(&address6), sizeof address6) != 0
             : connect(handle_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0;
    if (failed) {
      close();
    }
  }
  ~RawClient() { close(); }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool connected() const { return handle_ != INVALID_SOCKET; }

  bool send(const std::string& bytes) {
    std::size_t sent = 0;
    while (connected() && sent < bytes.size()) {
      const auto count = ::send(handle_, bytes.data() + sent, static_cast<int>(bytes.size() - sent),
                                kSendNoSignal);
      if (count <= 0) {
        return false;
      }
      sent += static_cast<std::size_t>(count);
    }
    return connected();
  }

  /// Every byte until the server closes; stops early after `limitMs` and says so in `closed`.
  std::string receiveAll(int limitMs = 5000, bool* closed = nullptr) {
    std::string bytes;
    const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    bool ended = false;
    char block[65536];
    while (connected() && Clock::now() < deadline) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (platform::WaitSocket(handle_, false, 0, static_cast<long>(left.count()) * 1000) != 1) {
        break;
      }
      const auto count = ::recv(handle_, block, sizeof block, 0);
      if (count <= 0) {
        ended = true;
        break;
      }
      bytes.append(block, static_cast<std::size_t>(count));
    }
    if (closed != nullptr) {
      *closed = ended;
    }
    return bytes;
  }

  /// Up to `count` bytes, waiting at most `limitMs` for them.
  std::string receiveSome(std::size_t count, int limitMs = 5000) {
    std::string bytes;
    const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    std::vector<char> block(count);
    while (connected() && bytes.size() < count && Clock::now() < deadline) {
      if (platform::WaitSocket(handle_, false, 0, 20000) != 1) {
        continue;
      }
      const auto got = ::recv(handle_, block.data(), static_cast<int>(count - bytes.size()), 0);
      if (got <= 0) {
        break;
      }
      bytes.append(block.data(), static_cast<std::size_t>(got));
    }
    return bytes;
  }

  /// Ends sending: the server sees the end of the stream, and the answer can still come.
  void shutdownSending() { ::shutdown(handle_, SD_SEND); }

  void close() {
    if (handle_ != INVALID_SOCKET) {
      closesocket(handle_);
      handle_ = INVALID_SOCKET;
    }
  }

 private:
  SOCKET handle_ = INVALID_SOCKET;
};

/// Sends `request` on a new connection (to `target`, see RawClient) and returns the whole answer.
inline std::string Ask(unsigned short port, const std::string& request, int limitMs = 5000,
                       const char* target = "127.0.0.1") {
  RawClient client(port, nullptr, target);
  EXPECT_TRUE(client.connected());
  client.send(request);
  return client.receiveAll(limitMs);
}

/// A LocalWebServer that records its status texts and stops and waits for its connections in its
/// own destructor, before its hooks go away. A class derived from it must call shutDown in its
/// own destructor, for the same reason.
class RecordingServer : public LocalWebServer {
 public:
  ~RecordingServer() override { shutDown(); }

  /// Stops accepting and waits until no connection thread is left to call a hook.
  void shutDown() {
    stop();
    markShuttingDown();
    waitForConnections();
  }

  int onStatusText(const char* text) override {
    std::lock_guard<std::mutex> guard(textsLock_);
    texts_.emplace_back(text);
    return 0;
  }

  std::vector<std::string> texts() const {
    std::lock_guard<std::mutex> guard(textsLock_);
    return texts_;
  }

  /// Listens on 127.0.0.1 at a free port and accepts, serving `root` with short time-outs. A
  /// burst of connects beyond `backlog` has its SYNs dropped and retried a second later.
  void start(const std::string& root, int timeoutMs = 2000, int backlog = 5) {
    setConnectionTimeout(timeoutMs);
    ASSERT_EQ(startListening(0, backlog, AF_INET, htonl(INADDR_LOOPBACK)), NetResult::Success);
    ASSERT_EQ(startAcceptThread(), NetResult::Success);
    ASSERT_EQ(setRootPath(root.c_str()), NetResult::Success);
  }

  /// Waits until the server has handed `count` status texts to its hook.
  bool waitTexts(std::size_t count, int limitMs = 5000) const {
    return WaitUntil([&] { return texts().size() >= count; }, limitMs);
  }

 private:
  mutable std::mutex textsLock_;
  std::vector<std::string> texts_;
};

/// The server's refusals, byte for byte as it sends them.
constexpr const char* kNotFound = "HTTP/1.0 404 Requested file not found\r\n";
constexpr const char* kNotRecognized = "Command Not Reconized\r\n";
constexpr const char* kTooMany = "Too Many Connections, Please Try Later.";

/// A fixture with a directory of served files and a server on it.
class ServerTest : public ::testing::Test {
 protected:
  /// Writes hello.txt and starts `server` on `files`, as RecordingServer::start.
  void Start(int timeoutMs = 2000, int backlog = 5) {
    files.Write("hello.txt", "Hello, reader.\n");
    server.start(files.path(), timeoutMs, backlog);
  }

  ScratchDirectory files;
  RecordingServer server;
};

/// The head of an answer (through the blank line) and its body.
struct Answer {
  std::string head;
  std::string body;
};

inline Answer Split(const std::string& answer) {
  const std::size_t end = answer.find("\r\n\r\n");
  if (end == std::string::npos) {
    return {answer, ""};
  }
  return {answer.substr(0, end + 4), answer.substr(end + 4)};
}

}  // namespace server_test
