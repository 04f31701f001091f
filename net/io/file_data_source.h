#pragma once

#include <memory>

#include "net/io/data_source.h"
#include "net/io/file_handle.h"

/// A data source on a file named at construction. readLine reads ahead into a line buffer; every
/// other operation first gives back what was read ahead and not handed out, so reads, writes and
/// seeks all count from the first byte readLine has not returned.
class FileDataSource : public DataSource {
 public:
  /// A source on the file `name`, not yet open. A null name, or one longer than kMaxFileName
  /// bytes, is kept as empty, and open then fails. `lineBufferSize` is the size of the line
  /// buffer, kept within kMinBufferSize and kMaxBufferSize; a line longer than it comes in pieces.
  explicit FileDataSource(const char* name, int lineBufferSize = 4096);
  ~FileDataSource() override = default;

  std::unique_ptr<DataSource> clone() const override;
  int open(int mode) override;
  /// Opens the file as a new one, for reading and writing: 0, or -1 when anything already stands
  /// at the name (a symbolic link included, which is never followed) or it cannot be created.
  int openNew();
  void close() override;
  int readLine(char* buffer, int size) override;
  int writeLine(const char* text) override;
  int read(char* buffer, int length) override;
  int write(const char* data, int length) override;
  int seek(int offset, int origin) override;

  static constexpr int kMaxFileName = 259;
  /// The smallest line buffer that holds a CR LF besides the byte it always keeps free.
  static constexpr int kMinBufferSize = 3;
  static constexpr int kMaxBufferSize = 1 << 20;

 private:
  /// Fills the line buffer from the file as far as it has room; false when the read failed.
  bool fillLineBuffer();
  /// Moves `count` bytes from the front of the line buffer into `buffer` and drops them there.
  void takeFromLineBuffer(char* buffer, int count);
  /// Moves the file back over the bytes read ahead and empties the line buffer; false on failure.
  bool giveBackReadAhead();

  FileHandle file;
  std::unique_ptr<char[]> lineBuffer;
  int bufferSize;
  int buffered = 0;
  char fileName[kMaxFileName + 1] = {};
};
