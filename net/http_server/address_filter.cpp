#include "net/http_server/address_filter.h"

#include <algorithm>
#include <climits>
#include <ctime>
#include <limits>
#include <system_error>
#include <utility>

#include "platform/winsock.h"

namespace {

constexpr std::int64_t kLatestExpiry = std::numeric_limits<std::int64_t>::max();

std::int64_t SystemSeconds() {
  return static_cast<std::int64_t>(std::time(nullptr));
}

// Addresses are ordered with their first octet most significant, whatever the machine's order.
bool Holds(const AddressRange& range, std::uint32_t address) {
  const std::uint32_t value = ntohl(address);
  return ntohl(range.low) <= value && value <= ntohl(range.high);
}

bool AnyHolds(const std::vector<AddressRange>& ranges, std::uint32_t address) {
  return std::any_of(ranges.begin(), ranges.end(),
                     [address](const AddressRange& range) { return Holds(range, address); });
}

bool InBounds(int index, std::size_t size) {
  return index >= 0 && static_cast<std::size_t>(index) < size;
}

template <typename Entry>
bool EraseAt(std::vector<Entry>& entries, int index) {
  if (!InBounds(index, entries.size())) {
    return false;
  }
  entries.erase(entries.begin() + index);
  return true;
}

std::vector<AddressBlock>::iterator FindBlock(std::vector<AddressBlock>& blocks,
                                              std::uint32_t address) {
  return std::find_if(blocks.begin(), blocks.end(),
                      [address](const AddressBlock& entry) { return entry.address == address; });
}

int CountOf(std::size_t size) {
  return static_cast<int>(std::min<std::size_t>(size, INT_MAX));
}

}  // namespace

AddressFilter::AddressFilter() : AddressFilter(SystemSeconds, kPurgeInterval) {}

AddressFilter::AddressFilter(Clock clock, std::chrono::milliseconds purgeInterval)
    : clock_(clock ? std::move(clock) : Clock(SystemSeconds)), purgeInterval_(purgeInterval) {
  try {
    purgeThread_ = std::thread(&AddressFilter::runPurges, this);
  } catch (const std::system_error&) {
    // The filter works without it: expired blocks stay listed but no longer refuse anything.
  }
}

AddressFilter::~AddressFilter() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopPurge_ = true;
  }
  purgeWake_.notify_all();
  if (purgeThread_.joinable()) {
    purgeThread_.join();
  }
}

bool AddressFilter::isAllowedText(const char* addressText) {
  std::uint32_t address = 0;
  return parseValid(addressText, address) && isAllowed(address);
}

bool AddressFilter::isAllowed(std::uint32_t address) {
  const std::int64_t now = clock_();
  std::lock_guard<std::mutex> hold(lock_);
  const bool blocked =
      std::any_of(blocks_.begin(), blocks_.end(), [address, now](const AddressBlock& entry) {
        return entry.address == address && entry.expiry >= now;
      });
  return !blocked && (AnyHolds(allowedRanges_, address) || !AnyHolds(deniedRanges_, address));
}

void AddressFilter::addRangeText(int kind, const char* fromText, const char* toText) {
  std::uint32_t from = 0;
  std::uint32_t to = 0;
  if (!parseValid(fromText, from)) {
    return;
  }
  to = from;
  if (toText == nullptr || parseValid(toText, to)) {
    addRange(kind, from, to);
  }
}

void AddressFilter::addRange(int kind, std::uint32_t from, std::uint32_t to) {
  std::lock_guard<std::mutex> hold(lock_);
  std::vector<AddressRange>* ranges = rangesOf(kind);
  if (ranges == nullptr) {
    return;
  }
  if (ntohl(to) < ntohl(from)) {
    std::swap(from, to);
  }
  ranges->push_back({from, to});
}

bool AddressFilter::rangeAt(int kind, int index, std::uint32_t& low, std::uint32_t& high) {
  std::lock_guard<std::mutex> hold(lock_);
  const std::vector<AddressRange>* ranges = rangesOf(kind);
  if (ranges == nullptr || !InBounds(index, ranges->size())) {
    return false;
  }
  low = (*ranges)[index].low;
  high = (*ranges)[index].high;
  return true;
}

int AddressFilter::countOf(int kind) {
  std::lock_guard<std::mutex> hold(lock_);
  if (kind == kBlocks) {
    return CountOf(blocks_.size());
  }
  const std::vector<AddressRange>* ranges = rangesOf(kind);
  return ranges != nullptr ? CountOf(ranges->size()) : 0;
}

