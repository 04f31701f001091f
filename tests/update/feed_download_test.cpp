#include "update/feed_download.h"

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
