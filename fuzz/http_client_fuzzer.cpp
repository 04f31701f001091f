// The HTTP client's answers, as a journal service would send them: the downloads the program
// makes (the friends-data page, a friend's feed with and without the Digest answer to a 401) are
// made by HttpFetchClient over in-memory streams, one per connection it opens. The input is
// a flags byte, then the answers of the successive connections separated by "|=|", each cut by
// "|+|" into the pieces its reads receive.
//
// Properties: nothing but the download's own file is left in the private folder; a 401 leaves
// that file as it was, and any new content is the tail of the last answer (its body); every
// connection goes to the host asked for (a redirect is followed only where the client was told
// to approve it, and then to the host it names); each connection carries one well-formed request
// with exactly one Host line naming the host connected to.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "feed/merged_feed.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/scratch_folder.h"
#include "net/http_client/http_fetch_client.h"
#include "net/io/memory_stream.h"
#include "net/socket/host_overrides.h"
#include "update/feed_download.h"
#include "update/friends_list.h"
#include "update/service_config.h"

namespace {

// What the flags byte asks for.
constexpr unsigned kAuthenticated = 1;  // answer a 401 with Digest, as the feed fetcher does
constexpr unsigned kApprove = 2;        // a client that approves redirects to the known hosts
constexpr unsigned kCredentials = 4;    // a client that supplies Basic credentials
constexpr unsigned kSilentPeer = 8;     // the peer falls silent after its answer, not closing
constexpr unsigned kSmallLimit = 16;    // bodies above 100 bytes are not saved
constexpr unsigned kOldFile = 32;       // the download's file exists beforehand
constexpr unsigned kDownloadShift = 6;  // two bits: which download

constexpr long kSmallBodyLimit = 100;
const char* const kKnownHosts[] = {"www.zarnik.test", "night-owl.zarnik.test", "users.zarnik.test",
                                   "elsewhere.test"};

// The run's folder, with the host names pointed at the loopback so that no name ever reaches
// the system resolver.
const std::string& Folder() {
  static const std::string& folder = []() -> const std::string& {
    for (const char* host : kKnownHosts) {
      HostOverrides::instance().add(host, "127.0.0.1");
    }
    return ScratchFolder("zv-fuzz-client");
  }();
  return folder;
}

std::vector<std::string> Split(const std::string& text, const std::string& separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t at; (at = text.find(separator, start)) != std::string::npos;
       start = at + separator.size()) {
    parts.push_back(text.substr(start, at - start));
  }
  parts.push_back(text.substr(start));
  return parts;
}

std::optional<std::string> ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    return std::nullopt;
  }
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The host of a redirect target this harness approves: "http://" (optional), a known host, then
// nothing or a path of plain characters. Anything else is refused, so no other name is resolved.
std::optional<std::string> ApprovableHost(std::string target) {
  if (target.rfind("http://", 0) == 0) {
    target.erase(0, 7);
  }
  const std::size_t slash = target.find('/');
  const std::string host = target.substr(0, slash);
  const std::string path = slash == std::string::npos ? "" : target.substr(slash);
  for (const char* known : kKnownHosts) {
    if (host == known && path.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789/._-?=&") ==
                             std::string::npos) {
      return host;
    }
  }
  return std::nullopt;
}

// A client whose connections are in-memory streams fed from the input, one per connection, and
// whose decision hooks the flags set.
class FuzzClient : public HttpFetchClient {
 public:
  FuzzClient(std::vector<std::string> answerTexts, unsigned flagBits)
      : answers(std::move(answerTexts)), flags(flagBits) {}

  // Stands for a connect: checks where it goes and hands the client the next answer.
  NetResult connectTo(unsigned port, const char* host, int, int, int) override {
    FUZZ_CHECK(host != nullptr && expectedHost == host);
    FUZZ_CHECK(port == 80);
    FUZZ_CHECK(allowed > 0);
    --allowed;
    const std::string answer = next < answers.size() ? answers[next] : std::string();
    ++next;
    streams.push_back(
        std::make_unique<MemoryStream>(Split(answer, "|+|"), (flags & kSilentPeer) == 0));
    hosts.emplace_back(host);
    useStream(streams.back().get());
    return NetResult::Success;
  }

  bool approveRedirect(const char* url) override {
    const std::optional<std::string> host = ApprovableHost(url);
    if ((flags & kApprove) == 0 || !host) {
      return false;
    }
    expectedHost = *host;
    ++allowed;
    return true;
  }

  bool provideCredentials(const char*, char* user, char* password) override {
    if ((flags & kCredentials) == 0) {
      return false;
    }
    std::strcpy(user, "abc");
    std::strcpy(password, "secret");
    ++allowed;
    return true;
  }

