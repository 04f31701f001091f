#pragma once

#include "net/io/byte_sink.h"
#include "net/io/byte_stream.h"
#include "net/io/net_result.h"
#include "net/socket/socket_base.h"
#include "net/socket/socket_stream.h"
#include "platform/win32.h"
#include "platform/winsock.h"

class DataSource;

/// A blocking socket endpoint: connects with a time-out, sends, receives with time-outs, reads
/// lines, streams bodies into and out of data sources. Operations that can fail return a
/// NetResult passed through reportResult; operations that move bytes return counts. An object is
/// used by one thread at a time; it owns its sockets and closes them itself.
class CUT_WSClient : public SocketBase {
 public:
  CUT_WSClient();
  ~CUT_WSClient() override;

  /// Connects to `host` (a name or dotted address) on `port`. With `timeoutSeconds` >= 0 the
  /// connection must stand within that many seconds (ConnectTimedOut otherwise); a negative one
  /// makes a plain blocking connect. AlreadyOpen when connected, AddressResolveFailed when the
  /// host does not resolve, ConnectFailed when the peer refuses.
  virtual NetResult connectTo(unsigned port, const char* host, int timeoutSeconds,
                              int family = AF_INET, int type = SOCK_STREAM);
  /// Binds to localAddress:localPort, then connects to remoteAddress:remotePort.
  virtual NetResult connectFromLocal(unsigned localPort, unsigned remotePort,
                                     const char* localAddress, const char* remoteAddress,
                                     int family = AF_INET, int type = SOCK_STREAM);
  /// Opens a datagram socket bound to localAddress:localPort (null: any address) that sends to
  /// remoteAddress:remotePort.
  virtual NetResult openDatagram(unsigned localPort, unsigned remotePort, const char* remoteAddress,
                                 const char* localAddress);
  /// One send as SocketBase's, but -1 without sending once the deadline has passed.
  int sysSend(SOCKET socket, const char* data, int length, int flags) override;
  /// Creates a socket into `socket`: 0, or 1 when it could not be made.
  virtual int createSocket(SOCKET& socket, int family, int type, int protocol);
  /// Closes the connection and the listening socket; Failed when a shutdown or close failed.
  virtual NetResult disconnect();
  /// Creates a hidden message-only window of the class "CUT_WSClient" (registered for `instance`
  /// when it is not yet) on the calling thread, in place of any earlier one, and tells it this
  /// object: message 1152 to it then reaches onNotifyEvent (low and high half of its long
  /// parameter), 1153 onNotifyRead and 1154 onNotifyWrite (high half), each answered with 0. Failed
  /// when the class cannot be registered or (not passed through reportResult) the window not made.
  /// The window lives until the object ends, on the thread that made it.
  virtual NetResult createNotifyWindow(HINSTANCE instance);
  /// Creates the listening socket, bound to address:port (null address: any) with `backlog`.
  virtual NetResult openListener(unsigned port, int backlog, int family = AF_INET,
                                 const char* address = nullptr);
  /// Success when a connection waits to be accepted within `seconds`, else Failed.
  virtual NetResult waitForIncoming(long seconds);
  /// Accepts a connection in place of any open one; the result is what onConnected answers, and
  /// a non-zero answer closes the connection.
  virtual NetResult acceptIncoming();
  /// Sends all bytes of an already open source, leaving it open.
  virtual NetResult writeSourceRaw(DataSource& source);
  /// Opens `source` for reading, sends all its bytes in blocks of 255, closes it.
  virtual NetResult writeSource(DataSource& source);
  /// One send of `length` bytes (0 or less: up to the NUL). Returns the count, 0 on failure.
  virtual int writeText(const char* text, int length = 0);
  /// Sends until all `length` bytes are sent or a send fails; returns the count sent.
  virtual int writeAll(const char* data, int length);
  /// Sends `text` in pieces of `width` bytes, each followed by CR LF; returns the text bytes sent.
  virtual int writeWrapped(const char* text, int length, int width);
  /// Sends the file at `path`.
  virtual NetResult writeFile(const char* path);
  /// Sends a datagram to the recorded target; `length` becomes the count sent.
  virtual NetResult writeDatagram(const char* data, int& length);
  /// Success when the connection can be written within the time, else Failed.
  virtual NetResult waitWritable(long seconds, long microseconds);
  /// Receives into an open sink of another kind, bounded by its capacity and by `maxBytes`.
  virtual NetResult readToSourceLimited(ByteSink& target, int timeoutSeconds, long maxBytes);
  /// Opens `source` in `mode` (1 create or truncate, 2 append), receives into it in blocks of
  /// 256 bytes until the peer closes (or `maxBytes` > 0 arrived), closes it.
  virtual NetResult readToSource(DataSource& source, int mode, int timeoutSeconds, long maxBytes);
  /// One recv after waiting up to `timeoutSeconds` (when > 0): the count, 0 when nothing came or
  /// the peer closed, -1 on error.
  virtual int readSome(char* buffer, int length, int timeoutSeconds);
  /// Receives until `length` bytes came, a wait ran out, the peer closed or recv failed.
  virtual int readExactly(char* buffer, int length, int timeoutSeconds);
  /// Receives into the file at `path` until the peer closes.
  virtual NetResult readToFile(const char* path, int mode, int timeoutSeconds);
  /// Receives one line, its CR LF kept, NUL-terminated in `size` bytes; a longer line comes cut
  /// at size - 1 bytes and the rest stays queued. Returns the bytes stored, 0 when nothing came.
  virtual int readLine(char* buffer, int size, int timeoutSeconds);
  /// Receives and drops whatever is waiting.
  virtual NetResult discardPending();
  /// Receives one datagram of at most `length` bytes; `length` becomes its size.
  virtual NetResult readDatagram(char* buffer, int& length, int timeoutSeconds);
  /// Success when the connection can be read within the time, else Failed.
  virtual NetResult waitReadable(long seconds, long microseconds);
  /// Every result code passes through here on its way out; returns it unchanged.
  virtual NetResult reportResult(NetResult code);
  /// Called after each block received; false stops the transfer with Cancelled.
  virtual bool readProgress(long bytesSoFar);
  /// Called after each block sent; false stops the transfer with Cancelled.
  virtual bool writeProgress(long bytesSoFar);
  /// Polled by long operations; true stops them.
  virtual bool isCancelled();
  /// Hooks for the notification window's messages 1152, 1153 and 1154; they do nothing.
  virtual void onNotifyEvent(int event, int error);
  virtual void onNotifyRead(int error);
  virtual void onNotifyWrite(int error);

