// Whole update cycles against the fake journal service on loopback.
#include "update/update_cycle.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "feed/merged_feed.h"
#include "net/socket/host_overrides.h"
#include "platform/mutex_lock.h"
#include "settings/app_settings.h"
#include "tests/feed/feed_test_support.h"
#include "tests/support/fake_journal_process.h"
#include "update/service_config.h"

namespace {

using Titles = std::vector<std::string>;

// A system out of threads: the first `AllowedStarts` threads start, later ones do not.
std::atomic<int> AllowedStarts{0};
bool StartWhileAllowed(std::function<void()> work) {
  return AllowedStarts-- > 0 && StartDetachedThread(std::move(work));
}

class UpdateCycleTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!service.ready()) {
      GTEST_SKIP() << "the fake journal service did not start (is /usr/bin/python3 there?)";
    }
    const std::string port = std::to_string(service.port());
    ServiceConfig config;
    config.site = "http://www.zarnik.test:" + port;
    config.journalDomain = "zarnik.test:" + port;
    config.usersHost = "users.zarnik.test:" + port;
    config.resolve = {{"*.zarnik.test", "127.0.0.1"}};
    ApplyServiceConfig(config);
    const char* previous = std::getenv("TEMP");
    previousTemp = previous != nullptr ? std::optional<std::string>(previous) : std::nullopt;
    ::setenv("TEMP", temp.path().c_str(), 1);
    SetAllXmlPath();
    UpdateMutex = CreateMutexA(nullptr, FALSE, "UpdateMutex");
    AppSettings = Settings();
    AppSettings.userName = "abc";
  }

  void TearDown() override {
    CloseHandle(UpdateMutex);
    UpdateMutex = nullptr;
    ApplyServiceConfig(ServiceConfig());
    // The standard library takes its own temporary folder from TEMP too.
    if (previousTemp) {
      ::setenv("TEMP", previousTemp->c_str(), 1);
    } else {
      ::unsetenv("TEMP");
    }
  }

  // Runs one cycle and returns the titles of "all.xml", empty items left out.
  Titles Cycle(ThreadStarter startThread = StartDetachedThread) {
    RunUpdateCycle(startThread);
    std::unique_ptr<Feed> merged = ReadFeedFile(AllXmlPath);
    EXPECT_TRUE(merged) << "all.xml is missing or not a feed";
    Titles titles;
    if (merged) {
      EXPECT_EQ(merged->items().size(), 20u);
      for (const FeedItem& item : merged->items()) {
        if (!item.title.empty()) {
          titles.push_back(item.title);
        }
      }
    }
    return titles;
  }

  static bool Has(const Titles& titles, const std::string& title) {
    return std::find(titles.begin(), titles.end(), title) != titles.end();
  }

  // How many requests of the log went to `path` on `host`.
  int Requests(const std::string& host, const std::string& path) const {
    const std::string log = service.log();
    const std::string line = "\"GET " + path + " HTTP/1.0\"";
    int count = 0;
    for (std::size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) {
      const std::size_t end = log.find('\n', at);
      count += log.substr(at, end - at).find("\"" + host + "\"") != std::string::npos;
    }
    return count;
  }

  test_support::FakeJournalProcess service;
  ScratchDirectory temp;
  ScratchDirectory outside;  // made before TEMP names `temp`
  std::optional<std::string> previousTemp;
};

TEST_F(UpdateCycleTest, WithoutPasswordPublicEntriesOfEveryFriendMerge) {
  const Titles titles = Cycle();
  EXPECT_EQ(titles.size(), 10u);
  EXPECT_EQ(titles.front(), "[dora] Hill fort");
  EXPECT_TRUE(Has(titles, "[_carol] Snow day"));
  EXPECT_TRUE(Has(titles, "[night_owl] Back to work"));
  EXPECT_TRUE(Has(titles, "[eddie] New bicycle"));
  EXPECT_TRUE(Has(titles, "[dora] <no title>"));
  EXPECT_FALSE(Has(titles, "[night_owl] Only for friends"));
  EXPECT_EQ(Requests("night-owl.zarnik.test", "/data/rss"), 1);
  EXPECT_EQ(Requests("users.zarnik.test", "/_carol/data/rss"), 1);
  EXPECT_EQ(ReadFeedFile(AllXmlPath)->Link(),
            "http://www.zarnik.test:" + std::to_string(service.port()) + "/users/abc/friends");
}

