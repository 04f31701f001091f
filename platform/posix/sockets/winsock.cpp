// Windows Sockets names on BSD sockets.
#include "platform/winsock.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "platform/posix/kernel/system_calls.h"

namespace {

std::atomic<int> startups{0};

// errno values and the Windows Sockets error numbers of the same meaning.
constexpr struct {
  int errnoValue;
  int winsockError;
} kWinsockErrors[] = {{EINTR, WSAEINTR},
                      {EBADF, WSAENOTSOCK},
                      {EACCES, WSAEACCES},
                      {EPERM, WSAEACCES},
                      {EFAULT, WSAEFAULT},
                      {EINVAL, WSAEINVAL},
                      {EMFILE, WSAEMFILE},
                      {ENFILE, WSAEMFILE},
                      {EWOULDBLOCK, WSAEWOULDBLOCK},
                      {EINPROGRESS, WSAEINPROGRESS},
                      {EALREADY, WSAEALREADY},
                      {ENOTSOCK, WSAENOTSOCK},
                      {EDESTADDRREQ, WSAEDESTADDRREQ},
                      {EMSGSIZE, WSAEMSGSIZE},
                      {EPROTOTYPE, WSAEPROTOTYPE},
                      {ENOPROTOOPT, WSAENOPROTOOPT},
                      {EPROTONOSUPPORT, WSAEPROTONOSUPPORT},
                      {ESOCKTNOSUPPORT, WSAESOCKTNOSUPPORT},
                      {EOPNOTSUPP, WSAEOPNOTSUPP},
                      {EPFNOSUPPORT, WSAEPFNOSUPPORT},
                      {EAFNOSUPPORT, WSAEAFNOSUPPORT},
                      {EADDRINUSE, WSAEADDRINUSE},
                      {EADDRNOTAVAIL, WSAEADDRNOTAVAIL},
                      {ENETDOWN, WSAENETDOWN},
                      {ENETUNREACH, WSAENETUNREACH},
                      {ENETRESET, WSAENETRESET},
                      {ECONNABORTED, WSAECONNABORTED},
                      {ECONNRESET, WSAECONNRESET},
                      {EPIPE, WSAECONNRESET},
                      {ENOBUFS, WSAENOBUFS},
                      {ENOMEM, WSAENOBUFS},
                      {EISCONN, WSAEISCONN},
                      {ENOTCONN, WSAENOTCONN},
                      {ESHUTDOWN, WSAESHUTDOWN},
                      {ETIMEDOUT, WSAETIMEDOUT},
                      {ECONNREFUSED, WSAECONNREFUSED},
                      {EHOSTDOWN, WSAEHOSTDOWN},
                      {EHOSTUNREACH, WSAEHOSTUNREACH}};

// The Windows Sockets error number for an errno value; a value without one is passed on as it is.
int WinsockError(int error) {
  for (const auto& known : kWinsockErrors) {
    if (known.errnoValue == error) {
      return known.winsockError;
    }
  }
  return error;
}

}  // namespace

int WSAStartup(WORD version, WSADATA* data) {
  if (data != nullptr) {
    std::memset(data, 0, sizeof *data);
    data->wVersion = version;
    data->wHighVersion = MAKEWORD(2, 2);
    std::strcpy(data->szDescription, "BSD sockets");
    std::strcpy(data->szSystemStatus, "Running");
  }
  ++startups;
  return 0;
}

int WSACleanup() {
  int count = startups.load();
  while (count > 0 && !startups.compare_exchange_weak(count, count - 1)) {
  }
  return count > 0 ? 0 : SOCKET_ERROR;
}

int WSAGetLastError() {
  // Windows reports a non-blocking connect that has not finished yet as "would block".
  return errno == EINPROGRESS ? WSAEWOULDBLOCK : WinsockError(errno);
}

int closesocket(SOCKET socket) {
  return ::close(socket);
}

