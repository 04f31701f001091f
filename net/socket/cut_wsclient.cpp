#include "net/socket/cut_wsclient.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "net/io/data_source.h"
#include "net/io/file_data_source.h"
#include "net/io/stream_loops.h"
#include "net/socket/host_overrides.h"

namespace {

// The remote address field holds 30 characters and its terminator.
constexpr int kAddressCapacity = 30;

void CopyAddress(char (&field)[32], const char* text) {
  std::strncpy(field, text, kAddressCapacity);
  field[kAddressCapacity] = '\0';
}

// The notification window: its class, its extra bytes (the object's address comes first), and
// the message that hands it the object and those it hands on.
constexpr char kNotifyClassName[] = "CUT_WSClient";
constexpr int kNotifyWindowBytes = 20;
constexpr UINT kNotifyAttach = 1151;
constexpr UINT kNotifyEvent = 1152;
constexpr UINT kNotifyRead = 1153;
constexpr UINT kNotifyWrite = 1154;

LRESULT CALLBACK NotifyWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* client = reinterpret_cast<CUT_WSClient*>(GetWindowLongPtrA(window, 0));
  // The object is handed over once, by createNotifyWindow: a later 1151, from whoever posts it,
  // cannot point the hooks elsewhere.
  if (message == kNotifyAttach) {
    if (client == nullptr) {
      SetWindowLongPtrA(window, 0, lParam);
    }
    return 0;
  }
  const auto low = static_cast<int>(LOWORD(static_cast<UINT_PTR>(lParam)));
  const auto high = static_cast<int>(HIWORD(static_cast<UINT_PTR>(lParam)));
  if (client != nullptr && message == kNotifyEvent) {
    client->onNotifyEvent(low, high);
  } else if (client != nullptr && message == kNotifyRead) {
    client->onNotifyRead(high);
  } else if (client != nullptr && message == kNotifyWrite) {
    client->onNotifyWrite(high);
  } else {
    return DefWindowProcA(window, message, wParam, lParam);
  }
  return 0;
}

unsigned LocalPortOf(SOCKET socket) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) == SOCKET_ERROR) {
    return 0;
  }
  return ntohs(address.sin_port);
}

}  // namespace

CUT_WSClient::CUT_WSClient() {
  libraryStarted = WSAStartup(MAKEWORD(1, 1), &libraryData) == 0 ? 1 : 0;
}

CUT_WSClient::~CUT_WSClient() {
  CUT_WSClient::disconnect();
  if (libraryStarted) {
    WSACleanup();
  }
  if (notifyWindow != nullptr) {
    DestroyWindow(notifyWindow);
  }
}

// ---- connecting -------------------------------------------------------------------------------

NetResult CUT_WSClient::connectTo(unsigned port, const char* host, int timeoutSeconds, int family,
                                  int type) {
  if (connection != INVALID_SOCKET) {
    return reportResult(NetResult::AlreadyOpen);
  }
  if (host == nullptr) {
    return reportResult(NetResult::AddressResolveFailed);
  }
  if (isDottedAddress(host)) {
    CopyAddress(remoteAddress, host);
  } else if (resolveHost(host, remoteAddress, kAddressCapacity) != NetResult::Success) {
    return reportResult(NetResult::AddressResolveFailed);
  }
  socketType = type;
  addressFamily = family;
  remoteSocketAddress = SocketAddress(family, remoteAddress, port);
  if (createSocket(connection, family, type, 0) != 0) {
    return reportResult(NetResult::SocketCreateFailed);
  }
  const bool limited = timeoutSeconds >= 0;
  if (limited) {
    setNonBlocking(1);
  }
  if (connect(connection, reinterpret_cast<const sockaddr*>(&remoteSocketAddress),
              sizeof remoteSocketAddress) == SOCKET_ERROR) {
    if (WSAGetLastError() != WSAEWOULDBLOCK) {
      closeConnection();
      return reportResult(NetResult::ConnectFailed);
    }
    if (limited) {
      if (waitWritable(timeoutSeconds, 0) != NetResult::Success) {
        closeConnection();
        return reportResult(NetResult::ConnectTimedOut);
      }
      // A refused or unreachable peer also makes the socket writable: the pending error tells.
      int pending = 0;
      if (platform::GetPendingError(connection, pending) == SOCKET_ERROR || pending != 0) {
        closeConnection();
        return reportResult(NetResult::ConnectFailed);
      }
    }
  }
  if (limited) {
    setNonBlocking(0);
  }
  applyTimeouts();
  recordPorts();
  const int hook = onConnected(connection, host);
  if (hook != 0) {
    closeConnection();
    return reportResult(static_cast<NetResult>(hook));
  }
  return reportResult(NetResult::Success);
}

