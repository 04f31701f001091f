#include "net/http_server/listen_server.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>

#include "net/io/data_source.h"
#include "net/io/file_data_source.h"
#include "net/io/stream_loops.h"
#include "net/socket/cut_wsclient.h"

namespace {

// The accept thread gets this long to leave after the wake-up before its socket is shut.
constexpr std::chrono::milliseconds kAcceptThreadWait{30000};
// The wake-up connection goes to our own listening socket; it never needs long.
constexpr int kWakeConnectLimitMs = 2000;
// A receive without a time-out of its own waits this long at most, if the deadline allows.
constexpr long kUntilTheDeadlineMs = 24L * 60 * 60 * 1000;
// After an accept failure that may pass (no descriptors left, say), the next try waits this long.
constexpr std::chrono::milliseconds kAcceptRetryPause{50};

// Accept failures after which the listening socket is of no more use: it was shut or closed.
bool EndsAccepting(int error) {
  return error == WSAEINVAL || error == WSAENOTSOCK || error == WSAEOPNOTSUPP || error == WSAEFAULT;
}

// One writeText of `worker` with `flags`.
WriteBytes Writer(ConnectionWorker& worker, int flags) {
  return [&worker, flags](const char* data, int length) {
    return worker.writeText(data, length, flags);
  };
}

}  // namespace

// ---- ConnectionWorker: sending ----------------------------------------------------------------

int ConnectionWorker::writeText(const char* text, int length, int flags) {
  if (text == nullptr) {
    return -1;
  }
  if (length < 0) {
    length = static_cast<int>(std::strlen(text));
  }
  // Send flags mean something to a socket only.
  return flags == 0 ? stream->write(text, length) : sysSend(socket, text, length, flags);
}

int ConnectionWorker::sendWhole(const char* data, int length) {
  // One send normally takes it all; should it take less, the rest follows instead of being lost.
  const int sent = WriteAll(Writer(*this, 0), data, length, nullptr);
  return sent < length ? -1 : sent;
}

NetResult ConnectionWorker::writeSource(DataSource& source, long& sent) {
  if (source.open(0) == -1) {
    return reportResult(NetResult::SourceOpenFailed);
  }
  // A false writeProgress ends the transfer early, and that is no failure here.
  const NetResult result =
      SendSource([this](const char* block, int count) { return sendWhole(block, count); }, source,
                 sent, [this](long bytesSoFar) { return writeProgress(bytesSoFar); });
  source.close();
  return reportResult(result == NetResult::SendFailed ? NetResult::WriteFailed
                                                      : NetResult::Success);
}

int ConnectionWorker::writeAll(const char* data, int length, int flags) {
  return WriteAll(Writer(*this, flags), data, length, [this] { return shuttingDown(); });
}

int ConnectionWorker::writeWrapped(const char* text, int length, int width) {
  int sent = 0;
  std::string line;
  ForEachPiece(text, length, width, [this, &sent, &line](const char* piece, int count) {
    // Each piece goes with its line end in one send; a send that moves nothing is the answer.
    line.assign(piece, static_cast<std::size_t>(count)) += "\r\n";
    const int result = writeText(line.data(), static_cast<int>(line.size()), 0);
    sent = result > 0 ? sent + result : result;
    return result > 0;
  });
  return sent;
}

NetResult ConnectionWorker::writeFile(const char* path, long& sent) {
  FileDataSource source(path, 4096);
  return writeSource(source, sent);
}

// ---- ConnectionWorker: receiving --------------------------------------------------------------

int ConnectionWorker::readSome(char* buffer, int length, int timeoutSeconds) {
  return ReadSome(*stream, buffer, length, timeoutSeconds);
}

NetResult ConnectionWorker::readToSource(DataSource& source, long& received, int mode,
                                         int timeoutSeconds) {
  return reportResult(
      ReceiveToSource(*stream, source, mode, timeoutSeconds, 0, received,
                      [this](long bytesSoFar) { return readProgress(bytesSoFar); }));
}

int ConnectionWorker::readExactly(char* buffer, int length, int timeoutSeconds) {
  return ReadExactly(*stream, buffer, length, timeoutSeconds, [this] { return shuttingDown(); });
}