int ioctlsocket(SOCKET socket, long command, u_long* argument) {
  if (argument == nullptr) {
    errno = EFAULT;
    return SOCKET_ERROR;
  }
  if (command == static_cast<long>(FIONBIO)) {
    int flags = ::fcntl(socket, F_GETFL);
    if (flags < 0) {
      return SOCKET_ERROR;
    }
    flags = *argument != 0 ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return ::fcntl(socket, F_SETFL, flags) < 0 ? SOCKET_ERROR : 0;
  }
  if (command == static_cast<long>(FIONREAD)) {
    int waiting = 0;
    if (::ioctl(socket, FIONREAD, &waiting) < 0) {
      return SOCKET_ERROR;
    }
    *argument = static_cast<u_long>(waiting);
    return 0;
  }
  errno = EINVAL;
  return SOCKET_ERROR;
}

namespace platform {

int SetSocketTimeout(SOCKET socket, int option, int milliseconds) {
  timeval limit{};
  if (milliseconds > 0) {
    limit.tv_sec = milliseconds / 1000;
    limit.tv_usec = (milliseconds % 1000) * 1000;
  }
  return ::setsockopt(socket, SOL_SOCKET, option, &limit, sizeof limit) < 0 ? SOCKET_ERROR : 0;
}

int GetPendingError(SOCKET socket, int& error) {
  int pending = 0;
  socklen_t length = sizeof pending;
  if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &pending, &length) < 0) {
    return SOCKET_ERROR;
  }
  error = WinsockError(pending);
  return 0;
}

int WaitSocket(SOCKET socket, bool forWriting, long seconds, long microseconds) {
  const auto limit = std::chrono::seconds(seconds < 0 ? 0 : seconds) +
                     std::chrono::microseconds(microseconds < 0 ? 0 : microseconds);
  pollfd watched{socket, static_cast<short>(forWriting ? POLLOUT : POLLIN), 0};
  const int ready = PollWithin(
      &watched, 1, static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(limit).count()));
  if (ready < 0) {
    return SOCKET_ERROR;
  }
  // Errors and hang-ups make a socket ready, as select reports them.
  return ready > 0 ? 1 : 0;
}

int WaitReadable(const SOCKET* sockets, int count, bool* readable) {
  std::vector<pollfd> watched;
  for (int i = 0; i < count; ++i) {
    watched.push_back({sockets[i], POLLIN, 0});
  }
  const int ready = PollWithin(watched.data(), watched.size(), -1);
  for (int i = 0; ready > 0 && i < count; ++i) {
    // Errors and hang-ups count, as select reports them.
    readable[i] = watched[i].revents != 0;
  }
  return ready < 0 ? SOCKET_ERROR : ready;
}

int AllowAddressReuse(SOCKET socket) {
  const int on = 1;
  return ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) < 0 ? SOCKET_ERROR : 0;
}

int GatherSends(SOCKET socket) {
  const int on = 1;
#ifdef TCP_CORK
  const int option = TCP_CORK;
#else
  const int option = TCP_NODELAY;
#endif
  return ::setsockopt(socket, IPPROTO_TCP, option, &on, sizeof on) < 0 ? SOCKET_ERROR : 0;
}

int ReceiveWithoutWaiting(SOCKET socket, char* buffer, int length, int flags) {
  const ssize_t count = RetryOnInterrupt([&] {
    return ::recv(socket, buffer, static_cast<std::size_t>(length), flags | MSG_DONTWAIT);
  });
  return count < 0 ? SOCKET_ERROR : static_cast<int>(count);
}

bool ResolveIPv4(const char* name, std::string& dotted) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (name == nullptr || ::getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr) {
    return false;
  }
  char text[INET_ADDRSTRLEN];
  const auto* address = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
  const bool formatted = ::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) != nullptr;
  ::freeaddrinfo(found);
  if (formatted) {
    dotted = text;
  }
  return formatted;
}

}  // namespace platform
