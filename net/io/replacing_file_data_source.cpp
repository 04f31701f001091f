#include "net/io/replacing_file_data_source.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "net/io/text_helpers.h"
#include "platform/file_system.h"

ReplacingFileDataSource::ReplacingFileDataSource(const char* name, int lineBufferSize)
    : bufferSize_(lineBufferSize) {
  if (name != nullptr &&
      std::strlen(name) <= static_cast<std::size_t>(FileDataSource::kMaxFileName)) {
    target_ = name;
  }
}

ReplacingFileDataSource::~ReplacingFileDataSource() {
  close();
}

std::unique_ptr<DataSource> ReplacingFileDataSource::clone() const {
  return std::make_unique<ReplacingFileDataSource>(target_.c_str(), bufferSize_);
}

int ReplacingFileDataSource::open(int mode) {
  close();
  if (target_.empty() || (mode != 0 && mode != 1)) {
    return -1;
  }
  std::unique_ptr<FileDataSource> file;
  if (mode == 0) {
    file = std::make_unique<FileDataSource>(target_.c_str(), bufferSize_);
    if (file->open(0) == -1) {
      return -1;
    }
  } else {
    written_ = platform::CreateUnderNewName(target_, [&](const std::string& name) {
      file = std::make_unique<FileDataSource>(name.c_str(), bufferSize_);
      return file->openNew() == 0;
    });
    if (written_.empty()) {
      return -1;
    }
  }
  file_ = std::move(file);
  writtenBytes_ = 0;
  overLimit_ = false;
  return 0;
}

void ReplacingFileDataSource::close() {
  if (!file_) {
    return;
  }
  file_.reset();
  if (!written_.empty() && (overLimit_ || !platform::ReplaceFile(written_, target_))) {
    platform::RemoveFile(written_);
  }
  written_.clear();
}

int ReplacingFileDataSource::readLine(char* buffer, int size) {
  return file_ ? file_->readLine(buffer, size) : -1;
}

int ReplacingFileDataSource::writeLine(const char* text) {
  if (text != nullptr &&
      !admit(static_cast<long>(std::strlen(text)) + (endsWithLineEnd(text) ? 0 : 2))) {
    return -1;
  }
  return file_ ? file_->writeLine(text) : -1;
}

int ReplacingFileDataSource::read(char* buffer, int length) {
  return file_ ? file_->read(buffer, length) : -1;
}

int ReplacingFileDataSource::write(const char* data, int length) {
  if (!admit(length)) {
    return -1;
  }
  return file_ ? file_->write(data, length) : -1;
}

bool ReplacingFileDataSource::admit(long length) {
  if (written_.empty() || sizeLimit_ <= 0) {
    return true;
  }
  if (overLimit_ || length > sizeLimit_ - writtenBytes_) {
    overLimit_ = true;
    return false;
  }
  writtenBytes_ += std::max(length, 0L);
  return true;
}

int ReplacingFileDataSource::seek(int offset, int origin) {
  return file_ ? file_->seek(offset, origin) : -1;
}