NetResult ConnectionWorker::readToFile(const char* path, int mode, long& received,
                                       int timeoutSeconds) {
  FileDataSource source(path, 4096);
  return readToSource(source, received, mode, timeoutSeconds);
}

int ConnectionWorker::readLine(char* buffer, int size, int timeoutSeconds) {
  return ReadLine(*stream, buffer, size, timeoutSeconds, LineEnd::CarriageReturnLineFeed, nullptr);
}

// ---- ConnectionWorker: connections ------------------------------------------------------------

NetResult ConnectionWorker::connectTo(unsigned port, const char* host, int timeoutSeconds,
                                      int family, int type) {
  if (socket != INVALID_SOCKET) {
    return reportResult(NetResult::AlreadyOpen);
  }
  std::string dotted = host != nullptr ? host : "";
  if (host == nullptr ||
      (!CUT_WSClient::isDottedAddress(host) && !platform::ResolveIPv4(host, dotted))) {
    return reportResult(NetResult::AddressResolveFailed);
  }
  std::snprintf(addressText, sizeof addressText, "%.30s", dotted.c_str());
  socketType = type;
  const SOCKET connection = ::socket(family, type, 0);
  if (connection == INVALID_SOCKET) {
    return reportResult(NetResult::SocketCreateFailed);
  }
  const sockaddr_in target = SocketAddress(family, addressText, port);
  const bool limited = timeoutSeconds >= 0;
  u_long blocking = limited ? 1 : 0;
  if (limited) {
    ioctlsocket(connection, FIONBIO, &blocking);
  }
  NetResult result = NetResult::Success;
  if (connect(connection, reinterpret_cast<const sockaddr*>(&target), sizeof target) ==
      SOCKET_ERROR) {
    int pending = 0;
    if (WSAGetLastError() != WSAEWOULDBLOCK || !limited) {
      result = NetResult::ConnectFailed;
    } else if (platform::WaitSocket(connection, true, timeoutSeconds, 0) != 1) {
      result = NetResult::ConnectTimedOut;
    } else if (platform::GetPendingError(connection, pending) == SOCKET_ERROR || pending != 0) {
      result = NetResult::ConnectFailed;
    }
  }
  if (result != NetResult::Success) {
    sysClose(connection);
    addressText[0] = '\0';
    return reportResult(result);
  }
  blocking = 0;
  ioctlsocket(connection, FIONBIO, &blocking);
  socket = connection;
  setDeadline(Deadline());  // the server's deadline was for the request it handed over
  if (receiveTimeoutMs > 0) {
    setReceiveTimeout(receiveTimeoutMs);
  }
  if (sendTimeoutMs > 0) {
    setSendTimeout(sendTimeoutMs);
  }
  const int hook = onConnected(socket, host);
  if (hook != 0) {
    disconnect();
  }
  return reportResult(static_cast<NetResult>(hook));
}

NetResult ConnectionWorker::disconnect() {
  const bool failed = socket != INVALID_SOCKET && !closeSocket(socket, socketType == SOCK_STREAM);
  socket = INVALID_SOCKET;
  addressText[0] = '\0';
  return reportResult(failed ? NetResult::Failed : NetResult::Success);
}

void ConnectionWorker::serveConnection() {
  char line[100];
  if (readLine(line, sizeof line, 0) > 0) {
    discardPending();
    writeText("Connect Successful ... Now Disconnecting.", -1, 0);
  }
}

void ConnectionWorker::refuseConnection() {
  char request[256];
  if (readSome(request, sizeof request, 0) > 0) {
    writeText("Too Many Connections, Please Try Later.", -1, 0);
  }
}

void ConnectionWorker::spareHook() {}

bool ConnectionWorker::readProgress(long) {
  return true;
}

bool ConnectionWorker::writeProgress(long) {
  return true;
}

NetResult ConnectionWorker::reportResult(NetResult code) {
  return code;
}

int ConnectionWorker::sysRecv(SOCKET connection, char* buffer, int length, int flags) {
  // A blocking recv would wait its whole receive time-out, past the request deadline: with a
  // deadline, bytes that have come are taken at once, and a receive that must wait waits here,
  // where the wait ends by then.
  if (deadline.isSet()) {
    const int count = platform::ReceiveWithoutWaiting(connection, buffer, length, flags);
    if (count != SOCKET_ERROR || WSAGetLastError() != WSAEWOULDBLOCK) {
      return count < 0 ? -1 : count;
    }
    const long waitMs = receiveTimeoutMs > 0 ? receiveTimeoutMs : kUntilTheDeadlineMs;
    if (!waitSocket(connection, false, waitMs / 1000, waitMs % 1000 * 1000)) {
      return -1;
    }
  }
  return SocketBase::sysRecv(connection, buffer, length, flags);
}