NetResult CUT_WSClient::connectFromLocal(unsigned localPortNumber, unsigned remotePortNumber,
                                         const char* localAddress, const char* remoteAddressText,
                                         int family, int type) {
  const NetResult bound = createBound(connection, family, type, 0,
                                      SocketAddress(family, localAddress, localPortNumber));
  if (bound != NetResult::Success) {
    return reportResult(bound);
  }
  // A socket that failed to connect is closed too: kept, it would make every retry AlreadyOpen.
  remoteSocketAddress = SocketAddress(family, remoteAddressText, remotePortNumber);
  if (connect(connection, reinterpret_cast<const sockaddr*>(&remoteSocketAddress),
              sizeof remoteSocketAddress) == SOCKET_ERROR) {
    closeConnection();
    return reportResult(NetResult::ConnectFailed);
  }
  if (remoteAddressText != nullptr) {
    CopyAddress(remoteAddress, remoteAddressText);
  }
  socketType = type;
  addressFamily = family;
  recordPorts();
  applyTimeouts();
  return reportResult(NetResult::Success);
}

NetResult CUT_WSClient::openDatagram(unsigned localPortNumber, unsigned remotePortNumber,
                                     const char* remoteAddressText, const char* localAddress) {
  const NetResult bound = createBound(connection, AF_INET, SOCK_DGRAM, 0,
                                      SocketAddress(AF_INET, localAddress, localPortNumber));
  if (bound != NetResult::Success) {
    return reportResult(bound);
  }
  socketType = SOCK_DGRAM;
  addressFamily = AF_INET;
  if (remoteAddressText != nullptr) {
    CopyAddress(remoteAddress, remoteAddressText);
  }
  remoteSocketAddress = SocketAddress(AF_INET, remoteAddress, remotePortNumber);
  remotePort = remotePortNumber;
  localPort = LocalPortOf(connection);
  applyTimeouts();
  return reportResult(NetResult::Success);
}

int CUT_WSClient::createSocket(SOCKET& socketHandle, int family, int type, int protocolNumber) {
  socketHandle = socket(family, type, protocolNumber);
  return socketHandle == INVALID_SOCKET ? 1 : 0;
}

NetResult CUT_WSClient::disconnect() {
  bool failed = connection != INVALID_SOCKET && !closeSocket(connection, socketType == SOCK_STREAM);
  failed = (listening != INVALID_SOCKET && !closeSocket(listening, true)) || failed;
  connection = INVALID_SOCKET;
  listening = INVALID_SOCKET;
  remotePort = localPort = listeningPort = 0;
  remoteAddress[0] = '\0';
  return reportResult(failed ? NetResult::Failed : NetResult::Success);
}

