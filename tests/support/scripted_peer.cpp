#include "tests/support/scripted_peer.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace test_support {
namespace {

using Clock = std::chrono::steady_clock;

// Every blocking wait is cut into slices this long, so that stop() is noticed quickly.
constexpr int kSliceMilliseconds = 20;
constexpr int kSendLimitMilliseconds = 10000;
constexpr int kSendForeverLimitMilliseconds = 30000;
constexpr int kDrainLimitMilliseconds = 1000;
constexpr int kFillerWaitMilliseconds = 200;
constexpr int kMaxFillers = 16;

int RemainingMilliseconds(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::max<decltype(left)>(left, 0));
}

/// 1 when `socket` is ready within `waitMilliseconds`, 0 when not, SOCKET_ERROR on failure.
int WaitReady(SOCKET socket, bool forWriting, int waitMilliseconds) {
  return platform::WaitSocket(socket, forWriting, waitMilliseconds / 1000,
                              (waitMilliseconds % 1000) * 1000L);
}

bool SetNonBlocking(SOCKET socket) {
  u_long on = 1;
  return ioctlsocket(socket, FIONBIO, &on) == 0;
}

bool WouldBlock(int error) {
  return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS || error == WSAEINTR;
}

std::string SocketError(const char* call) {
  return std::string(call) + " failed with error " + std::to_string(WSAGetLastError());
}

/// A non-blocking socket listening on 127.0.0.1 at a port the system picks, stored in `port`; or
/// INVALID_SOCKET with `error` saying why.
SOCKET ListenOnLoopback(int backlog, int& port, std::string& error) {
  const SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (listener == INVALID_SOCKET) {
    error = SocketError("socket");
    return INVALID_SOCKET;
  }
  sockaddr_in address = LoopbackAddress(0);
  socklen_t length = sizeof address;
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    error = SocketError("bind");
  } else if (listen(listener, backlog) != 0) {
    error = SocketError("listen");
  } else if (getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    error = SocketError("getsockname");
  } else if (!SetNonBlocking(listener)) {
    error = SocketError("ioctlsocket");
  } else {
    port = ntohs(address.sin_port);
    return listener;
  }
  closesocket(listener);
  return INVALID_SOCKET;
}

// In the order of Step::Action.
const char* ActionName(Step::Action action) {
  static const char* const kNames[] = {"ReadUntil", "Send",  "SendForever",
                                       "Pause",     "Close", "Reset"};
  return kNames[static_cast<int>(action)];
}

}  // namespace

sockaddr_in LoopbackAddress(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<unsigned short>(port));
  return address;
}

