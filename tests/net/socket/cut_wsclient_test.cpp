#include "net/socket/cut_wsclient.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "net/io/file_data_source.h"
#include "net/socket/host_overrides.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/scripted_peer.h"

namespace {

using test_support::Exchange;
using test_support::FullBacklogListener;
using test_support::Pause;
using test_support::ReadUntil;
using test_support::ScriptedPeer;
using test_support::Send;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Bytes of nearly every value, NUL included, in an order that shows a lost or moved block.
std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<char>(i * 7 % 251);
  }
  return bytes;
}

// Equal bytes; else where they first differ, without printing them all.
::testing::AssertionResult SameBytes(const std::string& got, const std::string& wanted) {
  const auto differ = std::mismatch(got.begin(), got.end(), wanted.begin(), wanted.end()).first;
  if (got == wanted) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << got.size() << " bytes for " << wanted.size()
                                       << ", first difference at " << (differ - got.begin());
}

// A client whose hooks the test steers and whose ports it can see.
class TestClient : public CUT_WSClient {
 public:
  int hookAnswer = 0;          // what onConnected answers
  int cancelAfter = -1;        // blocks received before isCancelled turns true; -1: never
  int sendLimit = 0;           // when > 0, no send takes more bytes than this
  std::vector<long> progress;  // what readProgress was told

  unsigned remote() const { return remotePort; }
  unsigned local() const { return localPort; }
  unsigned listened() const { return listeningPort; }
  std::string peerAddress() const { return remoteAddress; }

  int onConnected(SOCKET, const char*) override { return hookAnswer; }
  bool readProgress(long bytesSoFar) override {
    progress.push_back(bytesSoFar);
    return CUT_WSClient::readProgress(bytesSoFar);
  }
  bool isCancelled() override {
    return cancelAfter >= 0 && static_cast<int>(progress.size()) >= cancelAfter;
  }
  int sysSend(SOCKET socket, const char* data, int length, int flags) override {
    const int allowed = sendLimit > 0 ? std::min(length, sendLimit) : length;
    return CUT_WSClient::sysSend(socket, data, allowed, flags);
  }

  NetResult connectToPeer(const ScriptedPeer& peer) {
    return connectTo(static_cast<unsigned>(peer.port()), "127.0.0.1", 5);
  }
  std::string read(int count) {
    std::string bytes(static_cast<std::size_t>(count), '\0');
    bytes.resize(static_cast<std::size_t>(readExactly(bytes.data(), count, 5)));
    return bytes;
  }
};

// A port of 127.0.0.1 where nobody listens: one the system just handed out and took back.
unsigned ClosedPort() {
  TestClient probe;
  EXPECT_EQ(probe.openListener(0, 1, AF_INET, "127.0.0.1"), NetResult::Success);
  return probe.listened();
}

// True when the peer, waiting to read, saw the client close the connection.
bool PeerSawClose(const ScriptedPeer& peer) {
  return peer.waitDone(5000) &&
         peer.failure().find("the client closed the connection first") != std::string::npos;
}

const Exchange kWaitForClose = {ReadUntil("never", 8000)};

TEST(CutWsClientConnectTest, ConnectsOnceAndAgainAfterDisconnect) {
  ScriptedPeer peer({{Send("one")}, {Send("two")}});
  ASSERT_NE(peer.port(), 0) << peer.failure();
  TestClient client;
  ASSERT_EQ(client.connectToPeer(peer), NetResult::Success);
  EXPECT_EQ(client.remote(), static_cast<unsigned>(peer.port()));
  EXPECT_NE(client.local(), 0u);
  const SOCKET first = client.connectionSocket();
  EXPECT_EQ(client.connectToPeer(peer), NetResult::AlreadyOpen);
  EXPECT_EQ(client.connectionSocket(), first);
  EXPECT_EQ(client.read(3), "one") << "the first connection still works";
  EXPECT_EQ(client.disconnect(), NetResult::Success);
  EXPECT_EQ(client.connectionSocket(), INVALID_SOCKET);
  ASSERT_EQ(client.connectTo(static_cast<unsigned>(peer.port()), "127.0.0.1", -1),
            NetResult::Success);
  EXPECT_EQ(client.read(3), "two");
}

