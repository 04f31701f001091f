#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/winsock.h"

namespace test_support {

/// Keeps Windows Sockets started while it lives, so that tests may use sockets meanwhile.
class SocketsInUse {
 public:
  SocketsInUse();
  ~SocketsInUse();
  SocketsInUse(const SocketsInUse&) = delete;
  SocketsInUse& operator=(const SocketsInUse&) = delete;

  bool started() const { return started_; }

 private:
  bool started_;
};

/// 127.0.0.1 and `port` (0: any port, for bind).
sockaddr_in LoopbackAddress(int port);

/// A port of 127.0.0.1 where nobody listens: one the system just handed out and took back. 0
/// when none could be had.
int UnusedLoopbackPort();

/// One thing the peer does on a connection. Build steps with the functions below.
struct Step {
  enum class Action { kReadUntil, kSend, kSendForever, kPause, kClose, kReset };
  Action action;
  std::string bytes;
  int milliseconds = 0;
};

/// Receives until the bytes received on this connection since the end of the previous ReadUntil
/// match contain `text`. Fails, ending the exchange, when the client closes first or
/// `limitMilliseconds` pass.
Step ReadUntil(std::string text, int limitMilliseconds = 5000);
/// Sends exactly `bytes` in one send call (a client that does not read for 10 s fails the step).
Step Send(std::string bytes);
/// Sends `bytes` again and again until the client closes, the peer stops, or 30 s have passed
/// (a guard that turns a client that never gives up into a failing test instead of a hung one).
Step SendForever(std::string bytes);
/// Does nothing for `milliseconds`, keeping the connection open: between two Sends it makes them
/// arrive as separate segments; a long one plays a stalled server.
Step Pause(int milliseconds);
/// Ends sending (FIN), records what the client still sends until it closes (at most 1 s), then
/// closes the socket. Steps after it are reported as failures.
Step Close();
/// Closes the connection abortively: the client sees a reset.
Step Reset();

/// The steps of one accepted connection.
using Exchange = std::vector<Step>;

/// A TCP server on 127.0.0.1 that plays a script: connection number i (in the order accepted)
/// runs exchange i on a thread of its own; connections beyond the script are accepted, counted
/// and closed at once. An exchange that ends without Close or Reset closes as Close does. Every
/// wait inside is bounded, and stop() ends everything within a fraction of a second.
class ScriptedPeer {
 public:
  /// Starts listening at once (port() is valid on return) and serving on a thread.
  explicit ScriptedPeer(std::vector<Exchange> script);
  /// Stops, as stop() does.
  ~ScriptedPeer();
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  /// The port listened on; 0 when listening failed (failure() says why).
  int port() const { return port_; }
  /// The number of connections accepted so far.
  int connections() const;
  /// Every byte received so far on connection `index` (from 0); "" for one not accepted.
  std::string received(int index) const;
  /// A description of the first step that failed, or of a failed set-up; "" when none did.
  std::string failure() const;
  /// Waits at most `milliseconds` until at least `count` connections were accepted. True when they
  /// were.
  bool waitConnections(int count, int milliseconds) const;
  /// Waits at most `milliseconds` until every exchange of the script has ended. True when they
  /// have.
  bool waitDone(int milliseconds) const;
  /// Closes the listening socket and every connection and joins all threads. Idempotent.
  void stop();

 private:
  void acceptLoop();
  void serve(SOCKET connection, int index);
  void record(int index, const char* bytes, int count);
  void fail(const std::string& what);
  /// Waits `milliseconds` or until stop(); false when stopped.
  bool sleepUnlessStopped(int milliseconds);

  friend class ExchangeRunner;

  SocketsInUse sockets_;
  const std::vector<Exchange> script_;
  SOCKET listener_ = INVALID_SOCKET;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread acceptor_;
  std::vector<std::thread> servers_;  // only the acceptor adds, only stop() joins after it

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<std::string> received_;
  std::string failure_;
  int exchangesEnded_ = 0;
};

/// Whether a reset that arrives while nobody is receiving fails the next receive, as it does on
/// Linux and Windows. Wine's sockets report it as an orderly end of the stream instead.
bool IdleResetsAreReported();

/// A listener on 127.0.0.1 whose accept queue is full and is never emptied: it never accepts,
/// and its queue is filled by connections of its own until one of them stays pending. A further
/// connect to port() then stays pending too (Linux drops SYNs to a full accept queue), which is
/// what a connect time-out needs. Windows refuses such connects instead of leaving them pending.
class FullBacklogListener {
 public:
  FullBacklogListener();
  ~FullBacklogListener();

  int port() const { return port_; }
  /// True when the queue was seen full: the last filling connect was still pending after 200 ms.
  bool full() const { return full_; }

 private:
  SocketsInUse sockets_;  // not copyable, and so neither is the listener
  SOCKET listener_ = INVALID_SOCKET;
  std::vector<SOCKET> fillers_;
  int port_ = 0;
  bool full_ = false;
};

}  // namespace test_support
