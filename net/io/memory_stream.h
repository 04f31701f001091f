#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "net/io/byte_stream.h"

/// A ByteStream in memory, for tests and fuzzers. The peer's bytes come in pieces, each arriving
/// once the one before has been read whole, as segments arrive on a socket; after the last the
/// peer closes, or stays silent so that waits run out and reads fail. What is written collects
/// in written().
class MemoryStream : public ByteStream {
 public:
  /// A stream whose peer sends `pieces` in order and then closes (`closeAtEnd`) or falls silent.
  explicit MemoryStream(std::vector<std::string> pieces, bool closeAtEnd = true);

  /// Each write takes at most `bytes` bytes; 0 lifts the limit, a negative value fails writes.
  void setWriteLimit(int bytes) { writeLimit = bytes; }
  /// All bytes written so far.
  const std::string& written() const { return output; }
  /// The peer's bytes not read yet.
  std::string unread() const;

  bool isOpen() const override { return true; }
  /// True when bytes have arrived or the peer has closed; false once a silent peer has sent all.
  bool waitReadable(long seconds, long microseconds) override;
  int peek(char* buffer, int length) override;
  int read(char* buffer, int length) override;
  int write(const char* data, int length) override;
  bool hasPendingData() override;

 private:
  // The bytes arrived and not read: the rest of the current piece.
  std::size_t arrived();

  std::vector<std::string> pieces;
  std::size_t piece = 0;   // the piece being read
  std::size_t offset = 0;  // bytes of it read
  bool closeAtEnd;
  int writeLimit = 0;
  std::string output;
};