int UnusedLoopbackPort() {
  const SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = LoopbackAddress(0);
  socklen_t length = sizeof address;
  int port = 0;
  if (bind(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  closesocket(probe);
  return port;
}

Step ReadUntil(std::string text, int limitMilliseconds) {
  return {Step::Action::kReadUntil, std::move(text), limitMilliseconds};
}
Step Send(std::string bytes) {
  return {Step::Action::kSend, std::move(bytes), kSendLimitMilliseconds};
}
Step SendForever(std::string bytes) {
  return {Step::Action::kSendForever, std::move(bytes), kSendForeverLimitMilliseconds};
}
Step Pause(int milliseconds) {
  return {Step::Action::kPause, {}, milliseconds};
}
Step Close() {
  return {Step::Action::kClose, {}, kDrainLimitMilliseconds};
}
Step Reset() {
  return {Step::Action::kReset, {}, 0};
}

/// Plays one exchange on one connection and closes the connection at its end.
class ExchangeRunner {
 public:
  ExchangeRunner(ScriptedPeer& peer, SOCKET connection, int index)
      : peer_(peer), socket_(connection), index_(index) {}
  ExchangeRunner(const ExchangeRunner&) = delete;
  ExchangeRunner& operator=(const ExchangeRunner&) = delete;

  void run(const Exchange& exchange) {
    bool going = SetNonBlocking(socket_);
    if (!going) {
      fail(0, SocketError("ioctlsocket"));
    }
    std::size_t step = 0;
    for (; going && step < exchange.size() && socket_ != INVALID_SOCKET; ++step) {
      going = perform(exchange[step], step);
    }
    if (going && step < exchange.size()) {
      fail(step, "the connection was already closed");
    }
    if (socket_ == INVALID_SOCKET) {
      return;
    }
    if (going && !stopping()) {
      closeGracefully(kDrainLimitMilliseconds);
    } else {
      closeNow();  // after a failure or stop() there is nobody to wait for
    }
  }

 private:
  enum class Received { kData, kNothing, kEnd };
  enum class Sent { kDone, kPeerGone, kTimedOut, kStopped };

  bool perform(const Step& step, std::size_t number) {
    switch (step.action) {
      case Step::Action::kReadUntil:
        return readUntil(step, number);
      case Step::Action::kSend:
        return checkSent(sendAll(step.bytes, deadlineIn(step.milliseconds)), number);
      case Step::Action::kSendForever:
        return sendForever(step, number);
      case Step::Action::kPause:
        return peer_.sleepUnlessStopped(step.milliseconds);
      case Step::Action::kClose:
        closeGracefully(step.milliseconds);
        return true;
      case Step::Action::kReset:
        reset();
        return true;
    }
    return false;
  }

  bool readUntil(const Step& step, std::size_t number) {
    const Clock::time_point deadline = deadlineIn(step.milliseconds);
    // Where an occurrence not yet looked at could start; keeps the search linear.
    std::size_t searchFrom = matchedUpTo_;
    for (;;) {
      const std::size_t found = seen_.find(step.bytes, searchFrom);
      if (found != std::string::npos) {
        matchedUpTo_ = found + step.bytes.size();
        return true;
      }
      if (seen_.size() >= step.bytes.size()) {
        searchFrom = std::max(searchFrom, seen_.size() - step.bytes.size() + 1);
      }
      if (stopping()) {
        return false;
      }
      const int left = RemainingMilliseconds(deadline);
      if (left == 0) {
        return fail(number, "timed out");
      }
      if (receive(std::min(left, kSliceMilliseconds)) == Received::kEnd) {
        return fail(number, "the client closed the connection first");
      }
    }
  }

  bool sendForever(const Step& step, std::size_t number) {
    if (step.bytes.empty()) {
      return fail(number, "there is nothing to send");
    }
    const Clock::time_point deadline = deadlineIn(step.milliseconds);
    for (;;) {
      const Sent result = sendAll(step.bytes, deadline);
      if (result == Sent::kPeerGone) {
        closeNow();  // the end this step waits for
        return true;
      }
      if (result != Sent::kDone) {
        return checkSent(result, number);
      }
    }
  }

  Sent sendAll(const std::string& bytes, Clock::time_point deadline) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
      const int count = static_cast<int>(
          send(socket_, bytes.data() + sent, static_cast<int>(bytes.size() - sent), kSendNoSignal));
      if (count > 0) {
        sent += static_cast<std::size_t>(count);
        continue;
      }
      if (!WouldBlock(WSAGetLastError())) {
        return Sent::kPeerGone;
      }
      if (stopping()) {
        return Sent::kStopped;
      }
      const int left = RemainingMilliseconds(deadline);
      if (left == 0) {
        return Sent::kTimedOut;
      }
      WaitReady(socket_, true, std::min(left, kSliceMilliseconds));
    }
    return Sent::kDone;
  }

  bool checkSent(Sent result, std::size_t number) {
    switch (result) {
      case Sent::kDone:
        return true;
      case Sent::kPeerGone:
        return fail(number, "the client closed the connection");
      case Sent::kTimedOut:
        return fail(number, "timed out while the client did not read");
      case Sent::kStopped:
        return false;
    }
    return false;
  }

  /// Waits at most `waitMilliseconds` for bytes and records what one recv call gives.
  Received receive(int waitMilliseconds) {
    const int ready = WaitReady(socket_, false, waitMilliseconds);
    if (ready == 0) {
      return Received::kNothing;
    }
    char buffer[4096];
    const int count = ready < 0 ? -1 : static_cast<int>(recv(socket_, buffer, sizeof buffer, 0));
    if (count > 0) {
      seen_.append(buffer, static_cast<std::size_t>(count));
      peer_.record(index_, buffer, count);
      return Received::kData;
    }
    return count < 0 && WouldBlock(WSAGetLastError()) ? Received::kNothing : Received::kEnd;
  }

  /// Sends FIN, then records what the client still sends until it closes or the time is up, so
  /// that the client never meets a reset caused by bytes left unread here.
  void closeGracefully(int drainMilliseconds) {
    shutdown(socket_, SD_SEND);
    const Clock::time_point deadline = deadlineIn(drainMilliseconds);
    for (int left; !stopping() && (left = RemainingMilliseconds(deadline)) > 0;) {
      if (receive(std::min(left, kSliceMilliseconds)) == Received::kEnd) {
        break;
      }
    }
    closeNow();
  }

  void reset() {
    linger option{};
    option.l_onoff = 1;
    option.l_linger = 0;
    setsockopt(socket_, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&option),
               sizeof option);
    closeNow();
  }

  void closeNow() {
    closesocket(socket_);
    socket_ = INVALID_SOCKET;
  }

  bool fail(std::size_t step, const std::string& what) {
    peer_.fail("exchange " + std::to_string(index_) + ", step " + std::to_string(step) + " (" +
               (step < exchange().size() ? ActionName(exchange()[step].action) : "end") +
               "): " + what);
    return false;
  }

  const Exchange& exchange() const { return peer_.script_[static_cast<std::size_t>(index_)]; }
  bool stopping() const { return peer_.stopping_.load(); }
  static Clock::time_point deadlineIn(int milliseconds) {
    return Clock::now() + std::chrono::milliseconds(milliseconds);
  }

  ScriptedPeer& peer_;
  SOCKET socket_;
  const int index_;
  std::string seen_;  // everything received on this connection
  std::size_t matchedUpTo_ = 0;
};

