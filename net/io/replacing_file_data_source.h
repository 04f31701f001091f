#pragma once

#include <memory>
#include <string>

#include "net/io/data_source.h"
#include "net/io/file_data_source.h"

/// A data source on a file named at construction that is never written through its name: opening
/// it to write (mode 1) creates a new file beside it, exclusively and under a name no one can
/// foresee, so nothing planted at either name (a symbolic link included) is written through;
/// closing puts the new file, with whatever was written, in the place of the named one in one
/// step (platform::ReplaceFile). Until then readers of the name see the old file whole. When the
/// new file cannot be put in place it is removed and the named file stays as it was. Mode 0 reads
/// the named file; mode 2 is not offered.
class ReplacingFileDataSource : public DataSource {
 public:
  /// A source on the file `name`, not yet open; a null name, or one longer than
  /// FileDataSource::kMaxFileName bytes, makes open fail. `lineBufferSize` as FileDataSource takes
  /// it.
  explicit ReplacingFileDataSource(const char* name, int lineBufferSize = 4096);
  /// Closes the source, putting a file opened to write in place.
  ~ReplacingFileDataSource() override;

  /// Bounds the new file to `bytes` (> 0; 0: no bound) from the next opening on: a write or
  /// writeLine that would take it past them writes nothing and fails, and the new file is then
  /// removed when the source closes, the named file staying as it was.
  void setSizeLimit(long bytes) { sizeLimit_ = bytes; }

  std::unique_ptr<DataSource> clone() const override;
  int open(int mode) override;
  void close() override;
  int readLine(char* buffer, int size) override;
  int writeLine(const char* text) override;
  int read(char* buffer, int length) override;
  int write(const char* data, int length) override;
  int seek(int offset, int origin) override;

 private:
  std::string target_;
  int bufferSize_;
  /// The open file: the named one (mode 0) or the new one (mode 1); none while closed.
  std::unique_ptr<FileDataSource> file_;
  /// The name of the new file while it is open, empty otherwise.
  std::string written_;
  long sizeLimit_ = 0;
  /// Bytes written to the new file, and whether a write was refused for the size limit.
  long writtenBytes_ = 0;
  bool overLimit_ = false;

  /// Counts `length` more bytes for the new file: false, marking it over the limit, when they
  /// would take it past the size limit.
  bool admit(long length);
};
