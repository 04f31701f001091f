#include "net/http_server/address_filter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/winsock.h"

namespace {

constexpr int kAllowed = AddressFilter::kAllowedRanges;
constexpr int kDenied = AddressFilter::kDeniedRanges;
constexpr int kBlocks = AddressFilter::kBlocks;
constexpr std::int64_t kStart = 1000;

// The address a.b.c.d in network byte order, built without the code under test.
std::uint32_t Address(unsigned a, unsigned b, unsigned c, unsigned d) {
  return htonl((a << 24) | (b << 16) | (c << 8) | d);
}

// Time that moves only when the test says so.
class FakeClock {
 public:
  AddressFilter::Clock function() {
    return [this] { return seconds_.load(); };
  }
  void set(std::int64_t seconds) { seconds_ = seconds; }

 private:
  std::atomic<std::int64_t> seconds_{kStart};
};

// The index-th block; an all-zero one when there is none.
AddressBlock BlockAt(AddressFilter& filter, int index) {
  AddressBlock entry{};
  return filter.blockAt(index, entry.address, entry.count, entry.expiry) ? entry : AddressBlock{};
}

class AddressFilterTest : public ::testing::Test {
 protected:
  FakeClock clock_;
  AddressFilter filter_{clock_.function(), AddressFilter::kPurgeInterval};
};

TEST_F(AddressFilterTest, EmptyListsAdmitEveryAddress) {
  for (const std::uint32_t address : {Address(0, 0, 0, 0), Address(10, 0, 0, 1),
                                      Address(127, 0, 0, 1), Address(255, 255, 255, 255)}) {
    EXPECT_TRUE(filter_.isAllowed(address)) << filter_.formatAddress(address);
  }
  EXPECT_TRUE(filter_.isAllowedText("192.168.1.1"));
}

TEST_F(AddressFilterTest, RangeEndsAreReorderedAndBothIncluded) {
  filter_.addRangeText(kDenied, "10.0.0.9", "10.0.0.1");
  std::uint32_t low = 0;
  std::uint32_t high = 0;
  ASSERT_TRUE(filter_.rangeAt(kDenied, 0, low, high));
  EXPECT_EQ(low, Address(10, 0, 0, 1));
  EXPECT_EQ(high, Address(10, 0, 0, 9));
  EXPECT_FALSE(filter_.isAllowed(Address(10, 0, 0, 1)));
  EXPECT_FALSE(filter_.isAllowed(Address(10, 0, 0, 5)));
  EXPECT_FALSE(filter_.isAllowed(Address(10, 0, 0, 9)));
  EXPECT_TRUE(filter_.isAllowed(Address(10, 0, 0, 0)));
  EXPECT_TRUE(filter_.isAllowed(Address(10, 0, 0, 10)));

  // Ends whose order differs between network and host order: 1.0.0.2 is the smaller.
  filter_.addRange(kAllowed, Address(2, 0, 0, 1), Address(1, 0, 0, 2));
  ASSERT_TRUE(filter_.rangeAt(kAllowed, 0, low, high));
  EXPECT_EQ(low, Address(1, 0, 0, 2));
  EXPECT_EQ(high, Address(2, 0, 0, 1));
}

// Pins comparing addresses as stored (network order) instead of first octet first.
TEST_F(AddressFilterTest, RangesCompareFirstOctetFirst) {
  filter_.addRangeText(kDenied, "127.0.0.0", "129.0.0.0");
  EXPECT_FALSE(filter_.isAllowed(Address(128, 1, 2, 3)));
  EXPECT_TRUE(filter_.isAllowed(Address(126, 255, 255, 255)));
  EXPECT_TRUE(filter_.isAllowed(Address(129, 0, 0, 1)));
}

TEST_F(AddressFilterTest, AllowedOverridesDeniedAndLiveBlockOverridesBoth) {
  filter_.addRangeText(kDenied, "10.0.0.0", "10.255.255.255");
  filter_.addRangeText(kAllowed, "10.1.0.0", "10.1.255.255");
  EXPECT_TRUE(filter_.isAllowed(Address(10, 1, 2, 3)));
  EXPECT_FALSE(filter_.isAllowed(Address(10, 2, 2, 3)));

  filter_.block(Address(10, 1, 2, 3));
  EXPECT_FALSE(filter_.isAllowed(Address(10, 1, 2, 3)));
}

// The configuration the local web server sets up: loopback clients only.
TEST_F(AddressFilterTest, LoopbackOnlyConfiguration) {
  filter_.addRangeText(kAllowed, "127.0.0.0", "127.255.255.255");
  filter_.addRangeText(kDenied, "0.0.0.0", "255.255.255.255");
  for (const char* admitted : {"127.0.0.1", "127.200.3.4", "127.0.0.0", "127.255.255.255"}) {
    EXPECT_TRUE(filter_.isAllowedText(admitted)) << admitted;
  }
  for (const char* refused : {"10.0.0.1", "192.168.1.1", "0.0.0.0", "255.255.255.254",
                              "255.255.255.255", "126.255.255.255", "128.0.0.0"}) {
    EXPECT_FALSE(filter_.isAllowedText(refused)) << refused;
  }
}

TEST_F(AddressFilterTest, RepeatedBlocksLastCountSquaredSecondsAndThenAdmit) {
  const std::uint32_t client = Address(192, 0, 2, 7);
  filter_.block(client);
  EXPECT_FALSE(filter_.isAllowed(client));
  clock_.set(kStart + 1);
  EXPECT_FALSE(filter_.isAllowed(client));
  clock_.set(kStart + 2);
  EXPECT_TRUE(filter_.isAllowed(client));

  filter_.blockText("192.0.2.7");
  for (std::int64_t second = 0; second <= 4; ++second) {
    clock_.set(kStart + 2 + second);
    EXPECT_FALSE(filter_.isAllowed(client)) << second << " s after the second block";
  }
  clock_.set(kStart + 7);
  EXPECT_TRUE(filter_.isAllowed(client)) << "expired, though not yet purged";
  ASSERT_EQ(filter_.countOf(kBlocks), 1);

  filter_.block(client);
  const AddressBlock third = BlockAt(filter_, 0);
  EXPECT_EQ(third.address, client);
  EXPECT_EQ(third.count, 3u);
  EXPECT_EQ(third.expiry, kStart + 7 + 9);
}

// Pins expiries kept in 32 bits: past 2038, and for counts of 65536 and more.
TEST_F(AddressFilterTest, BlockExpiryDoesNotOverflow) {
  const std::uint32_t client = Address(192, 0, 2, 8);
  const std::int64_t after2038 = std::int64_t{1} << 31;
  clock_.set(after2038);
  filter_.block(client);
  EXPECT_FALSE(filter_.isAllowed(client));
  clock_.set(after2038 + 2);
  EXPECT_TRUE(filter_.isAllowed(client));

  EXPECT_EQ(filter_.blockExpiry(client, 65536, 0), after2038 + 2 + (std::int64_t{1} << 32));
  const std::int64_t latest = std::numeric_limits<std::int64_t>::max();
  EXPECT_EQ(filter_.blockExpiry(client, std::numeric_limits<std::uint32_t>::max(), 0), latest);
  clock_.set(latest - 1);
  EXPECT_EQ(filter_.blockExpiry(client, 2, 0), latest);
}

TEST_F(AddressFilterTest, UnblockRemovesOnlyThatAddressAndRestartsItsCount) {
  const std::uint32_t first = Address(192, 0, 2, 1);
  const std::uint32_t second = Address(192, 0, 2, 2);
  filter_.block(first);
  filter_.block(first);
  filter_.block(second);
  EXPECT_TRUE(filter_.unblockText("192.0.2.1"));
  EXPECT_FALSE(filter_.unblock(first));
  EXPECT_TRUE(filter_.isAllowed(first));
  EXPECT_FALSE(filter_.isAllowed(second));

  filter_.block(first);
  EXPECT_EQ(BlockAt(filter_, 1).address, first);
  EXPECT_EQ(BlockAt(filter_, 1).count, 1u);
}

TEST_F(AddressFilterTest, IndexesOutOfRangeChangeNothing) {
  filter_.block(Address(192, 0, 2, 1));
  filter_.block(Address(192, 0, 2, 2));
  filter_.addRangeText(kAllowed, "10.0.0.1", nullptr);
  EXPECT_FALSE(filter_.removeAt(kBlocks, 2));
  EXPECT_FALSE(filter_.removeAt(kBlocks, -1));
  EXPECT_FALSE(filter_.removeAt(kAllowed, 1));
  EXPECT_FALSE(filter_.removeAt(3, 0));
  EXPECT_EQ(filter_.countOf(kBlocks), 2);
  EXPECT_EQ(filter_.countOf(kAllowed), 1);
  std::uint32_t low = 0;
  std::uint32_t high = 0;
  EXPECT_FALSE(filter_.rangeAt(kAllowed, -1, low, high));
  EXPECT_FALSE(filter_.rangeAt(kBlocks, 0, low, high));

  EXPECT_TRUE(filter_.removeAt(kBlocks, 0));
  EXPECT_EQ(BlockAt(filter_, 0).address, Address(192, 0, 2, 2));
  filter_.clearList(kBlocks);
  EXPECT_EQ(filter_.countOf(kBlocks), 0);
  EXPECT_EQ(filter_.countOf(kAllowed), 1);
}

// inet_addr reads an invalid text as 255.255.255.255: such a text must not become an address.
TEST_F(AddressFilterTest, InvalidTextsAreNoAddresses) {
  std::uint32_t address = 1;
  EXPECT_EQ(filter_.parseAddress(address, nullptr), 0u);
  EXPECT_EQ(address, 0u);
  EXPECT_EQ(filter_.parseAddress(address, "10.1.2.3"), Address(10, 1, 2, 3));
  EXPECT_EQ(filter_.parseAddress(address, "10.1.2.300"), INADDR_NONE);

  filter_.addRangeText(kAllowed, "10.0.0.1", "10.0.0.300");
  filter_.addRangeText(kDenied, "nonsense", nullptr);
  filter_.addRangeText(kBlocks, "10.0.0.1", "10.0.0.2");
  filter_.blockText("10.0.0.x");
  EXPECT_EQ(filter_.countOf(kAllowed), 0);
  EXPECT_EQ(filter_.countOf(kDenied), 0);
  EXPECT_EQ(filter_.countOf(kBlocks), 0);
  EXPECT_FALSE(filter_.isAllowedText("nonsense"));
  EXPECT_FALSE(filter_.unblockText("nonsense"));
}

TEST_F(AddressFilterTest, FormatsDottedText) {
  EXPECT_EQ(filter_.formatAddress(Address(192, 168, 1, 20)), "192.168.1.20");
  EXPECT_EQ(filter_.formatAddress(Address(0, 0, 0, 0)), "0.0.0.0");
  EXPECT_EQ(filter_.formatAddress(Address(255, 255, 255, 255)), "255.255.255.255");
}

TEST(AddressFilterPurge, RemovesExpiredBlocksOnly) {
  FakeClock clock;
  AddressFilter filter(clock.function(), std::chrono::milliseconds(5));
  filter.block(Address(192, 0, 2, 1));  // ends at kStart + 1
  for (int i = 0; i < 3; ++i) {
    filter.block(Address(192, 0, 2, 2));  // ends at kStart + 9
  }
  clock.set(kStart + 5);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (filter.countOf(kBlocks) != 1 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_EQ(filter.countOf(kBlocks), 1);
  EXPECT_EQ(BlockAt(filter, 0).address, Address(192, 0, 2, 2));
  EXPECT_FALSE(filter.isAllowed(Address(192, 0, 2, 2)));
}

// Pins a destructor that leaves the purge thread asleep for the rest of its interval.
TEST(AddressFilterLifetime, DestructionWakesThePurgeThread) {
  std::vector<std::unique_ptr<AddressFilter>> filters;
  for (int i = 0; i < 4; ++i) {
    filters.push_back(std::make_unique<AddressFilter>());
  }
  // Gives the purge threads time to start waiting; a thread that has not would see the stop at
  // once, and the test would pass without showing anything.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  auto destroyed = std::async(std::launch::async, [&filters] { filters.clear(); });
  EXPECT_EQ(destroyed.wait_for(std::chrono::seconds(5)), std::future_status::ready);
}

// Threads block, test and change ranges at once while purges run; no update may be lost.
TEST(AddressFilterConcurrency, SeveralThreadsShareOneFilter) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 200;
  FakeClock clock;
  AddressFilter filter(clock.function(), std::chrono::milliseconds(1));
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&filter, t] {
      const std::uint32_t own = Address(192, 0, 2, static_cast<unsigned>(t));
      const std::string ownText = "192.0.2." + std::to_string(t);
      for (int round = 0; round < kRounds; ++round) {
        filter.block(own);
        EXPECT_FALSE(filter.isAllowed(own));
        filter.addRange(kAllowed, own, own);
        filter.addRange(kDenied, own, own);
        filter.removeAt(kDenied, 0);
        std::uint32_t low = 0;
        std::uint32_t high = 0;
        filter.rangeAt(kAllowed, round, low, high);
        EXPECT_EQ(filter.formatAddress(own), ownText);
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(filter.countOf(kAllowed), kThreads * kRounds);
  EXPECT_EQ(filter.countOf(kDenied), 0);
  ASSERT_EQ(filter.countOf(kBlocks), kThreads);
  for (int index = 0; index < kThreads; ++index) {
    EXPECT_EQ(BlockAt(filter, index).count, static_cast<std::uint32_t>(kRounds)) << index;
  }
}

}  // namespace