SocketsInUse::SocketsInUse() {
  WSADATA data;
  started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

SocketsInUse::~SocketsInUse() {
  if (started_) {
    WSACleanup();
  }
}

ScriptedPeer::ScriptedPeer(std::vector<Exchange> script) : script_(std::move(script)) {
  if (!sockets_.started()) {
    failure_ = "WSAStartup failed";
    return;
  }
  listener_ = ListenOnLoopback(SOMAXCONN, port_, failure_);
  if (listener_ != INVALID_SOCKET) {
    acceptor_ = std::thread(&ScriptedPeer::acceptLoop, this);
  }
}

ScriptedPeer::~ScriptedPeer() {
  stop();
}

int ScriptedPeer::connections() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(received_.size());
}

std::string ScriptedPeer::received(int index) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (index < 0 || static_cast<std::size_t>(index) >= received_.size()) {
    return {};
  }
  return received_[static_cast<std::size_t>(index)];
}

std::string ScriptedPeer::failure() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return failure_;
}

bool ScriptedPeer::waitConnections(int count, int milliseconds) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this, count] {
    return received_.size() >= static_cast<std::size_t>(std::max(count, 0));
  });
}

bool ScriptedPeer::waitDone(int milliseconds) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] {
    return static_cast<std::size_t>(exchangesEnded_) >= script_.size();
  });
}

void ScriptedPeer::stop() {
  {
    // Set under the lock so that no sleeper can miss the notification.
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (acceptor_.joinable()) {
    acceptor_.join();
  }
  for (std::thread& server : servers_) {
    server.join();
  }
  servers_.clear();
  if (listener_ != INVALID_SOCKET) {
    closesocket(listener_);
    listener_ = INVALID_SOCKET;
  }
}

void ScriptedPeer::acceptLoop() {
  while (!stopping_) {
    const int ready = WaitReady(listener_, false, kSliceMilliseconds);
    if (ready == 0) {
      continue;
    }
    const SOCKET connection = ready < 0 ? INVALID_SOCKET : accept(listener_, nullptr, nullptr);
    if (connection == INVALID_SOCKET) {
      const int error = WSAGetLastError();
      // A client that gave up between the wait and accept is no fault of the peer.
      if (ready > 0 && (WouldBlock(error) || error == WSAECONNABORTED)) {
        continue;
      }
      fail("accepting a connection failed with error " + std::to_string(error));
      return;
    }
    std::size_t index;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      index = received_.size();
      received_.emplace_back();
    }
    changed_.notify_all();
    if (index >= script_.size()) {
      closesocket(connection);
    } else {
      servers_.emplace_back(&ScriptedPeer::serve, this, connection, static_cast<int>(index));
    }
  }
}

void ScriptedPeer::serve(SOCKET connection, int index) {
  ExchangeRunner(*this, connection, index).run(script_[static_cast<std::size_t>(index)]);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++exchangesEnded_;
  }
  changed_.notify_all();
}

void ScriptedPeer::record(int index, const char* bytes, int count) {
  std::lock_guard<std::mutex> lock(mutex_);
  received_[static_cast<std::size_t>(index)].append(bytes, static_cast<std::size_t>(count));
}

void ScriptedPeer::fail(const std::string& what) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (failure_.empty()) {
    failure_ = what;
  }
}

bool ScriptedPeer::sleepUnlessStopped(int milliseconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  return !changed_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                            [this] { return stopping_.load(); });
}

FullBacklogListener::FullBacklogListener() {
  std::string error;
  if (!sockets_.started() || (listener_ = ListenOnLoopback(1, port_, error)) == INVALID_SOCKET) {
    return;
  }
  const sockaddr_in address = LoopbackAddress(port_);
  while (!full_ && static_cast<int>(fillers_.size()) < kMaxFillers) {
    const SOCKET filler = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (filler == INVALID_SOCKET) {
      return;
    }
    fillers_.push_back(filler);
    if (!SetNonBlocking(filler)) {
      return;
    }
    if (connect(filler, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
      continue;  // queued at once; the queue still had room
    }
    if (!WouldBlock(WSAGetLastError())) {
      return;
    }
    const int ready = WaitReady(filler, true, kFillerWaitMilliseconds);
    int pending = 0;
    if (ready == 0) {
      full_ = true;
    } else if (ready < 0 || platform::GetPendingError(filler, pending) != 0 || pending != 0) {
      return;  // refused, as Windows does with a full queue: no pending connect to be had
    }
  }
}

bool IdleResetsAreReported() {
  ScriptedPeer peer({{Reset()}});
  const SOCKET client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  const sockaddr_in address = LoopbackAddress(peer.port());
  bool reported = true;  // when the probe cannot be made, the test that asked shows why
  if (client != INVALID_SOCKET &&
      connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
      WaitReady(client, false, 5000) == 1) {
    char byte;
    reported = recv(client, &byte, 1, 0) < 0;
  }
  if (client != INVALID_SOCKET) {
    closesocket(client);
  }
  return reported;
}

FullBacklogListener::~FullBacklogListener() {
  for (SOCKET filler : fillers_) {
    closesocket(filler);
  }
  if (listener_ != INVALID_SOCKET) {
    closesocket(listener_);
  }
}

}  // namespace test_support
