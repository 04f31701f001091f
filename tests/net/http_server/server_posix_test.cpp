// Server tests that need POSIX: other local addresses, FIFOs, the descriptor limit, the
// process's thread and descriptor lists, and real HTTP clients run as programs.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "net/http_server/local_web_server.h"
#include "tests/net/http_server/server_test_support.h"

namespace server_test {
namespace {

// An IPv4 address of one of this machine's own interfaces other than loopback; "" when none.
std::string NonLoopbackAddress() {
  ifaddrs* interfaces = nullptr;
  if (getifaddrs(&interfaces) != 0) {
    return "";
  }
  std::string found;
  for (ifaddrs* entry = interfaces; entry != nullptr && found.empty(); entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) {
      continue;
    }
    const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
    if ((ntohl(address->sin_addr.s_addr) >> 24) != 127) {
      char text[INET_ADDRSTRLEN];
      found = inet_ntop(AF_INET, &address->sin_addr, text, sizeof text);
    }
  }
  freeifaddrs(interfaces);
  return found;
}

std::size_t CountEntries(const char* directory) {
  std::error_code error;
  std::size_t count = 0;
  for (auto it = std::filesystem::directory_iterator(directory, error);
       !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
    ++count;
  }
  return count;
}

class ServerPosixTest : public ServerTest {
 protected:
  void SetUp() override { Start(1000, 64); }
};

// The temporary directory is shared; other machines have no business reading it.
TEST_F(ServerPosixTest, ClientFromANonLoopbackAddressIsClosedWithoutAByte) {
  const std::string address = NonLoopbackAddress();
  if (address.empty()) {
    GTEST_SKIP() << "this machine has no IPv4 address besides loopback";
  }
  RawClient client(server.listeningPort(), address.c_str());
  if (!client.connected()) {
    GTEST_SKIP() << "cannot reach 127.0.0.1 from " << address;
  }
  client.send("GET /hello.txt HTTP/1.0\r\n");
  bool closed = false;
  EXPECT_EQ(client.receiveAll(5000, &closed), "") << "from " << address;
  EXPECT_TRUE(closed);
  EXPECT_TRUE(server.texts().empty());
}

TEST_F(ServerPosixTest, FifosDevicesAndDirectoriesAreNotServed) {
  ASSERT_EQ(mkfifo((files.file("pipe")).c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/zero", files.file("zero"));
  std::filesystem::create_directory(files.file("folder"));
  // A FIFO without a writer would block a plain open for good.
  EXPECT_EQ(Ask(server.listeningPort(), "GET /pipe HTTP/1.0\r\n"), kNotFound);
  EXPECT_EQ(Ask(server.listeningPort(), "HEAD /zero HTTP/1.0\r\n"), kNotFound);
  EXPECT_EQ(Ask(server.listeningPort(), "GET /folder HTTP/1.0\r\n"), kNotFound);
  EXPECT_EQ(Ask(server.listeningPort(), "GET /. HTTP/1.0\r\n"), kNotFound);
  ASSERT_TRUE(server.waitTexts(4));
  for (const std::string& line : server.texts()) {
    EXPECT_EQ(line.rfind("0 Time=", 0), 0u) << line;
  }
}

// Accept failures that pass (no descriptor free for a moment) once ended the accept thread.
TEST_F(ServerPosixTest, AcceptingGoesOnAfterRunningOutOfDescriptors) {
  const std::string request = "GET /hello.txt HTTP/1.0\r\n";
  // Every thread of the server is up and idle before descriptors run out: the sanitizers'
  // run-time needs descriptors of its own when it first checks a thread that starts.
  ASSERT_EQ(Split(Ask(server.listeningPort(), request)).body, "Hello, reader.\n");
  ASSERT_TRUE(WaitUntil([&] { return server.liveCount() == 0; }));
  const int client = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(client, 0);
  rlimit original{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &original), 0);
  const int lowestFree = dup(0);
  ASSERT_GE(lowestFree, 0);
  close(lowestFree);

  rlimit none = original;
  none.rlim_cur = static_cast<rlim_t>(lowestFree);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(server.listeningPort());
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const int connected =
      connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  // The accept thread now fails to take the connection, a few times.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &original), 0);
  ASSERT_EQ(connected, 0);

  ASSERT_EQ(send(client, request.data(), request.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(request.size()));
  platform::SetSocketTimeout(client, SO_RCVTIMEO, 5000);
  std::string answer;
  char block[4096];
  for (ssize_t count; (count = recv(client, block, sizeof block, 0)) > 0;) {
    answer.append(block, static_cast<std::size_t>(count));
  }
  close(client);
  EXPECT_EQ(Split(answer).body, "Hello, reader.\n");
  EXPECT_EQ(Split(Ask(server.listeningPort(), request)).body, "Hello, reader.\n");
}

TEST_F(ServerPosixTest, AStormOfBadClientsLeavesNoThreadOrSocketBehind) {
  files.Write("big.bin", Pattern(2 * 1024 * 1024));
  // Settle: the threads of earlier work are gone, the server's own are running; connection
  // threads end soon after their last connection.
  server.setIdleThreadLifetime(200);
  ASSERT_EQ(Split(Ask(server.listeningPort(), "GET /hello.txt\r\n")).body, "Hello, reader.\n");
  ASSERT_TRUE(WaitUntil([&] { return server.connectionThreadCount() == 0; }));
  const std::size_t threads = CountEntries("/proc/self/task");
  const std::size_t descriptors = CountEntries("/proc/self/fd");
  if (threads == 0 || descriptors == 0) {
    GTEST_SKIP() << "no /proc here";
  }
  {
    std::vector<std::unique_ptr<RawClient>> clients;
    for (int i = 0; i < 60; ++i) {
      clients.push_back(std::make_unique<RawClient>(server.listeningPort()));
      switch (i % 5) {
        case 0:
          clients.back()->send(std::string(10000, 'A'));
          break;
        case 1:
          clients.back()->send("GET /big.bin HTTP/1.0\r\n");
          break;
        case 2:
          clients.back()->send(std::string("GET /\0\r", 7));
          break;
        case 3:
          clients.back()->send("POST / HTTP/1.0\r\nX: 1\r\n");
          break;
        default:
          break;  // connects and never sends
      }
    }
    clients[1]->receiveSome(100);
  }  // every client leaves, most of them early
  EXPECT_TRUE(WaitUntil([&] { return server.liveCount() == 0; }, 10000));
  EXPECT_TRUE(WaitUntil([&] { return CountEntries("/proc/self/task") == threads; }, 10000))
      << CountEntries("/proc/self/task") << " threads, " << threads << " before";
  EXPECT_TRUE(WaitUntil([&] { return CountEntries("/proc/self/fd") == descriptors; }, 10000))
      << CountEntries("/proc/self/fd") << " descriptors, " << descriptors << " before";
  EXPECT_EQ(Split(Ask(server.listeningPort(), "GET /hello.txt\r\n")).body, "Hello, reader.\n");
}

// Clients nobody here wrote fetch files byte for byte.
class RealClientTest : public ServerPosixTest, public ::testing::WithParamInterface<const char*> {
 protected:
  std::string Fetch(const std::string& name) {
    const std::string url =
        "http://127.0.0.1:" + std::to_string(server.listeningPort()) + "/" + name;
    const std::string output = saved.file(name);
    const std::string tool = GetParam();
    std::string command;
    if (tool == "curl") {
      command = "/usr/bin/curl -sS --max-time 20 -o '" + output + "' '" + url + "'";
    } else if (tool == "wget") {
      command = "/usr/bin/wget -q --timeout=20 --tries=1 -O '" + output + "' '" + url + "'";
    } else {
      command =
          "/usr/bin/python3 -c 'import sys, urllib.request; "
          "open(sys.argv[2], \"wb\").write(urllib.request.urlopen(sys.argv[1], "
          "timeout=20).read())' '" +
          url + "' '" + output + "'";
    }
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return saved.Read(name);
  }

  ScratchDirectory saved;
};

TEST_P(RealClientTest, FetchesTheFeedAndABinaryFileByteForByte) {
  const std::string program = std::string("/usr/bin/") + GetParam();
  if (!std::filesystem::exists(program)) {
    GTEST_SKIP() << program << " is not installed";
  }
  const std::string feed =
      "<?xml version=\"1.0\"?>\n<rss version=\"2.0\"><channel><title>All</title></channel></rss>\n";
  const std::string binary = Pattern(5 * 1024 * 1024 + 17);
  files.Write("all.xml", feed);
  files.Write("big.bin", binary);
  EXPECT_EQ(Fetch("all.xml"), feed);
  EXPECT_TRUE(Fetch("big.bin") == binary) << "the 5 MB file differs";
}

INSTANTIATE_TEST_SUITE_P(Programs, RealClientTest, ::testing::Values("curl", "wget", "python3"));

}  // namespace
}  // namespace server_test
