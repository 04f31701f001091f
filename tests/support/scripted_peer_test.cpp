#include "tests/support/scripted_peer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace test_support {
namespace {

using Clock = std::chrono::steady_clock;

long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A blocking client connection whose receives give up after 5 s.
class Client {
 public:
  explicit Client(int port) : socket_(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)) {
    const sockaddr_in address = LoopbackAddress(port);
    connected_ =
        socket_ != INVALID_SOCKET &&
        connect(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        platform::SetSocketTimeout(socket_, SO_RCVTIMEO, 5000) == 0;
  }
  ~Client() { close(); }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  bool connected() const { return connected_; }

  void send(const std::string& bytes) {
    EXPECT_EQ(::send(socket_, bytes.data(), static_cast<int>(bytes.size()), kSendNoSignal),
              static_cast<int>(bytes.size()));
  }

  // What one recv call gives; "<end>" at the end of the stream, "<error N>" on failure.
  std::string receiveOnce(int size = 4096) {
    std::string buffer(static_cast<std::size_t>(size), '\0');
    const int count = static_cast<int>(recv(socket_, buffer.data(), size, 0));
    if (count < 0) {
      return "<error " + std::to_string(WSAGetLastError()) + ">";
    }
    return count == 0 ? "<end>" : buffer.substr(0, static_cast<std::size_t>(count));
  }

  // Everything up to the end of the stream or the first failure.
  std::string receiveAll() {
    std::string all;
    char buffer[4096];
    for (int count; (count = static_cast<int>(recv(socket_, buffer, sizeof buffer, 0))) > 0;) {
      all.append(buffer, static_cast<std::size_t>(count));
    }
    return all;
  }

  void close() {
    if (socket_ != INVALID_SOCKET) {
      closesocket(socket_);
      socket_ = INVALID_SOCKET;
    }
  }

 private:
  SocketsInUse sockets_;
  SOCKET socket_;
  bool connected_ = false;
};

TEST(ScriptedPeerTest, PlaysTheScriptAndRecordsEveryByte) {
  const std::string body("body\0with NUL", 13);
  ScriptedPeer peer({{ReadUntil("\r\n\r\n"), Send("HTTP/1.0 200 OK\r\n"), Pause(300),
                      Send("\r\n" + body), Close()}});
  ASSERT_NE(peer.port(), 0) << peer.failure();
  Client client(peer.port());
  ASSERT_TRUE(client.connected());

  client.send("GET / HTTP/1.0\r\n");
  client.send("\r\n");
  EXPECT_EQ(client.receiveOnce(), "HTTP/1.0 200 OK\r\n") << "the pause makes two segments";
  EXPECT_EQ(client.receiveOnce(), "\r\n" + body);
  EXPECT_EQ(client.receiveOnce(), "<end>");
  // After its FIN the peer still records what the client sends.
  client.send("late");
  client.close();

  ASSERT_TRUE(peer.waitDone(5000));
  EXPECT_EQ(peer.failure(), "");
  EXPECT_EQ(peer.connections(), 1);
  EXPECT_EQ(peer.received(0), "GET / HTTP/1.0\r\n\r\nlate");
  EXPECT_EQ(peer.received(1), "");
}

TEST(ScriptedPeerTest, ConnectionsTakeTheExchangesInOrder) {
  ScriptedPeer peer(
      {{ReadUntil("1"), ReadUntil("1"), Send("one")}, {Send("two"), ReadUntil("ok"), Reset()}});
  ASSERT_NE(peer.port(), 0) << peer.failure();
  {
    Client first(peer.port());
    first.send("1");
    first.send("1");  // a second ReadUntil needs an occurrence of its own
    EXPECT_EQ(first.receiveAll(), "one");
  }
  {
    Client second(peer.port());
    EXPECT_EQ(second.receiveOnce(), "two");
    second.send("ok");
    EXPECT_EQ(second.receiveOnce(), "<error " + std::to_string(WSAECONNRESET) + ">");
  }
  Client extra(peer.port());
  EXPECT_EQ(extra.receiveOnce(), "<end>") << "connections beyond the script are closed";
  ASSERT_TRUE(peer.waitDone(5000));
  EXPECT_EQ(peer.failure(), "");
  EXPECT_EQ(peer.connections(), 3);
  EXPECT_EQ(peer.received(0), "11");
  EXPECT_EQ(peer.received(1), "ok");
}

// Plays `exchange` against a client that does `play`, and returns the failure the peer reports.
template <typename Play>
std::string FailureOf(Exchange exchange, Play play) {
  ScriptedPeer peer({std::move(exchange)});
  Client client(peer.port());
  EXPECT_TRUE(client.connected());
  play(client);
  EXPECT_TRUE(peer.waitDone(5000));
  return peer.failure();
}

TEST(ScriptedPeerTest, ReportsStepsThatFail) {
  EXPECT_EQ(FailureOf({ReadUntil("\r\n\r\n")},
                      [](Client& client) {
                        client.send("GET / HTTP/1.0\r\n");
                        client.close();
                      }),
            "exchange 0, step 0 (ReadUntil): the client closed the connection first");
  EXPECT_EQ(FailureOf({ReadUntil("x", 100)}, [](Client&) {}),
            "exchange 0, step 0 (ReadUntil): timed out");
  EXPECT_EQ(FailureOf({Close(), Send("late")},
                      [](Client& client) {
                        EXPECT_EQ(client.receiveOnce(), "<end>");
                        client.close();
                      }),
            "exchange 0, step 1 (Send): the connection was already closed");
}

TEST(ScriptedPeerTest, SendForeverEndsWhenTheClientCloses) {
  ScriptedPeer peer({{SendForever("X-Line: 1\r\n")}});
  Client client(peer.port());
  std::string got;
  while (got.size() < 200000) {
    const std::string chunk = client.receiveOnce();
    ASSERT_NE(chunk[0], '<') << chunk;
    got += chunk;
  }
  EXPECT_EQ(got.substr(0, 22), "X-Line: 1\r\nX-Line: 1\r\n");
  client.close();
  ASSERT_TRUE(peer.waitDone(5000));
  EXPECT_EQ(peer.failure(), "");
}

// Each of these leaves the peer blocked somewhere; stop() must still come back at once.
TEST(ScriptedPeerTest, StopsPromptlyWhateverItWaitsFor) {
  const std::vector<std::pair<const char*, Exchange>> cases = {
      {"read", {ReadUntil("never", 60000)}},
      {"pause", {Pause(60000)}},
      {"unread sends", {SendForever(std::string(65536, 'x'))}},
  };
  for (const auto& [name, exchange] : cases) {
    ScriptedPeer peer({exchange});
    Client client(peer.port());
    ASSERT_TRUE(client.connected()) << name;
    ASSERT_TRUE(peer.waitConnections(1, 5000)) << name;
    const Clock::time_point start = Clock::now();
    peer.stop();
    EXPECT_LT(MillisecondsSince(start), 1000) << name;
    EXPECT_EQ(peer.failure(), "") << name << ": stopping is no failure";
  }

  ScriptedPeer nobodyComes({{Send("hello")}});
  const Clock::time_point start = Clock::now();
  nobodyComes.stop();
  nobodyComes.stop();
  EXPECT_LT(MillisecondsSince(start), 1000);
  EXPECT_FALSE(nobodyComes.waitDone(0));
}

TEST(FullBacklogListenerTest, ConnectsToItStayPending) {
  FullBacklogListener listener;
  ASSERT_TRUE(listener.full());
  SocketsInUse sockets;
  const SOCKET client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  ASSERT_NE(client, INVALID_SOCKET);
  u_long on = 1;
  ASSERT_EQ(ioctlsocket(client, FIONBIO, &on), 0);
  const sockaddr_in address = LoopbackAddress(listener.port());
  EXPECT_EQ(connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof address),
            SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
  EXPECT_EQ(platform::WaitSocket(client, true, 2, 500000), 0) << "connected within 2.5 s";
  closesocket(client);
}

}  // namespace
}  // namespace test_support
