#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "net/http_server/address_filter.h"
#include "net/io/byte_stream.h"
#include "net/io/net_result.h"
#include "net/socket/socket_base.h"
#include "net/socket/socket_stream.h"
#include "platform/winsock.h"

class DataSource;
class ListenServer;

/// The server side of one accepted connection. The connection thread hands it the socket, lets it
/// serve or refuse the connection, then closes the socket itself. The base serves a greeting;
/// subclasses replace serveConnection and refuseConnection.
class ConnectionWorker : public SocketBase {
 public:
  /// One send of `length` bytes of `text` (negative: up to the NUL) with `flags`: the count sent,
  /// or -1.
  virtual int writeText(const char* text, int length, int flags);
  /// Opens `source` for reading (SourceOpenFailed) and sends it in blocks of up to 255 bytes,
  /// adding each block to `sent`; WriteFailed when a send fails. A false writeProgress ends the
  /// transfer early with Success.
  virtual NetResult writeSource(DataSource& source, long& sent);
  /// Sends until all `length` bytes went, a send fails, or the server is shutting down (then after
  /// the current piece). Returns the bytes sent.
  virtual int writeAll(const char* data, int length, int flags);
  /// Sends `text` (negative length: up to the NUL) in pieces of `width` bytes, each followed by
  /// CR LF. Returns the bytes sent, or the result of the first send that moved nothing.
  virtual int writeWrapped(const char* text, int length, int width);
  /// writeSource over the file at `path`.
  virtual NetResult writeFile(const char* path, long& sent);
  /// One recv of up to `length` bytes, after waiting up to `timeoutSeconds` when that is > 0:
  /// the count, 0 when nothing came or the peer closed, -1 on error.
  virtual int readSome(char* buffer, int length, int timeoutSeconds);
  /// Opens `source` in `mode` (1 create, 2 append; else BadSourceMode) and receives into it in
  /// blocks of 256 bytes until the peer closes; `received` counts the bytes. ReadTimedOut when
  /// a wait of `timeoutSeconds` (> 0) runs out, ReadFailed, SourceWriteFailed, or Cancelled
  /// when readProgress says so.
  virtual NetResult readToSource(DataSource& source, long& received, int mode, int timeoutSeconds);
  /// Receives until `length` bytes came, a wait runs out, recv fails, the peer closes or the
  /// server is shutting down. Returns the bytes received.
  virtual int readExactly(char* buffer, int length, int timeoutSeconds);
  /// readToSource into the file at `path`.
  virtual NetResult readToFile(const char* path, int mode, long& received, int timeoutSeconds);
  /// Receives one line ending in CR LF into `buffer` (`size` bytes, NUL-terminated) and returns
  /// its length with the CR LF. Only a CR LF pair that arrived together ends the line; a longer
  /// line comes cut at size - 1 bytes. 0 when nothing came.
  virtual int readLine(char* buffer, int size, int timeoutSeconds);
  /// An outgoing connection from the worker, as CUT_WSClient::connectTo makes it.
  virtual NetResult connectTo(unsigned port, const char* host, int timeoutSeconds,
                              int family = AF_INET, int type = SOCK_STREAM);
  /// Closes the socket (shutting a stream connection down first). Failed when a call failed.
  virtual NetResult disconnect();
  /// Serves the connection: reads one line and answers "Connect Successful ... Now
  /// Disconnecting."
  virtual void serveConnection();
  /// Answers a connection beyond the server's limit.
  virtual void refuseConnection();
  virtual void spareHook();
  virtual bool readProgress(long bytesSoFar);
  virtual bool writeProgress(long bytesSoFar);
  /// Every result code passes through here on its way out; returns it unchanged.
  virtual NetResult reportResult(NetResult code);
  /// One recv as SocketBase's, except that with a deadline (the request deadline of a connection
  /// handed over by the server, see ListenServer::setRequestDeadline) it waits for bytes no
  /// longer than the receive time-out and never past the deadline; when that wait runs out it
  /// returns -1 as a receive that timed out does.
  int sysRecv(SOCKET socket, char* buffer, int length, int flags) override;

  /// Receives and drops whatever is waiting.
  int discardPending();
  using SocketBase::hasPendingData;
  /// True when bytes wait on the connection.
  bool hasPendingData();
  /// The client's address as dotted text.
  const char* peerAddressText() const { return peerText; }
  /// setsockopt SO_RCVTIMEO / SO_SNDTIMEO on the connection; the result of setsockopt.
  int setReceiveTimeout(int milliseconds);
  int setSendTimeout(int milliseconds);
  /// SO_SNDBUF of the connection, 0 when the query fails.
  int sendBufferSize();
  /// Moves the bytes of the sending and receiving operations through `replacement` instead of
  /// the connection (null: the connection again), so that tests and fuzzers can feed a request
  /// from memory; sends with flags, connecting and closing still act on the socket. The stream
  /// stays the caller's.
  void useStream(ByteStream* replacement) {
    stream = replacement != nullptr ? replacement : &socketStream;
  }

