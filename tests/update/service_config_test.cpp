#include "update/service_config.h"

#include <gtest/gtest.h>

#include "net/socket/host_overrides.h"

namespace {

TEST(ServiceConfigTest, MissingSettingsKeepTheirDefaults) {
  const ServiceConfig config = ParseServiceConfig("");
  EXPECT_EQ(config.site, "http://www.zarnik.example");
  EXPECT_EQ(config.journalDomain, "zarnik.example");
  EXPECT_EQ(config.usersHost, "users.zarnik.example");
  EXPECT_EQ(config.serverPort, 80);
  EXPECT_TRUE(config.resolve.empty());
  EXPECT_EQ(LoadServiceConfig("/nonexistent/service.conf").site, config.site);
}

TEST(ServiceConfigTest, ReadsKeysAndIgnoresWhatItDoesNotKnow) {
  const ServiceConfig config = ParseServiceConfig(
      "# the fake service\r\n"
      "site = http://www.zarnik.test:8080\n"
      "  journal_domain=zarnik.test:8080  \n"
      "users_host = users.zarnik.test:8080\n"
      "server_port = 8081\n"
      "resolve = *.zarnik.test 127.0.0.1\n"
      "resolve = other.test   127.0.0.2\n"
      "resolve = missing-address\n"
      "resolve = too many words here\n"
      "colour = blue\n"
      "no equals sign\n"
      "= no key\n");
  EXPECT_EQ(config.site, "http://www.zarnik.test:8080");
  EXPECT_EQ(config.journalDomain, "zarnik.test:8080");
  EXPECT_EQ(config.usersHost, "users.zarnik.test:8080");
  EXPECT_EQ(config.serverPort, 8081);
  ASSERT_EQ(config.resolve.size(), 2u);
  EXPECT_EQ(config.resolve[1].first, "other.test");
  EXPECT_EQ(config.resolve[1].second, "127.0.0.2");
}

TEST(ServiceConfigTest, PortsOutsideTheirRangeKeepTheDefault) {
  for (const char* port : {"0", "65536", "-1", "80x", "99999999999", ""}) {
    EXPECT_EQ(ParseServiceConfig(std::string("server_port = ") + port).serverPort, 80) << port;
  }
}

TEST(ServiceConfigTest, ApplyingReplacesTheHostOverrides) {
  HostOverrides::instance().add("stale.test", "10.0.0.1");
  ApplyServiceConfig(ParseServiceConfig("resolve = *.zarnik.test 127.0.0.1\n"));
  EXPECT_EQ(HostOverrides::instance().lookUp("alice.zarnik.test"), "127.0.0.1");
  EXPECT_FALSE(HostOverrides::instance().lookUp("stale.test"));
  ApplyServiceConfig(ServiceConfig());
  EXPECT_FALSE(HostOverrides::instance().lookUp("alice.zarnik.test"));
}

}  // namespace
