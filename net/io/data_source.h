#pragma once

#include <memory>

/// A source and sink of bytes that HTTP bodies are streamed from and to, with a position that
/// read, write and seek share. Counts and positions are 32-bit; -1 is every numeric failure, and
/// every operation fails while the source is not open.
class DataSource {
 public:
  DataSource() = default;
  DataSource(const DataSource&) = delete;
  DataSource& operator=(const DataSource&) = delete;
  virtual ~DataSource() = default;

  /// A new source of the same kind on the same target, not open.
  virtual std::unique_ptr<DataSource> clone() const = 0;

  /// Opens the target: mode 0 reads an existing one; mode 1 creates or empties it for reading and
  /// writing; mode 2 opens or creates it for reading and writing, every write going to its end.
  /// Returns 0, or -1 (also for any other mode).
  virtual int open(int mode) = 0;

  /// Closes the target; nothing happens when it is not open.
  virtual void close() = 0;

  /// Places the next line, its CR LF included when it has one and it fits, NUL-terminated in the
  /// `size` bytes of `buffer`; a longer line comes in pieces. Returns the characters placed, 0 at
  /// the end, -1 on failure or for a null buffer.
  virtual int readLine(char* buffer, int size) = 0;

  /// Writes `text` followed by CR LF unless it already ends in CR or LF. Returns the length of
  /// `text`, or -1 when anything could not be written or `text` is null.
  virtual int writeLine(const char* text) = 0;

  /// Reads up to `length` bytes: the count, 0 at the end, or -1.
  virtual int read(char* buffer, int length) = 0;

  /// Writes up to `length` bytes: the count written, or -1.
  virtual int write(const char* data, int length) = 0;

  /// Moves to `offset` from the start (origin 0), the current position (1) or the end (2).
  /// Returns the new position from the start, or -1.
  virtual int seek(int offset, int origin) = 0;

  /// The position of the first occurrence of `text` at or after `start`, or -1. The search moves
  /// the position. Without `caseSensitive`, letters match either case. With `limit` > 0 a match
  /// must begin at most `limit` bytes after `start`, and a `limit` shorter than `text` finds
  /// nothing. `text` must be 1 to kMaxFindText bytes long.
  virtual int find(const char* text, int start, bool caseSensitive, int limit);

  /// The longest text find accepts.
  static constexpr int kMaxFindText = 4095;
};