int ConnectionWorker::discardPending() {
  DiscardPending(*stream);
  return 0;
}

bool ConnectionWorker::hasPendingData() {
  return stream->isOpen() && stream->hasPendingData();
}

bool ConnectionWorker::shuttingDown() const {
  return server != nullptr && server->isShuttingDown();
}

int ConnectionWorker::setReceiveTimeout(int milliseconds) {
  return setTimeout(socket, SO_RCVTIMEO, milliseconds, receiveTimeoutMs);
}

int ConnectionWorker::setSendTimeout(int milliseconds) {
  return setTimeout(socket, SO_SNDTIMEO, milliseconds, sendTimeoutMs);
}

int ConnectionWorker::sendBufferSize() {
  int size = 0;
  socklen_t length = sizeof size;
  if (getsockopt(socket, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<char*>(&size), &length) ==
      SOCKET_ERROR) {
    return 0;
  }
  return size;
}

// ---- ListenServer -----------------------------------------------------------------------------

ListenServer::ListenServer() {
  librariesStarted += WSAStartup(MAKEWORD(1, 1), &libraryData) == 0 ? 1 : 0;
}

ListenServer::~ListenServer() {
  shuttingDown = 1;
  stop();
  closeListeningSocket();
  // No connection thread may outlive the server it calls back into.
  waitForConnections();
  for (; librariesStarted > 0; --librariesStarted) {
    WSACleanup();
  }
}

NetResult ListenServer::startListening(unsigned short portNumber, int backlog, int family,
                                       std::uint32_t address) {
  if (WSAStartup(MAKEWORD(1, 1), &libraryData) != 0) {
    return reportResult(NetResult::Failed);
  }
  ++librariesStarted;
  if (listening != INVALID_SOCKET) {
    return reportResult(NetResult::AlreadyOpen);
  }
  listeningAddress = SocketAddress(family, address, portNumber);
  listening = ::socket(family, SOCK_STREAM, protocol);
  if (listening == INVALID_SOCKET) {
    return reportResult(NetResult::SocketCreateFailed);
  }
  // The port must be free again at once after a stop, while its last connections linger.
  platform::AllowAddressReuse(listening);
  NetResult result = NetResult::Success;
  socklen_t length = sizeof listeningAddress;
  if (bind(listening, reinterpret_cast<const sockaddr*>(&listeningAddress),
           sizeof listeningAddress) == SOCKET_ERROR) {
    result = NetResult::BindFailed;
  } else if (listen(listening, backlog) == SOCKET_ERROR) {
    result = NetResult::ListenFailed;
  } else if (getsockname(listening, reinterpret_cast<sockaddr*>(&listeningAddress), &length) ==
             SOCKET_ERROR) {
    result = NetResult::BindFailed;
  }
  if (result != NetResult::Success) {
    // A socket that failed half-way serves nobody; kept, it would block every later try.
    closeListeningSocket();
    return reportResult(result);
  }
  port = ntohs(listeningAddress.sin_port);
  return reportResult(NetResult::Success);
}

NetResult ListenServer::listenOnIPv6Loopback(int backlog) {
  if (listening == INVALID_SOCKET || running.load() == 1) {
    return reportResult(NetResult::Failed);
  }
  if (listeningIPv6 != INVALID_SOCKET) {
    return reportResult(NetResult::AlreadyOpen);
  }
  const SOCKET created = ::socket(AF_INET6, SOCK_STREAM, protocol);
  if (created == INVALID_SOCKET) {
    return reportResult(NetResult::SocketCreateFailed);
  }
  platform::AllowAddressReuse(created);
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_port = htons(port);
  address.sin6_addr = in6addr_loopback;
  NetResult result = NetResult::Success;
  if (bind(created, reinterpret_cast<const sockaddr*>(&address), sizeof address) == SOCKET_ERROR) {
    result = NetResult::BindFailed;
  } else if (listen(created, backlog) == SOCKET_ERROR) {
    result = NetResult::ListenFailed;
  }
  if (result != NetResult::Success) {
    sysClose(created);
    return reportResult(result);
  }
  listeningIPv6 = created;
  return reportResult(NetResult::Success);
}

