#include "net/socket/socket_base.h"

int SocketBase::onConnected(SOCKET, const char*) {
  return 0;
}

int SocketBase::sysClose(SOCKET socket) {
  return closesocket(socket) == SOCKET_ERROR ? -1 : 0;
}

int SocketBase::sysShutdown(SOCKET socket, int how) {
  return shutdown(socket, how) == SOCKET_ERROR ? -1 : 0;
}

int SocketBase::sysRecv(SOCKET socket, char* buffer, int length, int flags) {
  const int count = static_cast<int>(recv(socket, buffer, length, flags));
  return count < 0 ? -1 : count;
}

int SocketBase::sysSend(SOCKET socket, const char* data, int length, int flags) {
  const int count = static_cast<int>(send(socket, data, length, flags | kSendNoSignal));
  return count < 0 ? -1 : count;
}

bool SocketBase::hasPendingData(SOCKET socket) {
  u_long waiting = 0;
  return ioctlsocket(socket, FIONREAD, &waiting) == 0 && waiting > 0;
}

int SocketBase::sysWaitReadable(SOCKET socket, long seconds, long microseconds) {
  return platform::WaitSocket(socket, false, seconds, microseconds) == 1 ? 0 : 1;
}