TEST_F(UpdateCycleTest, WithPasswordFriendsOnlyEntriesComeThroughDigest) {
  AppSettings.password = "secret";
  const Titles titles = Cycle();
  EXPECT_EQ(titles.size(), 13u);
  EXPECT_TRUE(Has(titles, "[night_owl] Only for friends"));
  EXPECT_TRUE(Has(titles, "[_carol] Party plans"));
  EXPECT_TRUE(Has(titles, "[fern] Just for me"));
  EXPECT_EQ(Requests("fern.zarnik.test", "/data/rss?auth=digest"), 2);
  EXPECT_EQ(Requests("users.zarnik.test", "/_carol/data/rss?auth=digest"), 2);
  // The service checked every answer itself; its log keeps the header lines in order.
  const std::string log = service.log();
  EXPECT_EQ(log.find("\"digest\": false"), std::string::npos);
  const std::size_t authorization = log.find(
      "[\"Authorization\", \"Digest username=\\\"abc\\\", realm=\\\"Zarnik Journal\\\", "
      "nonce=\\\"");
  ASSERT_NE(authorization, std::string::npos) << log;
  const std::size_t host = log.find("[\"Host\", ", authorization);
  EXPECT_LT(host, log.find('\n', authorization));
  EXPECT_NE(log.find("algorithm=MD5, nc=00000001, cnonce=\\\"", authorization), std::string::npos);
}

TEST_F(UpdateCycleTest, WrongPasswordKeepsTheFilesOfTheLastCycle) {
  AppSettings.password = "secret";
  ASSERT_EQ(Cycle().size(), 13u);
  AppSettings.password = "wrong";
  const Titles titles = Cycle();
  EXPECT_EQ(titles.size(), 13u);
  EXPECT_TRUE(Has(titles, "[fern] Just for me"));
  EXPECT_EQ(Requests("fern.zarnik.test", "/data/rss?auth=digest"), 4);
}

TEST_F(UpdateCycleTest, FriendsThatFailContributeNothingTheRestMerge) {
  ASSERT_TRUE(service.control("fault?journal=night_owl&kind=404"));
  ASSERT_TRUE(service.control("fault?journal=_carol&kind=close"));
  ASSERT_TRUE(service.control("fault?journal=dora&kind=500"));
  ASSERT_TRUE(service.control("fault?journal=eddie&kind=version"));
  ASSERT_TRUE(service.control("fault?journal=fern&kind=stall&seconds=1"));
  EXPECT_EQ(Cycle(), (Titles{"[fern] Seedlings"}));

  // A redirect elsewhere, a cut or broken body: whatever of it still reads as a feed may come
  // through, and the others merge as usual.
  ASSERT_TRUE(service.control("fault?journal=night_owl&kind=redirect&location=http://x.invalid/"));
  ASSERT_TRUE(service.control("fault?journal=_carol&kind=cut&bytes=40"));
  ASSERT_TRUE(service.control("fault?journal=dora&kind=broken"));
  ASSERT_TRUE(service.control("fault?journal=eddie&kind=none"));
  ASSERT_TRUE(service.control("fault?journal=fern&kind=none"));
  const Titles titles = Cycle();
  EXPECT_TRUE(Has(titles, "[eddie] Flat tyre"));
  EXPECT_TRUE(Has(titles, "[eddie] New bicycle"));
  EXPECT_TRUE(Has(titles, "[fern] Seedlings"));
  for (const std::string& title : titles) {
    EXPECT_EQ(title.rfind("[night_owl]", 0), std::string::npos) << title;
    EXPECT_EQ(title.rfind("[_carol]", 0), std::string::npos) << title;
  }
}

TEST_F(UpdateCycleTest, ListsTwiceEmptyAndMissing) {
  ASSERT_TRUE(service.control("friends?user=abc&list=fern,fern"));
  EXPECT_EQ(Cycle(), (Titles{"[fern] Seedlings", "[fern] Seedlings"}));
  EXPECT_EQ(Requests("fern.zarnik.test", "/data/rss"), 2);

  ASSERT_TRUE(service.control("friends?user=abc&list="));
  EXPECT_EQ(Cycle(), Titles{});
  EXPECT_EQ(ReadFeedFile(AllXmlPath)->PubDate(), "");

  // The friends page cannot be fetched and no earlier list exists: nothing to merge.
  std::filesystem::remove(temp.file("friends.list"));
  ActiveServiceConfig.site = "http://127.0.0.1:1";
  EXPECT_EQ(Cycle(), Titles{});
}

// Friend names come from the network; they must not name files outside TEMP or other hosts.
TEST_F(UpdateCycleTest, UnsafeFriendNamesAreSkipped) {
  // "other.host" would turn into the host other.host.zarnik.test, which the service would log.
  ASSERT_TRUE(service.control("friends?user=abc&list=..%2F..%2Fescaped,other.host,eddie"));
  EXPECT_EQ(Cycle(), (Titles{"[eddie] Flat tyre", "[eddie] New bicycle"}));
  EXPECT_FALSE(std::filesystem::exists(temp.path() + "/../../escaped"));
  EXPECT_EQ(service.log().find("[\"Host\", \"other.host"), std::string::npos);
}

