#include "net/io/file_data_source.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string_view>

#include "net/io/text_helpers.h"

namespace {

constexpr std::string_view kLineEnd = "\r\n";

int LineBufferSize(int requested) {
  return std::clamp(requested, FileDataSource::kMinBufferSize, FileDataSource::kMaxBufferSize);
}

}  // namespace

FileDataSource::FileDataSource(const char* name, int lineBufferSize)
    : lineBuffer(
          std::make_unique<char[]>(static_cast<std::size_t>(LineBufferSize(lineBufferSize)))),
      bufferSize(LineBufferSize(lineBufferSize)) {
  if (name != nullptr && std::strlen(name) <= static_cast<std::size_t>(kMaxFileName)) {
    std::strcpy(fileName, name);
  }
}

std::unique_ptr<DataSource> FileDataSource::clone() const {
  return std::make_unique<FileDataSource>(fileName, bufferSize);
}

int FileDataSource::open(int mode) {
  struct Way {
    DWORD access;
    DWORD disposition;
    int append;
  };
  static constexpr Way kWays[] = {
      {GENERIC_READ, OPEN_EXISTING, 0},
      {GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS, 0},
      {GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS, 1},
  };
  if (mode < 0 || mode > 2 || fileName[0] == '\0') {
    return -1;
  }
  // Bytes read ahead from an earlier opening belong to no position of the new one.
  buffered = 0;
  const Way& way = kWays[mode];
  return file.open(fileName, way.access, way.disposition, way.append);
}

int FileDataSource::openNew() {
  if (fileName[0] == '\0') {
    return -1;
  }
  buffered = 0;
  return file.open(fileName, GENERIC_READ | GENERIC_WRITE, CREATE_NEW, 0);
}

void FileDataSource::close() {
  file.close();
  buffered = 0;
}

int FileDataSource::readLine(char* buffer, int size) {
  // One byte holds only the terminator: a result of 0 there would pass for the end of the file.
  if (buffer == nullptr || size < 2) {
    if (buffer != nullptr && size == 1) {
      buffer[0] = '\0';
    }
    return -1;
  }
  std::string_view held(lineBuffer.get(), static_cast<std::size_t>(buffered));
  if (buffered == 0 || held.find(kLineEnd) == std::string_view::npos) {
    if (!fillLineBuffer()) {
      buffer[0] = '\0';
      return -1;
    }
    held = std::string_view(lineBuffer.get(), static_cast<std::size_t>(buffered));
  }
  const std::size_t lineEnd = held.find(kLineEnd);
  // The line, its CR LF and the terminator must fit in `size`.
  if (lineEnd != std::string_view::npos && static_cast<int>(lineEnd) < size - 3) {
    const int count = static_cast<int>(lineEnd) + 2;
    takeFromLineBuffer(buffer, count);
    return count;
  }
  const int count = std::min(size - 1, buffered);
  takeFromLineBuffer(buffer, count);
  return count;
}

int FileDataSource::writeLine(const char* text) {
  if (text == nullptr) {
    return -1;
  }
  const std::size_t length = std::strlen(text);
  if (length > static_cast<std::size_t>(INT_MAX) || !giveBackReadAhead()) {
    return -1;
  }
  const int count = static_cast<int>(length);
  if (count > 0 && file.write(text, count) != count) {
    return -1;
  }
  if (!endsWithLineEnd(text) && file.write(kLineEnd.data(), 2) != 2) {
    return -1;
  }
  return count;
}

int FileDataSource::read(char* buffer, int length) {
  if (buffer == nullptr || !giveBackReadAhead()) {
    return -1;
  }
  return file.read(buffer, length);
}

int FileDataSource::write(const char* data, int length) {
  if (data == nullptr || !giveBackReadAhead()) {
    return -1;
  }
  return file.write(data, length);
}

int FileDataSource::seek(int offset, int origin) {
  if (origin == 1 && !giveBackReadAhead()) {
    return -1;
  }
  buffered = 0;
  return file.seek(offset, origin);
}

bool FileDataSource::fillLineBuffer() {
  const int room = bufferSize - buffered - 1;
  if (room <= 0) {
    return true;
  }
  const int count = file.read(lineBuffer.get() + buffered, room);
  if (count < 0) {
    return false;
  }
  buffered += count;
  return true;
}

void FileDataSource::takeFromLineBuffer(char* buffer, int count) {
  std::memcpy(buffer, lineBuffer.get(), static_cast<std::size_t>(count));
  buffer[count] = '\0';
  std::memmove(lineBuffer.get(), lineBuffer.get() + count,
               static_cast<std::size_t>(buffered - count));
  buffered -= count;
}

bool FileDataSource::giveBackReadAhead() {
  if (buffered == 0) {
    return true;
  }
  const int count = buffered;
  buffered = 0;
  return file.seek(-count, 1) >= 0;
}
