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

  bool isOpen() const override;
  bool waitReadable(long seconds, long microseconds) override;
  int peek(char* buffer, int length) override;
  int read(char* buffer, int length) override;
  int write(const char* data, int length) override;
  bool hasPendingData() override;

 private:
  SocketBase& owner;
  const SOCKET& socket;
};