bool AddressFilter::removeAt(int kind, int index) {
  std::lock_guard<std::mutex> hold(lock_);
  if (kind == kBlocks) {
    return EraseAt(blocks_, index);
  }
  std::vector<AddressRange>* ranges = rangesOf(kind);
  return ranges != nullptr && EraseAt(*ranges, index);
}

void AddressFilter::clearList(int kind) {
  std::lock_guard<std::mutex> hold(lock_);
  if (kind == kBlocks) {
    blocks_.clear();
  } else if (std::vector<AddressRange>* ranges = rangesOf(kind)) {
    ranges->clear();
  }
}

void AddressFilter::blockText(const char* addressText) {
  std::uint32_t address = 0;
  if (parseValid(addressText, address)) {
    block(address);
  }
}

void AddressFilter::block(std::uint32_t address) {
  std::lock_guard<std::mutex> hold(lock_);
  auto entry = FindBlock(blocks_, address);
  if (entry == blocks_.end()) {
    entry = blocks_.insert(blocks_.end(), AddressBlock{address, 0, 0});
  }
  // A count that started over would make a persistent offender's block short again.
  if (entry->count != std::numeric_limits<std::uint32_t>::max()) {
    ++entry->count;
  }
  entry->expiry = blockExpiry(address, entry->count, entry->expiry);
}

bool AddressFilter::blockAt(int index, std::uint32_t& address, std::uint32_t& count,
                            std::int64_t& expiry) {
  std::lock_guard<std::mutex> hold(lock_);
  if (!InBounds(index, blocks_.size())) {
    return false;
  }
  const AddressBlock& entry = blocks_[index];
  address = entry.address;
  count = entry.count;
  expiry = entry.expiry;
  return true;
}

bool AddressFilter::unblockText(const char* addressText) {
  std::uint32_t address = 0;
  return parseValid(addressText, address) && unblock(address);
}

bool AddressFilter::unblock(std::uint32_t address) {
  std::lock_guard<std::mutex> hold(lock_);
  const auto entry = FindBlock(blocks_, address);
  if (entry == blocks_.end()) {
    return false;
  }
  blocks_.erase(entry);
  return true;
}

std::uint32_t AddressFilter::parseAddress(std::uint32_t& address, const char* text) {
  address = text != nullptr ? static_cast<std::uint32_t>(inet_addr(text)) : 0;
  return address;
}

std::string AddressFilter::formatAddress(std::uint32_t address) {
  in_addr value{};
  value.s_addr = address;
  char text[INET_ADDRSTRLEN] = {};
  return inet_ntop(AF_INET, &value, text, sizeof text) != nullptr ? text : "";
}

std::int64_t AddressFilter::blockExpiry(std::uint32_t /*address*/, std::uint32_t count,
                                        std::int64_t /*previousExpiry*/) {
  // count² needs 64 bits from count 65536 on, and may pass the latest expiry near its top.
  const std::uint64_t square = std::uint64_t{count} * count;
  const std::int64_t seconds = square > static_cast<std::uint64_t>(kLatestExpiry)
                                   ? kLatestExpiry
                                   : static_cast<std::int64_t>(square);
  const std::int64_t now = clock_();
  return now > kLatestExpiry - seconds ? kLatestExpiry : now + seconds;
}

bool AddressFilter::parseValid(const char* text, std::uint32_t& address) {
  parseAddress(address, text);
  if (text == nullptr || address != INADDR_NONE) {
    return true;
  }
  // inet_addr answers an invalid text with the value of 255.255.255.255: tell the two apart, so
  // that a mistyped range end does not stretch the range to the top of the address space.
  in_addr broadcast{};
  return inet_pton(AF_INET, text, &broadcast) == 1 && broadcast.s_addr == INADDR_NONE;
}

std::vector<AddressRange>* AddressFilter::rangesOf(int kind) {
  switch (kind) {
    case kAllowedRanges:
      return &allowedRanges_;
    case kDeniedRanges:
      return &deniedRanges_;
    default:
      return nullptr;
  }
}

void AddressFilter::runPurges() {
  std::unique_lock<std::mutex> hold(lock_);
  while (!purgeWake_.wait_for(hold, purgeInterval_, [this] { return stopPurge_; })) {
    const std::int64_t now = clock_();
    blocks_.erase(std::remove_if(blocks_.begin(), blocks_.end(),
                                 [now](const AddressBlock& entry) { return entry.expiry < now; }),
                  blocks_.end());
  }
}
