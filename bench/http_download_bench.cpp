// Download rate of HttpFetchClient::getToFile beside curl's, both fetching the same body from the
// same loopback server in the same run:
//   http_download_bench [--rounds N] [--megabytes N] [--only ours|curl|<experiment>]
// The server is a thread of this program that answers every request with the whole body from
// memory in sends of 1 MiB, so that the clients, not the server, set the pace. Each figure is the
// best of the rounds, in MB/s (10^6 bytes per second); curl's process start, measured on an empty
// body, is subtracted from its times. The ratio is curl's rate over ours: above 1, ours is slower.
//
// The experiments are clients of this program only: each changes one thing in how the body is
// received, so that a change to the library can be judged by figures before it is made.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "net/http_client/http_fetch_client.h"
#include "net/io/data_source.h"
#include "net/socket/socket_stream.h"
#include "platform/winsock.h"

namespace {

using Clock = std::chrono::steady_clock;

// Serves `body` to every request on 127.0.0.1 ("/empty" gets an empty body) until destroyed.
class BodyServer {
 public:
  explicit BodyServer(const std::string& body) : body_(body) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 8) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      std::fprintf(stderr, "cannot listen on 127.0.0.1\n");
      std::exit(1);
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~BodyServer() {
    stopping_ = true;
    thread_.join();
    closesocket(listener_);
    WSACleanup();
  }

  std::string url(const char* path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

 private:
  void serve() {
    while (!stopping_) {
      if (platform::WaitSocket(listener_, false, 0, 100000) != 1) {
        continue;
      }
      const SOCKET connection = accept(listener_, nullptr, nullptr);
      if (connection != INVALID_SOCKET) {
        answer(connection);
        closesocket(connection);
      }
    }
  }

  void answer(SOCKET connection) {
    platform::SetSocketTimeout(connection, SO_RCVTIMEO, 10000);
    platform::SetSocketTimeout(connection, SO_SNDTIMEO, 10000);
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
      const int count = static_cast<int>(recv(connection, buffer, sizeof buffer, 0));
      if (count <= 0) {
        return;
      }
      request.append(buffer, static_cast<std::size_t>(count));
    }
    const bool empty = request.compare(0, 11, "GET /empty ") == 0;
    const std::size_t size = empty ? 0 : body_.size();
    const std::string head =
        "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(size) + "\r\n\r\n";
    send(connection, head.data(), static_cast<int>(head.size()), kSendNoSignal);
    for (std::size_t sent = 0; sent < size;) {
      const int piece = static_cast<int>(std::min<std::size_t>(size - sent, 1 << 20));
      const int count =
          static_cast<int>(send(connection, body_.data() + sent, piece, kSendNoSignal));
      if (count <= 0) {
        return;
      }
      sent += static_cast<std::size_t>(count);
    }
    // Let the client see the end of the body before the connection goes.
    shutdown(connection, SD_SEND);
    while (recv(connection, buffer, sizeof buffer, 0) > 0) {
    }
  }

  const std::string& body_;
  SOCKET listener_ = INVALID_SOCKET;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

// Experiment "tryfirst": the socket is non-blocking during the body, and the wait for data comes
// only when a read finds nothing; blocks, file writes and time-outs stay as they are (a wait that
// runs out ends the body as a failed read).
class TryFirstStream : public SocketStream {
 public:
  using SocketStream::SocketStream;
  bool waitReadable(long seconds, long) override {
    waitSeconds = seconds;
    return true;
  }
  int read(char* buffer, int length) override {
    for (;;) {
      const int count = SocketStream::read(buffer, length);
      if (count >= 0 || WSAGetLastError() != WSAEWOULDBLOCK) {
        return count;
      }
      if (!SocketStream::waitReadable(waitSeconds, 0)) {
        return -1;
      }
    }
  }

 private:
  long waitSeconds = 0;
};

class TryFirstClient : public HttpFetchClient {
 public:
  NetResult readToSource(DataSource& source, int mode, int timeoutSeconds, long maxBytes) override {
    if (timeoutSeconds <= 0 || maxBytes > 0 || setNonBlocking(1) != NetResult::Success) {
      return HttpFetchClient::readToSource(source, mode, timeoutSeconds, maxBytes);
    }
    useStream(&tryFirst);
    const NetResult result = HttpFetchClient::readToSource(source, mode, timeoutSeconds, maxBytes);
    useStream(nullptr);
    setNonBlocking(0);
    return result;
  }

