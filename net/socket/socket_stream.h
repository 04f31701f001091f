#pragma once

#include "net/io/byte_stream.h"
#include "net/socket/socket_base.h"
#include "platform/winsock.h"

/// The byte stream of an owner's socket. Every call is one of the owner's socket primitives, so
/// that an owner that replaces a primitive (to cut sends short, say) sees the byte loops use it.
class SocketStream : public ByteStream {
 public:
  /// The stream of `socketField`, a field of `socketOwner` that is read at each call: the stream
  /// follows the owner's connects and closes.
  SocketStream(SocketBase& socketOwner, const SOCKET& socketField)
      : owner(socketOwner), socket(socketField) {}

  bool isOpen() const override { return socket != INVALID_SOCKET; }
  bool waitReadable(long seconds, long microseconds) override {
    return owner.sysWaitReadable(socket, seconds, microseconds) == 0;
  }
  int peek(char* buffer, int length) override {
    return owner.sysRecv(socket, buffer, length, MSG_PEEK);
  }
  int read(char* buffer, int length) override { return owner.sysRecv(socket, buffer, length, 0); }
  int write(const char* data, int length) override {
    return owner.sysSend(socket, data, length, 0);
  }
  bool hasPendingData() override { return owner.hasPendingData(socket); }

 private:
  SocketBase& owner;
  const SOCKET& socket;
};