  using SocketBase::hasPendingData;
  /// True when bytes wait on the connection.
  bool hasPendingData();
  NetResult setReceiveTimeout(int milliseconds);
  NetResult setSendTimeout(int milliseconds);
  int receiveTimeout() const { return receiveTimeoutMs; }
  NetResult setNonBlocking(int flag);
  /// Resolves the part of `name` after its last "@" to dotted text in `buffer`: HostNotFound,
  /// BufferTooSmall, or Success. The process's host overrides come before the resolver.
  NetResult resolveHost(const char* name, char* buffer, int bufferSize);
  static bool isDottedAddress(const char* text);
  SOCKET connectionSocket() const { return connection; }
  /// Moves the bytes of the sending and receiving operations through `replacement` instead of
  /// the connection (null: the connection again), so that tests and fuzzers can feed them from
  /// memory; connecting, listening, datagrams and closing still act on the sockets. The stream
  /// stays the caller's.
  void useStream(ByteStream* replacement) {
    stream = replacement != nullptr ? replacement : &socketStream;
  }

 protected:
  unsigned remotePort = 0;
  unsigned localPort = 0;
  unsigned listeningPort = 0;
  char remoteAddress[32] = {};
  int protocol = 0;
  int addressFamily = AF_INET;
  int socketType = SOCK_STREAM;
  WSADATA libraryData{};
  SOCKET connection = INVALID_SOCKET;
  sockaddr_in remoteSocketAddress{};
  SOCKET listening = INVALID_SOCKET;
  sockaddr_in listeningAddress{};
  int nonBlocking = 0;
  int libraryStarted = 0;
  HWND notifyWindow = nullptr;
  int sendTimeoutMs = 30000;
  int receiveTimeoutMs = 30000;
  SocketStream socketStream{*this, connection};
  ByteStream* stream = &socketStream;  // what the byte operations move bytes through

 private:
  /// Creates `handle` and binds it to `address`: AlreadyOpen when `handle` is open,
  /// SocketCreateFailed, or BindFailed with the new socket closed again.
  NetResult createBound(SOCKET& handle, int family, int type, int protocolNumber,
                        const sockaddr_in& address);
  void closeConnection();
  void applyTimeouts();
  void recordPorts();
};

/// The text of the error pending on `socket`, its Windows Sockets number stored in `code` when
/// given. The texts are constants.
const char* socketErrorText(SOCKET socket, int* code = nullptr);
