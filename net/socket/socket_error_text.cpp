#include <utility>

#include "net/socket/cut_wsclient.h"

namespace {

struct ErrorText {
  int code;
  const char* text;
};

// Failures of the query itself.
const ErrorText kQueryErrors[] = {
    {WSAEINVAL, "GetSockOpt error: WSAEINVAL"},
    {WSAEINPROGRESS, "GetSockOpt error: WSAEINPROGRESS"},
    {WSAENOTSOCK, "GetSockOpt error: WSAENOTSOCK"},
    {WSAENOPROTOOPT, "GetSockOpt error: WSAENOPROTOOPT"},
    {WSAENETDOWN, "GetSockOpt error: WSAENETDOWN"},
    {WSANOTINITIALISED, "GetSockOpt error: WSANOTINITIALISED"},
};

// Errors pending on a socket.
const ErrorText kSocketErrors[] = {
    {0, "Last error not available"},
    {WSAEINTR, "Interrupted function call."},
    {WSAEACCES, "Permission denied"},
    {WSAEFAULT, "Invalid pointer or buffer too small"},
    {WSAEINVAL, "Invalid argument"},
    {WSAEMFILE, "Too many open files."},
    {WSAEWOULDBLOCK, "Resource temporarily unavailable."},
    {WSAEINPROGRESS, "Operation now in progress."},
    {WSAEALREADY, "Operation already in progress."},
    {WSAENOTSOCK, "Socket operation on non-socket."},
    {WSAEDESTADDRREQ, "Destination address required."},
    {WSAEMSGSIZE, "Message too long."},
    {WSAEPROTOTYPE, "Protocol wrong type for socket."},
    {WSAENOPROTOOPT, "Bad protocol option."},
    {WSAEPROTONOSUPPORT, "Protocol not supported."},
    {WSAESOCKTNOSUPPORT, "Socket type not supported."},
    {WSAEOPNOTSUPP, "Operation not supported."},
    {WSAEPFNOSUPPORT, "Protocol family not supported."},
    {WSAEAFNOSUPPORT, "Address family not supported by protocol family."},
    {WSAEADDRINUSE, "Address already in use."},
    {WSAEADDRNOTAVAIL, "Cannot assign requested address."},
    {WSAENETDOWN, "Network is down."},
    {WSAENETUNREACH, "Network is unreachable."},
    {WSAENETRESET, "Network dropped connection on reset."},
    {WSAECONNABORTED, "Software caused connection abort."},
    {WSAECONNRESET, "Connection reset by peer."},
    {WSAENOBUFS, "No buffer space available."},
    {WSAEISCONN, "Socket is already connected."},
    {WSAENOTCONN, "Socket is not connected."},
    {WSAESHUTDOWN, "Cannot send after socket shutdown."},
    {WSAETIMEDOUT, "Connection timed out."},
    {WSAECONNREFUSED, "Connection refused."},
    {WSAEHOSTDOWN, "Host is down."},
    {WSAEHOSTUNREACH, "No route to host."},
    {WSAEPROCLIM, "Too many processes."},
    {WSASYSNOTREADY, "Network subsystem is unavailable."},
    {WSANOTINITIALISED, "Successful WSAStartup not yet performed."},
    {WSAEDISCON, "Graceful shutdown in progress."},
    {WSAHOST_NOT_FOUND, "Host not found."},
    {WSATRY_AGAIN, "Non-authoritative host not found"},
    {WSANO_RECOVERY, "Non-recoverable error."},
    {WSANO_DATA, "Valid name, no data record of requested type."},
};

template <std::size_t N>
const char* Find(const ErrorText (&table)[N], int code, const char* otherwise) {
  for (const ErrorText& entry : table) {
    if (entry.code == code) {
      return entry.text;
    }
  }
  return otherwise;
}

}  // namespace

const char* socketErrorText(SOCKET socket, int* code) {
  int error = 0;
  if (platform::GetPendingError(socket, error) == SOCKET_ERROR) {
    const int queryError = WSAGetLastError();
    if (code != nullptr) {
      *code = queryError;
    }
    return Find(kQueryErrors, queryError, "GetSockOpt error.");
  }
  if (code != nullptr) {
    *code = error;
  }
  return Find(kSocketErrors, error, "Unknown socket error.");
}