  // Asks for `url` into `path`, one connection to `host` allowed.
  void download(const std::string& url, const std::string& host, const std::string& path) {
    expectedHost = host;
    allowed = 1;
    const std::size_t first = streams.size();
    const std::optional<std::string> before = ReadFile(path);
    getToFile(url.c_str(), path.c_str());
    FUZZ_CHECK(streams.size() > first);
    const std::optional<std::string> after = ReadFile(path);
    if (statusCode() == 401) {
      FUZZ_CHECK(after == before);
    }
    if (after && after != before) {
      // The new content is the body: the tail of what the last connection answered.
      const std::string answer =
          next - 1 < answers.size() ? Unsplit(answers[next - 1]) : std::string();
      FUZZ_CHECK(EndsWith(answer, *after));
      FUZZ_CHECK((flags & kSmallLimit) == 0 ||
                 after->size() <= static_cast<std::size_t>(kSmallBodyLimit));
    }
  }

  // Each connection carried one request: "GET /path HTTP/1.0", header lines without stray line
  // ends, one Host line for the host connected to, and the blank line, nothing after it.
  void checkRequests() const {
    for (std::size_t i = 0; i < streams.size(); ++i) {
      const std::string& sent = streams[i]->written();
      FUZZ_CHECK(sent.size() >= 4 && sent.find("\r\n\r\n") == sent.size() - 4);
      std::vector<std::string> lines = Split(sent.substr(0, sent.size() - 4), "\r\n");
      FUZZ_CHECK(lines[0].rfind("GET /", 0) == 0 && EndsWith(lines[0], " HTTP/1.0"));
      FUZZ_CHECK(lines[0].find(' ', 4) == lines[0].size() - 9);
      int hostLines = 0;
      for (const std::string& line : lines) {
        FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);
        if (&line != &lines[0]) {
          const std::size_t colon = line.find(": ");
          FUZZ_CHECK(colon != std::string::npos && colon > 0);
          FUZZ_CHECK(line.find_first_of(" \t") > colon);
        }
        if (line.rfind("Host: ", 0) == 0) {
          FUZZ_CHECK(line == "Host: " + hosts[i]);
          ++hostLines;
        }
      }
      FUZZ_CHECK(hostLines == 1);
    }
  }

 private:
  static std::string Unsplit(const std::string& answer) {
    std::string whole;
    for (const std::string& piece : Split(answer, "|+|")) {
      whole += piece;
    }
    return whole;
  }

  std::vector<std::string> answers;
  unsigned flags;
  std::size_t next = 0;
  std::string expectedHost;
  int allowed = 0;
  std::vector<std::unique_ptr<MemoryStream>> streams;
  std::vector<std::string> hosts;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const std::string& folder = Folder();
  const unsigned flags = data[0];
  const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);

  ServiceConfig service;
  service.site = "http://www.zarnik.test";
  service.journalDomain = "zarnik.test";
  service.usersHost = "users.zarnik.test";
  const bool authenticated = (flags & kAuthenticated) != 0;
  std::string url;
  std::string host;
  std::string path;
  switch ((flags >> kDownloadShift) & 3) {
    case 0:
      url = service.site + "/misc/fdata.bml?user=abc";
      host = "www.zarnik.test";
      path = FriendsListPath(folder);
      break;
    case 1:
    case 3:
      url = FeedUrl(service, "night_owl", authenticated);
      host = "night-owl.zarnik.test";
      path = *FriendFeedPath(folder, "night_owl");
      break;
    default:
      url = FeedUrl(service, "_carol", authenticated);
      host = "users.zarnik.test";
      path = *FriendFeedPath(folder, "_carol");
      break;
  }
  if ((flags & kOldFile) != 0) {
    std::ofstream(path, std::ios::binary) << "old feed\n";
  }

  {
    FuzzClient client(Split(rest, "|=|"), flags);
    if ((flags & kSmallLimit) != 0) {
      client.setBodyLimit(kSmallBodyLimit);
    }
    client.download(url, host, path);
    // As the feed fetcher answers a 401 when it has a password.
    if (authenticated && client.statusCode() == 401) {
      char scheme[29];
      char realm[29];
      char nonce[1000];
      client.getDigestChallenge(scheme, realm, nonce);
      FUZZ_CHECK(std::strlen(scheme) < sizeof scheme && std::strlen(realm) < sizeof realm &&
                 std::strlen(nonce) < sizeof nonce);
      client.clearHeaders();
      client.addHeader(
          DigestAuthorizationLine({"abc", "secret"}, realm, nonce, "0123456789abcdefghijklmno")
              .c_str());
      client.download(url, host, path);
    }
    client.checkRequests();
  }

  // Only the download's own file may be left, and no new file beside it.
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    FUZZ_CHECK(entry.path().string() == path);
  }
  std::filesystem::remove(path);
  return 0;
}