 private:
  TryFirstStream tryFirst{*this, connection};
};

// Experiment "pending": before each wait, asks whether bytes are waiting (FIONREAD) and skips the
// wait when they are.
class PendingFirstClient : public HttpFetchClient {
 public:
  int sysWaitReadable(SOCKET socket, long seconds, long microseconds) override {
    return hasPendingData(socket) ? 0
                                  : HttpFetchClient::sysWaitReadable(socket, seconds, microseconds);
  }
};

// Experiment "filebuffer": as "tryfirst", and the file is written in pieces of 64 KiB gathered from
// the 256-byte blocks (a data source of this program wrapping the file).
class GatheringSource : public DataSource {
 public:
  explicit GatheringSource(DataSource& file) : file_(file) {}
  std::unique_ptr<DataSource> clone() const override { return nullptr; }
  int open(int mode) override { return file_.open(mode); }
  void close() override {
    flush();
    file_.close();
  }
  int readLine(char*, int) override { return -1; }
  int writeLine(const char*) override { return -1; }
  int read(char*, int) override { return -1; }
  int write(const char* data, int length) override {
    if (pending_.size() + static_cast<std::size_t>(length) > (64u << 10) && !flush()) {
      return -1;
    }
    pending_.append(data, static_cast<std::size_t>(length));
    return length;
  }
  int seek(int, int) override { return -1; }

 private:
  bool flush() {
    const int size = static_cast<int>(pending_.size());
    const bool written = size == 0 || file_.write(pending_.data(), size) == size;
    pending_.clear();
    return written;
  }
  DataSource& file_;
  std::string pending_;
};

class GatheringClient : public TryFirstClient {
 public:
  NetResult get(const char* url, DataSource* target) override {
    if (target == nullptr) {
      return TryFirstClient::get(url, target);
    }
    GatheringSource gathering(*target);
    return TryFirstClient::get(url, &gathering);
  }
};

double Seconds(Clock::duration elapsed) {
  return std::chrono::duration<double>(elapsed).count();
}

// Best time of `rounds` runs of `run`, which answers false on failure.
double BestSeconds(int rounds, const std::function<bool()>& run) {
  double best = 0;
  for (int round = 0; round < rounds; ++round) {
    const Clock::time_point start = Clock::now();
    if (!run()) {
      std::fprintf(stderr, "a download failed\n");
      std::exit(1);
    }
    const double elapsed = Seconds(Clock::now() - start);
    best = round == 0 ? elapsed : std::min(best, elapsed);
  }
  return best;
}

std::string Content(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 5;
  long megabytes = 50;
  std::string only;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--rounds") {
      rounds = std::max(1, std::atoi(argv[i + 1]));
    } else if (option == "--megabytes") {
      megabytes = std::max(1L, std::atol(argv[i + 1]));
    } else if (option == "--only") {
      only = argv[i + 1];
    }
  }
  std::string body(static_cast<std::size_t>(megabytes) << 20, '\0');
  unsigned state = 12345;
  for (char& c : body) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 24);
  }
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("zv-download-" + std::to_string(std::random_device{}())))
                               .string();
  BodyServer server(body);
  const double bytes = static_cast<double>(body.size());
  const auto rate = [bytes](double seconds) { return bytes / seconds / 1e6; };

  // Each client must save exactly the body before its time counts.
  const auto fetchWith = [&](auto makeClient) {
    return [&, makeClient] {
      auto client = makeClient();
      return client->getToFile(server.url("/body").c_str(), path.c_str()) == NetResult::Success;
    };
  };
  struct Client {
    const char* name;
    std::function<bool()> fetch;
  };
  const std::vector<Client> clients = {
      {"ours", fetchWith([] { return std::make_unique<HttpFetchClient>(); })},
      {"tryfirst", fetchWith([] { return std::make_unique<TryFirstClient>(); })},
      {"pending", fetchWith([] { return std::make_unique<PendingFirstClient>(); })},
      {"filebuffer", fetchWith([] { return std::make_unique<GatheringClient>(); })},
  };
  std::printf("%ld MiB body over loopback, best of %d rounds, MB/s = 10^6 bytes/s\n", megabytes,
              rounds);
  double ours = 0;
  for (const Client& client : clients) {
    if (!only.empty() && only != client.name) {
      continue;
    }
    if (!client.fetch() || Content(path) != body) {
      std::fprintf(stderr, "%s did not save the body exactly\n", client.name);
      return 1;
    }
    const double seconds = BestSeconds(rounds, client.fetch);
    if (std::strcmp(client.name, "ours") == 0) {
      ours = rate(seconds);
      std::printf("HttpFetchClient::getToFile  %8.1f MB/s\n", ours);
    } else {
      std::printf("experiment %-16s %8.1f MB/s\n", client.name, rate(seconds));
    }
  }
  if (only.empty() || only == "curl") {
    const std::string curl = "curl -s -o '" + path + "' ";
    const auto run = [](const std::string& command) {
      return [command] { return std::system(command.c_str()) == 0; };
    };
    const double start = BestSeconds(rounds, run(curl + server.url("/empty")));
    const double whole = BestSeconds(rounds, run(curl + server.url("/body")));
    if (Content(path) != body) {
      std::fprintf(stderr, "curl did not save the body exactly\n");
      return 1;
    }
    const double reference = rate(whole - start);
    std::printf("curl -s -o FILE             %8.1f MB/s (process start of %.1f ms subtracted)\n",
                reference, start * 1e3);
    if (ours > 0) {
      std::printf("ratio curl / ours           %8.2f\n", reference / ours);
    }
  }
  std::filesystem::remove(path);
  return 0;
}