 protected:
  SOCKET socket = INVALID_SOCKET;
  sockaddr_in peerAddress{};
  SOCKET listeningSocket = INVALID_SOCKET;
  ListenServer* server = nullptr;
  std::uint8_t nonBlocking = 0;
  int receiveTimeoutMs = 0;
  int sendTimeoutMs = 0;
  int socketType = 0;
  char addressText[32] = {};
  SocketStream socketStream{*this, socket};
  ByteStream* stream = &socketStream;  // what the byte operations move bytes through

  /// Sends all `length` bytes with one writeText, followed by more only when a send took less:
  /// the bytes sent, or -1.
  int sendWhole(const char* data, int length);

 private:
  friend class ListenServer;

  bool shuttingDown() const;

  char peerText[16] = {};  // formatted once when the connection is handed over
};

/// One entry of the server's list of live connections.
struct LiveConnection {
  ConnectionWorker* worker;
  std::uint32_t threadId;
  SOCKET socket;
  LiveConnection* previous;
  LiveConnection* next;
};

/// What the accept thread hands to a new connection thread, which owns it.
struct ConnectionRecord {
  SOCKET socket;
  SOCKET listeningSocket;
  sockaddr_in peerAddress;  // a client of [::1] as 127.0.0.1
  int overLimit;
  ListenServer* server;
  char peerText[16];         // the client's address as text: dotted, or "::1"
  Deadline requestDeadline;  // from the accept
};

/// A TCP server: one listening socket (two with listenOnIPv6Loopback), an accept thread, and
/// connection threads that each serve one connection at a time with a ConnectionWorker of its own
/// for that connection. A connection accepted while 20 others, over both sockets, are being served
/// or refused has its worker refuse it: never more than 20 are served at once. A connection
/// thread that has finished its connection waits, without using the processor, for the next one
/// (at most as many wait as the connection limit) and ends when none has come for
/// kIdleThreadLifetimeMs, so that an idle server keeps no thread of its own but the accept
/// thread. A connection's receives wait for no bytes later than 10 s after its accept
/// (setRequestDeadline). Subclasses decide what a connection means by the workers they create. A
/// subclass whose workers call back into it must call waitForConnections in its own destructor.
class ListenServer : public SocketBase {
 public:
  ListenServer();
  ~ListenServer() override;

  /// Creates a stream socket bound to `address` (network order; INADDR_ANY for all interfaces)
  /// and `port` (0: any free port, see listeningPort) and listens with `backlog`.
  /// SocketCreateFailed, BindFailed or ListenFailed leave no socket open; AlreadyOpen while a
  /// listening socket is open.
  virtual NetResult startListening(unsigned short port, int backlog, int family,
                                   std::uint32_t address);
  /// Also listens on the IPv6 loopback address [::1], at the port startListening took, with
  /// `backlog`. Its clients are served as those of the first socket; the address filter judges
  /// them as 127.0.0.1 and acceptFilter is asked with "::1". Call between startListening and
  /// startAcceptThread. Failed without a first socket or while the accept thread runs;
  /// AlreadyOpen when listening on [::1] already; SocketCreateFailed (no IPv6 here), BindFailed
  /// or ListenFailed leave the first socket as it was and no second one open.
  NetResult listenOnIPv6Loopback(int backlog);
  virtual int spareOperation1();
  virtual int spareOperation2();
  /// A new worker for one connection, or null to drop it.
  virtual ConnectionWorker* createWorker() = 0;
  /// Destroys a worker made by createWorker; null is ignored.
  virtual void releaseWorker(ConnectionWorker* worker);
  /// Asked with the client's dotted address ("::1" for a client of [::1]) before a connection
  /// is admitted; false closes it without a byte. The base admits every address.
  virtual bool acceptFilter(const char* addressText);
  /// Receives the status and log texts of the server and its workers, from any of their
  /// threads. The base ignores them.
  virtual int onStatusText(const char* text);
  /// Every result code passes through here on its way out; returns it unchanged.
  virtual NetResult reportResult(NetResult code);