// In a shared TEMP anyone may plant a link at the name of a file the program writes: the
// download replaces the link with a file of its own and leaves the link's target as it was. A
// body cut off keeps what came, as before, and no temporary file stays behind.
TEST_F(UpdateCycleTest, LinksPlantedAtDownloadedFilesAreReplacedNotWrittenThrough) {
  const struct {
    const char* name;
    const char* password;
    const char* fault;
    Titles titles;
  } cases[] = {
      {"public", "", "none", {"[eddie] Flat tyre", "[eddie] New bicycle"}},
      {"through Digest", "secret", "none", {"[eddie] Flat tyre", "[eddie] New bicycle"}},
      {"cut body", "", "cut&bytes=40", {}},
  };
  ASSERT_TRUE(service.control("friends?user=abc&list=eddie"));
  for (const auto& c : cases) {
    for (const char* name : {"friends.list", "eddie"}) {
      outside.Write(name, "not yours");
      std::filesystem::remove(temp.file(name));
      std::filesystem::create_symlink(outside.file(name), temp.file(name));
    }
    ASSERT_TRUE(service.control(std::string("fault?journal=eddie&kind=") + c.fault));
    AppSettings.password = c.password;
    EXPECT_EQ(Cycle(), c.titles) << c.name;
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(temp.path())) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"all.xml", "eddie", "friends.list"})) << c.name;
    EXPECT_EQ(outside.Read("friends.list"), "not yours") << c.name;
    EXPECT_EQ(outside.Read("eddie"), "not yours") << c.name;
  }
  EXPECT_EQ(temp.Read("eddie").size(), 40u);
}

// A cycle started while another runs ends at once; one started while the last one still writes
// "all.xml" leaves both whole.
TEST_F(UpdateCycleTest, OverlappingCyclesDoNotDisturbEachOther) {
  ASSERT_TRUE(service.control("friends?user=abc&list=eddie"));
  std::thread first([] { RunUpdateCycle(); });
  while (!updateInProgress) {
    std::this_thread::yield();
  }
  RunUpdateCycle();  // turned away
  while (updateInProgress) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const Titles second = Cycle();  // starts as soon as the first one lets go
  first.join();
  EXPECT_EQ(second, (Titles{"[eddie] Flat tyre", "[eddie] New bicycle"}));
  EXPECT_EQ(Requests("www.zarnik.test", "/misc/fdata.bml?user=abc"), 2);
}

// A thread that cannot start fails its friend, or the whole cycle, and the cycle still ends.
TEST_F(UpdateCycleTest, ThreadsThatCannotStartFailTheirFriendsAndTheCycleEnds) {
  AllowedStarts = 0;
  StartUpdateCycle(StartWhileAllowed);
  EXPECT_FALSE(updateInProgress);
  EXPECT_FALSE(std::filesystem::exists(AllXmlPath));

  const struct {
    int allowed;  // the launcher first, then one fetcher per friend in list order
    Titles titles;
  } cases[] = {
      {0, {}},
      {3, {"[night_owl] Back to work", "[_carol] Snow day"}},
  };
  ASSERT_TRUE(service.control("friends?user=abc&list=night_owl,_carol,eddie"));
  for (const auto& c : cases) {
    std::filesystem::remove(temp.file("night_owl"));
    std::filesystem::remove(temp.file("_carol"));
    AllowedStarts = c.allowed;
    const Titles titles = Cycle(StartWhileAllowed);
    EXPECT_FALSE(updateInProgress);
    EXPECT_EQ(titles.empty(), c.titles.empty());
    for (const std::string& title : c.titles) {
      EXPECT_TRUE(Has(titles, title)) << title;
    }
    EXPECT_EQ(Requests("eddie.zarnik.test", "/data/rss"), 0);
  }
}

// The settings dialog replaces the user name under UpdateMutex while a cycle runs; the cycle
// reads it under the lock too (the thread sanitizer sees the race otherwise), and names the user
// as one of the names it was set to.
TEST_F(UpdateCycleTest, UserNameChangedDuringTheCycleIsReadUnderTheLock) {
  ASSERT_TRUE(service.control("friends?user=abc&list=eddie"));
  std::atomic<bool> done{false};
  const std::string longName(40, 'z');
  std::thread dialog([&] {
    for (int i = 0; !done; ++i) {
      platform::MutexLock lock(UpdateMutex);
      AppSettings.userName = i % 2 == 0 ? longName : "abc";
    }
  });
  RunUpdateCycle();
  done = true;
  dialog.join();
  const std::string link = ReadFeedFile(AllXmlPath)->Link();
  EXPECT_TRUE(link.find("/users/abc/friends") != std::string::npos ||
              link.find("/users/" + longName + "/friends") != std::string::npos)
      << link;
}

}  // namespace
