#include "net/socket/socket_base.h"

#include <cstdio>

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
  return waitSocket(socket, false, seconds, microseconds) ? 0 : 1;
}

bool SocketBase::waitSocket(SOCKET socket, bool forWriting, long seconds, long microseconds) const {
  return deadline.bound(seconds, microseconds) &&
         platform::WaitSocket(socket, forWriting, seconds, microseconds) == 1;
}

bool SocketBase::closeSocket(SOCKET socket, bool shutDownFirst) {
  const bool shutDown = !shutDownFirst || sysShutdown(socket, SD_BOTH) != -1;
  return sysClose(socket) != -1 && shutDown;
}

int SocketBase::setTimeout(SOCKET socket, int option, int milliseconds, int& field) {
  const int result = platform::SetSocketTimeout(socket, option, milliseconds);
  if (result == 0) {
    field = milliseconds;
  }
  return result;
}

sockaddr_in SocketAddress(int family, std::uint32_t address, unsigned port) {
  sockaddr_in socketAddress{};
  socketAddress.sin_family = static_cast<decltype(socketAddress.sin_family)>(family);
  socketAddress.sin_port = htons(static_cast<unsigned short>(port));
  socketAddress.sin_addr.s_addr = address;
  return socketAddress;
}

sockaddr_in SocketAddress(int family, const char* dotted, unsigned port) {
  return SocketAddress(family, dotted != nullptr ? inet_addr(dotted) : htonl(INADDR_ANY), port);
}

std::string DottedText(const in_addr& address) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(&address.s_addr);
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
  return text;
}