int ListenServer::spareOperation1() {
  return 0;
}

int ListenServer::spareOperation2() {
  return 0;
}

void ListenServer::releaseWorker(ConnectionWorker* worker) {
  delete worker;
}

bool ListenServer::acceptFilter(const char*) {
  return true;
}

int ListenServer::onStatusText(const char*) {
  return 0;
}

NetResult ListenServer::reportResult(NetResult code) {
  return code;
}

NetResult ListenServer::startAcceptThread() {
  if (running.load() == 1) {
    return reportResult(NetResult::Failed);
  }
  if (acceptThread.joinable()) {
    acceptThread.join();  // an earlier accept thread that has ended on its own
  }
  stopRequested = 0;
  {
    std::lock_guard<std::mutex> guard(lock);
    acceptThreadEnded = false;
  }
  try {
    acceptThread = std::thread(&ListenServer::acceptLoop, this);
  } catch (const std::system_error&) {
    std::lock_guard<std::mutex> guard(lock);
    acceptThreadEnded = true;
    return reportResult(NetResult::Failed);
  }
  running = 1;
  return reportResult(NetResult::Success);
}

NetResult ListenServer::stop() {
  if (running.load() != 1) {
    return reportResult(NetResult::Success);
  }
  running = 0;
  stopRequested = 1;
  in_addr target = listeningAddress.sin_addr;
  if (target.s_addr == htonl(INADDR_ANY)) {
    target.s_addr = htonl(INADDR_LOOPBACK);
  }
  // Without the wake-up the accept thread is still blocked; shutting its sockets ends the
  // accept, or the wait on both.
  if (wakeAcceptThread(port, DottedText(target).c_str()) != NetResult::Success) {
    shutDownListeningSockets();
  }
  if (acceptThread.joinable()) {
    std::unique_lock<std::mutex> guard(lock);
    if (!changed.wait_for(guard, kAcceptThreadWait, [this] { return acceptThreadEnded; })) {
      shutDownListeningSockets();
    }
    guard.unlock();
    acceptThread.join();
  }
  closeListeningSocket();
  return reportResult(NetResult::Success);
}

int ListenServer::addLive(ConnectionWorker* worker, std::uint32_t threadId, SOCKET socket) {
  std::lock_guard<std::mutex> guard(liveLock);
  auto* entry = new LiveConnection{worker, threadId, socket, nullptr, liveHead};
  if (liveHead != nullptr) {
    liveHead->previous = entry;
  }
  liveHead = entry;
  ++live;
  return 1;
}

int ListenServer::removeLive(std::uint32_t threadId) {
  std::lock_guard<std::mutex> guard(liveLock);
  LiveConnection* entry = liveHead;
  while (entry != nullptr && entry->threadId != threadId) {
    entry = entry->next;
  }
  if (entry != nullptr) {
    (entry->previous != nullptr ? entry->previous->next : liveHead) = entry->next;
    if (entry->next != nullptr) {
      entry->next->previous = entry->previous;
    }
    delete entry;
    --live;
  }
  return 1;
}

NetResult ListenServer::wakeAcceptThread(unsigned short portNumber, const char* addressText) {
  const SOCKET waker = ::socket(AF_INET, SOCK_STREAM, protocol);
  if (waker == INVALID_SOCKET) {
    return reportResult(NetResult::SocketCreateFailed);
  }
  // A connect to a full accept queue would otherwise retry for minutes.
  platform::SetSocketTimeout(waker, SO_SNDTIMEO, kWakeConnectLimitMs);
  const sockaddr_in target = SocketAddress(AF_INET, inet_addr(addressText), portNumber);
  if (connect(waker, reinterpret_cast<const sockaddr*>(&target), sizeof target) == SOCKET_ERROR) {
    onStatusText(socketErrorText(waker));
    sysClose(waker);
    return reportResult(NetResult::ConnectFailed);
  }
  if (sysShutdown(waker, SD_BOTH) == -1) {
    onStatusText(socketErrorText(waker));
  }
  if (sysClose(waker) == -1) {
    onStatusText(socketErrorText(waker));
  }
  return reportResult(NetResult::Success);
}

