#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "net/http_client/http_fetch_client.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/scripted_peer.h"

// Servers that break the rules: the client must neither crash (these tests also run under
// AddressSanitizer), nor write past its buffers, nor wait longer than its time-outs allow.
namespace {

using test_support::Close;
using test_support::Exchange;
using test_support::Pause;
using test_support::ReadUntil;
using test_support::Reset;
using test_support::ScriptedPeer;
using test_support::Send;
using test_support::SendForever;

// Follows every redirect, and waits 1 s for data instead of 30.
class ImpatientClient : public HttpFetchClient {
 public:
  ImpatientClient() { receiveTimeoutMs = 1000; }
  bool approveRedirect(const char*) override { return true; }
};

// A server's broken answer and what the client must make of it.
struct BrokenAnswer {
  const char* name;
  Exchange exchange;
  NetResult result;
  std::string file;  // "old" where the file must stay untouched
};

void ExpectSurvives(const BrokenAnswer& c, const std::string& path) {
  std::ofstream(path, std::ios::binary) << "old";
  ScriptedPeer peer({c.exchange});
  ImpatientClient client;
  const std::string url = "http://127.0.0.1:" + std::to_string(peer.port()) + "/";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(client.getToFile(url.c_str(), path.c_str()), c.result) << c.name;
  // Two time-outs of 1 s at most (header block, body); the rest is margin for a loaded machine.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15)) << c.name;
  EXPECT_EQ(FileText(path), c.file) << c.name;
  EXPECT_LE(client.headerLines().count(), 256) << c.name;
  for (int i = 0; i < client.headerLines().count(); ++i) {
    EXPECT_LE(std::strlen(client.headerLines().at(i)), 520u) << c.name;
  }
  char scheme[29], realm[29], nonce[1000], location[255];
  client.getDigestChallenge(scheme, realm, nonce);
  EXPECT_EQ(client.findRedirectLocation(location), 0) << c.name;
  EXPECT_FALSE(peer.waitConnections(2, 100)) << c.name << ": no request follows";
}

const std::string kOk = "HTTP/1.0 200 OK\r\n";

// Reads one request up to its blank line, answers `bytes` and closes.
Exchange Answer(const std::string& bytes) {
  return {ReadUntil("\r\n\r\n"), Send(bytes), Close()};
}

TEST(HttpBadServerTest, SurvivesBrokenAnswers) {
  std::string fiftyParameters = "WWW-Authenticate: Digest realm=\"R\"";
  for (int i = 0; i < 50; ++i) {
    fiftyParameters += ", p" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
  }
  const std::string header600 = "X-Big: " + std::string(593, 'x') + "\r\n";
  const BrokenAnswer cases[] = {
      {"status line of 2000 bytes without line end",
       {ReadUntil("\r\n\r\n"), Send("HTTP/1.0 200 " + std::string(1987, 's')), Close()},
       NetResult::Success,
       ""},
      {"header lines of 600 bytes",
       {ReadUntil("\r\n\r\n"), Send(kOk + header600 + header600 + "\r\nbody"), Close()},
       NetResult::Success,
       "body"},
      {"NUL inside a header line",
       {ReadUntil("\r\n\r\n"), Send(kOk + std::string("X-Nul: a\0b\r\n\r\nbody", 18)), Close()},
       NetResult::Success,
       "body"},
      {"header lines without end",
       {ReadUntil("\r\n\r\n"), Send(kOk), SendForever("X-Again: and again\r\n")},
       NetResult::ReadFailed,
       "old"},
      {"challenge of 50 parameters and a nonce of 5000 bytes",
       {ReadUntil("\r\n\r\n"),
        Send("HTTP/1.0 401 No\r\n" + fiftyParameters + ", nonce=\"" + std::string(5000, 'n') +
             "\"\r\n\r\nbody"),
        Close()},
       NetResult::Success,
       "old"},
      {"Location of 1000 bytes",
       {ReadUntil("\r\n\r\n"),
        Send("HTTP/1.0 302 Found\r\nLocation: /" + std::string(989, 'l') + "\r\n\r\nbody"),
        Close()},
       NetResult::Success,
       "old"},
      {"silent server", {ReadUntil("\r\n\r\n"), Pause(5000)}, NetResult::ReadTimedOut, ""},
  };
  const ScratchDirectory scratch;
  for (const auto& c : cases) {
    ExpectSurvives(c, scratch.file("download"));
  }
}

TEST(HttpBadServerTest, AResetInTheBodyFailsTheDownload) {
  if (!test_support::IdleResetsAreReported()) {
    GTEST_SKIP() << "these sockets report a reset that arrives between receives as an orderly "
                    "end (Wine does), so a reset cannot be told from the end of the body";
  }
  const ScratchDirectory scratch;
  ExpectSurvives({"reset in the body",
                  {ReadUntil("\r\n\r\n"), Send(kOk + "\r\npart"), Pause(300), Reset()},
                  NetResult::ReadFailed,
                  "part"},
                 scratch.file("download"));
}

// Answers `start`, then `drop` every 100 ms for 8 s: no wait of 1 s ever runs out.
Exchange Drip(const std::string& start, const std::string& drop) {
  Exchange drip = {ReadUntil("\r\n\r\n"), Send(start)};
  for (int i = 0; i < 80; ++i) {
    drip.push_back(Pause(100));
    drip.push_back(Send(drop));
  }
  return drip;
}

// A dripping server is cut off at the request's time limit as by a time-out, what came kept; a
// body past the limit fails without waiting for its end and leaves the file as it was; a body
// kept as lines is bounded too. Nothing stays beside the file.
TEST(HttpBadServerTest, RequestsEndAtTheTimeLimitAndTheBodyLimit) {
  EXPECT_EQ(HttpFetchClient().requestTimeLimit(), 2 * 60 * 1000);
  EXPECT_EQ(HttpFetchClient().bodyLimit(), 64L * 1024 * 1024);
  const std::string limit(1000, 'b');
  const struct {
    const char* name;
    Exchange exchange;
    NetResult result;
    std::string start;  // what the file must begin with
    bool toFile = true;
  } cases[] = {
      {"drip in the header block", Drip(kOk, "X-Drip: x\r\n"), NetResult::ReadTimedOut, ""},
      {"drip in the body", Drip(kOk + "\r\n", "x"), NetResult::ReadTimedOut, "x"},
      {"declared too long",
       {ReadUntil("\r\n\r\n"), Send(kOk + "Content-Length: 1001\r\n\r\nbody"), Pause(5000)},
       NetResult::SourceWriteFailed,
       "old"},
      {"longer than it declares", Answer(kOk + "Content-Length: 4\r\n\r\n" + limit + "b"),
       NetResult::SourceWriteFailed, "old"},
      {"without end",
       {ReadUntil("\r\n\r\n"), Send(kOk + "\r\n"), SendForever(limit)},
       NetResult::SourceWriteFailed,
       "old"},
      {"exactly the limit", Answer(kOk + "\r\n" + limit), NetResult::Success, limit},
      {"as lines", Answer(kOk + "\r\n" + limit + "\r\n" + limit), NetResult::ReadFailed, "old",
       false},
  };
  const ScratchDirectory scratch;
  const std::string path = scratch.file("download");
  for (const auto& c : cases) {
    std::ofstream(path, std::ios::binary) << "old";
    ScriptedPeer peer({c.exchange});
    ImpatientClient client;
    client.setRequestTimeLimit(1000);
    client.setBodyLimit(1000);
    const std::string url = "http://127.0.0.1:" + std::to_string(peer.port()) + "/";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(client.getToFile(url.c_str(), c.toFile ? path.c_str() : nullptr), c.result) << c.name;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4)) << c.name;
    EXPECT_EQ(FileText(path).substr(0, c.start.size()), c.start) << c.name;
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(scratch.path())) {
      names.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{"download"}) << c.name;
  }
}

}  // namespace