TEST(CutWsClientConnectTest, FailuresLeaveNoSocket) {
  const unsigned closed = ClosedPort();
  struct Case {
    const char* name;
    const char* host;
    int timeoutSeconds;
    NetResult expected;
  };
  const Case cases[] = {
      {"a name that does not resolve", "nowhere.invalid", 5, NetResult::AddressResolveFailed},
      // Pins a mended fault: a refused non-blocking connect makes the socket writable too, and
      // was reported as success while its pending error went unchecked.
      {"refused, with a time-out", "127.0.0.1", 5, NetResult::ConnectFailed},
      {"refused, blocking", "127.0.0.1", -1, NetResult::ConnectFailed},
  };
  for (const Case& c : cases) {
    TestClient client;
    EXPECT_EQ(client.connectTo(closed, c.host, c.timeoutSeconds), c.expected) << c.name;
    EXPECT_EQ(client.connectionSocket(), INVALID_SOCKET) << c.name;
  }
  // Pins a fixed fault: a failed connect from a local address kept its socket, which leaked and
  // made every later connect AlreadyOpen.
  TestClient client;
  EXPECT_EQ(client.connectFromLocal(0, closed, "127.0.0.1", "127.0.0.1"), NetResult::ConnectFailed);
  EXPECT_EQ(client.connectionSocket(), INVALID_SOCKET);
}

TEST(CutWsClientConnectTest, TimesOutOnAPeerThatNeverCompletesTheHandshake) {
  FullBacklogListener listener;
  if (!listener.full()) {
    GTEST_SKIP() << "this system refuses connects to a full accept queue";
  }
  TestClient client;
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(client.connectTo(static_cast<unsigned>(listener.port()), "127.0.0.1", 1),
            NetResult::ConnectTimedOut);
  EXPECT_GE(SecondsSince(start), 0.9);
  EXPECT_LT(SecondsSince(start), 10.0);
  EXPECT_EQ(client.connectionSocket(), INVALID_SOCKET);
}

TEST(CutWsClientConnectTest, ClosesWhenTheHookRefusesOrTheObjectGoes) {
  {
    ScriptedPeer peer({kWaitForClose});
    TestClient client;
    client.hookAnswer = static_cast<int>(NetResult::Cancelled);
    EXPECT_EQ(client.connectToPeer(peer), NetResult::Cancelled);
    EXPECT_EQ(client.connectionSocket(), INVALID_SOCKET);
    EXPECT_TRUE(PeerSawClose(peer)) << peer.failure();
  }
  ScriptedPeer peer({kWaitForClose});
  {
    TestClient client;
    ASSERT_EQ(client.connectToPeer(peer), NetResult::Success);
  }
  EXPECT_TRUE(PeerSawClose(peer)) << peer.failure();
}

class HostNameTest : public ::testing::Test {
 protected:
  void TearDown() override { HostOverrides::instance().clear(); }
};

TEST_F(HostNameTest, OverridesPreferExactNamesThenTheLongestPattern) {
  HostOverrides& table = HostOverrides::instance();
  table.add("*.zarnik.test", "127.0.0.2");
  table.add("*.deep.zarnik.test", "127.0.0.3");
  table.add("*.test", "127.0.0.5");
  table.add("Named.Deep.Zarnik.Test", "127.0.0.4");
  const std::pair<const char*, const char*> cases[] = {
      {"alice.zarnik.test", "127.0.0.2"},
      {"a.b.DEEP.zarnik.test", "127.0.0.3"},
      {"named.deep.zarnik.test", "127.0.0.4"},
      {"other.test", "127.0.0.5"},
      {"test", ""},  // a pattern does not stand for its bare domain
      {"zarnik.example", ""},
  };
  for (const auto& [name, address] : cases) {
    EXPECT_EQ(table.lookUp(name).value_or(""), address) << name;
  }
}

TEST_F(HostNameTest, ResolvesThePartAfterTheLastAtSign) {
  HostOverrides::instance().add("named.zarnik.test", "127.0.0.1");
  struct Case {
    const char* name;
    int size;
    NetResult expected;
  };
  const Case cases[] = {
      {"user@named.zarnik.test", 16, NetResult::Success},
      {"a@b@127.0.0.1", 10, NetResult::Success},  // the dotted text and its NUL just fit
      {"a@b@127.0.0.1", 9, NetResult::BufferTooSmall},
      {"named.zarnik.test@nowhere.invalid", 16, NetResult::HostNotFound},
  };
  for (const Case& c : cases) {
    TestClient client;
    char buffer[24];
    std::fill(std::begin(buffer), std::end(buffer), '#');
    EXPECT_EQ(client.resolveHost(c.name, buffer, c.size), c.expected) << c.name;
    if (c.expected == NetResult::Success) {
      EXPECT_STREQ(buffer, "127.0.0.1") << c.name;
    }
    EXPECT_EQ(buffer[c.size], '#') << c.name << ": written past the buffer";
  }
}

