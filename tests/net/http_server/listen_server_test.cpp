#include "net/http_server/listen_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/http_server/local_web_server.h"
#include "tests/net/http_server/server_test_support.h"

namespace server_test {
namespace {

// A server whose workers are made by a function of the test's choosing.
class PlainServer : public ListenServer {
 public:
  explicit PlainServer(std::function<ConnectionWorker*()> make =
                           [] { return new ConnectionWorker; })
      : make_(std::move(make)) {}
  ~PlainServer() override {
    stop();
    markShuttingDown();
    waitForConnections();
  }
  ConnectionWorker* createWorker() override { return make_(); }
  bool acceptFilter(const char* addressText) override {
    std::lock_guard<std::mutex> guard(addressLock_);
    lastAddress_ = addressText;
    return admit.load();
  }
  std::string lastAddress() {
    std::lock_guard<std::mutex> guard(addressLock_);
    return lastAddress_;
  }

  void start(int backlog = 5) {
    setConnectionTimeout(2000);
    ASSERT_EQ(startListening(0, backlog, AF_INET, htonl(INADDR_LOOPBACK)), NetResult::Success);
    ASSERT_EQ(startAcceptThread(), NetResult::Success);
  }

  std::atomic<bool> admit{true};

 private:
  std::mutex addressLock_;
  std::string lastAddress_;
  std::function<ConnectionWorker*()> make_;
};

class ListenServerTest : public ServerTest {
 protected:
  void SetUp() override { Start(); }
};

TEST_F(ListenServerTest, TheTwentyFirstClientIsRefusedWhileTwentyHoldTheirWorkers) {
  std::vector<std::unique_ptr<RawClient>> idle;
  // One at a time: a burst beyond the backlog of 5 would wait for SYN retries.
  for (int i = 1; i <= 20; ++i) {
    idle.push_back(std::make_unique<RawClient>(server.listeningPort()));
    ASSERT_TRUE(idle.back()->connected());
    ASSERT_TRUE(WaitUntil([&] { return server.liveCount() == i; })) << server.liveCount();
  }

  EXPECT_EQ(Ask(server.listeningPort(), "GET /hello.txt HTTP/1.0\r\n"), kTooMany);
  ASSERT_TRUE(server.waitTexts(1));
  EXPECT_EQ(server.texts()[0], "(21) Max Connections Reached");

  // The twenty are still served, and once they are gone, everybody is again.
  idle[0]->send("GET /hello.txt HTTP/1.0\r\n");
  EXPECT_EQ(Split(idle[0]->receiveAll()).body, "Hello, reader.\n");
  idle.clear();
  ASSERT_TRUE(WaitUntil([&] { return server.liveCount() == 0; })) << server.liveCount();
  EXPECT_EQ(Split(Ask(server.listeningPort(), "GET /hello.txt\r\n")).body, "Hello, reader.\n");
}

TEST(ListenServerFrameworkTest, ABurstIsServedTwentyAtATimeHoweverSlowlyThreadsStart) {
  struct Counts {
    std::atomic<int> serving{0}, most{0}, refused{0};
    std::atomic<bool> release{false};
  } counts;
  // Each served worker holds its place until released and counts how many are served with it.
  struct HoldingWorker : ConnectionWorker {
    explicit HoldingWorker(Counts& into) : counts(into) {}
    void serveConnection() override {
      const int now = ++counts.serving;
      for (int most = counts.most; now > most && !counts.most.compare_exchange_weak(most, now);) {
      }
      WaitUntil([&] { return counts.release.load(); });
      --counts.serving;
    }
    void refuseConnection() override { ++counts.refused; }
    Counts& counts;
  };
  // Connection threads slow to get going, as on a busy machine, while the accept thread takes
  // the whole burst.
  PlainServer server([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return new HoldingWorker(counts);
  });
  server.start(64);
  std::vector<std::unique_ptr<RawClient>> burst;
  for (int i = 0; i < 50; ++i) {
    burst.push_back(std::make_unique<RawClient>(server.listeningPort()));
  }
  const bool settled = WaitUntil([&] { return counts.serving + counts.refused == 50; });
  counts.release = true;
  EXPECT_TRUE(settled) << counts.serving << " served, " << counts.refused << " refused";
  EXPECT_EQ(counts.most.load(), 20);
  EXPECT_EQ(counts.refused.load(), 30);
}

TEST(ListenServerFrameworkTest, AConnectionThreadServesTheNextConnectionAndEndsWhenIdle) {
  // How many connections the thread of each served connection has served, that one included.
  std::atomic<int> mostOnOneThread{0};
  struct CountingWorker : ConnectionWorker {
    explicit CountingWorker(std::atomic<int>& most) : most_(most) {}
    void serveConnection() override {
      thread_local int served = 0;
      for (int seen = most_, now = ++served;
           now > seen && !most_.compare_exchange_weak(seen, now);) {
      }
      ConnectionWorker::serveConnection();
    }
    std::atomic<int>& most_;
  };
  PlainServer server([&] { return new CountingWorker(mostOnOneThread); });
  server.setIdleThreadLifetime(1500);
  server.start();
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(Ask(server.listeningPort(), "hello\r\n"),
              "Connect Successful ... Now Disconnecting.");
    ASSERT_TRUE(WaitUntil([&] { return server.liveCount() == 0; }));
  }
  EXPECT_GE(mostOnOneThread.load(), 2) << "every connection had a thread of its own";
  EXPECT_TRUE(WaitUntil([&] { return server.connectionThreadCount() == 0; }, 10000))
      << "idle threads were left waiting";
}

TEST_F(ListenServerTest, StartAcceptThreadTwiceFailsTheSecondTime) {
  EXPECT_EQ(server.startAcceptThread(), NetResult::Failed);
  EXPECT_EQ(Split(Ask(server.listeningPort(), "GET /hello.txt\r\n")).body, "Hello, reader.\n");
}

TEST_F(ListenServerTest, ThePortIsFreeAgainAfterStop) {
  const unsigned short port = server.listeningPort();
  EXPECT_EQ(Split(Ask(port, "GET /hello.txt\r\n")).body, "Hello, reader.\n");
  EXPECT_EQ(server.stop(), NetResult::Success);
  RawClient refused(port);
  EXPECT_FALSE(refused.connected()) << "nobody listens after stop";

  // The connection just served lingers in TIME_WAIT on this port; listening must work anyway.
  RecordingServer again;
  again.setConnectionTimeout(2000);
  ASSERT_EQ(again.startListening(port, 5, AF_INET, htonl(INADDR_LOOPBACK)), NetResult::Success);
  EXPECT_EQ(again.listeningPort(), port);
  ASSERT_EQ(again.startAcceptThread(), NetResult::Success);
  ASSERT_EQ(again.setRootPath(files.path().c_str()), NetResult::Success);
  EXPECT_EQ(Split(Ask(port, "GET /hello.txt\r\n")).body, "Hello, reader.\n");
  EXPECT_EQ(server.stop(), NetResult::Success) << "a second stop does nothing";
}

TEST_F(ListenServerTest, DestructionWaitsForTheConnectionsBeingServed) {
  auto doomed = std::make_unique<RecordingServer>();
  doomed->start(files.path());
  RawClient client(doomed->listeningPort());
  ASSERT_TRUE(WaitUntil([&] { return doomed->liveCount() == 1; }));

  std::atomic<bool> destroyed{false};
  auto destruction = std::async(std::launch::async, [&] {
    doomed.reset();
    destroyed = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(destroyed.load()) << "destruction must wait while the client holds its worker";

  // The worker, already serving, still answers in full.
  client.send("GET /hello.txt HTTP/1.0\r\n");
  EXPECT_EQ(Split(client.receiveAll()).body, "Hello, reader.\n");
  ASSERT_EQ(destruction.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_TRUE(destroyed.load());
}

TEST(ListenServerLifecycleTest, StopWhenNotRunningDoesNothing) {
  ScratchDirectory files;
  files.Write("hello.txt", "Hello, reader.\n");
  RecordingServer server;
  EXPECT_EQ(server.stop(), NetResult::Success);
  EXPECT_EQ(server.listeningPort(), 65535) << "no port before listening";
  ASSERT_EQ(server.startListening(0, 5, AF_INET, htonl(INADDR_LOOPBACK)), NetResult::Success);
  EXPECT_EQ(server.startListening(0, 5, AF_INET, htonl(INADDR_LOOPBACK)), NetResult::AlreadyOpen);
  EXPECT_EQ(server.stop(), NetResult::Success);
  // Listening was not touched: accepting still works.
  ASSERT_EQ(server.startAcceptThread(), NetResult::Success);
  ASSERT_EQ(server.setRootPath(files.path().c_str()), NetResult::Success);
  EXPECT_EQ(Split(Ask(server.listeningPort(), "GET /hello.txt\r\n")).body, "Hello, reader.\n");
}

TEST(ListenServerLifecycleTest, ABusyPortGivesBindFailedAndLeavesNothingOpen) {
  RecordingServer first;
  ASSERT_EQ(first.startListening(0, 5, AF_INET, htonl(INADDR_LOOPBACK)), NetResult::Success);
  RecordingServer second;
  EXPECT_EQ(second.startListening(first.listeningPort(), 5, AF_INET, htonl(INADDR_LOOPBACK)),
            NetResult::BindFailed);
  EXPECT_EQ(second.startListening(0, 5, AF_INET, htonl(INADDR_LOOPBACK)), NetResult::Success)
      << "a failed try leaves no socket behind to block the next";
}

TEST(ListenServerLifecycleTest, AcceptThreadWithoutListeningEndsAndStopStillReturns) {
  RecordingServer server;
  ASSERT_EQ(server.startAcceptThread(), NetResult::Success);
  ASSERT_TRUE(server.waitTexts(1));
  EXPECT_EQ(server.texts()[0], "ServerSocket invalid");
  EXPECT_EQ(server.stop(), NetResult::Success);
}

TEST(ListenServerFrameworkTest, TheBaseWorkerGreetsOnceALineCame) {
  PlainServer server;
  server.start();
  EXPECT_EQ(Ask(server.listeningPort(), "hello\r\nand more\r\n"),
            "Connect Successful ... Now Disconnecting.");
  EXPECT_EQ(server.lastAddress(), "127.0.0.1");
}

TEST(ListenServerFrameworkTest, RefusedAddressesAreClosedWithoutAByte) {
  PlainServer server;
  server.start();
  server.admit = false;
  RawClient client(server.listeningPort());
  client.send("hello\r\n");
  bool closed = false;
  EXPECT_EQ(client.receiveAll(5000, &closed), "");
  EXPECT_TRUE(closed);
  EXPECT_EQ(server.liveCount(), 0);
}

TEST(ListenServerFrameworkTest, LocalWebServerAdmitsLoopbackClientsOnly) {
  LocalWebServer server;
  AddressFilter& filter = server.addressFilter();
  EXPECT_TRUE(filter.isAllowed(inet_addr("127.0.0.1")));
  EXPECT_TRUE(filter.isAllowed(inet_addr("127.0.0.2")));
  EXPECT_TRUE(filter.isAllowed(inet_addr("127.255.255.255")));
  EXPECT_FALSE(filter.isAllowed(inet_addr("126.255.255.255")));
  EXPECT_FALSE(filter.isAllowed(inet_addr("128.0.0.0")));
  EXPECT_FALSE(filter.isAllowed(inet_addr("192.168.1.10")));
  EXPECT_FALSE(filter.isAllowed(inet_addr("10.0.0.1")));
  EXPECT_FALSE(filter.isAllowed(inet_addr("0.0.0.0")));
}

TEST(ListenServerFrameworkTest, ALoopbackClientOtherThan127001IsServed) {
  ScratchDirectory files;
  files.Write("hello.txt", "Hello, reader.\n");
  RecordingServer server;
  server.start(files.path());
  RawClient client(server.listeningPort(), "127.0.0.2");
  if (!client.connected()) {
    GTEST_SKIP() << "127.0.0.2 cannot be used as a source address here";
  }
  client.send("GET /hello.txt HTTP/1.0\r\n");
  EXPECT_EQ(Split(client.receiveAll()).body, "Hello, reader.\n");
  ASSERT_TRUE(server.waitTexts(1));
  EXPECT_NE(server.texts()[0].find("IP=127.0.0.2 "), std::string::npos) << server.texts()[0];
}

TEST(ListenServerFrameworkTest, IPv6LoopbackClientsShareTheAnswersAndTheLimit) {
  ScratchDirectory files;
  files.Write("hello.txt", "Hello, reader.\n");
  RecordingServer server;
  ASSERT_EQ(server.startListening(0, 5, AF_INET, htonl(INADDR_LOOPBACK)), NetResult::Success);
  if (server.listenOnIPv6Loopback(5) != NetResult::Success) {
    GTEST_SKIP() << "[::1] cannot be bound here";
  }
  ASSERT_EQ(server.startAcceptThread(), NetResult::Success);
  ASSERT_EQ(server.setRootPath(files.path().c_str()), NetResult::Success);
  const unsigned short port = server.listeningPort();
  // The same bytes over both, the moment in the Date line aside.
  const auto withoutDate = [](std::string answer) {
    const std::size_t date = answer.find("\r\nDate:");
    return answer.erase(date, answer.find("\r\n", date + 2) - date);
  };
  const std::string request = "GET /hello.txt HTTP/1.0\r\n\r\n";
  const std::string overIPv4 = Ask(port, request);
  EXPECT_EQ(Split(overIPv4).body, "Hello, reader.\n");
  EXPECT_EQ(withoutDate(Ask(port, request, 5000, "::1")), withoutDate(overIPv4));

  // Twenty held over both families: the next one over either is refused.
  std::vector<std::unique_ptr<RawClient>> idle;
  for (int i = 1; i <= 20; ++i) {
    idle.push_back(std::make_unique<RawClient>(port, nullptr, i % 2 == 0 ? "::1" : "127.0.0.1"));
    ASSERT_TRUE(WaitUntil([&] { return server.liveCount() == i; })) << server.liveCount();
  }
  EXPECT_EQ(Ask(port, request, 5000, "::1"), kTooMany);
  EXPECT_EQ(Ask(port, request), kTooMany);
  // Stop wakes the accept thread that waits on both sockets, and closes both.
  EXPECT_EQ(server.stop(), NetResult::Success);
  EXPECT_FALSE(RawClient(port, nullptr, "::1").connected());
}

// The worker's transfer operations on one live connection, driven by a script of the test's.
TEST(ListenServerFrameworkTest, WorkerPrimitivesMoveBytesBothWays) {
  ScratchDirectory files;
  const std::string inbox = files.file("inbox.bin");
  struct Results {
    int exactly = 0;
    std::string firstFive;
    int wrapped = 0;
    NetResult wrongMode = NetResult::Success;
    NetResult received = NetResult::Failed;
    long receivedBytes = 0;
    NetResult sent = NetResult::Failed;
    long sentBytes = 0;
  };
  auto results = std::make_shared<Results>();
  struct ScriptedWorker : ConnectionWorker {
    ScriptedWorker(std::shared_ptr<Results> into, std::string path)
        : results(std::move(into)), inboxPath(std::move(path)) {}
    void serveConnection() override {
      char five[6] = {};
      results->exactly = readExactly(five, 5, 2);
      results->firstFive = five;
      results->wrapped = writeWrapped(five, -1, 2);
      long ignored = 0;
      results->wrongMode = readToFile(inboxPath.c_str(), 0, ignored, 2);
      results->received = readToFile(inboxPath.c_str(), 1, results->receivedBytes, 2);
      results->sent = writeFile(inboxPath.c_str(), results->sentBytes);
    }
    std::shared_ptr<Results> results;
    std::string inboxPath;
  };
  PlainServer server([&] { return new ScriptedWorker(results, inbox); });
  server.start();
  RawClient client(server.listeningPort());
  client.send("abcde");
  EXPECT_EQ(client.receiveSome(11), "ab\r\ncd\r\ne\r\n");
  const std::string payload = Pattern(3000);
  client.send(payload);
  client.shutdownSending();
  EXPECT_TRUE(client.receiveAll() == payload);
  ASSERT_TRUE(WaitUntil([&] { return server.liveCount() == 0; }));
  EXPECT_EQ(results->exactly, 5);
  EXPECT_EQ(results->firstFive, "abcde");
  EXPECT_EQ(results->wrapped, 11);
  EXPECT_EQ(results->wrongMode, NetResult::BadSourceMode);
  EXPECT_EQ(results->received, NetResult::Success);
  EXPECT_EQ(results->receivedBytes, 3000);
  EXPECT_EQ(results->sent, NetResult::Success);
  EXPECT_EQ(results->sentBytes, 3000);
}

TEST(ListenServerFrameworkTest, TheLiveListCountsEntriesByThreadId) {
  PlainServer server;
  ConnectionWorker a, b, c;
  server.addLive(&a, 1, INVALID_SOCKET);
  server.addLive(&b, 2, INVALID_SOCKET);
  server.addLive(&c, 3, INVALID_SOCKET);
  EXPECT_EQ(server.liveCount(), 3);
  server.removeLive(2);
  server.removeLive(7);
  EXPECT_EQ(server.liveCount(), 2) << "an unknown id changes nothing";
  server.removeLive(3);
  server.removeLive(1);
  EXPECT_EQ(server.liveCount(), 0);
  server.removeLive(1);
  EXPECT_EQ(server.liveCount(), 0);
}

}  // namespace
}  // namespace server_test
