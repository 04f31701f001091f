#include "net/io/stream_loops.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "net/io/data_source.h"

namespace {

// The bytes of `bytes` through the first line end, or 0 when they hold none.
int LineLength(const char* bytes, int count, LineEnd end) {
  if (end == LineEnd::LineFeed) {
    const void* lineFeed = std::memchr(bytes, '\n', static_cast<std::size_t>(count));
    return lineFeed != nullptr ? static_cast<int>(static_cast<const char*>(lineFeed) - bytes) + 1
                               : 0;
  }
  for (int i = 0; i + 1 < count; ++i) {
    if (bytes[i] == '\r' && bytes[i + 1] == '\n') {
      return i + 2;
    }
  }
  return 0;
}

// A data source as a sink without a capacity of its own.
class SourceSink : public ByteSink {
 public:
  explicit SourceSink(DataSource& target) : source(target) {}
  long capacity() const override { return LONG_MAX; }
  int take(const char* data, int length) override { return source.write(data, length); }

 private:
  DataSource& source;
};

}  // namespace

int ReadSome(ByteStream& stream, char* buffer, int length, int timeoutSeconds) {
  if (buffer == nullptr || length <= 0) {
    return 0;
  }
  if (timeoutSeconds > 0 && !stream.waitReadable(timeoutSeconds, 0)) {
    return 0;
  }
  return stream.read(buffer, length);
}

int ReadExactly(ByteStream& stream, char* buffer, int length, int timeoutSeconds,
                const StopCheck& stop) {
  int received = 0;
  while (buffer != nullptr && received < length) {
    if (stop && stop()) {
      break;
    }
    const int count = ReadSome(stream, buffer + received, length - received, timeoutSeconds);
    if (count <= 0) {
      break;
    }
    received += count;
  }
  return received;
}

int ReadLine(ByteStream& stream, char* buffer, int size, int timeoutSeconds, LineEnd end,
             const StopCheck& stop) {
  if (buffer == nullptr || size < 1) {
    return 0;
  }
  buffer[0] = '\0';
  int stored = 0;
  int room = size - 1;
  // Peek into the caller's buffer, then consume only through the line end: what follows the line
  // stays queued for the next reader.
  while (room > 0) {
    if (stop && stop()) {
      break;
    }
    if (timeoutSeconds > 0 && !stream.waitReadable(timeoutSeconds, 0)) {
      break;
    }
    char* next = buffer + stored;
    const int peeked = stream.peek(next, room);
    if (peeked < 1) {
      break;
    }
    const int lineLength = LineLength(next, peeked, end);
    const int wanted = lineLength > 0 ? lineLength : peeked;
    const int taken = stream.read(next, wanted);
    if (taken < 1) {
      break;
    }
    stored += taken;
    room -= taken;
    buffer[stored] = '\0';
    if (lineLength > 0 && taken == wanted) {
      break;
    }
  }
  return stored;
}

NetResult ReceiveToSink(ByteStream& stream, ByteSink& sink, int timeoutSeconds, long maxBytes,
                        long& received, const ProgressCheck& progress) {
  char block[kReceiveBlockSize];
  for (;;) {
    // The limit is checked before waiting: once it is reached there is nothing to wait for.
    long room = std::min<long>(kReceiveBlockSize, sink.capacity());
    if (maxBytes > 0) {
      room = std::min(room, maxBytes - received);
    }
    if (room <= 0) {
      return NetResult::Success;
    }
    if (timeoutSeconds > 0 && !stream.waitReadable(timeoutSeconds, 0)) {
      return NetResult::ReadTimedOut;
    }
    const int count = stream.read(block, static_cast<int>(room));
    if (count <= 0) {
      return count == 0 ? NetResult::Success : NetResult::ReadFailed;
    }
    if (sink.take(block, count) != count) {
      return NetResult::SourceWriteFailed;
    }
    received += count;
    if (!progress(received)) {
      return NetResult::Cancelled;
    }
  }
}

NetResult ReceiveToSource(ByteStream& stream, DataSource& source, int mode, int timeoutSeconds,
                          long maxBytes, long& received, const ProgressCheck& progress) {
  if (mode != 1 && mode != 2) {
    return NetResult::BadSourceMode;
  }
  if (source.open(mode) == -1) {
    return NetResult::SourceOpenFailed;
  }
  SourceSink sink(source);
  const NetResult result =
      ReceiveToSink(stream, sink, timeoutSeconds, maxBytes, received, progress);
  source.close();
  return result;
}

int WriteAll(const WriteBytes& write, const char* data, int length, const StopCheck& stop) {
  int sent = 0;
  while (data != nullptr && sent < length) {
    const int count = write(data + sent, length - sent);
    if (count <= 0) {
      break;
    }
    sent += count;
    if (stop && stop()) {
      break;
    }
  }
  return sent;
}

void ForEachPiece(const char* text, int length, int width, const TakePiece& take) {
  if (text == nullptr || width <= 0) {
    return;
  }
  if (length < 0) {
    length = static_cast<int>(std::strlen(text));
  }
  for (int start = 0; start < length;) {
    const int piece = std::min(width, length - start);
    if (!take(text + start, piece)) {
      return;
    }
    start += piece;
  }
}

NetResult SendSource(const WriteBytes& writeWhole, DataSource& source, long& sent,
                     const ProgressCheck& progress) {
  char block[kSendBlockSize];
  for (int count; (count = source.read(block, kSendBlockSize)) > 0;) {
    if (writeWhole(block, count) != count) {
      return NetResult::SendFailed;
    }
    sent += count;
    if (!progress(sent)) {
      return NetResult::Cancelled;
    }
  }
  return NetResult::Success;
}

void DiscardPending(ByteStream& stream) {
  char scratch[kReceiveBlockSize];
  while (stream.isOpen() && stream.hasPendingData()) {
    if (stream.read(scratch, sizeof scratch) <= 0) {
      break;
    }
  }
}
