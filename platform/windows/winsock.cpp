// The few socket calls whose meaning differs from BSD sockets, on Windows Sockets.
#include "platform/winsock.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>

namespace platform {

int SetSocketTimeout(SOCKET socket, int option, int milliseconds) {
  // Windows takes the limit as a DWORD of milliseconds, not as a timeval.
  const DWORD limit = milliseconds > 0 ? static_cast<DWORD>(milliseconds) : 0;
  return setsockopt(socket, SOL_SOCKET, option, reinterpret_cast<const char*>(&limit),
                    sizeof limit);
}

int GetPendingError(SOCKET socket, int& error) {
  int pending = 0;
  int length = sizeof pending;
  if (getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&pending), &length) ==
      SOCKET_ERROR) {
    return SOCKET_ERROR;
  }
  error = pending;
  return 0;
}

int WaitSocket(SOCKET socket, bool forWriting, long seconds, long microseconds) {
  seconds = seconds < 0 ? 0 : seconds;
  microseconds = microseconds < 0 ? 0 : microseconds;
  timeval limit{};
  limit.tv_sec = seconds + microseconds / 1000000;
  limit.tv_usec = microseconds % 1000000;
  fd_set ready;
  FD_ZERO(&ready);
  FD_SET(socket, &ready);
  // Windows reports a failed connect among the exceptions, not as writable: watching those too
  // makes a refused connect end the wait at once, as it does elsewhere.
  fd_set failed;
  FD_ZERO(&failed);
  FD_SET(socket, &failed);
  const int count =
      select(0, forWriting ? nullptr : &ready, forWriting ? &ready : nullptr, &failed, &limit);
  if (count == SOCKET_ERROR) {
    return SOCKET_ERROR;
  }
  return count > 0 ? 1 : 0;
}

int WaitReadable(const SOCKET* sockets, int count, bool* readable) {
  fd_set ready;
  FD_ZERO(&ready);
  fd_set failed;
  FD_ZERO(&failed);
  for (int i = 0; i < count; ++i) {
    FD_SET(sockets[i], &ready);
    FD_SET(sockets[i], &failed);
  }
  // A failed socket is reported among the exceptions; it counts as ready, as elsewhere.
  if (select(0, &ready, nullptr, &failed, nullptr) == SOCKET_ERROR) {
    return SOCKET_ERROR;
  }
  int found = 0;
  for (int i = 0; i < count; ++i) {
    readable[i] = FD_ISSET(sockets[i], &ready) || FD_ISSET(sockets[i], &failed);
    found += readable[i] ? 1 : 0;
  }
  return found;
}

int AllowAddressReuse(SOCKET socket) {
  // Windows lets a listening socket take a port whose connections linger in TIME_WAIT anyway;
  // SO_REUSEADDR there would let a second program bind a port in use. Exclusive use instead
  // makes sure that a second copy of the program fails to listen, which is how it notices.
  const BOOL on = TRUE;
  return setsockopt(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
                    sizeof on);
}

int GatherSends(SOCKET socket) {
  // No corking on Windows: every send goes out at once instead of waiting for the
  // acknowledgement of the one before.
  const BOOL on = TRUE;
  return setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
                    sizeof on);
}

int ReceiveWithoutWaiting(SOCKET socket, char* buffer, int length, int flags) {
  // No per-call flag for it here: a receive is made only when a byte is there to take.
  if (WaitSocket(socket, false, 0, 0) != 1) {
    WSASetLastError(WSAEWOULDBLOCK);
    return SOCKET_ERROR;
  }
  return recv(socket, buffer, length, flags);
}

long long SendFileBytes(SOCKET socket, HANDLE file, long long length) {
  // Through the program in large blocks: a blocking TransmitFile can wait for ever (seen under
  // Wine when the machine was busy), where a send ends by the connection's send time-out.
  constexpr long long kBlock = 64 * 1024;
  const std::unique_ptr<char[]> block(new (std::nothrow) char[kBlock]);
  long long sent = 0;
  DWORD count = 0;
  while (block && sent < length &&
         ReadFile(file, block.get(), static_cast<DWORD>(std::min(length - sent, kBlock)), &count,
                  nullptr) &&
         count > 0) {
    for (DWORD done = 0; done < count;) {
      const int moved = send(socket, block.get() + done, static_cast<int>(count - done), 0);
      if (moved <= 0) {
        return sent + done;
      }
      done += static_cast<DWORD>(moved);
    }
    sent += count;
  }
  return sent;
}

bool ResolveIPv4(const char* name, std::string& dotted) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (name == nullptr || getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr) {
    return false;
  }
  const auto* address = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
  const u_long host = ntohl(address->sin_addr.s_addr);
  freeaddrinfo(found);
  char text[16];  // "255.255.255.255"
  std::snprintf(text, sizeof text, "%lu.%lu.%lu.%lu", (host >> 24) & 0xFF, (host >> 16) & 0xFF,
                (host >> 8) & 0xFF, host & 0xFF);
  dotted = text;
  return true;
}

}  // namespace platform
