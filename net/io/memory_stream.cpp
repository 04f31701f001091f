#include "net/io/memory_stream.h"

#include <algorithm>
#include <cstring>
#include <utility>

MemoryStream::MemoryStream(std::vector<std::string> peerPieces, bool closes)
    : pieces(std::move(peerPieces)), closeAtEnd(closes) {}

std::string MemoryStream::unread() const {
  std::string rest;
  for (std::size_t i = piece; i < pieces.size(); ++i) {
    rest += i == piece ? pieces[i].substr(offset) : pieces[i];
  }
  return rest;
}

std::size_t MemoryStream::arrived() {
  while (piece < pieces.size() && offset == pieces[piece].size()) {
    ++piece;
    offset = 0;
  }
  return piece < pieces.size() ? pieces[piece].size() - offset : 0;
}

bool MemoryStream::waitReadable(long, long) {
  return arrived() > 0 || closeAtEnd;
}

int MemoryStream::peek(char* buffer, int length) {
  if (length <= 0) {
    return 0;
  }
  const std::size_t available = arrived();
  if (available == 0) {
    return closeAtEnd ? 0 : -1;
  }
  const std::size_t count = std::min(available, static_cast<std::size_t>(length));
  std::memcpy(buffer, pieces[piece].data() + offset, count);
  return static_cast<int>(count);
}

int MemoryStream::read(char* buffer, int length) {
  const int count = peek(buffer, length);
  if (count > 0) {
    offset += static_cast<std::size_t>(count);
  }
  return count;
}

int MemoryStream::write(const char* data, int length) {
  if (writeLimit < 0) {
    return -1;
  }
  const int count = writeLimit > 0 ? std::min(length, writeLimit) : length;
  output.append(data, static_cast<std::size_t>(std::max(count, 0)));
  return count;
}

bool MemoryStream::hasPendingData() {
  return arrived() > 0;
}
