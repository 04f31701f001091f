#include <gtest/gtest.h>

#include "net/socket/cut_wsclient.h"
#include "tests/support/scripted_peer.h"

namespace {

using test_support::LoopbackAddress;
using test_support::Pause;
using test_support::ScriptedPeer;
using test_support::SocketsInUse;
using test_support::UnusedLoopbackPort;

// A socket whose non-blocking connect to 127.0.0.1:port has come to an end, either way.
SOCKET ConnectAndWait(int port) {
  const SOCKET client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  u_long on = 1;
  EXPECT_EQ(ioctlsocket(client, FIONBIO, &on), 0);
  const sockaddr_in address = LoopbackAddress(port);
  connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  EXPECT_EQ(platform::WaitSocket(client, true, 5, 0), 1) << "the connect never ended";
  return client;
}

TEST(SocketErrorTextTest, TellsTheErrorPendingOnASocket) {
  SocketsInUse sockets;
  ScriptedPeer peer({{Pause(5000)}});
  ASSERT_NE(peer.port(), 0) << peer.failure();
  struct Case {
    const char* name;
    int port;
    const char* text;
    int code;
  };
  const Case cases[] = {
      {"connected", peer.port(), "Last error not available", 0},
      {"refused", UnusedLoopbackPort(), "Connection refused.", 10061},  // Windows Sockets numbering
  };
  for (const Case& c : cases) {
    const SOCKET client = ConnectAndWait(c.port);
    int code = -1;
    EXPECT_STREQ(socketErrorText(client, &code), c.text) << c.name;
    EXPECT_EQ(code, c.code) << c.name;
    closesocket(client);
  }
}

TEST(SocketErrorTextTest, TellsWhyTheQueryFailed) {
  SocketsInUse sockets;
  const SOCKET closed = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  ASSERT_NE(closed, INVALID_SOCKET);
  closesocket(closed);
  for (const SOCKET socket : {INVALID_SOCKET, closed}) {
    int code = 0;
    EXPECT_STREQ(socketErrorText(socket, &code), "GetSockOpt error: WSAENOTSOCK");
    EXPECT_EQ(code, WSAENOTSOCK);
  }
}

}  // namespace