  /// Starts the accept thread. Failed when it runs already or cannot be started.
  NetResult startAcceptThread();
  /// Ends the accept thread and closes the listening sockets; connections being served go on.
  /// Nothing happens when the accept thread does not run.
  NetResult stop();
  int addLive(ConnectionWorker* worker, std::uint32_t threadId, SOCKET socket);
  int removeLive(std::uint32_t threadId);
  /// The connections being served or refused right now.
  int liveCount() const { return live.load(); }
  /// The connection threads there are now: serving a connection or waiting for the next.
  int connectionThreadCount();
  bool isShuttingDown() const { return shuttingDown.load() != 0; }
  /// Connects to the listening socket at `addressText`:`port` so that a blocked accept returns.
  NetResult wakeAcceptThread(unsigned short port, const char* addressText);

  /// The port listened on (the one the system chose for port 0); 65535 before listening.
  unsigned short listeningPort() const { return port; }
  /// The receive and send time-out of every accepted connection; 30000 ms unless changed.
  void setConnectionTimeout(int milliseconds) { connectionTimeoutMs = milliseconds; }
  /// How long after its accept a connection's receives may still wait for bytes: once that has
  /// passed, a receive that would wait fails as one that timed out does, so that clients that
  /// send their request a byte at a time cannot hold their places for long. Bytes that have
  /// arrived are still received. kRequestDeadlineMs unless changed; applies to connections
  /// accepted from then on.
  void setRequestDeadline(int milliseconds) { requestDeadlineMs = milliseconds; }
  int requestDeadline() const { return requestDeadlineMs.load(); }
  static constexpr int kRequestDeadlineMs = 10000;
  /// How long a connection thread that has finished its connection waits for the next one before
  /// it ends; kIdleThreadLifetimeMs unless changed.
  void setIdleThreadLifetime(int milliseconds) { idleThreadLifetimeMs = milliseconds; }
  static constexpr int kIdleThreadLifetimeMs = 30000;
  /// The filter asked for every accepted connection.
  AddressFilter& addressFilter() { return filter; }

 protected:
  /// Waits until every connection thread has served what it had and ended; from then on, new
  /// connections are closed without a byte. For destructors.
  void waitForConnections();
  void markShuttingDown() { shuttingDown = 1; }

 private:
  void acceptLoop();
  /// The listening socket to accept from next: with two, waits until one has a connection and
  /// takes turns when both have. INVALID_SOCKET when the wait failed.
  SOCKET nextListener();
  /// Waits a little after an accept failure that may pass; false when it cannot pass.
  bool pauseAfterAcceptFailure(int error);
  void admit(SOCKET accepted, SOCKET listener, const sockaddr_storage& peer);
  /// Queues an admitted connection for a waiting connection thread, or starts one.
  void handOver(std::unique_ptr<ConnectionRecord> record);
  void startConnectionThread();
  /// A connection thread: serves the queued connections, waits for more, ends when idle too long.
  void connectionThread();
  /// Serves or refuses one connection with a worker of its own, then closes it.
  void runConnection(const ConnectionRecord& record);
  void signalAcceptThreadEnded();
  /// Shuts the listening sockets down, which ends an accept or a wait on them.
  void shutDownListeningSockets();
  void closeListeningSocket();

  WSADATA libraryData{};
  int librariesStarted = 0;
  sockaddr_in listeningAddress{};
  SOCKET listening = INVALID_SOCKET;
  SOCKET listeningIPv6 = INVALID_SOCKET;  // on [::1], at the same port
  bool ipv6Turn = false;                  // the accept thread's: who goes first when both wait
  LiveConnection* liveHead = nullptr;
  std::thread acceptThread;
  std::atomic<int> running{0};
  std::atomic<int> stopRequested{0};
  int connectionLimit = 20;
  std::atomic<int> live{0};
  int protocol = 0;
  unsigned short port = 65535;
  std::atomic<int> shuttingDown{0};
  std::atomic<int> connectionTimeoutMs{30000};
  std::atomic<int> requestDeadlineMs{kRequestDeadlineMs};

  std::atomic<int> idleThreadLifetimeMs{kIdleThreadLifetimeMs};

  std::mutex liveLock;  // guards the live list
  std::mutex lock;      // guards the connection queue and counts, acceptThreadEnded
  std::condition_variable changed;
  std::condition_variable connectionQueued;  // wakes a waiting connection thread
  // Admitted and not yet finished, queued or not: the count the connection limit judges, as it is
  // raised on the accept thread before the next accept.
  int connectionsInProgress = 0;
  std::deque<std::unique_ptr<ConnectionRecord>> queued;  // admitted, no thread has taken them yet
  int connectionThreads = 0;                             // started and not ended
  int idleThreads = 0;    // of those, the ones waiting for a connection
  bool retiring = false;  // set by waitForConnections: threads end once the queue is empty
  bool acceptThreadEnded = true;
  std::atomic<std::uint32_t> nextThreadId{1};

  AddressFilter filter;
};
