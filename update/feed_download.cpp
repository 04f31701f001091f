#include "update/feed_download.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <thread>
#include <utility>

#include "feed/merged_feed.h"
#include "net/http_client/http_fetch_client.h"
#include "platform/mutex_lock.h"
#include "platform/program_environment.h"
#include "platform/random_bytes.h"
#include "update/md5.h"

int PendingDownloads = 0;
HANDLE DownloadLock = nullptr;

namespace {

constexpr auto kLaunchStagger = std::chrono::milliseconds(500);
constexpr char kDigestUri[] = "/data/rss?auth=digest";
// Feed addresses are formed in 256-byte buffers.
constexpr std::size_t kUrlCapacity = 256;

void CountFetcherDone() {
  platform::MutexLock lock(DownloadLock);
  --PendingDownloads;
}

// Asks the server again with a Digest answer to the challenge of the first response.
void AnswerDigestChallenge(HttpFetchClient& client, const Credentials& credentials,
                           const std::string& url, const std::string& path) {
  char scheme[29];
  char realm[29];
  char nonce[1000];
  client.getDigestChallenge(scheme, realm, nonce);
  // Without a client nonce from the system's random source there is no answer to send; the 401
  // was not saved, so the file stays as it was.
  const std::string cnonce = MakeClientNonce(45);
  if (cnonce.empty()) {
    return;
  }
  client.clearHeaders();
  client.addHeader(DigestAuthorizationLine(credentials, realm, nonce, cnonce).c_str());
  client.getToFile(url.c_str(), path.c_str());
}

}  // namespace

std::string MakeClientNonce(int length) {
  std::vector<std::uint32_t> drawn(static_cast<std::size_t>(std::max(length, 0)));
  if (!platform::FillRandomBytes(drawn.data(), drawn.size() * sizeof drawn[0])) {
    return "";
  }
  std::string nonce;
  for (const std::uint32_t next : drawn) {
    unsigned value = next % 122;
    if (value < 48) {
      value += 48;
    }
    if (value > 57 && value < 65) {
      value += 7;
    }
    if (value > 90 && value < 97) {
      value += 6;
    }
    nonce += static_cast<char>(value);
  }
  return nonce;
}

std::string FeedUrl(const ServiceConfig& service, const std::string& name, bool authenticated) {
  const std::string query = authenticated ? "?auth=digest" : "";
  if (!name.empty() && (name[0] == '_' || name[0] == '-')) {
    return "http://" + service.usersHost + "/" + name + "/data/rss" + query;
  }
  std::string url = "http://" + name + "." + service.journalDomain + "/data/rss" + query;
  std::replace(url.begin(), url.end(), '_', '-');
  return url;
}

std::string DigestAuthorizationLine(const Credentials& credentials, const std::string& realm,
                                    const std::string& nonce, const std::string& cnonce) {
  const std::string nc = "00000001";
  const std::string qop = "auth";
  const std::string ha1 = Md5Hex(credentials.userName + ":" + realm + ":" + credentials.password);
  const std::string ha2 = Md5Hex(std::string("GET:") + kDigestUri);
  const std::string response =
      Md5Hex(ha1 + ":" + nonce + ":" + nc + ":" + cnonce + ":" + qop + ":" + ha2);
  return "Authorization: Digest username=\"" + credentials.userName + "\", realm=\"" + realm +
         "\", nonce=\"" + nonce + "\", algorithm=MD5, nc=" + nc + ", cnonce=\"" + cnonce +
         "\", uri=\"" + kDigestUri + "\", qop=" + qop + ", response=\"" + response + "\"";
}

int FeedFetcher(std::string name, const UpdateContext& context) {
  const std::optional<std::string> path =
      !context.tempDir.empty() ? FriendFeedPath(context.tempDir, name) : std::nullopt;
  const Credentials credentials{context.settings.userName, context.settings.password};
  const bool authenticated = !credentials.password.empty();
  const std::string url = FeedUrl(context.service, name, authenticated);
  // A name whose file path or address would not fit is not fetched, but still counted done.
  if (path && url.size() < kUrlCapacity) {
    HttpFetchClient client;
    client.getToFile(url.c_str(), path->c_str());
    if (authenticated) {
      if (client.statusCode() == 401) {
        AnswerDigestChallenge(client, credentials, url, *path);
      } else {
        platform::PrintProgress(std::to_string(client.statusCode()));
      }
    }
  }
  CountFetcherDone();
  return 0;
}

int LaunchFeedFetchers(std::vector<std::string> friendNames, UpdateContext context) {
  for (std::string& name : friendNames) {
    // A fetcher that cannot start is a friend whose download failed.
    if (!context.startThread([name = std::move(name), context] { FeedFetcher(name, context); })) {
      CountFetcherDone();
      continue;
    }
    std::this_thread::sleep_for(kLaunchStagger);
  }
  return 0;
}

void StartFeedDownloads(const std::vector<std::string>& friendNames, const UpdateContext& context) {
  DownloadLock = CreateMutexA(nullptr, FALSE, "MutexName");
  {
    platform::MutexLock lock(DownloadLock);
    PendingDownloads = static_cast<int>(friendNames.size());
  }
  // The launcher walks its own copy, so the next cycle may refill FriendList at any time.
  if (!friendNames.empty() &&
      !context.startThread([friendNames, context] { LaunchFeedFetchers(friendNames, context); })) {
    // Without the launcher no friend is fetched: the batch is over at once.
    ResetPendingDownloads();
  }
}

bool FeedDownloadsDone() {
  {
    platform::MutexLock lock(DownloadLock);
    if (PendingDownloads != 0) {
      return false;
    }
  }
  CloseHandle(DownloadLock);
  DownloadLock = nullptr;
  return true;
}

void ResetPendingDownloads() {
  if (DownloadLock != nullptr) {
    platform::MutexLock lock(DownloadLock);
    PendingDownloads = 0;
  } else {
    PendingDownloads = 0;
  }
}
