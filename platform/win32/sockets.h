#pragma once

// Windows Sockets on BSD sockets: the calls and structures keep their BSD names, which Winsock
// shares; the Winsock-only names (SOCKET, closesocket, ioctlsocket, WSAStartup, WSAGetLastError
// and its error numbers) are supplied here. platform/posix/sockets/ implements them.
//
// Included by platform/winsock.h only where <winsock2.h> is not available.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <cstdint>

using SOCKET = int;
constexpr SOCKET INVALID_SOCKET = -1;
constexpr int SOCKET_ERROR = -1;
using WORD = std::uint16_t;
using u_long = unsigned long;

constexpr WORD MAKEWORD(int low, int high) {
  return static_cast<WORD>((low & 0xFF) | ((high & 0xFF) << 8));
}

/// What WSAStartup reports; only the versions mean anything here.
struct WSADATA {
  WORD wVersion;
  WORD wHighVersion;
  char szDescription[257];
  char szSystemStatus[129];
};

/// Counted start and end of the process's socket use; nothing to do on this platform.
int WSAStartup(WORD version, WSADATA* data);
int WSACleanup();

/// The last socket error of this thread as a Windows Sockets error number. A non-blocking connect
/// still in progress reads as WSAEWOULDBLOCK, as Windows reports it.
int WSAGetLastError();

int closesocket(SOCKET socket);
/// FIONBIO switches blocking off (non-zero) or on; FIONREAD tells how many bytes wait.
int ioctlsocket(SOCKET socket, long command, u_long* argument);

constexpr int SD_SEND = SHUT_WR;
constexpr int SD_BOTH = SHUT_RDWR;
// Sends never raise SIGPIPE: a peer that went away is an error to report, not a reason to die.
constexpr int kSendNoSignal = MSG_NOSIGNAL;

constexpr int WSAEINTR = 10004;
constexpr int WSAEACCES = 10013;
constexpr int WSAEFAULT = 10014;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEMFILE = 10024;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAEINPROGRESS = 10036;
constexpr int WSAEALREADY = 10037;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAEDESTADDRREQ = 10039;
constexpr int WSAEMSGSIZE = 10040;
constexpr int WSAEPROTOTYPE = 10041;
constexpr int WSAENOPROTOOPT = 10042;
constexpr int WSAEPROTONOSUPPORT = 10043;
constexpr int WSAESOCKTNOSUPPORT = 10044;
constexpr int WSAEOPNOTSUPP = 10045;
constexpr int WSAEPFNOSUPPORT = 10046;
constexpr int WSAEAFNOSUPPORT = 10047;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAEADDRNOTAVAIL = 10049;
constexpr int WSAENETDOWN = 10050;
constexpr int WSAENETUNREACH = 10051;
constexpr int WSAENETRESET = 10052;
constexpr int WSAECONNABORTED = 10053;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOBUFS = 10055;
constexpr int WSAEISCONN = 10056;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAESHUTDOWN = 10058;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSAEHOSTDOWN = 10064;
constexpr int WSAEHOSTUNREACH = 10065;
constexpr int WSAEPROCLIM = 10067;
constexpr int WSASYSNOTREADY = 10091;
constexpr int WSANOTINITIALISED = 10093;
constexpr int WSAEDISCON = 10101;
constexpr int WSAHOST_NOT_FOUND = 11001;
constexpr int WSATRY_AGAIN = 11002;
constexpr int WSANO_RECOVERY = 11003;
constexpr int WSANO_DATA = 11004;