TEST_F(HostNameTest, ConnectToGoesThroughTheOverrides) {
  HostOverrides::instance().add("*.zarnik.test", "127.0.0.1");
  ScriptedPeer peer({{Send("hello")}});
  TestClient client;
  ASSERT_EQ(client.connectTo(static_cast<unsigned>(peer.port()), "alice.zarnik.test", 5),
            NetResult::Success);
  EXPECT_EQ(client.read(5), "hello");
}

TEST(CutWsClientReadTest, ReadLineReturnsOneLineAtATime) {
  struct Case {
    const char* name;
    Exchange exchange;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"a line in two segments, then another",
       {Send("ab"), Pause(200), Send("c\r\nnext\r\n")},
       {"abc\r\n", "next\r\n"}},
      {"the peer closes mid-line", {Send("partial")}, {"partial", ""}},
  };
  for (const Case& c : cases) {
    ScriptedPeer peer({c.exchange});
    TestClient client;
    ASSERT_EQ(client.connectToPeer(peer), NetResult::Success) << c.name;
    for (const std::string& line : c.lines) {
      char buffer[64];
      EXPECT_EQ(client.readLine(buffer, sizeof buffer, 5), static_cast<int>(line.size())) << c.name;
      EXPECT_EQ(buffer, line) << c.name;
    }
  }
}

TEST(CutWsClientReadTest, ReadLineStaysInItsBufferAndLeavesTheRestQueued) {
  std::string line;
  for (int i = 0; i < 598; ++i) {
    line += static_cast<char>('a' + i % 26);
  }
  line += "\r\n";
  ScriptedPeer peer({{Send(line + "tail\r\n")}});
  TestClient client;
  ASSERT_EQ(client.connectToPeer(peer), NetResult::Success);
  ASSERT_EQ(client.waitReadable(5, 0), NetResult::Success);
  char one[1] = {'#'};
  EXPECT_EQ(client.readLine(one, 1, 5), 0) << "room for the NUL alone reads nothing";
  char buffer[522];
  buffer[521] = '#';
  EXPECT_EQ(client.readLine(buffer, 521, 5), 520);
  EXPECT_EQ(buffer, line.substr(0, 520));
  EXPECT_EQ(buffer[521], '#') << "written past the buffer";
  EXPECT_EQ(client.readLine(buffer, 521, 5), 80);
  EXPECT_EQ(buffer, line.substr(520));
  EXPECT_EQ(client.readLine(buffer, 521, 5), 6);
  EXPECT_STREQ(buffer, "tail\r\n");
}

TEST(CutWsClientReadTest, ReadsEndOnASilentPeerOrAnEarlyClose) {
  char buffer[100];
  {
    ScriptedPeer peer({{Pause(8000)}});
    TestClient client;
    ASSERT_EQ(client.connectToPeer(peer), NetResult::Success);
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(client.readLine(buffer, sizeof buffer, 1), 0);
    EXPECT_GE(SecondsSince(start), 0.9);
    EXPECT_LT(SecondsSince(start), 10.0);
  }
  ScriptedPeer peer({{Send("short")}});
  TestClient client;
  ASSERT_EQ(client.connectToPeer(peer), NetResult::Success);
  EXPECT_EQ(client.read(100), "short");
}

TEST(CutWsClientReadTest, ReadToSourceStopsAtTheLimitWithoutWaitingForMore) {
  // Pins a fixed fault: the limit was looked at only after waiting for more bytes, so a peer
  // that sent the limit and then paused turned a complete read into ReadTimedOut.
  const std::string body = Pattern(300);
  ScriptedPeer peer({{Send(body), Pause(4000), Send("beyond the limit")}});
  TestClient client;
  ASSERT_EQ(client.connectToPeer(peer), NetResult::Success);
  ScratchDirectory files;
  FileDataSource source(files.file("limit").c_str());
  EXPECT_EQ(client.readToSource(source, 1, 2, 300), NetResult::Success);
  EXPECT_EQ(client.progress, (std::vector<long>{256, 300}));
  EXPECT_TRUE(SameBytes(files.Read("limit"), body));
}

