#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

/// A range of IPv4 addresses, both ends included. The addresses are in network byte order (as in
/// in_addr::s_addr); `low` is the smaller end when the first octet counts most.
struct AddressRange {
  std::uint32_t low;
  std::uint32_t high;
};

/// A temporarily blocked IPv4 address (network byte order), how often it has been blocked and
/// when its block ends, in seconds since 1970. The expiry is 64 bits wide so that blocks keep
/// working past 2038 and after very many repeats.
struct AddressBlock {
  std::uint32_t address;
  std::uint32_t count;
  std::int64_t expiry;
};

/// Decides which client addresses a server admits: allowed ranges, denied ranges and temporary
/// blocks that last count² seconds for an address blocked count times. A live block refuses;
/// otherwise an allowed range admits, a denied range refuses, and everything else is admitted.
/// A background thread removes expired blocks about every two minutes. Safe to use from any
/// thread: every operation on the lists holds the filter's lock.
class AddressFilter {
 public:
  /// List kinds for the operations that take one.
  static constexpr int kAllowedRanges = 0;
  static constexpr int kDeniedRanges = 1;
  static constexpr int kBlocks = 2;

  /// Seconds since 1970, as the blocks' expiry counts them.
  using Clock = std::function<std::int64_t()>;

  /// How often the purge thread removes expired blocks.
  static constexpr std::chrono::milliseconds kPurgeInterval{121000};

  /// Empty lists, the system clock, a purge about every 121 seconds.
  AddressFilter();
  /// Empty lists with blocks timed by `clock` and purged every `purgeInterval`. The clock is
  /// called from every thread that uses the filter and from the purge thread.
  AddressFilter(Clock clock, std::chrono::milliseconds purgeInterval);
  /// Wakes and ends the purge thread at once (a purge pass that runs is finished first).
  virtual ~AddressFilter();
  AddressFilter(const AddressFilter&) = delete;
  AddressFilter& operator=(const AddressFilter&) = delete;

  /// isAllowed of the parsed text; false for a text that is not an IPv4 address.
  virtual bool isAllowedText(const char* addressText);
  /// The admission test for a client's address (network byte order).
  virtual bool isAllowed(std::uint32_t address);
  /// Adds the range between the two parsed texts to list `kind`; a null `toText` gives a range
  /// of one address, a null `fromText` stands for 0.0.0.0. Nothing is added when either text is
  /// not an IPv4 address.
  virtual void addRangeText(int kind, const char* fromText, const char* toText);
  /// Appends {smaller end, larger end} to the allowed (0) or denied (1) ranges; other kinds are
  /// ignored.
  virtual void addRange(int kind, std::uint32_t from, std::uint32_t to);
  /// The `index`-th range of list 0 or 1; false for another kind or an index out of range.
  virtual bool rangeAt(int kind, int index, std::uint32_t& low, std::uint32_t& high);
  /// How many entries list `kind` holds (capped at INT_MAX); 0 for an unknown kind.
  virtual int countOf(int kind);
  /// Removes the `index`-th entry of any of the three lists; false, with nothing changed, for
  /// an unknown kind or an index out of range.
  virtual bool removeAt(int kind, int index);
  /// Empties one of the three lists.
  virtual void clearList(int kind);
  /// Blocks the parsed address; ignored when the text is not an IPv4 address.
  virtual void blockText(const char* addressText);
  /// Blocks `address` once more: its count grows by one and its block lasts count² seconds from
  /// now. The count stops growing at its largest value instead of starting over.
  virtual void block(std::uint32_t address);
  /// The `index`-th block; false when the index is out of range.
  virtual bool blockAt(int index, std::uint32_t& address, std::uint32_t& count,
                       std::int64_t& expiry);
  /// Unblocks the parsed address; false when the text is not an IPv4 address.
  virtual bool unblockText(const char* addressText);
  /// Removes the block of `address`; false when it has none.
  virtual bool unblock(std::uint32_t address);
  /// inet_addr of `text`, stored in `address` and returned; a null text gives 0. Like inet_addr,
  /// an invalid text gives INADDR_NONE, the same value as "255.255.255.255".
  virtual std::uint32_t parseAddress(std::uint32_t& address, const char* text);
  /// The dotted text of `address` ("127.0.0.1"). Safe from any thread, unlike inet_ntoa.
  virtual std::string formatAddress(std::uint32_t address);
  /// When a block of `address` for the `count`-th time ends: now + count² seconds, at most the
  /// largest expiry there is. `previousExpiry` is the end of the block before (0 for none).
  virtual std::int64_t blockExpiry(std::uint32_t address, std::uint32_t count,
                                   std::int64_t previousExpiry);

 private:
  /// Parses through parseAddress; false when the text is not an IPv4 address.
  bool parseValid(const char* text, std::uint32_t& address);
  /// The range list of `kind`, or nullptr for another kind.
  std::vector<AddressRange>* rangesOf(int kind);
  /// Removes expired blocks until the filter is destroyed.
  void runPurges();

  const Clock clock_;
  const std::chrono::milliseconds purgeInterval_;
  std::vector<AddressRange> allowedRanges_;
  std::vector<AddressRange> deniedRanges_;
  std::vector<AddressBlock> blocks_;
  std::mutex lock_;  // guards the three lists and stopPurge_
  std::condition_variable purgeWake_;
  bool stopPurge_ = false;
  std::thread purgeThread_;  // not joinable when it could not be started
};
