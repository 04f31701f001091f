#pragma once

#include <cstdint>
#include <string>

#include "net/io/deadline.h"
#include "platform/winsock.h"

/// The socket primitives shared by the client, the listening server and its connection workers,
/// and the hook called once a connection stands. Each primitive is one socket call.
class SocketBase {
 public:
  SocketBase() = default;
  SocketBase(const SocketBase&) = delete;
  SocketBase& operator=(const SocketBase&) = delete;
  virtual ~SocketBase() = default;

  /// Called once a connection stands (after a connect or an accept). 0 lets it proceed; any other
  /// value closes it and becomes the caller's result.
  virtual int onConnected(SOCKET socket, const char* addressText);

  /// Closes the socket handle: 0, or -1 on failure.
  virtual int sysClose(SOCKET socket);

  /// Shuts the connection down in direction `how` (2: both): 0, or -1 on failure.
  virtual int sysShutdown(SOCKET socket, int how);

  /// One recv: the byte count, 0 when the peer has closed, -1 on error. `flags` is 0 or MSG_PEEK.
  virtual int sysRecv(SOCKET socket, char* buffer, int length, int flags);

  /// One send: the byte count, or -1.
  virtual int sysSend(SOCKET socket, const char* data, int length, int flags);

  /// True when bytes are waiting to be received.
  virtual bool hasPendingData(SOCKET socket);

  /// Waits until the socket can be read: 0 when it can, 1 when the time ran out or on error.
  /// The wait ends by the deadline: 1 at once when it has passed.
  virtual int sysWaitReadable(SOCKET socket, long seconds, long microseconds);

  /// The moment by which this object's waits end, until another is set; the default Deadline
  /// sets none.
  void setDeadline(const Deadline& moment) { deadline = moment; }

 protected:
  /// sysShutdown in both directions when `shutDownFirst`, then sysClose: false when either
  /// failed.
  bool closeSocket(SOCKET socket, bool shutDownFirst);
  /// Sets time-out `option` (SO_RCVTIMEO or SO_SNDTIMEO) of `socket`; `field` takes
  /// `milliseconds` when that worked. Returns 0, or SOCKET_ERROR.
  static int setTimeout(SOCKET socket, int option, int milliseconds, int& field);
  /// Waits up to the time given, and no longer than the deadline allows, until `socket` can be
  /// written (`forWriting`) or read: true when it can.
  bool waitSocket(SOCKET socket, bool forWriting, long seconds, long microseconds) const;

  Deadline deadline;
};

/// An IPv4 socket address of `family` for `address` (network order) and `port` (host order).
sockaddr_in SocketAddress(int family, std::uint32_t address, unsigned port);
/// The same for dotted text as inet_addr reads it; a null text means any address.
sockaddr_in SocketAddress(int family, const char* dotted, unsigned port);

/// Dotted text of an IPv4 address, formatted here because inet_ntoa is not thread-safe.
std::string DottedText(const in_addr& address);