TEST(CutWsClientReadTest, ReadToSourceStoresTheBodyIntactInEitherMode) {
  const std::string body = Pattern(5000);
  const std::pair<int, std::string> cases[] = {{1, body}, {2, "old:" + body}};
  for (const auto& [mode, expected] : cases) {
    ScriptedPeer peer({{Send(body.substr(0, 1000)), Pause(100), Send(body.substr(1000))}});
    TestClient client;
    ASSERT_EQ(client.connectToPeer(peer), NetResult::Success);
    ScratchDirectory files;
    files.Write("body", "old:");
    FileDataSource source(files.file("body").c_str());
    EXPECT_EQ(client.readToSource(source, mode, 5, 0), NetResult::Success) << mode;
    EXPECT_TRUE(SameBytes(files.Read("body"), expected)) << mode;
  }
}

TEST(CutWsClientReadTest, ReadToSourceReportsEachFailure) {
  struct Case {
    const char* name;
    bool connected;
    Exchange exchange;
    int mode;
    bool creatable;
    int cancelAfter;
    NetResult expected;
    bool fileCreated;
  };
  const Case cases[] = {
      {"no connection", false, {}, 1, true, -1, NetResult::NoSocket, false},
      {"mode 0", true, {Send("x")}, 0, true, -1, NetResult::BadSourceMode, false},
      {"an uncreatable file", true, {Send("x")}, 1, false, -1, NetResult::SourceOpenFailed, false},
      {"a silent peer", true, {Pause(8000)}, 1, true, -1, NetResult::ReadTimedOut, true},
      {"cancelled", true, {Send(Pattern(2000))}, 1, true, 2, NetResult::Cancelled, true},
  };
  for (const Case& c : cases) {
    ScriptedPeer peer({c.exchange});
    TestClient client;
    if (c.connected) {
      ASSERT_EQ(client.connectToPeer(peer), NetResult::Success) << c.name;
    }
    client.cancelAfter = c.cancelAfter;
    ScratchDirectory files;
    const std::string path = files.file(c.creatable ? "failure" : "no/such/folder/failure");
    FileDataSource source(path.c_str());
    EXPECT_EQ(client.readToSource(source, c.mode, 1, 0), c.expected) << c.name;
    EXPECT_EQ(std::filesystem::exists(path), c.fileCreated) << c.name;
    if (c.cancelAfter >= 0) {
      EXPECT_EQ(client.progress.size(), static_cast<std::size_t>(c.cancelAfter)) << c.name;
    }
  }
}

TEST(CutWsClientWriteTest, SendsEveryByteInOrder) {
  ScriptedPeer peer({{ReadUntil("<end>", 8000)}});
  TestClient client;
  ASSERT_EQ(client.connectToPeer(peer), NetResult::Success);
  const std::string fileBytes = Pattern(1000);
  ScratchDirectory files;
  files.Write("send", fileBytes);
  const std::string path = files.file("send");
  EXPECT_EQ(client.writeText("", 0), 0);
  EXPECT_EQ(client.writeText("up to the NUL", 0), 13);
  EXPECT_EQ(client.writeText("|negative", -5), 9);
  EXPECT_EQ(client.writeWrapped("abcdefghij", -1, 4), 10);
  EXPECT_EQ(client.writeFile(path.c_str()), NetResult::Success);
  // Pins a fixed fault: a send that took only part of a source's block dropped the rest.
  client.sendLimit = 7;
  FileDataSource source(path.c_str());
  EXPECT_EQ(client.writeSource(source), NetResult::Success);
  EXPECT_EQ(client.writeAll(fileBytes.data(), 1000), 1000);
  EXPECT_EQ(client.writeText("<end>"), 5);
  client.disconnect();
  ASSERT_TRUE(peer.waitDone(10000));
  EXPECT_EQ(peer.failure(), "");
  EXPECT_TRUE(SameBytes(peer.received(0), "up to the NUL|negativeabcd\r\nefgh\r\nij\r\n" +
                                              fileBytes + fileBytes + fileBytes + "<end>"));
}

