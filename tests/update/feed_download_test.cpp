#include "update/feed_download.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <string>
#include <thread>

#include "net/socket/host_overrides.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/scripted_peer.h"
#include "update/service_config.h"

namespace {

TEST(ClientNonceTest, HasTheAskedLengthOfDigitsAndLettersWithoutZ) {
  for (int round = 0; round < 200; ++round) {
    const std::string nonce = MakeClientNonce(45);
    ASSERT_EQ(nonce.size(), 45u);
    for (char c : nonce) {
      EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'y')) << c;
    }
  }
}

TEST(ClientNonceTest, DoesNotFollowTheClock) {
  // Two batches started within one second once drew the same client nonces; the loop repeats
  // until both started within one.
  std::string first, second;
  for (std::time_t start = 0; start != std::time(nullptr);) {
    start = std::time(nullptr);
    StartFeedDownloads({}, UpdateContext());
    first = MakeClientNonce(45);
    ASSERT_TRUE(FeedDownloadsDone());
    StartFeedDownloads({}, UpdateContext());
    second = MakeClientNonce(45);
    ASSERT_TRUE(FeedDownloadsDone());
  }
  EXPECT_NE(first, second);
}

TEST(FeedUrlTest, JournalHostsAndTheSharedUsersHost) {
  ServiceConfig config;
  config.journalDomain = "zarnik.test:8080";
  config.usersHost = "users.zarnik.test:8080";
  EXPECT_EQ(FeedUrl(config, "alice", false), "http://alice.zarnik.test:8080/data/rss");
  EXPECT_EQ(FeedUrl(config, "a_b", true), "http://a-b.zarnik.test:8080/data/rss?auth=digest");
  EXPECT_EQ(FeedUrl(config, "_ab", false), "http://users.zarnik.test:8080/_ab/data/rss");
  EXPECT_EQ(FeedUrl(config, "-a_b", true),
            "http://users.zarnik.test:8080/-a_b/data/rss?auth=digest");
}

TEST(DigestAuthorizationTest, HasTheExactLayout) {
  const std::string line = DigestAuthorizationLine({"abc", "secret"}, "R", "N=+/", "C");
  const std::string prefix =
      "Authorization: Digest username=\"abc\", realm=\"R\", nonce=\"N=+/\", algorithm=MD5, "
      "nc=00000001, cnonce=\"C\", uri=\"/data/rss?auth=digest\", qop=auth, response=\"";
  ASSERT_EQ(line.compare(0, prefix.size(), prefix), 0) << line;
  EXPECT_EQ(line.size(), prefix.size() + 32 + 1);
  EXPECT_EQ(line.back(), '"');
}

TEST(DigestExchangeTest, NoLineEndOfTheChallengeReachesTheAuthorizationLine) {
  for (const std::string challenge :
       {"realm=\"R\rX-Injected: 1\", nonce=\"N\"", "realm=\"R\", nonce=\"N\rX-Injected: 1\""}) {
    test_support::ScriptedPeer peer(
        {{test_support::ReadUntil("\r\n\r\n"),
          test_support::Send("HTTP/1.0 401 No\r\nWWW-Authenticate: Digest " + challenge +
                             "\r\n\r\n")},
         {test_support::ReadUntil("\r\n\r\n")}});
    HostOverrides::instance().add("*.zarnik.test", "127.0.0.1");
    ScratchDirectory temp;
    UpdateContext context{temp.path(), Settings(), ServiceConfig()};
    context.settings.password = "secret";
    context.service.journalDomain = "zarnik.test:" + std::to_string(peer.port());
    StartFeedDownloads({"fern"}, context);
    for (int waited = 0; !FeedDownloadsDone() && waited < 200; ++waited) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    HostOverrides::instance().clear();
    const std::string request = peer.received(1);
    EXPECT_NE(request.find("realm=\"R\", nonce=\"N\", algorithm=MD5"), std::string::npos)
        << request;
    EXPECT_EQ(request.find("X-Injected"), std::string::npos) << request;
  }
}

}  // namespace
