#pragma once

#include <cstdint>

#include "platform/win32.h"

/// An open file or none, read and written at its current position. Every operation on a closed
/// handle fails (-1) or does nothing. Positions and counts are 32-bit: a file of 2 GiB or more
/// answers -1 where its size or a position past that would be needed.
class FileHandle {
 public:
  FileHandle() = default;
  /// Closes the file if one is open.
  virtual ~FileHandle();
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  /// Closes any open file, then opens `path` with `access` (GENERIC_READ and/or GENERIC_WRITE)
  /// and `disposition` (CREATE_NEW, CREATE_ALWAYS, OPEN_EXISTING, OPEN_ALWAYS,
  /// TRUNCATE_EXISTING); others may read the file meanwhile. Blanks around the path are dropped;
  /// such a path may keep at most kMaxTrimmedPath characters. With `append` non-zero every write
  /// goes to the end of the file. Returns 0, or -1 with the handle closed.
  virtual int open(const char* path, DWORD access, DWORD disposition, int append);

  /// Closes the file; nothing happens when none is open.
  virtual void close();

  /// Reads up to `length` bytes into `buffer` in one read: the count, 0 at the end, -1 on failure.
  virtual int read(char* buffer, int length);

  /// Writes up to `length` bytes in one write (at the end when opened to append): the count
  /// written, or -1.
  virtual int write(const char* data, int length);

  /// Moves to `offset` from the start (origin 0), the current position (1) or the end (2).
  /// Returns the new position from the start, or -1 (nothing moved when the target is before the
  /// start).
  virtual int seek(int offset, int origin);

  /// The size of the file in bytes, or -1.
  virtual int size();

  /// True while a file is open.
  bool isOpen() const { return handle != INVALID_HANDLE_VALUE; }

  /// The longest path, blanks dropped, that open accepts from a path with blanks around it.
  static constexpr int kMaxTrimmedPath = 262;

 private:
  /// Moves the file pointer; the new 64-bit position or -1.
  std::int64_t moveTo(int offset, DWORD origin);

  HANDLE handle = INVALID_HANDLE_VALUE;
  int appending = 0;
};
