#pragma once

/// A connection's bytes as the byte loops see them. A socket implements it, one primitive per
/// call, and so does MemoryStream, so that tests and fuzzers can drive the loops without one.
/// Counts are 32-bit; a stream is used by one thread at a time.
class ByteStream {
 public:
  virtual ~ByteStream() = default;

  /// True while there is a connection to move bytes over.
  virtual bool isOpen() const = 0;
  /// Waits up to `seconds` and `microseconds` until a read would not block (bytes came or the
  /// peer closed): true when it would not, false when the time ran out or the wait failed.
  virtual bool waitReadable(long seconds, long microseconds) = 0;
  /// Copies up to `length` of the bytes that have arrived into `buffer` and leaves them to be
  /// read: the count, 0 when the peer has closed, -1 on error.
  virtual int peek(char* buffer, int length) = 0;
  /// Takes up to `length` bytes: the count, 0 when the peer has closed, -1 on error.
  virtual int read(char* buffer, int length) = 0;
  /// Sends up to `length` bytes: the count taken, which may be less, or -1.
  virtual int write(const char* data, int length) = 0;
  /// True when bytes have arrived and wait to be read.
  virtual bool hasPendingData() = 0;
};
