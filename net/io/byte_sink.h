#pragma once

/// A target that received bytes are handed to: it tells how many bytes it can take and takes them.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  /// How many more bytes the sink can take.
  virtual long capacity() const = 0;
  /// Takes `length` bytes; returns how many it took.
  virtual int take(const char* data, int length) = 0;
};
