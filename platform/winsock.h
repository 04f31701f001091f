#pragma once

// The part of Windows Sockets 1.1 this program uses. On Windows it is the real one; elsewhere
// BSD sockets under the same names, with the Winsock-only names supplied by
// platform/win32/sockets.h. The few calls whose meaning differs between the two (socket
// time-outs, the pending-error query, waiting, name resolution) are wrapped in namespace
// platform, so code above reads the same on both. IPv6 comes under the shared names too
// (AF_INET6, sockaddr_in6, sockaddr_storage, in6addr_loopback): from ws2tcpip.h on Windows, from
// netinet/in.h elsewhere. Code above includes this header, never platform/win32/sockets.h itself.

#include <cstddef>
#include <string>

#ifdef _WIN32

// First: winsock2.h before windows.h, and no min and max macros.
#include "platform/win32.h"

#include <ws2tcpip.h>

using socklen_t = int;
constexpr int kSendNoSignal = 0;

#else

#include "platform/win32.h"
#include "platform/win32/sockets.h"

#endif

namespace platform {

/// Sets SO_RCVTIMEO or SO_SNDTIMEO (`option`) of `socket` to `milliseconds`; 0 means no limit.
/// Returns 0, or SOCKET_ERROR.
int SetSocketTimeout(SOCKET socket, int option, int milliseconds);

/// Queries SO_ERROR of `socket`. Returns 0 and stores the pending error (a Windows Sockets error
/// number, 0 for none) in `error`; or SOCKET_ERROR when the query itself failed.
int GetPendingError(SOCKET socket, int& error);

/// Waits until `socket` can be read (or written, with `forWriting`) or the time runs out.
/// Returns 1 when it can, 0 when the time ran out, SOCKET_ERROR on failure.
int WaitSocket(SOCKET socket, bool forWriting, long seconds, long microseconds);

/// Waits, without a time limit and without using the processor, until at least one of the
/// `count` sockets can be read (a listening socket: a connection waits to be accepted) or has
/// failed or been shut down. Sets `readable[i]` for each socket that is ready. Returns how many
/// are, or SOCKET_ERROR.
int WaitReadable(const SOCKET* sockets, int count, bool* readable);

/// Lets a new listening socket bind a port whose earlier connections still linger in TIME_WAIT,
/// so that a server can listen again on the port it just left. Call before bind. On Windows, which
/// allows that anyway and where SO_REUSEADDR would let another program take over a port in use,
/// it claims the port for exclusive use instead. Either way a second copy of the program fails to
/// listen on a port the first one holds. Returns 0, or SOCKET_ERROR.
int AllowAddressReuse(SOCKET socket);

/// Lets the many small sends of one answer leave together: partial segments wait until a
/// segment fills or the connection is shut down (TCP_CORK; at most 200 ms). Each small send
/// then costs a copy instead of a trip through the network stack, and none waits for the
/// acknowledgement of the one before. Where the system has no such option, every send goes out
/// at once instead (TCP_NODELAY). Returns 0, or SOCKET_ERROR.
int GatherSends(SOCKET socket);

/// One receive as recv gives it, except that it never waits: when no byte has come yet it fails
/// with WSAEWOULDBLOCK (WSAGetLastError). `flags` is 0 or MSG_PEEK.
int ReceiveWithoutWaiting(SOCKET socket, char* buffer, int length, int flags);
/// Sends the next `length` bytes of the open `file`, from its current position, on the
/// connected stream `socket`: copied by the system from file to socket where it can (sendfile),
/// else in large blocks. Returns the bytes sent: fewer than `length` when the file ends sooner or
/// a send fails or times out.
long long SendFileBytes(SOCKET socket, HANDLE file, long long length);
/// Resolves a host name to its first IPv4 address, as dotted text. Safe to call from many
/// threads at once. Returns false when the name does not resolve.
bool ResolveIPv4(const char* name, std::string& dotted);

}  // namespace platform
