// Clients that send what no browser would, or stall, or leave early: the server answers what it
// can, never hangs, and keeps serving everybody else.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "net/http_server/local_web_server.h"
#include "tests/net/http_server/server_test_support.h"

namespace server_test {
namespace {

class BadInputTest : public ServerTest {
 protected:
  void SetUp() override {
    files.Write("big.bin", Pattern(5 * 1024 * 1024));
    // Short time-outs: a stalled client holds a worker this long.
    Start(300);
  }

  void ExpectStillServing() {
    EXPECT_EQ(Split(Ask(server.listeningPort(), "GET /hello.txt HTTP/1.0\r\n")).body,
              "Hello, reader.\n");
  }
};

TEST_F(BadInputTest, RequestLineOfTenThousandBytes) {
  // The line comes cut at 511 bytes; its path token is then too long to be one.
  EXPECT_EQ(Ask(server.listeningPort(), "GET /" + std::string(10000, 'x') + " HTTP/1.0\r\n\r\n"),
            kNotRecognized);
  EXPECT_EQ(Ask(server.listeningPort(), std::string(10000, 'G') + "\r\n"), kNotRecognized);
  ExpectStillServing();
}

TEST_F(BadInputTest, NulInThePathEndsThePath) {
  const std::string request("GET /hello.txt\0/../../etc/passwd HTTP/1.0\r\n", 43);
  EXPECT_EQ(Split(Ask(server.listeningPort(), request)).body, "Hello, reader.\n");
  const std::string hidden("GET /\0hello.txt HTTP/1.0\r\n", 26);
  EXPECT_EQ(Ask(server.listeningPort(), hidden), "HTTP/1.0 404 Requested file not found\r\n")
      << "the bare slash names default.htm, which is not there";
  ExpectStillServing();
}

TEST_F(BadInputTest, CarriageReturnWithoutLineFeedEndsAtTheTimeOut) {
  RawClient client(server.listeningPort());
  client.send("GET /hello.txt\r");
  EXPECT_EQ(Split(client.receiveAll()).body, "Hello, reader.\n");
  ExpectStillServing();
}

TEST_F(BadInputTest, OneByteAtATimeSlowerThanTheTimeOut) {
  RawClient client(server.listeningPort());
  client.send("G");
  bool closed = false;
  EXPECT_EQ(client.receiveAll(5000, &closed), kNotRecognized);
  EXPECT_TRUE(closed);
  client.send("ET /hello.txt HTTP/1.0\r\n");  // too late: nobody reads it any more
  ExpectStillServing();
}

TEST_F(BadInputTest, ClientThatNeverSendsIsClosedAfterTheTimeOut) {
  RawClient client(server.listeningPort());
  bool closed = false;
  EXPECT_EQ(client.receiveAll(5000, &closed), "");
  EXPECT_TRUE(closed);
  EXPECT_TRUE(WaitUntil([&] { return server.liveCount() == 0; }));
  EXPECT_TRUE(server.texts().empty()) << "nothing is logged";
}

TEST_F(BadInputTest, ClientThatLeavesWhileTheBodyIsSent) {
  {
    RawClient client(server.listeningPort());
    client.send("GET /big.bin HTTP/1.0\r\n");
    EXPECT_EQ(client.receiveSome(1000).size(), 1000u);
  }
  ASSERT_TRUE(server.waitTexts(1));
  EXPECT_EQ(server.texts()[0].rfind("0 Time=", 0), 0u)
      << "a body not sent in full is logged as failed: " << server.texts()[0];
  ExpectStillServing();
}

TEST_F(BadInputTest, ClientThatNeverReadsTheBodyIsLeftAtTheSendTimeOut) {
  // More than the connection's buffers hold, so that the sending stalls.
  files.Write("huge.bin", Pattern(40 * 1024 * 1024));
  RawClient client(server.listeningPort());
  client.send("GET /huge.bin HTTP/1.0\r\n");
  ASSERT_TRUE(server.waitTexts(1, 20000)) << "the stalled send held its worker";
  EXPECT_EQ(server.texts()[0].rfind("0 Time=", 0), 0u) << server.texts()[0];
  ExpectStillServing();
}

TEST(BadInputDeadlineTest, ARequestDrippedByteByByteEndsAtTheDeadline) {
  struct Case {
    const char* whole;  // sent at once
    const char* drip;   // then one byte every 50 ms, each well within the receive time-out
  };
  const Case cases[] = {
      {"", "GET /aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"},
      {"GET /hello.txt HTTP/1.0\r\n", "Host: localhost:8000\r\nAccept: */*\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.drip);
    ScratchDirectory files;
    files.Write("hello.txt", "Hello, reader.\n");
    RecordingServer server;
    EXPECT_EQ(server.requestDeadline(), 10000) << "the program's deadline";
    server.setRequestDeadline(400);
    server.start(files.path(), 2000);
    server.setServedNames({"hello.txt"});  // as the program serves: header lines are read too
    RawClient client(server.listeningPort());
    const auto start = Clock::now();
    client.send(c.whole);
    std::string answer;
    for (const char* next = c.drip; *next != '\0' && (answer = client.receiveSome(1, 50)).empty();
         ++next) {
      client.send(std::string(1, *next));
    }
    bool closed = false;
    answer += client.receiveAll(3000, &closed);
    EXPECT_EQ(answer, kNotFound) << "as after a receive time-out";
    EXPECT_TRUE(closed);
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count(),
              1500);
    EXPECT_TRUE(server.texts().empty()) << "nothing is logged";
  }
}

TEST(BadInputCrowdTest, TwoHundredClientsAtOnce) {
  ScratchDirectory files;
  files.Write("hello.txt", "Hello, reader.\n");
  RecordingServer server;
  // Long enough for the first twenty to wait until all two hundred have connected.
  server.start(files.path(), 10000, 256);
  std::vector<std::unique_ptr<RawClient>> clients;
  for (int i = 0; i < 200; ++i) {
    clients.push_back(std::make_unique<RawClient>(server.listeningPort()));
  }
  for (auto& client : clients) {
    client->send("GET /hello.txt HTTP/1.0\r\n");
  }
  int served = 0;
  int refused = 0;
  for (auto& client : clients) {
    const std::string answer = client->receiveAll();
    if (Split(answer).body == "Hello, reader.\n") {
      ++served;
    } else {
      EXPECT_EQ(answer, kTooMany);
      ++refused;
    }
  }
  EXPECT_GE(served, 20);
  EXPECT_EQ(served + refused, 200);
  clients.clear();
  EXPECT_TRUE(WaitUntil([&] { return server.liveCount() == 0; }));
  EXPECT_EQ(Split(Ask(server.listeningPort(), "GET /hello.txt\r\n")).body, "Hello, reader.\n");
}

}  // namespace
}  // namespace server_test
