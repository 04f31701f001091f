#include "platform/winsock.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/scripted_peer.h"

namespace {

using test_support::LoopbackAddress;
using test_support::SocketsInUse;
using test_support::UnusedLoopbackPort;

// Waiting for a connect that is refused must end with the refusal, not with the time limit:
// some systems report the failure as an exception on the socket rather than as writable.
TEST(WinsockTest, ARefusedConnectEndsTheWaitWithItsError) {
  SocketsInUse sockets;
  ASSERT_TRUE(sockets.started());
  const int port = UnusedLoopbackPort();
  ASSERT_NE(port, 0);
  const SOCKET client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  ASSERT_NE(client, INVALID_SOCKET);
  u_long nonBlocking = 1;
  ASSERT_EQ(ioctlsocket(client, FIONBIO, &nonBlocking), 0);
  const sockaddr_in address = LoopbackAddress(port);
  if (connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    EXPECT_EQ(platform::WaitSocket(client, true, 60, 0), 1);
  }
  int error = 0;
  EXPECT_EQ(platform::GetPendingError(client, error), 0);
  EXPECT_EQ(error, WSAECONNREFUSED);
  closesocket(client);
}

TEST(WinsockTest, ReceiveTimeoutsEndABlockedReceive) {
  SocketsInUse sockets;
  const SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = LoopbackAddress(0);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  const SOCKET client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  ASSERT_EQ(connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(platform::SetSocketTimeout(client, SO_RCVTIMEO, 200), 0);
  char byte;
  // Nobody sends: the receive gives up instead of waiting for ever.
  EXPECT_EQ(recv(client, &byte, 1, 0), SOCKET_ERROR);
  EXPECT_EQ(platform::WaitSocket(client, false, 0, 1000), 0);
  closesocket(client);
  closesocket(listener);
}

TEST(WinsockTest, ResolvesLoopbackNamesToDottedText) {
  SocketsInUse sockets;
  std::string dotted;
  ASSERT_TRUE(platform::ResolveIPv4("127.0.0.1", dotted));
  EXPECT_EQ(dotted, "127.0.0.1");
  ASSERT_TRUE(platform::ResolveIPv4("localhost", dotted));
  EXPECT_EQ(dotted.rfind("127.", 0), 0u) << dotted;
  EXPECT_FALSE(platform::ResolveIPv4(nullptr, dotted));
}

}  // namespace