void ListenServer::waitForConnections() {
  std::unique_lock<std::mutex> guard(lock);
  retiring = true;
  connectionQueued.notify_all();
  changed.wait(guard, [this] { return connectionThreads == 0; });
}

void ListenServer::acceptLoop() {
  while (stopRequested.load() == 0) {
    if (listening == INVALID_SOCKET) {
      onStatusText("ServerSocket invalid");
      signalAcceptThreadEnded();
      return;
    }
    const SOCKET listener = nextListener();
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    const SOCKET accepted = listener == INVALID_SOCKET
                                ? INVALID_SOCKET
                                : accept(listener, reinterpret_cast<sockaddr*>(&peer), &length);
    const int error = accepted == INVALID_SOCKET ? WSAGetLastError() : 0;
    if (stopRequested.load() != 0) {
      if (accepted != INVALID_SOCKET) {
        closeSocket(accepted, true);
      }
      break;
    }
    if (accepted == INVALID_SOCKET) {
      // One client that gave up early, or a moment without free descriptors, must not end the
      // server for good.
      if (!pauseAfterAcceptFailure(error)) {
        signalAcceptThreadEnded();
        return;
      }
      continue;
    }
    admit(accepted, listener, peer);
  }
  running = 0;
  signalAcceptThreadEnded();
}

SOCKET ListenServer::nextListener() {
  if (listeningIPv6 == INVALID_SOCKET) {
    return listening;  // the accept itself waits
  }
  const SOCKET both[] = {listening, listeningIPv6};
  bool ready[] = {false, false};
  if (platform::WaitReadable(both, 2, ready) == SOCKET_ERROR) {
    return INVALID_SOCKET;
  }
  // Clients of one family must not keep those of the other waiting.
  if (ready[0] && ready[1]) {
    ipv6Turn = !ipv6Turn;
    return ipv6Turn ? listeningIPv6 : listening;
  }
  return ready[1] ? listeningIPv6 : listening;
}

bool ListenServer::pauseAfterAcceptFailure(int error) {
  if (EndsAccepting(error)) {
    return false;
  }
  if (error != WSAEINTR && error != WSAECONNABORTED && error != WSAECONNRESET) {
    std::unique_lock<std::mutex> guard(lock);
    changed.wait_for(guard, kAcceptRetryPause, [this] { return stopRequested.load() != 0; });
  }
  return true;
}

void ListenServer::admit(SOCKET accepted, SOCKET listener, const sockaddr_storage& peer) {
  // The request's time runs from the accept.
  const Deadline requestDeadline = Deadline::in(requestDeadlineMs.load());
  sockaddr_in judged{};
  std::string text;
  if (peer.ss_family == AF_INET6) {
    // The IPv6 socket listens on [::1] alone; the filter, which knows IPv4 addresses, judges its
    // clients as the IPv4 loopback address. Anything else is not let in.
    const auto& client = reinterpret_cast<const sockaddr_in6&>(peer);
    if (std::memcmp(&client.sin6_addr, &in6addr_loopback, sizeof client.sin6_addr) != 0) {
      closeSocket(accepted, true);
      return;
    }
    judged = SocketAddress(AF_INET, htonl(INADDR_LOOPBACK), ntohs(client.sin6_port));
    text = "::1";
  } else {
    judged = reinterpret_cast<const sockaddr_in&>(peer);
    text = DottedText(judged.sin_addr);
  }
  if (!acceptFilter(text.c_str()) || !filter.isAllowed(judged.sin_addr.s_addr)) {
    closeSocket(accepted, true);
    return;
  }
  auto record = std::make_unique<ConnectionRecord>(
      ConnectionRecord{accepted, listener, judged, 0, this, {}, requestDeadline});
  std::snprintf(record->peerText, sizeof record->peerText, "%s", text.c_str());
  handOver(std::move(record));
}