NetResult CUT_WSClient::createNotifyWindow(HINSTANCE instance) {
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  if (!GetClassInfoExA(instance, kNotifyClassName, &windowClass)) {
    windowClass = WNDCLASSEXA{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = NotifyWindowProcedure;
    windowClass.cbWndExtra = kNotifyWindowBytes;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kNotifyClassName;
    if (RegisterClassExA(&windowClass) == 0) {
      return reportResult(NetResult::Failed);
    }
  }
  if (notifyWindow != nullptr) {
    DestroyWindow(notifyWindow);
  }
  // Message-only: the window is there for its messages alone, and needs no display.
  notifyWindow = CreateWindowExA(0, kNotifyClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 instance, nullptr);
  if (notifyWindow == nullptr) {
    return NetResult::Failed;
  }
  SendMessageA(notifyWindow, kNotifyAttach, 0, reinterpret_cast<LPARAM>(this));
  return reportResult(NetResult::Success);
}

int CUT_WSClient::sysSend(SOCKET socket, const char* data, int length, int flags) {
  return deadline.passed() ? -1 : SocketBase::sysSend(socket, data, length, flags);
}

// ---- listening --------------------------------------------------------------------------------

NetResult CUT_WSClient::openListener(unsigned port, int backlog, int family, const char* address) {
  const sockaddr_in bound = SocketAddress(family, address, port);
  const NetResult result = createBound(listening, family, SOCK_STREAM, protocol, bound);
  if (result != NetResult::Success) {
    return reportResult(result);
  }
  listeningAddress = bound;
  if (listen(listening, backlog) == SOCKET_ERROR) {
    // A listener that failed half-way is of no use, and would make every retry AlreadyOpen.
    sysClose(listening);
    listening = INVALID_SOCKET;
    return reportResult(NetResult::ListenFailed);
  }
  listeningPort = LocalPortOf(listening);
  return reportResult(NetResult::Success);
}

NetResult CUT_WSClient::waitForIncoming(long seconds) {
  const bool ready =
      listening != INVALID_SOCKET && platform::WaitSocket(listening, false, seconds, 0) == 1;
  return reportResult(ready ? NetResult::Success : NetResult::Failed);
}

NetResult CUT_WSClient::acceptIncoming() {
  if (connection != INVALID_SOCKET) {
    const bool closed = closeSocket(connection, socketType == SOCK_STREAM);
    connection = INVALID_SOCKET;
    if (!closed) {
      return reportResult(NetResult::Failed);
    }
  }
  sockaddr_in peer{};
  socklen_t length = sizeof peer;
  connection = accept(listening, reinterpret_cast<sockaddr*>(&peer), &length);
  if (connection == INVALID_SOCKET) {
    return reportResult(NetResult::Failed);
  }
  remoteSocketAddress = peer;
  CopyAddress(remoteAddress, DottedText(peer.sin_addr).c_str());
  remotePort = ntohs(peer.sin_port);
  localPort = LocalPortOf(connection);
  const int hook = onConnected(connection, remoteAddress);
  if (hook != 0) {
    // A connection the hook turns down is closed, as after a connect: the peer learns at once.
    closeConnection();
  }
  return reportResult(static_cast<NetResult>(hook));
}

// ---- sending ----------------------------------------------------------------------------------

NetResult CUT_WSClient::writeSourceRaw(DataSource& source) {
  if (!stream->isOpen()) {
    return reportResult(NetResult::NoSocket);
  }
  long sent = 0;
  // One send may take only part of a block; writeAll sends the rest rather than drop it.
  return reportResult(SendSource(
      [this](const char* block, int count) { return writeAll(block, count); }, source, sent,
      [this](long bytesSoFar) { return writeProgress(bytesSoFar) && !isCancelled(); }));
}

NetResult CUT_WSClient::writeSource(DataSource& source) {
  if (!stream->isOpen()) {
    return reportResult(NetResult::NoSocket);
  }
  if (source.open(0) == -1) {
    return reportResult(NetResult::SourceOpenFailed);
  }
  const NetResult result = writeSourceRaw(source);
  source.close();
  return result;
}

int CUT_WSClient::writeText(const char* text, int length) {
  if (text == nullptr || !stream->isOpen()) {
    return 0;
  }
  if (length <= 0) {
    length = static_cast<int>(std::strlen(text));
  }
  if (length == 0) {
    return 0;
  }
  const int count = stream->write(text, length);
  return count < 0 ? 0 : count;
}

int CUT_WSClient::writeAll(const char* data, int length) {
  return WriteAll([this](const char* piece, int count) { return writeText(piece, count); }, data,
                  length, nullptr);
}

int CUT_WSClient::writeWrapped(const char* text, int length, int width) {
  int sent = 0;
  ForEachPiece(text, length, width, [this, &sent](const char* piece, int count) {
    const bool went =
        !isCancelled() && writeText(piece, count) == count && writeText("\r\n", 2) == 2;
    sent += went ? count : 0;
    return went;
  });
  return sent;
}

NetResult CUT_WSClient::writeFile(const char* path) {
  FileDataSource source(path, 4096);
  return writeSource(source);
}

NetResult CUT_WSClient::writeDatagram(const char* data, int& length) {
  if (connection == INVALID_SOCKET) {
    return reportResult(NetResult::NoSocket);
  }
  const int count = static_cast<int>(sendto(connection, data, length, kSendNoSignal,
                                            reinterpret_cast<const sockaddr*>(&remoteSocketAddress),
                                            sizeof remoteSocketAddress));
  if (count < 0) {
    return reportResult(NetResult::SendFailed);
  }
  length = count;
  return reportResult(NetResult::Success);
}

NetResult CUT_WSClient::waitWritable(long seconds, long microseconds) {
  const bool ready =
      connection != INVALID_SOCKET && waitSocket(connection, true, seconds, microseconds);
  return reportResult(ready ? NetResult::Success : NetResult::Failed);
}

// ---- receiving --------------------------------------------------------------------------------

NetResult CUT_WSClient::readToSourceLimited(ByteSink& target, int timeoutSeconds, long maxBytes) {
  if (!stream->isOpen()) {
    return reportResult(NetResult::NoSocket);
  }
  long received = 0;
  return reportResult(ReceiveToSink(
      *stream, target, timeoutSeconds, maxBytes, received,
      [this](long bytesSoFar) { return readProgress(bytesSoFar) && !isCancelled(); }));
}

NetResult CUT_WSClient::readToSource(DataSource& source, int mode, int timeoutSeconds,
                                     long maxBytes) {
  if (!stream->isOpen()) {
    return reportResult(NetResult::NoSocket);
  }
  long received = 0;
  return reportResult(ReceiveToSource(
      *stream, source, mode, timeoutSeconds, maxBytes, received,
      [this](long bytesSoFar) { return readProgress(bytesSoFar) && !isCancelled(); }));
}

int CUT_WSClient::readSome(char* buffer, int length, int timeoutSeconds) {
  return stream->isOpen() ? ReadSome(*stream, buffer, length, timeoutSeconds) : -1;
}

int CUT_WSClient::readExactly(char* buffer, int length, int timeoutSeconds) {
  return stream->isOpen() ? ReadExactly(*stream, buffer, length, timeoutSeconds, nullptr) : 0;
}

NetResult CUT_WSClient::readToFile(const char* path, int mode, int timeoutSeconds) {
  FileDataSource source(path, 4096);
  return readToSource(source, mode, timeoutSeconds, 0);
}

int CUT_WSClient::readLine(char* buffer, int size, int timeoutSeconds) {
  return ReadLine(*stream, buffer, size, timeoutSeconds, LineEnd::LineFeed,
                  [this] { return !stream->isOpen() || isCancelled(); });
}

NetResult CUT_WSClient::discardPending() {
  DiscardPending(*stream);
  return reportResult(NetResult::Success);
}

NetResult CUT_WSClient::readDatagram(char* buffer, int& length, int timeoutSeconds) {
  if (connection == INVALID_SOCKET) {
    return reportResult(NetResult::NoSocket);
  }
  if (waitReadable(std::max(timeoutSeconds, 0), 0) != NetResult::Success) {
    return reportResult(NetResult::ReadTimedOut);
  }
  sockaddr_in sender{};
  socklen_t senderLength = sizeof sender;
  const int count = static_cast<int>(
      recvfrom(connection, buffer, length, 0, reinterpret_cast<sockaddr*>(&sender), &senderLength));
  if (count < 0) {
    return reportResult(NetResult::ReadFailed);
  }
  remoteSocketAddress = sender;
  length = count;
  return reportResult(NetResult::Success);
}

NetResult CUT_WSClient::waitReadable(long seconds, long microseconds) {
  const bool ready = stream->isOpen() && stream->waitReadable(seconds, microseconds);
  return reportResult(ready ? NetResult::Success : NetResult::Failed);
}

// ---- hooks ------------------------------------------------------------------------------------

NetResult CUT_WSClient::reportResult(NetResult code) {
  return code;
}
bool CUT_WSClient::readProgress(long) {
  return !isCancelled();
}
bool CUT_WSClient::writeProgress(long) {
  return !isCancelled();
}
bool CUT_WSClient::isCancelled() {
  return false;
}
void CUT_WSClient::onNotifyEvent(int, int) {}
void CUT_WSClient::onNotifyRead(int) {}
void CUT_WSClient::onNotifyWrite(int) {}

// ---- settings and helpers ---------------------------------------------------------------------

bool CUT_WSClient::hasPendingData() {
  return stream->isOpen() && stream->hasPendingData();
}

NetResult CUT_WSClient::setReceiveTimeout(int milliseconds) {
  const int result = setTimeout(connection, SO_RCVTIMEO, milliseconds, receiveTimeoutMs);
  return reportResult(result == 0 ? NetResult::Success : NetResult::Failed);
}

NetResult CUT_WSClient::setSendTimeout(int milliseconds) {
  const int result = setTimeout(connection, SO_SNDTIMEO, milliseconds, sendTimeoutMs);
  return reportResult(result == 0 ? NetResult::Success : NetResult::Failed);
}

NetResult CUT_WSClient::setNonBlocking(int flag) {
  u_long argument = flag != 0 ? 1 : 0;
  if (ioctlsocket(connection, FIONBIO, &argument) == SOCKET_ERROR) {
    return reportResult(NetResult::Failed);
  }
  nonBlocking = flag;
  return reportResult(NetResult::Success);
}

NetResult CUT_WSClient::resolveHost(const char* name, char* buffer, int bufferSize) {
  if (name == nullptr || buffer == nullptr) {
    return reportResult(NetResult::HostNotFound);
  }
  const char* at = std::strrchr(name, '@');
  const std::string host = at != nullptr ? at + 1 : name;
  std::string dotted;
  if (std::optional<std::string> fixed = HostOverrides::instance().lookUp(host)) {
    dotted = *fixed;
  } else if (!platform::ResolveIPv4(host.c_str(), dotted)) {
    return reportResult(NetResult::HostNotFound);
  }
  if (static_cast<int>(dotted.size()) + 1 > bufferSize) {
    return reportResult(NetResult::BufferTooSmall);
  }
  std::memcpy(buffer, dotted.c_str(), dotted.size() + 1);
  return reportResult(NetResult::Success);
}

bool CUT_WSClient::isDottedAddress(const char* text) {
  return text != nullptr && inet_addr(text) != INADDR_NONE;
}

NetResult CUT_WSClient::createBound(SOCKET& handle, int family, int type, int protocolNumber,
                                    const sockaddr_in& address) {
  if (handle != INVALID_SOCKET) {
    return NetResult::AlreadyOpen;
  }
  if (createSocket(handle, family, type, protocolNumber) != 0) {
    return NetResult::SocketCreateFailed;
  }
  // A socket that failed to bind is closed: kept, it would leak and make every retry AlreadyOpen.
  if (bind(handle, reinterpret_cast<const sockaddr*>(&address), sizeof address) == SOCKET_ERROR) {
    sysClose(handle);
    handle = INVALID_SOCKET;
    return NetResult::BindFailed;
  }
  return NetResult::Success;
}

void CUT_WSClient::closeConnection() {
  sysClose(connection);
  connection = INVALID_SOCKET;
}

void CUT_WSClient::applyTimeouts() {
  setReceiveTimeout(receiveTimeoutMs);
  setSendTimeout(sendTimeoutMs);
}

void CUT_WSClient::recordPorts() {
  remotePort = ntohs(remoteSocketAddress.sin_port);
  localPort = LocalPortOf(connection);
}