TEST(CutWsClientListenTest, AcceptsClientsAndClosesThoseTheHookRefuses) {
  TestClient server;
  ASSERT_EQ(server.openListener(0, 5, AF_INET, "127.0.0.1"), NetResult::Success);
  ASSERT_NE(server.listened(), 0u);
  EXPECT_EQ(server.openListener(0, 5, AF_INET, "127.0.0.1"), NetResult::AlreadyOpen);
  EXPECT_EQ(server.waitForIncoming(1), NetResult::Failed) << "nobody connected";

  TestClient client;
  ASSERT_EQ(client.connectTo(server.listened(), "127.0.0.1", 5), NetResult::Success);
  ASSERT_EQ(server.waitForIncoming(5), NetResult::Success);
  ASSERT_EQ(server.acceptIncoming(), NetResult::Success);
  EXPECT_EQ(server.peerAddress(), "127.0.0.1");
  EXPECT_EQ(server.remote(), client.local());
  EXPECT_EQ(server.writeText("welcome"), 7);
  EXPECT_EQ(client.read(7), "welcome");

  // Pins a fixed fault: a connection the hook turned down stayed open, its client left waiting.
  TestClient refused;
  ASSERT_EQ(refused.connectTo(server.listened(), "127.0.0.1", 5), NetResult::Success);
  server.hookAnswer = static_cast<int>(NetResult::Cancelled);
  ASSERT_EQ(server.waitForIncoming(5), NetResult::Success);
  EXPECT_EQ(server.acceptIncoming(), NetResult::Cancelled);
  EXPECT_EQ(server.connectionSocket(), INVALID_SOCKET);
  EXPECT_EQ(refused.waitReadable(5, 0), NetResult::Success) << "the client sees the end at once";
  EXPECT_EQ(refused.read(1), "");
}

TEST(CutWsClientDatagramTest, RoundTripsBetweenTwoObjects) {
  TestClient receiver;
  TestClient sender;
  ASSERT_EQ(receiver.openDatagram(0, 0, "127.0.0.1", "127.0.0.1"), NetResult::Success);
  ASSERT_NE(receiver.local(), 0u);
  ASSERT_EQ(sender.openDatagram(0, receiver.local(), "127.0.0.1", "127.0.0.1"), NetResult::Success);
  char buffer[64];
  int length = sizeof buffer;
  EXPECT_EQ(receiver.readDatagram(buffer, length, 0), NetResult::ReadTimedOut) << "nothing yet";
  int sent = 8;
  EXPECT_EQ(sender.writeDatagram("datagram", sent), NetResult::Success);
  EXPECT_EQ(sent, 8);
  length = sizeof buffer;
  ASSERT_EQ(receiver.readDatagram(buffer, length, 5), NetResult::Success);
  EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(length)), "datagram");
}

// Records what the notification window hands to the hooks.
class NotedClient : public CUT_WSClient {
 public:
  void onNotifyEvent(int event, int error) override { noted.push_back({1152, event, error}); }
  void onNotifyRead(int error) override { noted.push_back({1153, 0, error}); }
  void onNotifyWrite(int error) override { noted.push_back({1154, 0, error}); }
  HWND window() const { return notifyWindow; }

  std::vector<std::vector<int>> noted;
};

// Messages sent or posted to the window reach the hooks with the halves of their long parameter;
// a second object shares the class; the window goes with its object.
TEST(CutWsClientNotifyTest, TheWindowHandsItsMessagesToTheHooks) {
  const LPARAM halves = (0x0009 << 16) | 0x0007;
  HWND gone = nullptr;
  for (int round = 0; round < 2; ++round) {
    NotedClient client;
    ASSERT_EQ(client.createNotifyWindow(GetModuleHandleA(nullptr)), NetResult::Success)
        << "last error " << GetLastError();
    ASSERT_TRUE(IsWindow(client.window()));
    EXPECT_EQ(SendMessageA(client.window(), 1152, 0, halves), 0);
    EXPECT_TRUE(PostMessageA(client.window(), 1153, 0, halves));
    EXPECT_TRUE(PostMessageA(client.window(), 1154, 0, halves));
    EXPECT_EQ(SendMessageA(client.window(), WM_USER, 0, halves), 0);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      DispatchMessageA(&message);
    }
    EXPECT_EQ(client.noted,
              (std::vector<std::vector<int>>{{1152, 7, 9}, {1153, 0, 9}, {1154, 0, 9}}));
    gone = client.window();
  }
  EXPECT_FALSE(IsWindow(gone));
}

}  // namespace