void ListenServer::handOver(std::unique_ptr<ConnectionRecord> record) {
  std::unique_lock<std::mutex> guard(lock);
  if (retiring) {
    guard.unlock();
    closeSocket(record->socket, true);
    return;
  }
  // Judged by the count this thread raises itself: the connections handed over just before may
  // not have been taken by a thread yet.
  record->overLimit = connectionsInProgress >= connectionLimit ? 1 : 0;
  ++connectionsInProgress;
  queued.push_back(std::move(record));
  // A waiting thread takes it, unless every waiting one has a queued connection to take already.
  const bool waiting = idleThreads >= static_cast<int>(queued.size());
  connectionThreads += waiting ? 0 : 1;
  guard.unlock();
  // Woken after the unlock, the thread finds the lock free.
  if (waiting) {
    connectionQueued.notify_one();
  } else {
    startConnectionThread();
  }
}

void ListenServer::startConnectionThread() {
  try {
    std::thread(&ListenServer::connectionThread, this).detach();
  } catch (const std::system_error&) {
    std::unique_lock<std::mutex> guard(lock);
    --connectionThreads;
    // The threads still there take the queue in turn; with none left, nobody would.
    std::deque<std::unique_ptr<ConnectionRecord>> orphans;
    if (connectionThreads == 0) {
      orphans.swap(queued);
      connectionsInProgress -= static_cast<int>(orphans.size());
      changed.notify_all();
    }
    guard.unlock();
    for (const auto& orphan : orphans) {
      closeSocket(orphan->socket, true);
    }
  }
}

void ListenServer::connectionThread() {
  std::unique_lock<std::mutex> guard(lock);
  for (;;) {
    if (queued.empty()) {
      if (retiring || idleThreads >= connectionLimit) {
        break;
      }
      ++idleThreads;
      const bool woken =
          connectionQueued.wait_for(guard, std::chrono::milliseconds(idleThreadLifetimeMs.load()),
                                    [this] { return !queued.empty() || retiring; });
      --idleThreads;
      if (!woken) {
        break;  // idle too long: a quiet server keeps no thread waiting
      }
      continue;
    }
    const std::unique_ptr<ConnectionRecord> record = std::move(queued.front());
    queued.pop_front();
    guard.unlock();
    runConnection(*record);
    guard.lock();
    --connectionsInProgress;
  }
  // The last thing a connection thread does with the server.
  --connectionThreads;
  changed.notify_all();
}

int ListenServer::connectionThreadCount() {
  std::lock_guard<std::mutex> guard(lock);
  return connectionThreads;
}

void ListenServer::runConnection(const ConnectionRecord& record) {
  ConnectionWorker* worker = createWorker();
  if (worker == nullptr) {
    closeSocket(record.socket, true);
    return;
  }
  worker->socket = record.socket;
  worker->listeningSocket = record.listeningSocket;
  worker->peerAddress = record.peerAddress;
  worker->server = this;
  std::memcpy(worker->peerText, record.peerText, sizeof worker->peerText);
  const std::uint32_t threadId = nextThreadId++;
  addLive(worker, threadId, record.socket);
  // The header lines and the body leave in separate calls: let them leave in full segments,
  // without waiting for acknowledgements in between.
  platform::GatherSends(record.socket);
  const int timeout = connectionTimeoutMs.load();
  worker->setReceiveTimeout(timeout);
  worker->setSendTimeout(timeout);
  worker->setDeadline(record.requestDeadline);
  if (!isShuttingDown()) {
    if (record.overLimit != 0) {
      worker->refuseConnection();
    } else if (worker->onConnected(record.socket, "") == 0) {
      worker->serveConnection();
    }
  }
  worker->closeSocket(record.socket, true);
  worker->socket = INVALID_SOCKET;
  // The worker goes before the entry: once the last entry is gone, the server may be destroyed.
  releaseWorker(worker);
  removeLive(threadId);
}

void ListenServer::signalAcceptThreadEnded() {
  std::lock_guard<std::mutex> guard(lock);
  acceptThreadEnded = true;
  changed.notify_all();
}

void ListenServer::shutDownListeningSockets() {
  for (const SOCKET open : {listening, listeningIPv6}) {
    if (open != INVALID_SOCKET) {
      sysShutdown(open, SD_BOTH);
    }
  }
}

void ListenServer::closeListeningSocket() {
  for (SOCKET* open : {&listening, &listeningIPv6}) {
    if (*open != INVALID_SOCKET) {
      if (sysShutdown(*open, SD_BOTH) == -1) {
        socketErrorText(*open);  // fetched to clear the error; nobody is told
      }
      sysClose(*open);
      *open = INVALID_SOCKET;
    }
  }
}
