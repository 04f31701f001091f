#include "net/socket/socket_stream.h"

bool SocketStream::isOpen() const {
  return socket != INVALID_SOCKET;
}

bool SocketStream::waitReadable(long seconds, long microseconds) {
  return owner.sysWaitReadable(socket, seconds, microseconds) == 0;
}

int SocketStream::peek(char* buffer, int length) {
  return owner.sysRecv(socket, buffer, length, MSG_PEEK);
}

int SocketStream::read(char* buffer, int length) {
  return owner.sysRecv(socket, buffer, length, 0);
}

int SocketStream::write(const char* data, int length) {
  return owner.sysSend(socket, data, length, 0);
}

bool SocketStream::hasPendingData() {
  return owner.hasPendingData(socket);
}
